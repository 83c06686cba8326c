// One file fetched into a folder through the updater's own downloader, as the worker fetches
// each file, with a sink that only counts the bytes. With a block index (and the file's md5,
// which a rebuilt file is checked by) the file is rebuilt from its copy in oldFolder.
#pragma once

#include "engine/download/downloader.h"

#include <cstdio>
#include <string>

struct DeltaSource {
    const char* md5 = nullptr;      // of the file
    const char* indexMd5 = nullptr; // of NAME.blocks beside it
    std::string oldFolder;          // where the older copy is
};

inline int DownloadOnce(const char* base, const char* name, const std::string& folder,
                        unsigned long long& received, const DeltaSource& delta = DeltaSource()) {
    struct ByteCount : IDownloadSink {
        void OnFileAccepted(const CUpdateFile&, DWORD) override {}
        void OnFileProgress(const CUpdateFile&, DWORD dwFileBytes) override { bytes = dwFileBytes; }
        unsigned long long bytes = 0;
    } count;
    std::string url = base;
    if (url.empty() || url.back() != '/')
        url += '/';
    CInternetSession session;
    const std::atomic<BOOL> cancel{FALSE};
    const std::string old = delta.oldFolder.empty() ? folder : delta.oldFolder;
    CDownloader downloader(session, {url.c_str()}, 0, folder.c_str(), old.c_str(), cancel,
                           nullptr);
    CUpdateFile file;
    const std::string indexName = std::string(name) + ".blocks";
    int result = MakeUpdateFile(name, nullptr, delta.md5, nullptr, 0, file) &&
                         (!delta.indexMd5 ||
                          SetBlockIndex(file, indexName.c_str(), delta.indexMd5, false))
                     ? 0
                     : 1;
    try {
        if (result == 0)
            downloader.Fetch(file, count);
    } catch (CException* e) {
        char text[256] = "the file was refused";
        e->GetErrorMessage(text, sizeof(text));
        std::fprintf(stderr, "failed: %s\n", text);
        e->Delete();
        result = 1;
    }
    received = count.bytes;
    return result;
}
