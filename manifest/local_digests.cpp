#include "manifest/local_digests.h"

#include "digest/file_digest.h"
#include "framework/scoped_handle.h"
#include "manifest/path_stamps.h"

#include <shlwapi.h>

#include <atomic>
#include <memory>

namespace {

const DWORD kMaxThreads = 8;

struct DigestWork {
    const CString& installDir;
    const std::vector<CString>& names;
    const DWORD volume;
    const CDigestCache* cache; // null: every file is hashed
    const CPathStamps* stamps; // with the cache
    std::vector<LocalDigest>& results;
    std::atomic<size_t> next{0};
};

// The cache's record, when a stamp read without opening the file trusts it.
const DigestRecord* Trusted(const DigestWork& work, size_t i) {
    const DigestRecord* known = work.cache ? work.cache->Find(work.names[i]) : nullptr;
    FileStamp stamp = {};
    return known && work.stamps->Read(work.installDir, work.names[i], stamp) &&
                   IsTrusted(*known, stamp)
               ? known
               : nullptr;
}

// A hashed file's stamp is read from the handle that the digest is read through, which lets
// others read but not write: the digest is of the file that the stamp describes.
void DigestOne(const DigestWork& work, size_t i) {
    LocalDigest& result = work.results[i];
    if (const DigestRecord* trusted = Trusted(work, i)) {
        result.record = *trusted;
        result.exists = result.read = result.cached = result.stamped = true;
        return;
    }
    const CString path = work.installDir + work.names[i];
    CFile file;
    if (!file.Open(path, CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary)) {
        // Missing, or a locked file or a folder: the caller fails the check.
        result.exists = PathFileExistsA(path) != FALSE;
        return;
    }
    result.exists = true;
    DigestRecord& record = result.record;
    record.made = FileTimeNow();
    result.stamped =
        ReadFileStamp(file.GetHandle(), work.volume, record.stamp) && record.SetName(work.names[i]);
    try {
        lstrcpynA(record.md5, CFileDigest::DigestOpenFile(file), sizeof(record.md5));
        result.read = true;
    } catch (CException* e) { // a read error: the caller fails the check
        e->Delete();
    } catch (...) {
    }
}

// Each thread takes the next path not yet taken until none is left.
DWORD WINAPI DigestThread(LPVOID pParam) {
    DigestWork& work = *static_cast<DigestWork*>(pParam);
    for (size_t i; (i = work.next++) < work.names.size();) {
        try {
            DigestOne(work, i);
        } catch (...) { // out of memory: the file counts as unreadable, which fails the check
            work.results[i].exists = true;
            work.results[i].read = false;
        }
    }
    return 0;
}

DWORD ProcessorCount() {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

} // namespace

std::vector<LocalDigest> DigestLocalFiles(const CString& installDir,
                                          const std::vector<CString>& names,
                                          const CDigestCache* cache) {
    std::vector<LocalDigest> results(names.size());
    const DWORD volume = VolumeSerialOf(installDir);
    // Listed once, before the threads read from it.
    std::unique_ptr<CPathStamps> stamps;
    if (cache)
        stamps = std::make_unique<CPathStamps>(installDir, names, volume);
    DigestWork work{installDir, names, volume, cache, stamps.get(), results};
    DWORD helpers = ProcessorCount();
    if (helpers > kMaxThreads)
        helpers = kMaxThreads;
    if (helpers > names.size())
        helpers = static_cast<DWORD>(names.size());
    // This thread works too; the others join it. A thread that cannot be started leaves its
    // share to the ones that run.
    std::vector<std::unique_ptr<CKernelHandle>> threads;
    for (DWORD i = 1; i < helpers; ++i) {
        HANDLE thread = CreateThread(nullptr, 0, &DigestThread, &work, 0, nullptr);
        if (thread)
            threads.push_back(std::make_unique<CKernelHandle>(thread));
    }
    DigestThread(&work);
    for (const auto& thread : threads)
        WaitForSingleObject(thread->Get(), INFINITE);
    return results;
}
