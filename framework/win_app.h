// The one application object: InitInstance, the message loop, ExitInstance, and the profile
// (INI file) it reads settings from.
#pragma once

#include "framework/cstring.h"

#include <windows.h>

class CWnd;

class CWinApp {
public:
    CWinApp();
    virtual ~CWinApp();
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    virtual BOOL InitInstance() { return TRUE; }
    // Pumps messages until WM_QUIT, then returns ExitInstance's result.
    virtual int Run();
    // The process exit code: the WM_QUIT code, or the code set with SetExitCode.
    virtual int ExitInstance() { return m_nExitCode; }

    // Reads the profile file (read only); the default only when the key is missing.
    CString GetProfileString(const char* pszSection, const char* pszEntry,
                             const char* pszDefault = nullptr);

    CWnd* m_pMainWnd = nullptr;
    // Heap string (malloc/_strdup), owned, released with free.
    char* m_pszProfileName = nullptr;
    HINSTANCE m_hInstance = nullptr;

protected:
    int m_nExitCode = 0;

    friend int AfxWinMain(HINSTANCE hInstance);
};

CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// The entry routine: InitInstance, Run (only if it succeeded), ExitInstance.
int AfxWinMain(HINSTANCE hInstance);
