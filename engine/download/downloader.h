// Fetches one file of the list into the temporary folder and checks it against its digests,
// reporting its progress to a sink. It knows nothing of windows or of the run's events.
#pragma once

#include "framework/cstring.h"
#include "framework/exception.h"
#include "framework/internet.h"
#include "manifest/update_file.h"

#include <atomic>

// A reply that is not the file (an error status, an HTML page, too short, cut short, a length
// beyond 32 bits, the wrong bytes). It has no system text: the run words it.
class CDownloadRejected : public CException {
public:
    BOOL GetErrorMessage(char*, UINT, UINT* = nullptr) const override { return FALSE; }
};

class IDownloadSink {
public:
    // The reply was accepted as the file; its announced length, 0 when it has none.
    virtual void OnFileAccepted(const CUpdateFile& file, DWORD dwAnnounced) = 0;
    // nCount more bytes of the file arrived, dwFileBytes of it so far.
    virtual void OnFileBytes(const CUpdateFile& file, UINT nCount, DWORD dwFileBytes) = 0;

protected:
    ~IDownloadSink() = default;
};

class CDownloader {
public:
    // Files are fetched from strBaseUrl (ending with "/") followed by their name, unescaped, into
    // strTempDir; bCancel is seen after each piece of a file.
    CDownloader(CInternetSession& session, const CString& strBaseUrl, const CString& strTempDir,
                const std::atomic<BOOL>& bCancel);

    enum class Outcome { Received, Cancelled };
    // The file in its temporary file, verified, or Cancelled (a partial temporary file stays).
    // Throws CDownloadRejected*, or the platform's CInternetException* or CFileException*.
    Outcome Fetch(const CUpdateFile& file, IDownloadSink& sink);
    // "TEMPDIR\NAME.dtm", or "" when the path does not fit.
    CString TempPathOf(const CUpdateFile& file) const;

private:
    void Verify(const CUpdateFile& file, const CString& strMd5) const;

    CInternetSession& m_session;
    const CString m_strBaseUrl;
    const CString m_strTempDir;
    const std::atomic<BOOL>& m_bCancel;
};
