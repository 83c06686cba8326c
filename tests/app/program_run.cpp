#include "tests/app/program_run.h"

#include <shellapi.h>

#include <cstring>
#include <fstream>
#include <sstream>

#ifndef UPDATER_EXE_UNIX
#error "the test build names the programs under test"
#endif

namespace testsupport {

namespace {

const char kClientClass[] = "Quillmarket";

bool StartProcess(const std::string& commandLine, const std::string& folder,
                  PROCESS_INFORMATION& info) {
    std::vector<char> line(commandLine.begin(), commandLine.end());
    line.push_back('\0');
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(),
                          &startup, &info) != FALSE;
}

// Closes every client window still open and waits for its process.
void CloseClients() {
    for (int i = 0; i < 8; ++i) {
        HWND client = FindWindowA(kClientClass, nullptr);
        if (!client)
            return;
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
}

struct WindowQuery {
    DWORD pid;
    const char* caption;
    HWND found;
};

BOOL CALLBACK MatchUpdaterWindow(HWND hwnd, LPARAM lp) {
    WindowQuery* query = reinterpret_cast<WindowQuery*>(lp);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    char cls[16] = {};
    char text[256] = {};
    GetClassNameA(hwnd, cls, sizeof(cls));
    GetWindowTextA(hwnd, text, sizeof(text));
    if (pid == query->pid && IsWindowVisible(hwnd) && std::strcmp(cls, "#32770") == 0 &&
        std::strcmp(text, query->caption) == 0) {
        query->found = hwnd;
        return FALSE;
    }
    return TRUE;
}

} // namespace

std::string WinePath(const std::string& unixPath) {
    std::string path = "Z:" + unixPath;
    for (char& c : path)
        if (c == '/')
            c = '\\';
    return path;
}

ProgramRun::ProgramRun(const InstallFolder& folder) : m_folder(folder) {
    m_logPath = folder / "client.log";
    m_readyName = "QuillmarketTestReady-" + std::to_string(GetCurrentProcessId());
    m_ready = CreateEventA(nullptr, FALSE, FALSE, m_readyName.c_str());
    SetEnvironmentVariableA("QUILLMARKET_LOG", m_logPath.c_str());
    SetEnvironmentVariableA("QUILLMARKET_READY_EVENT", m_readyName.c_str());
    CopyFileA(WinePath(UPDATER_EXE_UNIX).c_str(), (folder / "Updater.exe").c_str(), FALSE);
    CopyFileA(WinePath(CLIENT_EXE_UNIX).c_str(), (folder / "Quillmarket.exe").c_str(), FALSE);
}

ProgramRun::~ProgramRun() {
    if (m_updater.hProcess) {
        if (WaitForSingleObject(m_updater.hProcess, 0) != WAIT_OBJECT_0)
            TerminateProcess(m_updater.hProcess, 1);
        WaitForSingleObject(m_updater.hProcess, 5000);
        CloseHandle(m_updater.hProcess);
        CloseHandle(m_updater.hThread);
    }
    CloseClients();
    if (m_ready)
        CloseHandle(m_ready);
    SetEnvironmentVariableA("QUILLMARKET_LOG", nullptr);
    SetEnvironmentVariableA("QUILLMARKET_READY_EVENT", nullptr);
}

bool ProgramRun::StartClient(const std::string& switches) {
    PROCESS_INFORMATION info = {};
    const std::string exe = m_folder / "Quillmarket.exe";
    if (!StartProcess("\"" + exe + "\" " + switches, m_folder.Path(), info))
        return false;
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    return WaitForSingleObject(m_ready, 15000) == WAIT_OBJECT_0;
}

bool ProgramRun::WaitClientRestarted(DWORD timeoutMs) {
    return WaitForSingleObject(m_ready, timeoutMs) == WAIT_OBJECT_0;
}

bool ProgramRun::StartUpdater(const std::string& exeName) {
    const std::string exe = m_folder / exeName;
    if (exeName != "Updater.exe")
        CopyFileA((m_folder / "Updater.exe").c_str(), exe.c_str(), FALSE);
    return StartProcess("\"" + exe + "\"", m_folder.Path(), m_updater);
}

int ProgramRun::WaitUpdater(DWORD timeoutMs) {
    if (WaitForSingleObject(m_updater.hProcess, timeoutMs) != WAIT_OBJECT_0)
        return -1;
    DWORD code = 0;
    GetExitCodeProcess(m_updater.hProcess, &code);
    return static_cast<int>(code);
}

HWND ProgramRun::FindUpdaterWindow(const char* caption) const {
    WindowQuery query = {m_updater.dwProcessId, caption, nullptr};
    EnumWindows(MatchUpdaterWindow, reinterpret_cast<LPARAM>(&query));
    return query.found;
}

std::vector<std::string> ProgramRun::ClientLog() const {
    std::vector<std::string> lines;
    std::istringstream in(ReadWholeFile(m_logPath));
    std::string line;
    while (std::getline(in, line))
        lines.push_back(line);
    return lines;
}

int ProgramRun::CountLogLines(const std::string& prefix) const {
    int count = 0;
    for (const std::string& line : ClientLog())
        count += line.compare(0, prefix.size(), prefix) == 0 ? 1 : 0;
    return count;
}

} // namespace testsupport
