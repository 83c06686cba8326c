// Fetches every listed file into the temporary folder, one block at a time.
#include "engine/update_engine.h"

#include "app/run_log.h"
#include "digest/file_digest.h"
#include "framework/file.h"
#include "framework/format.h"
#include "manifest/manifest_signature.h"

#include <memory>
#include <string.h>

namespace {

// Each network read asks for at most this much, and progress is reported per read; writes
// gather several reads.
const UINT kReadSize = 8192;
const UINT kBlockSize = 65536;
const UINT kMessageSize = 512;
// Always from the server, never the cache; an http:// site that moved to https:// is followed,
// as browsers do (certificate checks stay the platform's).
const DWORD kOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_ASCII |
                         INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

void FormatFailure(char* pszMessage, UINT nSize, const char* pszName) {
    FormatText(pszMessage, nSize, "下载 %s 文件失败", pszName);
}

// A response that is not the file (an error status, an HTML page, too short, cut short): the
// entry fails with the program's own text. Thrown like every framework exception.
class CRejectedResponse : public CException {
public:
    explicit CRejectedResponse(const char* pszName) : m_pszName(pszName) {}
    BOOL GetErrorMessage(char* pszError, UINT nMaxError, UINT* pnHelpContext) const override {
        if (pnHelpContext)
            *pnHelpContext = 0;
        FormatFailure(pszError, nMaxError, m_pszName);
        return TRUE;
    }

private:
    const char* m_pszName;
};

// A decimal length that fits the unsigned 32-bit sizes; anything else is refused.
bool ParseLength(const CString& text, DWORD& dwLength) {
    const char* p = text.GetString();
    unsigned long long value = 0;
    if (!*p)
        return false;
    for (; *p; ++p) {
        if (*p < '0' || *p > '9')
            return false;
        value = value * 10 + static_cast<unsigned>(*p - '0');
        if (value > 0xFFFFFFFFull)
            return false;
    }
    dwLength = static_cast<DWORD>(value);
    return true;
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

// Closes the HTTP file and the temporary file on every way out of a file's transfer.
struct TransferHandles {
    std::unique_ptr<CHttpFile> http;
    CFile& temp;
    explicit TransferHandles(CFile& file) : temp(file) {}
    ~TransferHandles() { Close(); }
    void Close() {
        if (http) {
            http->Close();
            http.reset();
        }
        temp.Close();
    }
};

} // namespace

CUpdateEngine::FileOutcome CUpdateEngine::DownloadFile(const CUpdateFile& file, BYTE* pBlock,
                                                       UINT nBlockSize) {
    CFile tempFile;
    TransferHandles handles(tempFile);

    SendState(UPD_EVT_CONNECTING, 0, 0, nullptr);
    const CString url = m_strBaseUrl + file.szRemoteName;
    if (!m_pSession)
        throw new CRejectedResponse(file.szRemoteName);
    handles.http.reset(m_pSession->OpenURL(url, 1, kOpenFlags, nullptr, 0));

    DWORD status = 0;
    if (!handles.http->QueryInfoStatusCode(status) || status != HTTP_STATUS_OK) {
        RunLog().Write("download %s: HTTP status %lu", file.szRemoteName, status);
        throw new CRejectedResponse(file.szRemoteName);
    }
    DWORD announced = 0;
    CString lengthText;
    const bool hasLength = handles.http->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, lengthText) != FALSE;
    // Sizes are unsigned 32-bit: a length beyond them is a lie to refuse, not a number to wrap.
    if (hasLength && !ParseLength(lengthText, announced))
        throw new CRejectedResponse(file.szRemoteName);

    const UINT first = handles.http->Read(pBlock, kReadSize);
    if (!LooksLikeFile(pBlock, first))
        throw new CRejectedResponse(file.szRemoteName);

    SendState(UPD_EVT_FILE_SIZE, 0, announced, file.szRemoteName);

    OpenTempFile(tempFile, file);
    // Digested as it arrives, which spares a second pass over the file.
    CFileDigest md5;
    CFileDigest* const pMd5 = file.szMd5[0] ? &md5 : nullptr;
    DWORD fileBytes = 0;
    TakeBlock(pMd5, pBlock, first, fileBytes, file.szRemoteName);
    // Reads report progress one by one; the block goes to the disk in fewer, larger writes.
    UINT held = first;

    // With a length, read up to it; without one, read until the data ends. The length is
    // tested before the cancel flag.
    bool ended = false;
    while ((hasLength ? fileBytes < announced : !ended) && !m_bCancel) {
        if (nBlockSize - held < kReadSize) {
            tempFile.Write(pBlock, held);
            held = 0;
        }
        const UINT count = handles.http->Read(pBlock + held, kReadSize);
        if (count == 0) {
            if (hasLength)
                throw new CRejectedResponse(
                    file.szRemoteName); // the body ended before its announced length
            ended = true;
            break;
        }
        TakeBlock(pMd5, pBlock + held, count, fileBytes, file.szRemoteName);
        held += count;
    }
    tempFile.Write(pBlock, held);

    handles.Close();
    if (m_bCancel)
        return FileCancelled;
    // Wrong bytes (a stale mirror, a portal's page) must never be installed.
    if (file.szMd5[0] && md5.Final() != file.szMd5) {
        RunLog().Write("download %s: content does not match its md5", file.szRemoteName);
        throw new CRejectedResponse(file.szRemoteName);
    }
    if (file.szSha256[0] && !FileMatchesSha256(TempPathOf(file), file.szSha256)) {
        RunLog().Write("download %s: content does not match its sha256", file.szRemoteName);
        throw new CRejectedResponse(file.szRemoteName);
    }
    return FileReceived;
}

CString CUpdateEngine::TempPathOf(const CUpdateFile& file) const {
    char tempPath[MAX_PATH] = {};
    const int pathLength = FormatText(tempPath, sizeof(tempPath), "%s\\%s.dtm",
                                      m_strTempDir.GetString(), file.szLocalName);
    if (pathLength < 0 || pathLength >= static_cast<int>(sizeof(tempPath)))
        return CString();
    return CString(tempPath);
}

void CUpdateEngine::OpenTempFile(CFile& tempFile, const CUpdateFile& file) {
    const CString tempPath = TempPathOf(file);
    if (tempPath.IsEmpty())
        throw new CRejectedResponse(file.szRemoteName);
    CFileException openError;
    if (!tempFile.Open(tempPath, CFile::modeCreate | CFile::modeReadWrite, &openError))
        throw new CFileException(openError);
}

void CUpdateEngine::TakeBlock(CFileDigest* pMd5, const BYTE* pBlock, UINT nCount,
                              DWORD& dwFileBytes, const char* pszName) {
    if (pMd5)
        pMd5->Update(pBlock, nCount);
    m_dwReceived += nCount;
    dwFileBytes += nCount;
    SendState(UPD_EVT_PROGRESS, dwFileBytes, m_dwReceived, pszName);
}

int CUpdateEngine::DownloadAll() {
    m_dwReceived = 0;
    std::unique_ptr<BYTE[]> block(new BYTE[kBlockSize]);

    for (const CUpdateFile& file : m_files) {
        char message[kMessageSize] = {};
        const DWORD started = GetTickCount(), receivedBefore = m_dwReceived;
        try {
            if (DownloadFile(file, block.get(), kBlockSize) == FileCancelled) {
                SendState(UPD_EVT_CLOSE, 0, 0, nullptr);
                return 2;
            }
            RunLog().Write("download %s: %lu bytes in %lu ms, %s", file.szRemoteName,
                           m_dwReceived - receivedBefore, GetTickCount() - started,
                           file.szSha256[0] ? "sha256 matches"
                           : file.szMd5[0]  ? "md5 matches"
                                            : "not checked");
            SendState(UPD_EVT_FILE_DONE, 0, 0, file.szRemoteName);
            continue;
        } catch (CInternetException* e) {
            const bool cancelled = e->m_dwError == ERROR_INTERNET_OPERATION_CANCELLED;
            if (!cancelled && !e->GetErrorMessage(message, kMessageSize))
                FormatFailure(message, kMessageSize, file.szRemoteName);
            e->Delete();
            if (cancelled) { // a blocked wait was given up on the user's request
                SendState(UPD_EVT_CLOSE, 0, 0, nullptr);
                return 2;
            }
        } catch (CException* e) { // the platform's text, or ours where it has none
            if (!e->GetErrorMessage(message, kMessageSize))
                FormatFailure(message, kMessageSize, file.szRemoteName);
            e->Delete();
        } catch (...) {
            FormatFailure(message, kMessageSize, file.szRemoteName);
        }
        // A partial or unverified file must not be taken for a download later.
        const CString failedTemp = TempPathOf(file);
        if (!failedTemp.IsEmpty())
            DeleteFileA(failedTemp);
        RunLog().Write("download %s failed after %lu bytes in %lu ms: %s", file.szRemoteName,
                       m_dwReceived - receivedBefore, GetTickCount() - started, message);
        SendState(UPD_EVT_FAILED, 0, 0, message);
        return 1;
    }

    SendState(UPD_EVT_DOWNLOADED, 0, 0, nullptr);
    return 0;
}
