#include "engine/download/retry_policy.h"

#include "framework/network_limits.h"

#include <wininet.h>

namespace {

// The longest single wait and the run's whole waiting, in units of the first wait.
const DWORD kLongestWaits = 30;
const DWORD kRunWaits = 180;

} // namespace

FaultKind FaultOfNetworkError(DWORD dwError) {
    switch (dwError) {
    case ERROR_INTERNET_CANNOT_CONNECT:
    case ERROR_INTERNET_NAME_NOT_RESOLVED:
    case ERROR_INTERNET_TIMEOUT:
        return FaultKind::SiteDown;
    case ERROR_INTERNET_CONNECTION_ABORTED:
    case ERROR_INTERNET_CONNECTION_RESET:
    case ERROR_HTTP_INVALID_SERVER_RESPONSE:
        return FaultKind::Passing;
    default:
        return FaultKind::Final;
    }
}

FaultKind FaultOfStatus(DWORD dwStatus) {
    // No status at all: the connection ended before a reply.
    if (dwStatus == 0 || (dwStatus >= 500 && dwStatus <= 599))
        return FaultKind::SiteDown;
    return dwStatus == 408 || dwStatus == 429 ? FaultKind::Passing : FaultKind::Final;
}

bool CRetryBudget::NextWait(int nFailedTries, DWORD& dwWaitMs) {
    const DWORD unit = NetworkLimitMs(NetworkLimit::RetryDelay);
    if (nFailedTries >= kTriesPerFile || m_dwWaitedMs >= kRunWaits * unit)
        return false;
    DWORD wait = unit;
    for (int i = 1; i < nFailedTries && wait < kLongestWaits * unit; ++i)
        wait *= 2;
    if (wait > kLongestWaits * unit)
        wait = kLongestWaits * unit;
    // Jitter of -25% to +25%, so that many clients that failed together do not return together.
    m_nSeed = m_nSeed * 1103515245u + 12345u;
    wait = wait - wait / 4 + static_cast<DWORD>((m_nSeed >> 16) % (wait / 2 + 1));
    if (m_dwWaitedMs + wait > kRunWaits * unit)
        wait = kRunWaits * unit - m_dwWaitedMs;
    dwWaitMs = wait;
    return true;
}
