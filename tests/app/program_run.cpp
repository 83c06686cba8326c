#include "tests/app/program_run.h"

#include <sstream>

namespace testsupport {

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
    const bool started = StartProgram("\"" + (m_folder / "Quillmarket.exe") + "\" " + switches,
                                      info, m_folder.Path());
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return started && WaitClientRestarted(15000);
}

bool ProgramRun::StartUpdater(const std::string& exeName) {
    End(m_updater, 0); // an updater started before
    const std::string exe = m_folder / exeName;
    if (exeName != "Updater.exe")
        CopyFileA((m_folder / "Updater.exe").c_str(), exe.c_str(), FALSE);
    return StartProgram("\"" + exe + "\"", m_updater, m_folder.Path());
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

HWND ProgramRun::WaitUpdaterWindow(const char* caption, DWORD timeoutMs) const {
    HWND found = nullptr;
    WaitUntil([&] { return (found = FindUpdaterWindow(caption)) != nullptr; }, timeoutMs);
    return found;
}

std::string ProgramRun::ConfirmFailure() const {
    const HWND box = WaitUpdaterWindow("提示", 30000);
    const std::string text = box ? ControlText(box, 0xFFFF) : "";
    if (box)
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    return text;
}

int ProgramRun::CountLogLines(const std::string& prefix) const {
    std::istringstream in(ClientLog());
    int count = 0;
    for (std::string line; std::getline(in, line);)
        count += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
}

std::string ControlText(HWND dialog, int id) {
    char text[256] = {};
    GetWindowTextA(GetDlgItem(dialog, id), text, sizeof(text));
    return text;
}

} // namespace testsupport
