// The process's shell: prepares the platform, creates the update window as the main window and
// has the controller run the start-up sequence. The framework has already pointed the profile
// at the INI file beside the executable.
#pragma once

#include "framework/win_app.h"

#include <memory>

class CUpdateController;
class CUpdaterDlg;

class CUpdaterApp : public CWinApp {
public:
    CUpdaterApp();
    ~CUpdaterApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

private:
    std::unique_ptr<CUpdateController> m_pController;
    std::unique_ptr<CUpdaterDlg> m_pUpdaterDlg;
};
