// HTTP client session over WinInet; failures are CInternetException.
#pragma once

#include "framework/cstring.h"
#include "framework/exception.h"

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

// Owns one handle returned by OpenURL.
class CHttpFile {
public:
    explicit CHttpFile(HINTERNET hFile) : m_hFile(hFile) {}
    ~CHttpFile();
    CHttpFile(const CHttpFile&) = delete;
    CHttpFile& operator=(const CHttpFile&) = delete;

    // A numeric header (HTTP_QUERY_FLAG_NUMBER is added); FALSE when it is absent.
    BOOL QueryInfo(DWORD dwInfoLevel, DWORD& dwResult);
    BOOL QueryInfoStatusCode(DWORD& dwStatusCode) {
        return QueryInfo(HTTP_QUERY_STATUS_CODE, dwStatusCode);
    }
    // Count read, 0 at the end of the data; throws CInternetException* on an error.
    UINT Read(void* lpBuf, UINT nCount);
    void Close();

private:
    HINTERNET m_hFile;
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

    // Opens the URL; the caller owns (and deletes) the result. Throws CInternetException*.
    CHttpFile* OpenURL(const char* pstrURL, DWORD dwContext = 1,
                       DWORD dwFlags = INTERNET_FLAG_TRANSFER_ASCII,
                       const char* pstrHeaders = nullptr, DWORD dwHeadersLength = 0);
    void Close();
    HINTERNET GetHandle() const { return m_hSession; }

private:
    HINTERNET m_hSession = nullptr;
    DWORD m_dwContext;
};
