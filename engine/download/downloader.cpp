#include "engine/download/downloader.h"

#include "digest/file_digest.h"
#include "digest/file_sha256.h"
#include "framework/file.h"
#include "framework/format.h"
#include "framework/http_fetch.h"
#include "framework/run_log.h"

#include <memory>
#include <string.h>

namespace {

// Reads report progress one by one; the file is written in fewer, larger writes.
const UINT kBlockSize = 65536;
// Always from the server, never the cache; an http:// site that moved to https:// is followed,
// as browsers do (certificate checks stay the platform's).
const DWORD kOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_ASCII |
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

bool LooksLikeFile(const BYTE* pData, UINT nCount) {
    if (nCount < 22)
        return false;
    if (memcmp(pData, "<html>", 6) == 0)
        return false;
    if (memcmp(pData, "<!DOCTYPE HTML PUBLIC", 21) == 0)
        return false;
    return true;
}

// One file's body on its way to the temporary file: the first piece decides whether it is the
// file at all, every piece is digested as it arrives (which spares a second pass) and reported.
class CTransfer : public IHttpBodySink {
public:
    CTransfer(const CUpdateFile& file, const CString& strTempPath, DWORD dwAnnounced,
              IDownloadSink& sink, const std::atomic<BOOL>& bCancel)
        : m_file(file), m_strTempPath(strTempPath), m_dwAnnounced(dwAnnounced), m_sink(sink),
          m_bCancel(bCancel), m_block(new BYTE[kBlockSize]) {}

    BYTE* PieceBuffer() override {
        if (kBlockSize - m_nHeld < kHttpPieceSize)
            Flush();
        return m_block.get() + m_nHeld;
    }
    bool OnPiece(UINT nCount) override {
        BYTE* piece = m_block.get() + m_nHeld;
        if (!m_temp.IsOpen())
            Accept(piece, nCount);
        if (m_file.szMd5[0])
            m_md5.Update(piece, nCount);
        m_nHeld += nCount;
        m_dwFileBytes += nCount;
        m_sink.OnFileBytes(m_file, nCount, m_dwFileBytes);
        return !m_bCancel;
    }
    void Flush() {
        m_temp.Write(m_block.get(), m_nHeld);
        m_nHeld = 0;
    }
    void Close() { m_temp.Close(); }
    CString Md5() { return m_file.szMd5[0] ? m_md5.Final() : CString(); }

private:
    void Accept(const BYTE* pFirst, UINT nCount) {
        if (!LooksLikeFile(pFirst, nCount))
            throw new CDownloadRejected;
        m_sink.OnFileAccepted(m_file, m_dwAnnounced);
        if (m_strTempPath.IsEmpty())
            throw new CDownloadRejected;
        CFileException openError;
        if (!m_temp.Open(m_strTempPath, CFile::modeCreate | CFile::modeReadWrite, &openError))
            throw new CFileException(openError);
    }

    const CUpdateFile& m_file;
    const CString& m_strTempPath;
    const DWORD m_dwAnnounced;
    IDownloadSink& m_sink;
    const std::atomic<BOOL>& m_bCancel;
    std::unique_ptr<BYTE[]> m_block;
    UINT m_nHeld = 0;
    DWORD m_dwFileBytes = 0;
    CFile m_temp;
    CFileDigest m_md5;
};

} // namespace

CDownloader::CDownloader(CInternetSession& session, const CString& strBaseUrl,
                         const CString& strTempDir, const std::atomic<BOOL>& bCancel)
    : m_session(session), m_strBaseUrl(strBaseUrl), m_strTempDir(strTempDir), m_bCancel(bCancel) {}

CDownloader::Outcome CDownloader::Fetch(const CUpdateFile& file, IDownloadSink& sink) {
    const CString tempPath = TempPathOf(file);
    CString md5;
    {
        CHttpFetch fetch(m_session, m_strBaseUrl + file.szRemoteName, kOpenFlags);
        if (fetch.Status() != HTTP_STATUS_OK) {
            RunLog().Write("download %s: HTTP status %lu", file.szRemoteName, fetch.Status());
            throw new CDownloadRejected;
        }
        unsigned long long announced = 0;
        // Sizes are unsigned 32-bit: a length beyond them is a lie to refuse, not one to wrap.
        if (fetch.Length(announced) && announced > 0xFFFFFFFFull)
            throw new CDownloadRejected;
        CTransfer transfer(file, tempPath, static_cast<DWORD>(announced), sink, m_bCancel);
        const bool whole = fetch.ReadBody(transfer);
        transfer.Flush();
        transfer.Close();
        if (!whole || m_bCancel)
            return Outcome::Cancelled;
        md5 = transfer.Md5();
    } // the connection is closed before the file is checked
    Verify(file, md5);
    return Outcome::Received;
}

// Wrong bytes (a stale mirror, a portal's page) must never be installed.
void CDownloader::Verify(const CUpdateFile& file, const CString& strMd5) const {
    if (file.szMd5[0] && strMd5 != file.szMd5) {
        RunLog().Write("download %s: content does not match its md5", file.szRemoteName);
        throw new CDownloadRejected;
    }
    if (file.szSha256[0] && !FileMatchesSha256(TempPathOf(file), file.szSha256)) {
        RunLog().Write("download %s: content does not match its sha256", file.szRemoteName);
        throw new CDownloadRejected;
    }
}

CString CDownloader::TempPathOf(const CUpdateFile& file) const {
    char tempPath[MAX_PATH] = {};
    const int pathLength = FormatText(tempPath, sizeof(tempPath), "%s\\%s.dtm",
                                      m_strTempDir.GetString(), file.szLocalName);
    if (pathLength < 0 || pathLength >= static_cast<int>(sizeof(tempPath)))
        return CString();
    return CString(tempPath);
}
