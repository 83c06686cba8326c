// Fetches every listed file into the temporary folder, one block at a time.
#include "engine/update_engine.h"

#include "framework/file.h"

#include <memory>
#include <stdio.h>
#include <string.h>

namespace {

const UINT kBlockSize = 8192;
const UINT kMessageSize = 512;
const DWORD kOpenFlags = INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_TRANSFER_ASCII |
                         INTERNET_FLAG_RELOAD; // always from the server, never the cache

// A response that is not the file (an error status, an HTML page, too short, cut short): the
// entry fails with the program's own text.
struct RejectedResponse {};

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
        throw RejectedResponse();
    handles.http.reset(m_pSession->OpenURL(url, 1, kOpenFlags, nullptr, 0));

    DWORD status = 0;
    if (!handles.http->QueryInfoStatusCode(status) || status != HTTP_STATUS_OK)
        throw RejectedResponse();
    DWORD announced = 0;
    const bool hasLength = handles.http->QueryInfo(HTTP_QUERY_CONTENT_LENGTH, announced) != FALSE;
    if (!hasLength)
        announced = 0;

    const UINT first = handles.http->Read(pBlock, nBlockSize);
    if (!LooksLikeFile(pBlock, first))
        throw RejectedResponse();

    SendState(UPD_EVT_FILE_SIZE, 0, announced, file.szRemoteName);

    char tempPath[MAX_PATH] = {};
    const int pathLength = snprintf(tempPath, sizeof(tempPath), "%s\\%s.dtm",
                                    m_strTempDir.GetString(), file.szLocalName);
    if (pathLength < 0 || pathLength >= static_cast<int>(sizeof(tempPath)))
        throw RejectedResponse();
    CFileException openError;
    if (!tempFile.Open(tempPath, CFile::modeCreate | CFile::modeReadWrite, &openError))
        throw new CFileException(openError);

    tempFile.Write(pBlock, first);
    m_dwReceived += first;
    DWORD fileBytes = first;
    SendState(UPD_EVT_PROGRESS, fileBytes, m_dwReceived, file.szRemoteName);

    // With a length, read up to it; without one, read until the data ends. The length is
    // tested before the cancel flag.
    bool ended = false;
    while ((hasLength ? fileBytes < announced : !ended) && !m_bCancel) {
        const UINT count = handles.http->Read(pBlock, nBlockSize);
        if (count == 0) {
            if (hasLength)
                throw RejectedResponse(); // the body ended before its announced length
            ended = true;
            break;
        }
        tempFile.Write(pBlock, count);
        m_dwReceived += count;
        fileBytes += count;
        SendState(UPD_EVT_PROGRESS, fileBytes, m_dwReceived, file.szRemoteName);
    }

    handles.Close();
    return m_bCancel ? FileCancelled : FileReceived;
}

int CUpdateEngine::DownloadAll() {
    const int count = m_files.GetSize();
    std::unique_ptr<BYTE[]> block(new BYTE[kBlockSize]);

    for (int i = 0; i < count; ++i) {
        const CUpdateFile& file = *m_files[i];
        char message[kMessageSize] = {};
        try {
            if (DownloadFile(file, block.get(), kBlockSize) == FileCancelled) {
                SendState(UPD_EVT_CLOSE, 0, 0, nullptr);
                return 2;
            }
            SendState(UPD_EVT_FILE_DONE, 0, 0, file.szRemoteName);
            continue;
        } catch (CInternetException* e) {
            e->GetErrorMessage(message, kMessageSize);
            e->Delete();
        } catch (CFileException* e) {
            e->GetErrorMessage(message, kMessageSize);
            e->Delete();
        } catch (CException* e) {
            e->Delete();
            snprintf(message, kMessageSize, "下载 %s 文件失败", file.szRemoteName);
        } catch (...) {
            snprintf(message, kMessageSize, "下载 %s 文件失败", file.szRemoteName);
        }
        SendState(UPD_EVT_FAILED, 0, 0, message);
        return 1;
    }

    SendState(UPD_EVT_DOWNLOADED, 0, 0, nullptr);
    return 0;
}
