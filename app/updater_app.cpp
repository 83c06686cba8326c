#include "app/updater_app.h"

#include "engine/update_controller.h"
#include "res/resource.h"
#include "ui/updater_dlg.h"

#include <commctrl.h>
#include <objbase.h>

CUpdaterApp theApp;

namespace {

// The window's progress bars are common controls. Their library is loaded, from the system's
// folder, only for the window: loading it starts the display driver, which a start with nothing
// to update never needs. It stays loaded for the life of the process.
void RegisterCommonControls() {
    char path[MAX_PATH + 16] = "";
    const UINT length = GetSystemDirectoryA(path, MAX_PATH);
    HMODULE library =
        length && length < MAX_PATH ? LoadLibraryA(lstrcatA(path, "\\comctl32.dll")) : nullptr;
    using InitFunction = BOOL(WINAPI*)(const INITCOMMONCONTROLSEX*);
    const auto init = library ? reinterpret_cast<InitFunction>(reinterpret_cast<void*>(
                                    GetProcAddress(library, "InitCommonControlsEx")))
                              : nullptr;
    INITCOMMONCONTROLSEX controls = {};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    if (init)
        init(&controls);
}

} // namespace

CUpdaterApp::CUpdaterApp() = default;

CUpdaterApp::~CUpdaterApp() = default;

BOOL CUpdaterApp::InitInstance() {
    CWinApp::InitInstance();
    // MSXML runs in either apartment; a single-threaded one would make a hidden window, which
    // under Wine starts the display driver even for a start with nothing to update.
    CoInitializeEx(nullptr, COINIT_MULTITHREADED);

    m_pController = std::make_unique<CUpdateController>();
    // Nothing to update: the client has been told so, and the process ends without the window
    // ever being made (making it, hidden, would be most of such a start's time).
    if (!m_pController->Check())
        return FALSE;
    RegisterCommonControls();
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
