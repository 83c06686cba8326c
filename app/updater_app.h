// The process's shell: prepares the platform and creates the update window as the main window.
// The framework has already pointed the profile at the INI file beside the executable.
#pragma once

#include "framework/win_app.h"

#include <memory>

class CUpdaterDlg;

class CUpdaterApp : public CWinApp {
public:
    CUpdaterApp();
    ~CUpdaterApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    std::unique_ptr<CUpdaterDlg> m_pUpdaterDlg;
};
