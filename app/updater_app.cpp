#include "app/updater_app.h"

#include "res/resource.h"
#include "ui/updater_dlg.h"

#include <commctrl.h>
#include <objbase.h>
#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>

CUpdaterApp theApp;

namespace {
// A download stalled in a network read is given this long to notice the cancel request before
// the process ends without freeing what the worker still uses.
const DWORD kShutdownWaitMs = 10000;
} // namespace

CUpdaterApp::~CUpdaterApp() = default;

BOOL CUpdaterApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    CoInitialize(nullptr);

    // The settings file: this executable's path with its last extension replaced by ".INI".
    char path[MAX_PATH] = {};
    GetModuleFileNameA(m_hInstance, path, MAX_PATH);
    path[MAX_PATH - 1] = '\0';
    PathRemoveExtensionA(path);
    const CString iniPath = CString(path) + ".INI";
    free(m_pszProfileName);
    m_pszProfileName = _strdup(iniPath);

    m_pUpdaterDlg = new CUpdaterDlg(nullptr);
    m_pMainWnd = m_pUpdaterDlg;
    if (!m_pUpdaterDlg->Create(IDD_UPDATER, nullptr)) {
        // Without a window nothing would ever end the message loop.
        m_pMainWnd = nullptr;
        m_nExitCode = 1;
        return FALSE;
    }
    return TRUE;
}

int CUpdaterApp::ExitInstance() {
    CoUninitialize();
    if (m_pUpdaterDlg) {
        const bool installing = m_pUpdaterDlg->m_engine.m_nState == UPD_EVT_DOWNLOADED;
        if (m_pUpdaterDlg->WaitForWorker(installing ? INFINITE : kShutdownWaitMs))
            delete m_pUpdaterDlg;
        m_pUpdaterDlg = nullptr;
    }
    return CWinApp::ExitInstance();
}
