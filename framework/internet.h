// HTTP client session over asynchronous WinInet; failures are CInternetException. Every wait
// for the network is bounded by the session's limits, and can be cut short by a cancel event:
// a synchronous WinInet read cannot be bounded everywhere (neither its time-out options nor
// closing its handle end it under Wine), an asynchronous one can.
#pragma once

#include "framework/cstring.h"
#include "framework/exception.h"
#include "framework/network_limits.h"

#include <windows.h>
#include <wininet.h>

class CInternetException : public CException {
public:
    explicit CInternetException(DWORD dwError) : m_dwError(dwError) {}
    // The text comes from WinInet's own message table for its error codes.
    BOOL GetErrorMessage(char* pszError, UINT nMaxError,
                         UINT* pnHelpContext = nullptr) const override;

    DWORD m_dwError;
};

// How long a session's operations may wait, and what ends a wait early.
struct CNetworkLimits {
    DWORD dwIdleMs = NetworkLimitMs(NetworkLimit::Idle);
    DWORD dwDeadlineTick = 0;  // GetTickCount() value after which every wait fails; 0: none
    bool bHasDeadline = false; // (tick values wrap, so 0 is a valid deadline)
    HANDLE hCancel = nullptr;  // set: a wait still pending after a short grace is abandoned
};

struct CAsyncRequest; // shared with WinInet's callback; lives until its handle is closed

// One request opened by OpenURL.
class CHttpFile {
public:
    CHttpFile(CAsyncRequest* pRequest, const CNetworkLimits& limits);
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // A numeric header (HTTP_QUERY_FLAG_NUMBER is added); FALSE when it is absent.
    BOOL QueryInfo(DWORD dwInfoLevel, DWORD& dwResult);
    // A header as the server sent it; FALSE when it is absent.
    BOOL QueryInfo(DWORD dwInfoLevel, CString& strResult);
    BOOL QueryInfoStatusCode(DWORD& dwStatusCode) {
        return QueryInfo(HTTP_QUERY_STATUS_CODE, dwStatusCode);
    }
    // Fills the buffer unless the data ends first; the count, 0 at the end of the data. Throws
    // CInternetException* on an error, on ERROR_INTERNET_TIMEOUT when no byte came within the
    // limits and on ERROR_INTERNET_OPERATION_CANCELLED when the cancel event cut a wait short.
    UINT Read(void* lpBuf, UINT nCount);
    void Close();

private:
    UINT ReadAvailable(BYTE* pBuf, UINT nCount);
    CAsyncRequest* m_pRequest;
    CNetworkLimits m_limits;
};

class CInternetSession {
public:
    // A null agent means the program's own name; access type 0 is the preconfigured setting.
    explicit CInternetSession(const char* pstrAgent = nullptr, DWORD dwContext = 1,
                              DWORD dwAccessType = INTERNET_OPEN_TYPE_PRECONFIG,
                              const char* pstrProxyName = nullptr,
                              const char* pstrProxyBypass = nullptr, DWORD dwFlags = 0);
    ~CInternetSession();
    CInternetSession(const CInternetSession&) = delete;
    CInternetSession& operator=(const CInternetSession&) = delete;

    // Apply to the requests opened afterwards.
    void SetLimits(const CNetworkLimits& limits) { m_limits = limits; }
    // Opens the URL and waits for the reply's headers; the caller owns (and deletes) the
    // result. Throws CInternetException* as CHttpFile::Read does.
    CHttpFile* OpenURL(const char* pstrURL, DWORD dwContext = 1,
                       DWORD dwFlags = INTERNET_FLAG_TRANSFER_ASCII,
                       const char* pstrHeaders = nullptr, DWORD dwHeadersLength = 0);
    void Close();
    HINTERNET GetHandle() const { return m_hSession; }

private:
    HINTERNET m_hSession = nullptr;
    CNetworkLimits m_limits;
};
