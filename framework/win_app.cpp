#include "framework/win_app.h"

#include "framework/wnd.h"

#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>
#include <vector>

namespace {
CWinApp* g_pApp = nullptr;
}

CWinApp::CWinApp() {
    g_pApp = this;
}

CWinApp::~CWinApp() {
    free(m_pszProfileName);
    m_pszProfileName = nullptr;
    if (g_pApp == this)
        g_pApp = nullptr;
}

CWinApp* AfxGetApp() {
    return g_pApp;
}

HINSTANCE AfxGetInstanceHandle() {
    return g_pApp && g_pApp->m_hInstance ? g_pApp->m_hInstance : GetModuleHandleA(nullptr);
}

int CWinApp::Run() {
    MSG msg;
    while (true) {
        const BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0) {
            m_nExitCode = static_cast<int>(msg.wParam);
            break;
        }
        if (got == -1)
            break;
        // Keyboard navigation of the main dialog (Esc presses Cancel, as in any dialog).
        if (m_pMainWnd && m_pMainWnd->m_hWnd && IsDialogMessageA(m_pMainWnd->m_hWnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    return ExitInstance();
}

CString CWinApp::GetProfileString(const char* pszSection, const char* pszEntry,
                                  const char* pszDefault) {
    const char* fallback = pszDefault ? pszDefault : "";
    if (!m_pszProfileName)
        return CString(fallback);
    // Grow until the value fits: the call reports a cut value as size - 1 characters.
    std::vector<char> buffer(256);
    while (true) {
        const DWORD copied =
            GetPrivateProfileStringA(pszSection, pszEntry, fallback, buffer.data(),
                                     static_cast<DWORD>(buffer.size()), m_pszProfileName);
        if (copied < buffer.size() - 1 || buffer.size() >= (1u << 20))
            return CString(buffer.data(), static_cast<int>(copied));
        buffer.resize(buffer.size() * 2);
    }
}

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* app = AfxGetApp();
    if (!app)
        return 1;
    app->m_hInstance = hInstance;
    // The framework's own profile name: the program's name with ".INI", in its folder.
    char path[MAX_PATH] = {};
    GetModuleFileNameA(hInstance, path, MAX_PATH - 1);
    PathRenameExtensionA(path, ".INI");
    free(app->m_pszProfileName);
    app->m_pszProfileName = _strdup(path);

    if (!app->InitInstance())
        return app->ExitInstance();
    return app->Run();
}
