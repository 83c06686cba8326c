// Runs the real programs in a fresh installation folder: copies them there, starts the
// stand-in client and the updater, finds the updater's windows and reads what the client logged.
#pragma once

#include "tests/support/test_files.h"

#include <windows.h>

#include <string>

namespace testsupport {

class ProgramRun {
public:
    explicit ProgramRun(const InstallFolder& folder);
    ~ProgramRun(); // ends the updater and every client still open

    bool StartClient(const std::string& switches = "-nolaunch"); // and waits for its window
    bool WaitClientRestarted(DWORD timeoutMs) { // a client the updater started has its window
        return WaitForSingleObject(m_ready, timeoutMs) == WAIT_OBJECT_0;
    }
    bool StartUpdater(const std::string& exeName = "Updater.exe"); // copied to that name first
    int WaitUpdater(DWORD timeoutMs); // its exit code, or -1 on a time-out
    // The updater's visible dialog with this caption ("" for the update window), or null.
    HWND FindUpdaterWindow(const char* caption) const;
    HWND WaitUpdaterWindow(const char* caption, DWORD timeoutMs) const;
    // Confirms the failure message; its text, or "" when none showed.
    std::string ConfirmFailure() const;
    std::string ClientLog() const { return ReadWholeFile(m_folder / "client.log"); }
    int CountLogLines(const std::string& prefix) const;

private:
    const InstallFolder& m_folder;
    HANDLE m_ready = nullptr;
    PROCESS_INFORMATION m_updater = {};
};

std::string ControlText(HWND dialog, int id);

} // namespace testsupport
