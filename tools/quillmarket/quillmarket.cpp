// Quillmarket.exe, a stand-in for the real client: just enough of it to take part in the
// updater's hand-shake. It owns a top-level window of class "Quillmarket", starts Updater.exe
// from its own folder (unless told not to), answers "nothing to update" and close requests,
// and can log what happens to a file named by QUILLMARKET_LOG so tests can follow it. With
// QUILLMARKET_CLOSE_DELAY_MS it takes that long to exit after a close request, as a client that
// saves its state does.
#include "protocol/client_protocol.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// What the window says; always one of the string literals below.
const char* g_state = "正在启动...";

class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h) {}
    ~Handle() {
        if (h_ != nullptr && h_ != INVALID_HANDLE_VALUE)
            CloseHandle(h_);
    }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE get() const { return h_; }

private:
    HANDLE h_;
};

// Appends one line to the log file, if there is one. The file is opened and closed for each
// line so that other processes can read it (and append to it) while we run.
void LogLine(const char* text, const char* arg = nullptr) {
    char path[MAX_PATH];
    DWORD n = GetEnvironmentVariableA("QUILLMARKET_LOG", path, sizeof path);
    if (n == 0 || n >= sizeof path)
        return;
    char line[2048];
    int len = std::snprintf(line, sizeof line, "%s%s%s\n", text, arg ? " " : "", arg ? arg : "");
    if (len < 0)
        return;
    if (static_cast<size_t>(len) >= sizeof line) { // cut a very long command line
        len = sizeof line - 1;
        line[len - 1] = '\n';
    }
    Handle file(CreateFileA(path, FILE_APPEND_DATA,
                            FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (file.get() == INVALID_HANDLE_VALUE)
        return;
    DWORD written = 0;
    WriteFile(file.get(), line, static_cast<DWORD>(len), &written, nullptr);
}

// True when `word` appears as a whole argument after the program name (case-insensitive).
bool HasSwitch(const char* cmdLine, const char* word) {
    const char* p = cmdLine;
    if (*p == '"') { // quoted program path
        p = std::strchr(p + 1, '"');
        if (p == nullptr)
            return false;
        ++p;
    }
    while (*p != '\0' && *p != ' ' && *p != '\t')
        ++p;
    const size_t wordLen = std::strlen(word);
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t')
            ++p;
        const char* start = p;
        while (*p != '\0' && *p != ' ' && *p != '\t')
            ++p;
        if (static_cast<size_t>(p - start) == wordLen &&
            CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, start, static_cast<int>(wordLen),
                           word, static_cast<int>(wordLen)) == CSTR_EQUAL)
            return true;
    }
    return false;
}

// Starts Updater.exe from this program's folder, as the real client does at start-up.
bool StartUpdater() {
    char dir[MAX_PATH];
    DWORD n = GetModuleFileNameA(nullptr, dir, sizeof dir);
    if (n == 0 || n >= sizeof dir)
        return false;
    char* slash = std::strrchr(dir, '\\');
    if (slash == nullptr)
        return false;
    *slash = '\0';
    char cmd[MAX_PATH + 32];
    int len = std::snprintf(cmd, sizeof cmd, "\"%s\\Updater.exe\"", dir);
    if (len < 0 || static_cast<size_t>(len) >= sizeof cmd)
        return false;
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi = {};
    if (!CreateProcessA(nullptr, cmd, nullptr, nullptr, FALSE, 0, nullptr, dir, &si, &pi))
        return false;
    Handle process(pi.hProcess);
    Handle thread(pi.hThread);
    return true;
}

const UINT_PTR kCloseTimer = 1;

// QUILLMARKET_CLOSE_DELAY_MS: how long the client takes to exit once asked to close.
UINT CloseDelayMs() {
    char text[16];
    const DWORD n = GetEnvironmentVariableA("QUILLMARKET_CLOSE_DELAY_MS", text, sizeof text);
    return n == 0 || n >= sizeof text ? 0 : static_cast<UINT>(std::strtoul(text, nullptr, 10));
}

// Signals the event named by QUILLMARKET_READY_EVENT, so a test knows the window exists.
void SignalReady() {
    char name[MAX_PATH];
    const DWORD n = GetEnvironmentVariableA("QUILLMARKET_READY_EVENT", name, sizeof name);
    if (n == 0 || n >= sizeof name)
        return;
    Handle event(OpenEventA(EVENT_MODIFY_STATE, FALSE, name));
    if (event.get())
        SetEvent(event.get());
}

// Counts visible dialog windows of other processes: the updater must not be on screen yet
// when it asks the client to close.
BOOL CALLBACK CountForeignDialog(HWND hwnd, LPARAM lp) {
    char cls[16] = {};
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (pid != GetCurrentProcessId() && IsWindowVisible(hwnd) &&
        GetClassNameA(hwnd, cls, sizeof cls) && std::strcmp(cls, "#32770") == 0)
        ++*reinterpret_cast<int*>(lp);
    return TRUE;
}

void SetState(HWND hwnd, const char* text) {
    g_state = text;
    InvalidateRect(hwnd, nullptr, TRUE);
}

void Paint(HWND hwnd) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(hwnd, &ps);
    RECT rc;
    GetClientRect(hwnd, &rc);
    HGDIOBJ oldFont = SelectObject(dc, GetStockObject(DEFAULT_GUI_FONT));
    SetBkMode(dc, TRANSPARENT);
    DrawTextA(dc, g_state, -1, &rc, DT_CENTER | DT_VCENTER | DT_SINGLELINE);
    SelectObject(dc, oldFont);
    EndPaint(hwnd, &ps);
}

LRESULT CALLBACK WndProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
    switch (msg) {
    case WM_UPDATE_NONE:
        LogLine("msg 1126");
        SetState(hwnd, "已是最新版本");
        return 0;
    case WM_CLOSE: {
        int dialogs = 0;
        EnumWindows(CountForeignDialog, reinterpret_cast<LPARAM>(&dialogs));
        char note[32];
        std::snprintf(note, sizeof note, "visible-dialogs=%d", dialogs);
        LogLine("msg close", note);
        // A client that saves its state first hides its window and exits only afterwards,
        // holding its files (its own executable among them) until then.
        const UINT delay = CloseDelayMs();
        if (delay > 0)
            ShowWindow(hwnd, SW_HIDE);
        if (delay == 0 || !SetTimer(hwnd, kCloseTimer, delay, nullptr))
            DestroyWindow(hwnd);
        return 0;
    }
    case WM_TIMER:
        if (wp == kCloseTimer)
            DestroyWindow(hwnd);
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        Paint(hwnd);
        return 0;
    default:
        return DefWindowProcA(hwnd, msg, wp, lp);
    }
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int showCmd) {
    const char* cmdLine = GetCommandLineA();
    LogLine("start", cmdLine);

    WNDCLASSA wc = {};
    wc.lpfnWndProc = WndProc;
    wc.hInstance = instance;
    wc.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(1));
    wc.hCursor = LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)); // IDC_ARROW
    wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    wc.lpszClassName = kClientWindowClass;
    if (!RegisterClassA(&wc)) {
        LogLine("exit");
        return 1;
    }
    HWND hwnd =
        CreateWindowExA(0, kClientWindowClass, "Quillmarket",
                        WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX, CW_USEDEFAULT,
                        CW_USEDEFAULT, 360, 120, nullptr, nullptr, instance, nullptr);
    if (hwnd == nullptr) {
        LogLine("exit");
        return 1;
    }
    ShowWindow(hwnd, showCmd);
    UpdateWindow(hwnd);

    // The updater looks for this window, so it is started only once the window exists.
    if (HasSwitch(cmdLine, kClientNoUpdateSwitch))
        SetState(hwnd, "刚刚完成更新，本次不检查更新");
    else if (HasSwitch(cmdLine, "-nolaunch"))
        SetState(hwnd, "未启动更新程序");
    else if (StartUpdater())
        SetState(hwnd, "正在检查更新...");
    else
        SetState(hwnd, "无法启动更新程序 Updater.exe");
    SignalReady();

    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
    LogLine("exit");
    return static_cast<int>(msg.wParam);
}
