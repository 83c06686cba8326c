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
    std::vector<LocalDigest>& results;
    std::atomic<size_t> next{0};
};

// The files whose record in the cache a stamp read without opening them trusts.
size_t TakeTrusted(const DigestWork& work, const CDigestCache& cache) {
    const CPathStamps stamps(work.installDir, work.names, work.volume);
    size_t taken = 0;
    for (size_t i = 0; i < work.names.size(); ++i) {
        const DigestRecord* known = cache.Find(work.names[i]);
        FileStamp stamp = {};
        if (!known || !stamps.Read(work.installDir, work.names[i], stamp) ||
            !IsTrusted(*known, stamp))
            continue;
        LocalDigest& result = work.results[i];
        result.record = *known;
        result.exists = result.read = result.cached = result.stamped = true;
        ++taken;
    }
    return taken;
}

// The stamp is read from the handle that the digest is read through, which lets others read
// but not write: the digest is of the file that the stamp describes.
void DigestOne(const DigestWork& work, size_t i) {
    LocalDigest& result = work.results[i];
    if (result.cached)
        return;
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
    for (size_t i; (i = work.next++) < work.names.size();)
        DigestOne(work, i);
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
    DigestWork work{installDir, names, VolumeSerialOf(installDir), results};
    const size_t toHash = names.size() - (cache ? TakeTrusted(work, *cache) : 0);
    DWORD helpers = ProcessorCount();
    if (helpers > kMaxThreads)
        helpers = kMaxThreads;
    if (helpers > toHash)
        helpers = static_cast<DWORD>(toHash);
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
