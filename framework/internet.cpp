#include "framework/internet.h"

#include <shlwapi.h>

BOOL CInternetException::GetErrorMessage(char* pszError, UINT nMaxError,
                                         UINT* pnHelpContext) const {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (m_dwError >= INTERNET_ERROR_BASE && m_dwError <= INTERNET_ERROR_LAST)
        return FormatSystemMessage(m_dwError, GetModuleHandleA("wininet.dll"), pszError, nMaxError);
    return FormatSystemMessage(m_dwError, nullptr, pszError, nMaxError);
}

CHttpFile::~CHttpFile() {
    Close();
}

BOOL CHttpFile::QueryInfo(DWORD dwInfoLevel, DWORD& dwResult) {
    DWORD value = 0;
    DWORD size = sizeof(value);
    if (!m_hFile ||
        !HttpQueryInfoA(m_hFile, dwInfoLevel | HTTP_QUERY_FLAG_NUMBER, &value, &size, nullptr))
        return FALSE;
    dwResult = value;
    return TRUE;
}

UINT CHttpFile::Read(void* lpBuf, UINT nCount) {
    DWORD read = 0;
    if (!InternetReadFile(m_hFile, lpBuf, nCount, &read))
        throw new CInternetException(GetLastError());
    return read;
}

void CHttpFile::Close() {
    if (m_hFile) {
        InternetCloseHandle(m_hFile);
        m_hFile = nullptr;
    }
}

namespace {
// The program's name: its executable's base name without the extension.
CString ProgramName() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
    char* name = PathFindFileNameA(path);
    PathRemoveExtensionA(name);
    return CString(name);
}
} // namespace

CInternetSession::CInternetSession(const char* pstrAgent, DWORD dwContext, DWORD dwAccessType,
                                   const char* pstrProxyName, const char* pstrProxyBypass,
                                   DWORD dwFlags)
    : m_dwContext(dwContext) {
    const CString agent = pstrAgent ? CString(pstrAgent) : ProgramName();
    m_hSession = InternetOpenA(agent, dwAccessType, pstrProxyName, pstrProxyBypass, dwFlags);
}

CInternetSession::~CInternetSession() {
    Close();
}

CHttpFile* CInternetSession::OpenURL(const char* pstrURL, DWORD dwContext, DWORD dwFlags,
                                     const char* pstrHeaders, DWORD dwHeadersLength) {
    if (!m_hSession)
        throw new CInternetException(ERROR_INTERNET_INCORRECT_HANDLE_STATE);
    HINTERNET h = InternetOpenUrlA(m_hSession, pstrURL, pstrHeaders, dwHeadersLength, dwFlags,
                                   dwContext ? dwContext : m_dwContext);
    if (!h)
        throw new CInternetException(GetLastError());
    return new CHttpFile(h);
}

void CInternetSession::Close() {
    if (m_hSession) {
        InternetCloseHandle(m_hSession);
        m_hSession = nullptr;
    }
}
