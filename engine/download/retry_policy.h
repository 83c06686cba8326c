// Which failures of a file's transfer pass (a dropped connection, a time-out, a busy server) and
// are worth trying again, and how long to wait before each new try: about 1 s, doubling to
// 30 s, with jitter, at most 8 tries a file and 3 minutes of waiting in a whole run.
#pragma once

#include <windows.h>

enum class FaultKind {
    Final,    // trying again would not help: the run fails
    Passing,  // try again on the same site, continuing what was received
    SiteDown, // the site cannot be reached or fails itself: another site may serve
};

// A WinInet error: failed connections and time-outs pass; a refused certificate, a bad URL or
// anything else is final.
FaultKind FaultOfNetworkError(DWORD dwError);
// A reply's status: 408 and 429 pass, 5xx (and none: the connection ended before a reply) is
// the site's own failure, the rest is final.
FaultKind FaultOfStatus(DWORD dwStatus);

class CRetryBudget {
public:
    static const int kTriesPerFile = 8;

    // The wait before the try after `nFailedTries` failed ones of a file (1 based); false when
    // that file's tries or the run's waiting are spent.
    bool NextWait(int nFailedTries, DWORD& dwWaitMs);
    // The waiting actually done (a cancel may end a wait early).
    void Spend(DWORD dwWaitedMs) { m_dwWaitedMs += dwWaitedMs; }

private:
    DWORD m_dwWaitedMs = 0;
    unsigned m_nSeed = GetTickCount() ^ (GetCurrentProcessId() << 16);
};
