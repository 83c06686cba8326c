#include "framework/format.h"

#include <stdio.h>

int FormatTextV(char* pszBuffer, size_t nSize, const char* pszFormat, va_list args) {
    va_list measure;
    va_copy(measure, args);
    const int needed = _vscprintf(pszFormat, measure);
    va_end(measure);
    if (pszBuffer && nSize > 0) {
        // The system's function leaves a text that fills the buffer unterminated.
        _vsnprintf(pszBuffer, nSize, pszFormat, args);
        pszBuffer[nSize - 1] = '\0';
        if (needed < 0)
            pszBuffer[0] = '\0';
    }
    return needed;
}

int FormatText(char* pszBuffer, size_t nSize, const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    const int needed = FormatTextV(pszBuffer, nSize, pszFormat, args);
    va_end(args);
    return needed;
}
