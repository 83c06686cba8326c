// Fetches one file of the list into the temporary folder and checks it against its digests,
// reporting its progress to a sink. A transfer that stops continues where it stopped (with
// Range and If-Range), passing faults are tried again after a growing wait, a site that fails
// hands over to the next one, and what a run could not finish is kept for the next. It knows
// nothing of windows or of the run's events.
#pragma once

#include "engine/download/retry_policy.h"
#include "framework/cstring.h"
#include "framework/exception.h"
#include "framework/internet.h"
#include "manifest/update_file.h"

#include <atomic>
#include <vector>

class CHttpFetch;
class CPartialDownload;

// Always from the server, never the cache; an http:// site that moved to https:// is followed,
// as browsers do (certificate checks stay the platform's).
const DWORD kDownloadOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_ASCII |
                                 INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

// A reply that is not the file (an error status, an HTML page, too short, a length beyond 32
// bits, the wrong bytes). It has no system text: the run words it.
class CDownloadRejected : public CException {
public:
    BOOL GetErrorMessage(char*, UINT, UINT* = nullptr) const override { return FALSE; }
};

class IDownloadSink {
public:
    // The file's length is known (0 when the server did not say); once a file.
    virtual void OnFileAccepted(const CUpdateFile& file, DWORD dwAnnounced) = 0;
    // The file holds dwFileBytes now (fewer than before when it had to start over).
    virtual void OnFileProgress(const CUpdateFile& file, DWORD dwFileBytes) = 0;

protected:
    ~IDownloadSink() = default;
};

// The temporary folder is flat: a file in a folder of the release is downloaded under its whole
// name with each backslash written "%5C" (and each '%' "%25"), then ".dtm".
CString TempNameOf(const CUpdateFile& file);
// "TEMPDIR\NAME.dtm", or "" when the path does not fit.
CString TempPathOf(const CString& strTempDir, const CUpdateFile& file);

class CDownloader {
public:
    // Files are fetched from a site's base URL (ending with "/") followed by their name,
    // unescaped, into strTempDir, starting at site nFirstSite; a file with a block index is
    // rebuilt from its installed copy in strTargetDir where it can. bCancel is seen after each
    // piece of a file; hCancel, set with it, ends a wait between tries.
    CDownloader(CInternetSession& session, std::vector<CString> baseUrls, size_t nFirstSite,
                const CString& strTempDir, const CString& strTargetDir,
                const std::atomic<BOOL>& bCancel, HANDLE hCancel);

    enum class Outcome { Received, Cancelled };
    // The file in its temporary file, verified, or Cancelled (what arrived stays for the next
    // run). Throws CDownloadRejected*, or the platform's CInternetException* or CFileException*.
    Outcome Fetch(const CUpdateFile& file, IDownloadSink& sink);

private:
    enum class TryResult { Received, Cancelled, Mismatch, Faulted };
    // An earlier run's whole download (Received), else Faulted.
    TryResult TakeOver(CPartialDownload& partial, const CUpdateFile& file, IDownloadSink& sink);
    // Only the changed blocks, when the file has an index and an installed copy: Received, or
    // Cancelled, or Faulted when the whole file is to be fetched.
    TryResult TryDelta(CPartialDownload& partial, const CUpdateFile& file, IDownloadSink& sink);
    enum class Wait { Retry, GiveUp, Cancelled };
    struct Fault;
    TryResult TryCatching(CPartialDownload& partial, const CUpdateFile& file, IDownloadSink& sink,
                          Fault& fault);
    TryResult TryOnce(CPartialDownload& partial, const CUpdateFile& file, IDownloadSink& sink);
    DWORD AcceptReply(CHttpFetch& fetch, CPartialDownload& partial, const CUpdateFile& file);
    bool Verified(const CPartialDownload& partial, const CUpdateFile& file) const;
    // After a passing fault: waits before the next try, switching sites when the site failed.
    Wait WaitToRetry(const CUpdateFile& file, int nFailedTries, const Fault& fault);

    CInternetSession& m_session;
    const std::vector<CString> m_baseUrls;
    size_t m_nSite; // where the next try goes; a site that failed is left for the next
    const CString m_strTempDir;
    const CString m_strTargetDir;
    const std::atomic<BOOL>& m_bCancel;
    const HANDLE m_hCancel;
    CRetryBudget m_budget;
    bool m_bAnnounced = false; // the current file's length was reported
    bool m_bReplied = false;   // the current try has its reply
};
