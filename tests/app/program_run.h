// Runs the real programs in a fresh installation folder: copies them there, starts the
// stand-in client and the updater, and reads what the client logged.
#pragma once

#include "tests/support/test_files.h"

#include <windows.h>

#include <string>

namespace testsupport {

class ProgramRun {
public:
    explicit ProgramRun(const InstallFolder& folder);
    ~ProgramRun(); // ends the updater and every client still open

    // Starts Quillmarket.exe with the given switches and waits until its window exists.
    bool StartClient(const std::string& switches = "-nolaunch");
    // Waits until a client started by the updater has its window.
    bool WaitClientRestarted(DWORD timeoutMs);
    // Starts the updater under the given file name (copied there first if needed).
    bool StartUpdater(const std::string& exeName = "Updater.exe");
    // The updater's exit code, or -1 on a time-out.
    int WaitUpdater(DWORD timeoutMs);
    // The updater's visible dialog with this caption ("" for the update window), or null.
    HWND FindUpdaterWindow(const char* caption) const;
    std::string ClientLog() const { return ReadWholeFile(m_logPath); }
    int CountLogLines(const std::string& prefix) const;

private:
    const InstallFolder& m_folder;
    std::string m_logPath;
    HANDLE m_ready = nullptr;
    PROCESS_INFORMATION m_updater = {};
};

} // namespace testsupport
