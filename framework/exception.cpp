#include "framework/exception.h"

#include <string.h>

BOOL CException::GetErrorMessage(char* pszError, UINT nMaxError, UINT* pnHelpContext) const {
    if (pnHelpContext)
        *pnHelpContext = 0;
    if (pszError && nMaxError > 0)
        pszError[0] = '\0';
    return FALSE;
}

BOOL FormatSystemMessage(DWORD dwError, HMODULE hModule, char* pszError, UINT nMaxError) {
    if (!pszError || nMaxError == 0)
        return FALSE;
    pszError[0] = '\0';
    const DWORD source = hModule ? FORMAT_MESSAGE_FROM_HMODULE : FORMAT_MESSAGE_FROM_SYSTEM;
    const DWORD len = FormatMessageA(source | FORMAT_MESSAGE_IGNORE_INSERTS, hModule, dwError, 0,
                                     pszError, nMaxError, nullptr);
    if (len == 0) {
        pszError[0] = '\0';
        return FALSE;
    }
    pszError[nMaxError - 1] = '\0';
    // The system's texts end with a line break, which a one-line message does not want.
    size_t n = strlen(pszError);
    while (n > 0 && (pszError[n - 1] == '\n' || pszError[n - 1] == '\r' || pszError[n - 1] == ' '))
        pszError[--n] = '\0';
    return TRUE;
}
