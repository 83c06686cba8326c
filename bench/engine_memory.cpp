// Peak working set of the updater's engine while it downloads one large file: the download is
// streamed block by block, so the peak must not grow with the file's size. With an older copy,
// the file's md5 and its index's md5, the file is rebuilt from the older copy instead.
// Usage: engine_memory.exe SIZE_MIB [URL [OLD_FOLDER FILE_MD5 INDEX_MD5]]
//        (without a URL an in-process server serves it)
#include "bench/download_once.h"
#include "tests/support/test_http_server.h"

#include <psapi.h>
#include <shlwapi.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

SIZE_T PeakWorkingSet() {
    PROCESS_MEMORY_COUNTERS counters = {};
    counters.cb = sizeof(counters);
    GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof(counters));
    return counters.PeakWorkingSetSize;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr,
                     "usage: engine_memory SIZE_MIB [BASE_URL [OLD_FOLDER FILE_MD5 INDEX_MD5]]\n");
        return 2;
    }
    const unsigned long long size = std::strtoull(argv[1], nullptr, 10) << 20;
    testsupport::TestHttpServer server;
    std::string base;
    if (argc > 2) {
        base = argv[2];
    } else {
        testsupport::HttpReply reply;
        reply.generatedSize = size;
        server.Set("/bench/big.bin", reply);
        if (!server.Start())
            return 1;
        base = server.Url("/bench/");
    }

    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    const std::string folder = std::string(temp) + "engine-memory";
    CreateDirectoryA(folder.c_str(), nullptr);

    const SIZE_T before = PeakWorkingSet();
    unsigned long long received = 0;
    DeltaSource delta;
    if (argc > 5) {
        delta.oldFolder = argv[3];
        delta.md5 = argv[4];
        delta.indexMd5 = argv[5];
    }
    const int result = DownloadOnce(base.c_str(), "big.bin", folder, received, delta);
    std::printf("received_bytes=%llu\n", received);
    DeleteFileA((folder + "\\big.bin.dtm").c_str());
    RemoveDirectoryA(folder.c_str());
    std::printf("size_mib=%s result=%d peak_working_set_kib_before=%lu peak_working_set_kib=%lu\n",
                argv[1], result, static_cast<unsigned long>(before / 1024),
                static_cast<unsigned long>(PeakWorkingSet() / 1024));
    return result;
}
