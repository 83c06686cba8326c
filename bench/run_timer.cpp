// Times whole program runs from the moment the process is created.
// Usage: run_timer.exe none UPDATER_EXE
//          plays the client: owns a "Quillmarket" window, starts the updater, and reports the
//          seconds until the updater's "nothing to update" message arrives;
//        run_timer.exe run EXE [ARGUMENTS]
//          reports the seconds until the program ends and its peak working set.
#include "bench/stopwatch.h"
#include "protocol/client_protocol.h"

#include <psapi.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

const DWORD kTimeoutMs = 600000;
double g_noneSeconds = -1;
const Stopwatch* g_clock = nullptr;

LRESULT CALLBACK ClientProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    if (msg == WM_UPDATE_NONE) {
        g_noneSeconds = g_clock->Seconds();
        PostQuitMessage(0);
        return 0;
    }
    if (msg == WM_TIMER) { // gave up waiting
        PostQuitMessage(1);
        return 0;
    }
    return DefWindowProcA(hwnd, msg, wp, lp);
}

class ProcessHandles {
public:
    ProcessHandles() = default;
    ~ProcessHandles() {
        if (info.hThread)
            CloseHandle(info.hThread);
        if (info.hProcess)
            CloseHandle(info.hProcess);
    }
    ProcessHandles(const ProcessHandles&) = delete;
    ProcessHandles& operator=(const ProcessHandles&) = delete;
    PROCESS_INFORMATION info = {};
};

// Starts the program in its own folder.
bool Start(const std::string& exe, const std::string& arguments, ProcessHandles& process) {
    std::string folder = exe.substr(0, exe.find_last_of("\\/") + 1);
    std::string line = "\"" + exe + "\"" + (arguments.empty() ? "" : " " + arguments);
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup,
                          &process.info) != FALSE;
}

int TimeUntilNothingToUpdate(const std::string& updater) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ClientProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kClientWindowClass;
    if (!RegisterClassA(&wc))
        return 1;
    HWND client = CreateWindowA(wc.lpszClassName, "Quillmarket", WS_OVERLAPPED, 0, 0, 100, 100,
                                nullptr, nullptr, wc.hInstance, nullptr);
    if (!client)
        return 1;
    SetTimer(client, 1, kTimeoutMs, nullptr);
    ProcessHandles process;
    Stopwatch clock;
    g_clock = &clock;
    if (!Start(updater, "", process))
        return 1;
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    WaitForSingleObject(process.info.hProcess, 30000);
    DestroyWindow(client);
    if (g_noneSeconds < 0) {
        std::fprintf(stderr, "run_timer: no WM_UPDATE_NONE arrived\n");
        return 1;
    }
    std::printf("seconds=%.4f\n", g_noneSeconds);
    return 0;
}

int TimeRun(const std::string& exe, const std::string& arguments) {
    ProcessHandles process;
    Stopwatch clock;
    if (!Start(exe, arguments, process))
        return 1;
    // The peak only grows, so the last reading before the end is the run's peak.
    SIZE_T peak = 0;
    while (WaitForSingleObject(process.info.hProcess, 20) == WAIT_TIMEOUT) {
        PROCESS_MEMORY_COUNTERS counters = {};
        counters.cb = sizeof(counters);
        if (GetProcessMemoryInfo(process.info.hProcess, &counters, sizeof(counters)) &&
            counters.PeakWorkingSetSize > peak)
            peak = counters.PeakWorkingSetSize;
        if (clock.Seconds() * 1000 > kTimeoutMs) {
            TerminateProcess(process.info.hProcess, 1);
            return 1;
        }
    }
    const double seconds = clock.Seconds();
    DWORD code = 0;
    GetExitCodeProcess(process.info.hProcess, &code);
    std::printf("seconds=%.4f peak_working_set_kib=%lu exit=%lu\n", seconds,
                static_cast<unsigned long>(peak / 1024), static_cast<unsigned long>(code));
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "none") == 0)
        return TimeUntilNothingToUpdate(argv[2]);
    if (argc >= 3 && std::strcmp(argv[1], "run") == 0) {
        std::string arguments;
        for (int i = 3; i < argc; ++i)
            arguments += (i > 3 ? " " : "") + std::string(argv[i]);
        return TimeRun(argv[2], arguments);
    }
    std::fprintf(stderr, "usage: run_timer none UPDATER_EXE | run_timer run EXE [ARGUMENTS]\n");
    return 2;
}
