// Runs the real programs in a fresh installation folder: copies them there, writes the INI
// file, starts the stand-in client and the updater, and reads what the client logged.
#pragma once

#include "tests/support/test_files.h"

#include <windows.h>

#include <string>
#include <vector>

namespace testsupport {

// A Unix path of the build turned into the Wine path of the same file.
std::string WinePath(const std::string& unixPath);
class ProgramRun {
public:
    explicit ProgramRun(const InstallFolder& folder);
    ~ProgramRun();

    // Starts Quillmarket.exe with the given switches and waits until its window exists.
    bool StartClient(const std::string& switches = "-nolaunch");
    // Waits until a client started by the updater has its window.
    bool WaitClientRestarted(DWORD timeoutMs);
    // Starts the updater under the given file name (copied there first if needed).
    bool StartUpdater(const std::string& exeName = "Updater.exe");
    // Waits for the updater to end; its exit code, or -1 on a time-out.
    int WaitUpdater(DWORD timeoutMs);
    DWORD UpdaterProcessId() const { return m_updater.dwProcessId; }
    // The updater's visible top-level dialog window with this caption ("" for the update
    // window, which has none), or null.
    HWND FindUpdaterWindow(const char* caption) const;
    std::vector<std::string> ClientLog() const;
    int CountLogLines(const std::string& prefix) const;

private:
    const InstallFolder& m_folder;
    std::string m_logPath;
    std::string m_readyName;
    HANDLE m_ready = nullptr;
    PROCESS_INFORMATION m_updater = {};
};

} // namespace testsupport
