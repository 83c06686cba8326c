// A hidden window that lives for the whole test run, so that Wine's desktop process is not
// started and stopped again for every test program.
#include <windows.h>

// The command line names a file that is created once the window exists, so the test run
// starts only when Wine's desktop is up.
int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE, LPSTR lpCmdLine, int) {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = DefWindowProcA;
    wc.hInstance = hInstance;
    wc.lpszClassName = "UpdaterTestKeepAlive";
    RegisterClassA(&wc);
    CreateWindowA(wc.lpszClassName, "", WS_OVERLAPPED, 0, 0, 1, 1, nullptr, nullptr, hInstance,
                  nullptr);
    if (lpCmdLine && *lpCmdLine) {
        HANDLE ready = CreateFileA(lpCmdLine, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        if (ready != INVALID_HANDLE_VALUE)
            CloseHandle(ready);
    }
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0)
        DispatchMessageA(&msg);
    return 0;
}
