// One file fetched into a folder through the updater's own downloader, as the worker fetches
// each file, with a sink that only counts the bytes.
#pragma once

#include "engine/download/downloader.h"

#include <cstdio>
#include <string>

inline int DownloadOnce(const char* base, const char* name, const std::string& folder,
                        unsigned long long& received) {
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
    CDownloader downloader(session, {url.c_str()}, 0, folder.c_str(), folder.c_str(), cancel,
                           nullptr);
    CUpdateFile file;
    int result = MakeUpdateFile(name, nullptr, nullptr, nullptr, 0, file) ? 0 : 1;
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
