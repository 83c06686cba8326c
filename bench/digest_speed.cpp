// Throughput of the updater's digest code on one file, timed inside the process so that
// Wine's start-up is not counted. With READ_BYTES the same digest is fed by reads of that size
// instead of the program's 1024 bytes, to show what the reads cost.
// Usage: digest_speed.exe FILE [READ_BYTES]
#include "bench/stopwatch.h"
#include "digest/file_digest.h"

#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

CString DigestWithReads(const char* path, UINT readBytes) {
    CFile file(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary);
    std::vector<BYTE> block(readBytes);
    CFileDigest context;
    for (;;) {
        const UINT count = file.Read(block.data(), readBytes);
        if (count == 0)
            break;
        context.Update(block.data(), count);
    }
    return context.Final();
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: digest_speed FILE [READ_BYTES]\n");
        return 2;
    }
    const unsigned long readBytes = argc == 3 ? std::strtoul(argv[2], nullptr, 10) : 0;
    if (argc == 3 && (readBytes == 0 || readBytes > (64ul << 20))) {
        std::fprintf(stderr, "digest_speed: READ_BYTES from 1 to 64 MiB\n");
        return 2;
    }
    try {
        Stopwatch clock;
        const CString digest = readBytes ? DigestWithReads(argv[1], static_cast<UINT>(readBytes))
                                         : CFileDigest::DigestFile(argv[1]);
        std::printf("seconds=%.4f md5=%s\n", clock.Seconds(), digest.GetString());
    } catch (CFileException* e) {
        std::fprintf(stderr, "digest_speed: cannot read %s (error %ld)\n", argv[1], e->m_lOsError);
        e->Delete();
        return 1;
    }
    return 0;
}
