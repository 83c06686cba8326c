// Framework exceptions: always thrown as heap objects (throw new X), caught as CException*,
// and released with Delete(). Code that fills an exception on its stack throws a heap copy.
#pragma once

#include <windows.h>

class CException {
public:
    virtual ~CException() = default;
    // Writes the system's text for the error into pszError (at most nMaxError bytes including
    // the terminating zero); TRUE when a text was found.
    virtual BOOL GetErrorMessage(char* pszError, UINT nMaxError,
                                 UINT* pnHelpContext = nullptr) const;
    void Delete() { delete this; }

protected:
    CException() = default;
};

// Copies the system message for dwError from the given module's message table (or the
// system's when hModule is null) into the bounded buffer.
BOOL FormatSystemMessage(DWORD dwError, HMODULE hModule, char* pszError, UINT nMaxError);
