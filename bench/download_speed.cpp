// One file downloaded over HTTP, timed inside the process: through the updater's downloader with
// a sink that only counts, or through a bare WinInet loop with the engine's block size and
// open flags, into a file.
// Usage: download_speed.exe engine BASE_URL NAME TEMP_FOLDER
//        download_speed.exe wininet URL OUT_FILE
#include "bench/stopwatch.h"
#include "bench/download_once.h"
#include "framework/scoped_handle.h"

#include <windows.h>
#include <wininet.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const DWORD kBlockSize = 8192;
const DWORD kOpenFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_ASCII | INTERNET_FLAG_RELOAD;

int ThroughEngine(const char* base, const char* name, const std::string& folder) {
    unsigned long long received = 0;
    Stopwatch clock;
    const int result = DownloadOnce(base, name, folder, received);
    const double seconds = clock.Seconds();
    std::printf("seconds=%.4f bytes=%llu result=%d\n", seconds, received, result);
    DeleteFileA((folder + "\\" + name + ".dtm").c_str());
    return result;
}

int ThroughWinInet(const char* url, const char* outPath) {
    CInternetHandle session(
        InternetOpenA("download_speed", INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session.Get())
        return 1;
    Stopwatch clock;
    unsigned long long total = 0;
    {
        CInternetHandle file(InternetOpenUrlA(session.Get(), url, nullptr, 0, kOpenFlags, 1));
        if (!file.Get()) {
            std::fprintf(stderr, "failed: error %lu\n", GetLastError());
            return 1;
        }
        CKernelHandle out(
            CreateFileA(outPath, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
        if (out.Get() == INVALID_HANDLE_VALUE)
            return 1;
        static BYTE block[kBlockSize];
        DWORD count = 0;
        while (InternetReadFile(file.Get(), block, kBlockSize, &count) && count > 0) {
            DWORD written = 0;
            if (!WriteFile(out.Get(), block, count, &written, nullptr) || written != count)
                return 1;
            total += count;
        }
    } // closed inside the timing, as the downloader closes its handles
    const double seconds = clock.Seconds();
    std::printf("seconds=%.4f bytes=%llu result=0\n", seconds, total);
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 5 && std::strcmp(argv[1], "engine") == 0)
        return ThroughEngine(argv[2], argv[3], argv[4]);
    if (argc == 4 && std::strcmp(argv[1], "wininet") == 0) {
        const int result = ThroughWinInet(argv[2], argv[3]);
        DeleteFileA(argv[3]);
        return result;
    }
    std::fprintf(stderr, "usage: download_speed engine BASE_URL NAME TEMP_FOLDER\n"
                         "       download_speed wininet URL OUT_FILE\n");
    return 2;
}
