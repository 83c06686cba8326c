#include "tests/app/program_run.h"

#include <algorithm>
#include <sstream>

namespace testsupport {

static bool StartProcess(std::string line, const std::string& folder, PROCESS_INFORMATION& info) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &info) != FALSE;
}

ProgramRun::ProgramRun(const InstallFolder& folder)
    : m_folder(folder), m_logPath(folder / "client.log") {
    const std::string readyName = "QuillmarketTestReady-" + std::to_string(GetCurrentProcessId());
    m_ready = CreateEventA(nullptr, FALSE, FALSE, readyName.c_str());
    SetEnvironmentVariableA("QUILLMARKET_LOG", m_logPath.c_str());
    SetEnvironmentVariableA("QUILLMARKET_READY_EVENT", readyName.c_str());
    // The build's Unix paths, as Wine sees them.
    std::string updater = "Z:" UPDATER_EXE_UNIX, client = "Z:" CLIENT_EXE_UNIX;
    std::replace(updater.begin(), updater.end(), '/', '\\');
    std::replace(client.begin(), client.end(), '/', '\\');
    CopyFileA(updater.c_str(), (folder / "Updater.exe").c_str(), FALSE);
    CopyFileA(client.c_str(), (folder / "Quillmarket.exe").c_str(), FALSE);
}

ProgramRun::~ProgramRun() {
    if (m_updater.hProcess) {
        if (WaitForSingleObject(m_updater.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(m_updater.hProcess, 1);
        WaitForSingleObject(m_updater.hProcess, 5000);
        CloseHandle(m_updater.hProcess);
        CloseHandle(m_updater.hThread);
    }
    // Closes the client windows one by one, waiting for each process.
    for (int i = 0; i < 8; ++i) {
        HWND client = FindWindowA("Quillmarket", nullptr);
        if (!client)
            break;
        DWORD pid = 0;
        GetWindowThreadProcessId(client, &pid);
        HANDLE process = OpenProcess(SYNCHRONIZE | PROCESS_TERMINATE, FALSE, pid);
        DWORD_PTR ignored = 0;
        SendMessageTimeoutA(client, WM_CLOSE, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        if (process) {
            if (WaitForSingleObject(process, 5000) != WAIT_OBJECT_0)
                TerminateProcess(process, 1);
            CloseHandle(process);
        }
    }
    if (m_ready)
        CloseHandle(m_ready);
    SetEnvironmentVariableA("QUILLMARKET_LOG", nullptr);
    SetEnvironmentVariableA("QUILLMARKET_READY_EVENT", nullptr);
}

bool ProgramRun::StartClient(const std::string& switches) {
    PROCESS_INFORMATION info = {};
    if (!StartProcess("\"" + (m_folder / "Quillmarket.exe") + "\" " + switches, m_folder.Path(),
                      info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return WaitClientRestarted(15000);
}

bool ProgramRun::StartUpdater(const std::string& exeName) {
    if (m_updater.hProcess) { // an updater started before has ended or is ended now
        if (WaitForSingleObject(m_updater.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(m_updater.hProcess, 1);
        CloseHandle(m_updater.hProcess);
        CloseHandle(m_updater.hThread);
        m_updater = {};
    }
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
