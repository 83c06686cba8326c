#include "manifest/local_digests.h"

#include "digest/file_digest.h"
#include "framework/scoped_handle.h"

#include <shlwapi.h>

#include <atomic>
#include <memory>

namespace {

const DWORD kMaxThreads = 8;

struct DigestWork {
    const std::vector<CString>& paths;
    std::vector<LocalDigest>& results;
    std::atomic<size_t> next{0};
};

void DigestOne(const CString& path, LocalDigest& result) {
    result.exists = PathFileExistsA(path) != FALSE;
    if (!result.exists)
        return;
    try {
        result.digest = CFileDigest::DigestFile(path);
        result.read = true;
    } catch (CException* e) { // a locked file or a folder: the caller fails the check
        e->Delete();
    } catch (...) {
    }
}

// Each thread takes the next path not yet taken until none is left.
DWORD WINAPI DigestThread(LPVOID pParam) {
    DigestWork& work = *static_cast<DigestWork*>(pParam);
    for (size_t i; (i = work.next++) < work.paths.size();)
        DigestOne(work.paths[i], work.results[i]);
    return 0;
}

DWORD ProcessorCount() {
    SYSTEM_INFO info = {};
    GetSystemInfo(&info);
    return info.dwNumberOfProcessors ? info.dwNumberOfProcessors : 1;
}

} // namespace

std::vector<LocalDigest> DigestLocalFiles(const std::vector<CString>& paths) {
    std::vector<LocalDigest> results(paths.size());
    DigestWork work{paths, results};
    DWORD helpers = ProcessorCount();
    if (helpers > kMaxThreads)
        helpers = kMaxThreads;
    if (helpers > paths.size())
        helpers = static_cast<DWORD>(paths.size());
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
