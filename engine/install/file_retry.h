// File operations retried for about three seconds while the file is in use: a client that was
// just asked to close may still hold its files, a virus scanner may look at a new one.
#pragma once

#include <windows.h>

// Whether an operation failed with this error because another program has the file open.
bool IsFileInUse(DWORD dwError);
// Sleeps between attempts of an operation that failed while the file is in use; false when the
// attempts are spent or the failure is another.
bool MayRetryFileOperation(int nAttempt);

// Calls operation (true on success, else GetLastError() says why) until it succeeds, fails
// otherwise, or the file stayed in use for all attempts.
template <typename Operation> bool RetryWhileInUse(Operation operation) {
    for (int attempt = 1;; ++attempt) {
        if (operation())
            return true;
        if (!MayRetryFileOperation(attempt))
            return false;
    }
}

bool MoveFileWithRetry(const char* pszFrom, const char* pszTo, DWORD dwFlags);
