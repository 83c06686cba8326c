#include "manifest/installed_digests.h"

#include "framework/program_info.h"
#include "framework/run_log.h"
#include "manifest/path_stamps.h"

#include <shlwapi.h>
#include <string.h>

namespace {

// Why no file is taken from the cache, or null when the cache is used.
const char* WhyEveryFileIsHashed(CDigestCache::Loaded loaded, const CDigestCache& cache,
                                 ULONGLONG now) {
    if (loaded == CDigestCache::Loaded::None)
        return "there is none yet";
    if (loaded == CDigestCache::Loaded::Damaged)
        return "it is damaged or not ours, and is not used";
    return cache.FullCheckDue(now) ? "its 7 days are over: a full check" : nullptr;
}

void Save(const CDigestCache& cache) {
    if (!cache.Save())
        RunLog().Write("digest cache: not saved (error %lu)", GetLastError());
}

} // namespace

std::vector<LocalDigest> DigestInstalledFiles(const CString& installDir, const CString& tempDir,
                                              const std::vector<CString>& names) {
    CDigestCache cache(tempDir);
    const ULONGLONG now = FileTimeNow();
    const CDigestCache::Loaded loaded = cache.Load();
    const char* why = WhyEveryFileIsHashed(loaded, cache, now);
    if (why)
        RunLog().Write("digest cache: every file is hashed, %s", why);
    const std::vector<LocalDigest> local =
        DigestLocalFiles(installDir, names, why ? nullptr : &cache);

    unsigned cached = 0, hashed = 0;
    for (const LocalDigest& file : local) {
        cached += file.cached;
        hashed += file.read && !file.cached;
    }
    RunLog().Write("local files: %u taken from the digest cache, %u hashed", cached, hashed);
    // Every file taken from the cache, and no other record in it: the cache stays as it is.
    if (!why && cached == local.size() && cache.Count() == local.size())
        return local;

    // The cache keeps the files of this manifest that could be read.
    cache.Clear();
    for (const LocalDigest& file : local)
        if (file.read && file.stamped)
            cache.Put(file.record);
    if (why)
        cache.m_lastFullCheck = now;
    Save(cache);
    return local;
}

void RecordInstalledFiles(const CString& installDir, const CString& tempDir,
                          const std::vector<CUpdateFile>& files) {
    CDigestCache cache(tempDir);
    cache.Load(); // a cache that cannot be used starts anew, its full check due
    // The updater's own file was placed beside itself, and a placeholder md5 checked nothing.
    const auto placedAsChecked = [](const CUpdateFile& file) {
        return file.szMd5[0] && !IsProgramFile(file.szLocalName);
    };
    std::vector<CString> names;
    for (const CUpdateFile& file : files) {
        const CString name = file.szLocalName;
        if (placedAsChecked(file))
            names.push_back(name);
    }
    const CPathStamps stamps(installDir, names, VolumeSerialOf(installDir));
    for (const CUpdateFile& file : files) {
        if (!placedAsChecked(file))
            continue;
        // A file that cannot be stamped keeps its old record, which its new stamp does not match.
        DigestRecord record = {};
        record.made = FileTimeNow();
        if (!stamps.Read(installDir, file.szLocalName, record.stamp) ||
            !record.SetName(file.szLocalName))
            continue;
        static_assert(sizeof(record.md5) == sizeof(file.szMd5) &&
                          sizeof(record.sha256) == sizeof(file.szSha256),
                      "the same digest texts");
        memcpy(record.md5, file.szMd5, sizeof(record.md5));
        memcpy(record.sha256, file.szSha256, sizeof(record.sha256));
        cache.Put(record);
    }
    Save(cache);
}
