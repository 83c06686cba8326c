#include "engine/download/downloader.h"

#include "digest/file_sha256.h"
#include "engine/download/delta_download.h"
#include "engine/download/partial_download.h"
#include "framework/format.h"
#include "framework/http_fetch.h"
#include "framework/run_log.h"

#include <memory>
#include <string.h>

namespace {

const size_t kMaxValidator = 200;
const DWORD kRangeNotSatisfiable = 416;

bool HasDigest(const CUpdateFile& file) {
    return file.szMd5[0] || file.szSha256[0];
}

bool LooksLikeFile(const BYTE* pData, UINT nCount) {
    if (nCount < 22)
        return false;
    if (memcmp(pData, "<html>", 6) == 0)
        return false;
    if (memcmp(pData, "<!DOCTYPE HTML PUBLIC", 21) == 0)
        return false;
    return true;
}

// A reply whose status is not the file's; the run words it as the program's own failure.
class CStatusFault : public CException {
public:
    explicit CStatusFault(DWORD dwStatus) : m_dwStatus(dwStatus) {}
    BOOL GetErrorMessage(char*, UINT, UINT* = nullptr) const override { return FALSE; }
    DWORD m_dwStatus;
};

// What the server gives to continue a transfer with If-Range: a strong ETag, else the
// Last-Modified date; "" when neither (or one that is no plain header text) was sent.
CString ValidatorOf(const CHttpFetch& fetch) {
    CString value;
    if (!fetch.Header(HTTP_QUERY_ETAG, value) || value.IsEmpty() || value.Left(2) == "W/")
        if (!fetch.Header(HTTP_QUERY_LAST_MODIFIED, value))
            return CString();
    if (static_cast<size_t>(value.GetLength()) > kMaxValidator)
        return CString();
    for (const char* p = value.GetString(); *p; ++p)
        if (*p < 0x20 || *p > 0x7e)
            return CString();
    return value;
}

// The body of one reply on its way into the partial download. The very first piece of a file,
// when no digest will check it, decides whether it is the file at all.
class CTransfer : public IHttpBodySink {
public:
    CTransfer(CPartialDownload& partial, const CUpdateFile& file, IDownloadSink& sink,
              const std::atomic<BOOL>& bCancel, DWORD dwAnnounced, bool& bAnnounced)
        : m_partial(partial), m_file(file), m_sink(sink), m_bCancel(bCancel),
          m_dwAnnounced(dwAnnounced), m_bAnnounced(bAnnounced) {}

    BYTE* PieceBuffer() override { return m_pPiece = m_partial.Room(); }
    bool OnPiece(UINT nCount) override {
        if (!m_bStarted)
            Start(nCount);
        m_partial.Append(nCount);
        m_sink.OnFileProgress(m_file, static_cast<DWORD>(m_partial.Length()));
        return !m_bCancel;
    }

private:
    void Start(UINT nCount) {
        m_bStarted = true;
        if (m_partial.Length() == 0 && !HasDigest(m_file) && !LooksLikeFile(m_pPiece, nCount))
            throw new CDownloadRejected;
        if (!m_bAnnounced) {
            m_bAnnounced = true;
            m_sink.OnFileAccepted(m_file, m_dwAnnounced);
        }
        if (!m_partial.Open())
            throw new CDownloadRejected; // the temporary path does not fit
    }

    CPartialDownload& m_partial;
    const CUpdateFile& m_file;
    IDownloadSink& m_sink;
    const std::atomic<BOOL>& m_bCancel;
    const DWORD m_dwAnnounced;
    bool& m_bAnnounced;
    bool m_bStarted = false;
    BYTE* m_pPiece = nullptr;
};

} // namespace

// A passing fault, and what the run reports should it be the last.
struct CDownloader::Fault {
    FaultKind kind = FaultKind::Final;
    std::unique_ptr<CException, void (*)(CException*)> error{nullptr,
                                                             [](CException* e) { e->Delete(); }};
    char reason[256] = {};
};

CString TempNameOf(const CUpdateFile& file) {
    CString name;
    for (const char* p = file.szLocalName; *p; ++p)
        name += *p == '\\' ? "%5C" : *p == '%' ? "%25" : CString(p, 1);
    return name + ".dtm";
}

CString TempPathOf(const CString& strTempDir, const CUpdateFile& file) {
    const CString path = strTempDir + "\\" + TempNameOf(file);
    return path.GetLength() < MAX_PATH ? path : CString();
}

CDownloader::CDownloader(CInternetSession& session, std::vector<CString> baseUrls,
                         size_t nFirstSite, const CString& strTempDir, const CString& strTargetDir,
                         const std::atomic<BOOL>& bCancel, HANDLE hCancel)
    : m_session(session), m_baseUrls(std::move(baseUrls)),
      m_nSite(nFirstSite < m_baseUrls.size() ? nFirstSite : 0), m_strTempDir(strTempDir),
      m_strTargetDir(strTargetDir), m_bCancel(bCancel), m_hCancel(hCancel) {}

CDownloader::Outcome CDownloader::Fetch(const CUpdateFile& file, IDownloadSink& sink) {
    m_bAnnounced = false;
    CPartialDownload partial(file, TempPathOf(m_strTempDir, file));
    // What an earlier run left, whole or in part, comes first; else the installed copy.
    TryResult delta = TakeOver(partial, file, sink);
    if (delta == TryResult::Faulted && partial.Length() == 0)
        delta = TryDelta(partial, file, sink);
    bool refetched = false;
    for (int failed = 0;;) {
        Fault fault;
        const TryResult result =
            delta != TryResult::Faulted ? delta : TryCatching(partial, file, sink, fault);
        delta = TryResult::Faulted;
        switch (result) {
        case TryResult::Received:
            partial.Finish();
            return Outcome::Received;
        case TryResult::Cancelled:
            partial.Keep();
            return Outcome::Cancelled;
        case TryResult::Mismatch:
            // A stale edge cache may have served an old copy: one more fetch from the start.
            if (refetched) {
                partial.Discard();
                throw new CDownloadRejected;
            }
            refetched = true;
            RunLog().Write("download %s: fetching it once more from the start", file.szRemoteName);
            partial.Restart();
            continue;
        case TryResult::Faulted:
            break;
        }
        if (fault.kind == FaultKind::Final) {
            partial.Discard();
            throw fault.error.release();
        }
        const Wait wait = WaitToRetry(file, ++failed, fault);
        if (wait != Wait::Retry) {
            partial.Keep();
            if (wait == Wait::Cancelled)
                return Outcome::Cancelled;
            throw fault.error.release();
        }
    }
}

// One try. A fault fills `fault` (Faulted); one that no new try can help, other than the
// network's, the reply's or the site's, discards what was received and passes on.
CDownloader::TryResult CDownloader::TryCatching(CPartialDownload& partial, const CUpdateFile& file,
                                                IDownloadSink& sink, Fault& fault) {
    try {
        return TryOnce(partial, file, sink);
    } catch (CInternetException* e) {
        fault.error.reset(e);
        // A blocked wait given up on the user's request is a cancel.
        if (e->m_dwError == ERROR_INTERNET_OPERATION_CANCELLED)
            return TryResult::Cancelled;
        fault.kind = FaultOfNetworkError(e->m_dwError);
        e->GetErrorMessage(fault.reason, sizeof(fault.reason));
    } catch (CHttpBodyError* e) {
        fault.error.reset(e);
        fault.kind = FaultKind::Passing;
        FormatText(fault.reason, sizeof(fault.reason), "%s", "the body ended early");
    } catch (CStatusFault* e) {
        fault.error.reset(e);
        // A range the server would not serve as asked: the file starts over on the next try.
        fault.kind =
            e->m_dwStatus == kRangeNotSatisfiable || e->m_dwStatus == HTTP_STATUS_PARTIAL_CONTENT
                ? FaultKind::Passing
                : FaultOfStatus(e->m_dwStatus);
        FormatText(fault.reason, sizeof(fault.reason), "HTTP status %lu", e->m_dwStatus);
    } catch (CException*) {
        partial.Discard();
        throw;
    }
    if (m_bReplied && fault.kind == FaultKind::SiteDown)
        fault.kind = FaultKind::Passing; // the site answered: what stopped was the transfer
    return TryResult::Faulted;
}

CDownloader::TryResult CDownloader::TakeOver(CPartialDownload& partial, const CUpdateFile& file,
                                             IDownloadSink& sink) {
    if (!partial.Exists() || !partial.TakeOver())
        return TryResult::Faulted;
    m_bAnnounced = true;
    sink.OnFileAccepted(file, static_cast<DWORD>(partial.Length()));
    sink.OnFileProgress(file, static_cast<DWORD>(partial.Length()));
    return TryResult::Received;
}

CDownloader::TryResult CDownloader::TryDelta(CPartialDownload& partial, const CUpdateFile& file,
                                             IDownloadSink& sink) {
    // A rebuilt file must be checked as a whole: only one with a digest is rebuilt.
    const CString oldPath = m_strTargetDir + "\\" + file.szLocalName;
    if (!file.szIndexName[0] || !HasDigest(file) ||
        GetFileAttributesA(oldPath) == INVALID_FILE_ATTRIBUTES)
        return TryResult::Faulted;
    DeltaResult result = DeltaResult::Whole;
    try {
        result = BuildFromInstalledCopy(m_session, m_baseUrls[m_nSite] + file.szRemoteName,
                                        m_baseUrls[m_nSite] + file.szIndexName, oldPath, file,
                                        partial, sink, m_bCancel);
        if (result == DeltaResult::Built) {
            m_bAnnounced = true;
            partial.Close();
            if (Verified(partial, file))
                return TryResult::Received;
        }
    } catch (CInternetException* e) {
        if (e->m_dwError == ERROR_INTERNET_OPERATION_CANCELLED)
            result = DeltaResult::Cancelled;
        e->Delete();
    } catch (CException* e) {
        e->Delete();
    }
    if (result == DeltaResult::Cancelled || m_bCancel)
        return TryResult::Cancelled;
    RunLog().Write("download %s: fetching the whole file", file.szRemoteName);
    partial.Restart();
    return TryResult::Faulted;
}

CDownloader::TryResult CDownloader::TryOnce(CPartialDownload& partial, const CUpdateFile& file,
                                            IDownloadSink& sink) {
    m_bReplied = false;
    if (partial.Length() > 0 && partial.Validator().IsEmpty())
        partial.Restart(); // nothing tells whether the server still has the same file
    CString headers;
    if (partial.Length() > 0) {
        // Lengths fit 32 bits: the whole file's does.
        const unsigned long offset = static_cast<unsigned long>(partial.Length());
        RunLog().Write("download %s: resuming at byte %lu", file.szRemoteName, offset);
        headers.Format("Range: bytes=%lu-\r\nIf-Range: %s\r\n", offset,
                       partial.Validator().GetString());
    }
    CHttpFetch fetch(m_session, m_baseUrls[m_nSite] + file.szRemoteName, kDownloadOpenFlags,
                     headers.IsEmpty() ? nullptr : headers.GetString());
    const DWORD announced = AcceptReply(fetch, partial, file);
    m_bReplied = true;
    CTransfer transfer(partial, file, sink, m_bCancel, announced, m_bAnnounced);
    bool whole = false;
    try {
        whole = fetch.ReadBody(transfer);
    } catch (CException*) {
        partial.Keep(); // what arrived is kept for the next try
        throw;
    }
    if (!whole || m_bCancel)
        return TryResult::Cancelled;
    if (partial.Total() && partial.Length() < partial.Total()) {
        partial.Keep(); // a range that ended before the file did: the next try goes on
        throw new CHttpBodyError;
    }
    partial.Close();
    return Verified(partial, file) ? TryResult::Received : TryResult::Mismatch;
}

// The length the reply announces for the whole file. A 206 must continue exactly where the
// file stopped, and a 200 starts it over; other statuses throw.
DWORD CDownloader::AcceptReply(CHttpFetch& fetch, CPartialDownload& partial,
                               const CUpdateFile& file) {
    const DWORD status = fetch.Status();
    if (status == HTTP_STATUS_PARTIAL_CONTENT && partial.Length() > 0) {
        unsigned long long first = 0, total = 0;
        if (fetch.ContentRange(first, total) && first == partial.Length() &&
            total == partial.Total())
            return static_cast<DWORD>(total);
        RunLog().Write("download %s: a partial reply that does not continue at byte %lu",
                       file.szRemoteName, static_cast<unsigned long>(partial.Length()));
        partial.Restart();
        throw new CStatusFault(status);
    }
    if (status == HTTP_STATUS_OK) {
        if (partial.Length() > 0) {
            RunLog().Write("download %s: the server sent the whole file; starting over",
                           file.szRemoteName);
            partial.Restart(); // never appended to what is there
        }
        unsigned long long length = 0;
        bool hasLength = false;
        try {
            hasLength = fetch.Length(length);
        } catch (CHttpBodyError* e) { // not a number: no new try makes it one
            e->Delete();
            throw new CDownloadRejected;
        }
        // Sizes are unsigned 32-bit: a length beyond them is a lie to refuse, not one to wrap.
        if (length > 0xFFFFFFFFull)
            throw new CDownloadRejected;
        partial.SetValidator(ValidatorOf(fetch), hasLength ? length : 0);
        return static_cast<DWORD>(length);
    }
    RunLog().Write("download %s: HTTP status %lu", file.szRemoteName, status);
    if (status == kRangeNotSatisfiable)
        partial.Restart();
    throw new CStatusFault(status);
}

// Wrong bytes (a stale mirror, a portal's page) must never be installed.
bool CDownloader::Verified(const CPartialDownload& partial, const CUpdateFile& file) const {
    if (file.szMd5[0] && partial.Md5() != file.szMd5) {
        RunLog().Write("download %s: content does not match its md5", file.szRemoteName);
        return false;
    }
    if (file.szSha256[0] && !FileMatchesSha256(TempPathOf(m_strTempDir, file), file.szSha256)) {
        RunLog().Write("download %s: content does not match its sha256", file.szRemoteName);
        return false;
    }
    return true;
}

CDownloader::Wait CDownloader::WaitToRetry(const CUpdateFile& file, int nFailedTries,
                                           const Fault& fault) {
    DWORD waitMs = 0;
    if (!m_budget.NextWait(nFailedTries, waitMs)) {
        RunLog().Write("download %s: given up after %d tries: %s", file.szRemoteName, nFailedTries,
                       fault.reason);
        return Wait::GiveUp;
    }
    if (fault.kind == FaultKind::SiteDown && m_baseUrls.size() > 1) {
        const size_t failed = m_nSite;
        m_nSite = (m_nSite + 1) % m_baseUrls.size();
        RunLog().Write("download %s: site%u failed (%s); switching to site%u %s", file.szRemoteName,
                       static_cast<unsigned>(failed + 1), fault.reason,
                       static_cast<unsigned>(m_nSite + 1), m_baseUrls[m_nSite].GetString());
    }
    RunLog().Write("download %s: try %d of %d in %lu ms, after: %s", file.szRemoteName,
                   nFailedTries + 1, CRetryBudget::kTriesPerFile, waitMs, fault.reason);
    const DWORD started = GetTickCount();
    const bool cancelled = m_hCancel && WaitForSingleObject(m_hCancel, waitMs) == WAIT_OBJECT_0;
    m_budget.Spend(GetTickCount() - started);
    return cancelled || m_bCancel ? Wait::Cancelled : Wait::Retry;
}
