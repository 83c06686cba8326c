#include "tests/app/program_run.h"

#include <algorithm>
#include <sstream>

namespace testsupport {

std::string WinePath(std::string unixPath) {
    std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
    return "Z:" + unixPath;
}

static bool StartProcess(std::string line, const std::string& folder, PROCESS_INFORMATION& info) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &info) != FALSE;
}

// Waits up to `graceMs` for the process to end, ends it if not, and closes its handles.
static void End(PROCESS_INFORMATION& info, DWORD graceMs) {
    if (info.hProcess) {
        if (WaitForSingleObject(info.hProcess, graceMs) != WAIT_OBJECT_0)
            TerminateProcess(info.hProcess, 1);
        WaitForSingleObject(info.hProcess, 5000);
        CloseHandle(info.hProcess);
    }
    CloseHandle(info.hThread);
    info = {};
}

ProgramRun::ProgramRun(const InstallFolder& folder) : m_folder(folder) {
    const std::string readyName = "QuillmarketTestReady-" + std::to_string(GetCurrentProcessId());
    m_ready = CreateEventA(nullptr, FALSE, FALSE, readyName.c_str());
    SetEnvironmentVariableA("QUILLMARKET_LOG", (folder / "client.log").c_str());
    SetEnvironmentVariableA("QUILLMARKET_READY_EVENT", readyName.c_str());
    CopyFileA(WinePath(UPDATER_EXE_UNIX).c_str(), (folder / "Updater.exe").c_str(), FALSE);
    CopyFileA(WinePath(CLIENT_EXE_UNIX).c_str(), (folder / "Quillmarket.exe").c_str(), FALSE);
}

ProgramRun::~ProgramRun() {
    End(m_updater, 0);
    for (int i = 0; i < 8; ++i) { // each client window closed, its process waited for
        const HWND client = FindWindowA("Quillmarket", nullptr);
        if (!client)
            break;
        DWORD pid = 0;
        DWORD_PTR ignored = 0;
        GetWindowThreadProcessId(client, &pid);
        PROCESS_INFORMATION process = {};
        process.hProcess = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        SendMessageTimeoutA(client, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        End(process, 5000);
    }
    CloseHandle(m_ready);
    SetEnvironmentVariableA("QUILLMARKET_LOG", nullptr);
    SetEnvironmentVariableA("QUILLMARKET_READY_EVENT", nullptr);
}

bool ProgramRun::StartClient(const std::string& switches) {
    PROCESS_INFORMATION info = {};
    const bool started = StartProcess("\"" + (m_folder / "Quillmarket.exe") + "\" " + switches,
                                      m_folder.Path(), info);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return started && WaitClientRestarted(15000);
}

bool ProgramRun::StartUpdater(const std::string& exeName) {
    End(m_updater, 0); // an updater started before
    const std::string exe = m_folder / exeName;
    if (exeName != "Updater.exe")
        CopyFileA((m_folder / "Updater.exe").c_str(), exe.c_str(), FALSE);
    return StartProcess("\"" + exe + "\"", m_folder.Path(), m_updater);
}

int ProgramRun::WaitUpdater(DWORD timeoutMs) {
    DWORD code = 0;
    if (WaitForSingleObject(m_updater.hProcess, timeoutMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(m_updater.hProcess, &code))
        return -1;
    return static_cast<int>(code);
}

HWND ProgramRun::FindUpdaterWindow(const char* caption) const {
    for (HWND w = nullptr; (w = FindWindowExA(nullptr, w, "#32770", caption)) != nullptr;) {
        DWORD pid = 0;
        GetWindowThreadProcessId(w, &pid);
        if (pid == m_updater.dwProcessId && IsWindowVisible(w))
            return w;
    }
    return nullptr;
}

int ProgramRun::CountLogLines(const std::string& prefix) const {
    std::istringstream in(ClientLog());
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
}

} // namespace testsupport
