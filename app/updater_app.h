// The process's shell: prepares the platform, points the profile at the updater's INI file and
// creates the update window as the main window.
#pragma once

#include "framework/win_app.h"

class CUpdaterDlg;

class CUpdaterApp : public CWinApp {
public:
    CUpdaterApp() = default;
    ~CUpdaterApp() override;

    BOOL InitInstance() override;
    int ExitInstance() override;

    CUpdaterDlg* m_pUpdaterDlg = nullptr;
};
