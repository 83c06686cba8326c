#include "framework/internet.h"

#include "framework/program_info.h"

#include <algorithm>
#include <atomic>
#include <string.h>

namespace {

// A cancelled wait still lets an operation that is about to complete do so, so that a block
// already arriving is kept as before; a blocked one is abandoned well within the 2 s the user
// is promised.
const DWORD kCancelGraceMs = 500;
const UINT kReadPiece = 8192;

} // namespace

// What one request shares with WinInet's callback, which may run on WinInet's own threads and
// after the request was abandoned: it is freed when both the owner and the handle are gone,
// and pending reads write only into its own buffer.
struct CAsyncRequest {
    std::atomic<long> refs{2}; // the owner's and the request handle's
    std::atomic<bool> handleReleased{false};
    std::atomic<HINTERNET> handle{nullptr};
    HANDLE hDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    DWORD_PTR result = 0; // of the last completed operation, written before hDone is set
    DWORD error = 0;
    DWORD available = 0; // WinInet may write these after a wait was given up
    DWORD count = 0;
    bool abandoned = false; // a wait for it was given up; the owner's thread only
    BYTE buffer[kReadPiece];

    ~CAsyncRequest() {
        if (hDone)
            CloseHandle(hDone);
    }
    void Release() {
        if (--refs == 0)
            delete this;
    }
    void ReleaseHandle() { // once only, whatever reports the handle's end
        if (!handleReleased.exchange(true))
            Release();
    }
};

namespace {

void CALLBACK StatusCallback(HINTERNET hInternet, DWORD_PTR dwContext, DWORD dwStatus, LPVOID pInfo,
                             DWORD /*dwInfoLength*/) {
    CAsyncRequest* request = reinterpret_cast<CAsyncRequest*>(dwContext);
    if (!request || !pInfo)
        return; // the session's own events
    switch (dwStatus) {
    case INTERNET_STATUS_HANDLE_CREATED: {
        // The information begins with the handle (INTERNET_ASYNC_RESULT::dwResult).
        HINTERNET created = *static_cast<HINTERNET*>(pInfo);
        HINTERNET none = nullptr;
        request->handle.compare_exchange_strong(none, created);
        break;
    }
    case INTERNET_STATUS_REQUEST_COMPLETE: {
        const INTERNET_ASYNC_RESULT* done = static_cast<INTERNET_ASYNC_RESULT*>(pInfo);
        request->result = done->dwResult;
        request->error = done->dwError;
        SetEvent(request->hDone);
        break;
    }
    case INTERNET_STATUS_HANDLE_CLOSING:
        // Only the request's handle; a hidden connection handle may share the context.
        if (hInternet == request->handle.load())
            request->ReleaseHandle();
        break;
    default:
        break;
    }
}

// True when the call completed at once; false when it is pending. Throws on an immediate
// failure.
bool CompletedAtOnce(BOOL bResult) {
    if (bResult)
        return true;
    const DWORD error = GetLastError();
    if (error != ERROR_IO_PENDING)
        throw new CInternetException(error);
    return false;
}

// Waits for the pending operation within the limits; throws on a time-out, a cancel or the
// operation's own failure.
void WaitPending(CAsyncRequest& request, const CNetworkLimits& limits) {
    DWORD wait = limits.dwIdleMs;
    if (limits.bHasDeadline) {
        const LONG left = static_cast<LONG>(limits.dwDeadlineTick - GetTickCount());
        wait = left <= 0 ? 0 : (std::min)(wait, static_cast<DWORD>(left));
    }
    HANDLE handles[2] = {request.hDone, limits.hCancel};
    DWORD woke = WaitForMultipleObjects(limits.hCancel ? 2 : 1, handles, FALSE, wait);
    if (woke == WAIT_OBJECT_0 + 1)
        woke = WaitForSingleObject(request.hDone, (std::min)(wait, kCancelGraceMs)) == WAIT_OBJECT_0
                   ? WAIT_OBJECT_0
                   : WAIT_OBJECT_0 + 1;
    if (woke != WAIT_OBJECT_0) {
        // The operation is still pending and may complete later: nothing may follow it.
        request.abandoned = true;
        throw new CInternetException(woke == WAIT_OBJECT_0 + 1 ? ERROR_INTERNET_OPERATION_CANCELLED
                                                               : ERROR_INTERNET_TIMEOUT);
    }
    // Only a pending operation signals, and each signal is consumed here: no operation needs a
    // reset before it (under Wine every reset is a round trip to the server).
    ResetEvent(request.hDone);
    if (!request.result)
        throw new CInternetException(request.error ? request.error : ERROR_INTERNET_INTERNAL_ERROR);
}

} // namespace

BOOL CInternetException::GetErrorMessage(char* pszError, UINT nMaxError,
                                         UINT* pnHelpContext) const {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (m_dwError >= INTERNET_ERROR_BASE && m_dwError <= INTERNET_ERROR_LAST)
        return FormatSystemMessage(m_dwError, GetModuleHandleA("wininet.dll"), pszError, nMaxError);
    return FormatSystemMessage(m_dwError, nullptr, pszError, nMaxError);
}

CHttpFile::CHttpFile(CAsyncRequest* pRequest, const CNetworkLimits& limits)
    : m_pRequest(pRequest), m_limits(limits) {}

CHttpFile::~CHttpFile() {
    Close();
}

BOOL CHttpFile::QueryInfo(DWORD dwInfoLevel, DWORD& dwResult) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!m_pRequest || !HttpQueryInfoA(m_pRequest->handle, dwInfoLevel | HTTP_QUERY_FLAG_NUMBER,
                                       &value, &size, nullptr))
        return FALSE;
    dwResult = value;
    return TRUE;
}

BOOL CHttpFile::QueryInfo(DWORD dwInfoLevel, CString& strResult) {
    char text[256] = {};
    DWORD size = sizeof(text) - 1;
    if (!m_pRequest || !HttpQueryInfoA(m_pRequest->handle, dwInfoLevel, text, &size, nullptr))
        return FALSE;
    strResult = text;
    return TRUE;
}

UINT CHttpFile::Read(void* lpBuf, UINT nCount) {
    BYTE* out = static_cast<BYTE*>(lpBuf);
    UINT total = 0;
    while (total < nCount) {
        const UINT count = ReadAvailable(out + total, nCount - total);
        if (count == 0)
            break;
        total += count;
    }
    return total;
}

// Waits until some data has arrived (or the data ended), then takes what is there: a slow
// sender's bytes each restart the idle limit, and only silence ends the request.
UINT CHttpFile::ReadAvailable(BYTE* pBuf, UINT nCount) {
    if (!m_pRequest)
        throw new CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    CAsyncRequest& request = *m_pRequest;
    if (request.abandoned)
        throw new CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    for (;;) {
        request.available = 0;
        if (CompletedAtOnce(InternetQueryDataAvailable(request.handle, &request.available, 0, 0)))
            break;
        WaitPending(request, m_limits); // then asked again: the data is there now
    }
    const DWORD available = request.available;
    if (available == 0)
        return 0;
    const DWORD wanted = (std::min)((std::min)(available, static_cast<DWORD>(nCount)),
                                    static_cast<DWORD>(kReadPiece));
    request.count = 0;
    if (!CompletedAtOnce(InternetReadFile(request.handle, request.buffer, wanted, &request.count)))
        WaitPending(request, m_limits);
    const UINT count = (std::min)(request.count, wanted);
    memcpy(pBuf, request.buffer, count);
    return count;
}

void CHttpFile::Close() {
    if (!m_pRequest)
        return;
    // A pending operation then completes with an error on WinInet's side; the request's
    // memory stays until the handle's end is reported.
    HINTERNET handle = m_pRequest->handle.load();
    if (handle)
        InternetCloseHandle(handle);
    m_pRequest->Release();
    m_pRequest = nullptr;
}

CInternetSession::CInternetSession(const char* pstrAgent, DWORD /*dwContext*/, DWORD dwAccessType,
                                   const char* pstrProxyName, const char* pstrProxyBypass,
                                   DWORD dwFlags) {
    const CString agent = pstrAgent ? CString(pstrAgent) : ProgramName();
    m_hSession = InternetOpenA(agent, dwAccessType, pstrProxyName, pstrProxyBypass,
                               dwFlags | INTERNET_FLAG_ASYNC);
    if (m_hSession &&
        InternetSetStatusCallback(m_hSession, &StatusCallback) == INTERNET_INVALID_STATUS_CALLBACK)
        Close(); // without the callback no wait could be bounded
}

CInternetSession::~CInternetSession() {
    Close();
}

CHttpFile* CInternetSession::OpenURL(const char* pstrURL, DWORD /*dwContext*/, DWORD dwFlags,
                                     const char* pstrHeaders, DWORD dwHeadersLength) {
    if (!m_hSession)
        throw new CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    CAsyncRequest* request = new CAsyncRequest;
    if (!request->hDone) {
        delete request;
        throw new CInternetException(GetLastError());
    }
    HINTERNET opened = InternetOpenUrlA(m_hSession, pstrURL, pstrHeaders, dwHeadersLength, dwFlags,
                                        reinterpret_cast<DWORD_PTR>(request));
    const DWORD error = opened ? ERROR_SUCCESS : GetLastError();
    if (opened) {
        HINTERNET none = nullptr;
        request->handle.compare_exchange_strong(none, opened);
    } else if (error == ERROR_IO_PENDING) {
        try {
            WaitPending(*request, m_limits);
        } catch (CInternetException*) {
            CHttpFile abandoned(request, m_limits); // closes what was opened so far
            throw;
        }
        HINTERNET none = nullptr;
        request->handle.compare_exchange_strong(none, reinterpret_cast<HINTERNET>(request->result));
    } else {
        if (!request->handle.load())
            request->ReleaseHandle(); // no handle was made, none will report its end
        CHttpFile failed(request, m_limits);
        throw new CInternetException(error);
    }
    return new CHttpFile(request, m_limits);
}

void CInternetSession::Close() {
    if (m_hSession) {
        InternetCloseHandle(m_hSession);
        m_hSession = nullptr;
    }
}
