#include "app/updater_app.h"

#include "engine/update_controller.h"
#include "res/resource.h"
#include "ui/updater_dlg.h"

#include <commctrl.h>
#include <objbase.h>

CUpdaterApp theApp;

CUpdaterApp::CUpdaterApp() = default;

CUpdaterApp::~CUpdaterApp() = default;

BOOL CUpdaterApp::InitInstance() {
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);
    CWinApp::InitInstance();
    CoInitialize(nullptr);

    m_pController = std::make_unique<CUpdateController>();
    // Nothing to update: the client has been told so, and the process ends without the window
    // ever being made (making it, hidden, would be most of such a start's time).
    if (!m_pController->Check())
        return FALSE;
    m_pUpdaterDlg = std::make_unique<CUpdaterDlg>(*m_pController, nullptr);
    m_pMainWnd = m_pUpdaterDlg.get();
    if (!m_pUpdaterDlg->Create(IDD_UPDATER, nullptr)) {
        // Without a window nothing would ever end the message loop.
        m_pMainWnd = nullptr;
        m_nExitCode = 1;
        return FALSE;
    }
    m_pController->Start(*m_pUpdaterDlg);
    return TRUE;
}

int CUpdaterApp::ExitInstance() {
    CoUninitialize();
    if (m_pController) {
        m_pController->Finish();
        m_pController.reset(); // the run is detached from the window first
    }
    m_pUpdaterDlg.reset();
    return CWinApp::ExitInstance();
}
