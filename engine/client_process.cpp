#include "engine/client_process.h"

#include "protocol/client_protocol.h"

namespace {

// How long the updater waits for the client's window to handle a message: a window that does
// not answer must not hang the updater.
const UINT kMessageTimeoutMs = 5000;

void SendToClient(HWND hWindow, UINT message) {
    if (!hWindow)
        return;
    DWORD_PTR ignored = 0;
    SendMessageTimeoutA(hWindow, message, 0, 0, SMTO_NORMAL, kMessageTimeoutMs, &ignored);
}

HANDLE OpenWindowsProcess(HWND hWindow) {
    DWORD processId = 0;
    if (!hWindow || !GetWindowThreadProcessId(hWindow, &processId) || !processId)
        return nullptr;
    return OpenProcess(SYNCHRONIZE, FALSE, processId);
}

} // namespace

CClientProcess::CClientProcess()
    : m_hWindow(FindWindowA(kClientWindowClass, nullptr)),
      m_process(OpenWindowsProcess(m_hWindow)) {}

void CClientProcess::TellNothingToUpdate() const {
    SendToClient(m_hWindow, WM_UPDATE_NONE);
}

void CClientProcess::AskToClose() const {
    SendToClient(m_hWindow, WM_CLOSE);
}

bool CClientProcess::WaitForExit(DWORD dwTimeoutMs) const {
    return !m_process.IsValid() ||
           WaitForSingleObject(m_process.Get(), dwTimeoutMs) == WAIT_OBJECT_0;
}

HANDLE CClientProcess::DuplicateProcessHandle() const {
    HANDLE copy = nullptr;
    if (!m_process.IsValid() ||
        !DuplicateHandle(GetCurrentProcess(), m_process.Get(), GetCurrentProcess(), &copy, 0, FALSE,
                         DUPLICATE_SAME_ACCESS))
        return nullptr;
    return copy;
}
