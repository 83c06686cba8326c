#include "engine/install/file_retry.h"

namespace {

const int kAttempts = 30;
const DWORD kRetryDelayMs = 100;

} // namespace

bool IsFileInUse(DWORD dwError) {
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_ACCESS_DENIED ||
           dwError == ERROR_LOCK_VIOLATION;
}

bool MayRetryFileOperation(int nAttempt) {
    if (!IsFileInUse(GetLastError()) || nAttempt >= kAttempts)
        return false;
    Sleep(kRetryDelayMs);
    return true;
}

bool MoveFileWithRetry(const char* pszFrom, const char* pszTo, DWORD dwFlags) {
    return RetryWhileInUse([&] { return MoveFileExA(pszFrom, pszTo, dwFlags) != FALSE; });
}
