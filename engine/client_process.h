// The running client, found by its window: told that there is nothing to update, or asked to
// close and then waited for until its process has ended (a client may take seconds to save its
// state, and holds its files until then).
#pragma once

#include "framework/scoped_handle.h"

#include <windows.h>

// A client asked to close may take a while to save its state.
const DWORD kClientExitWaitMs = 60000;

class CClientProcess {
public:
    // The client that owns the top-level window of class "Quillmarket", if one runs.
    CClientProcess();
    CClientProcess(const CClientProcess&) = delete;
    CClientProcess& operator=(const CClientProcess&) = delete;

    HWND Window() const { return m_hWindow; }
    // Sends WM_UPDATE_NONE, or WM_CLOSE, and waits until the client has handled it; a client
    // that does not answer is given up on after a few seconds. Nothing without a client.
    void TellNothingToUpdate() const;
    void AskToClose() const;
    // True once the client's process has ended, at once when there was none (or it could not
    // be opened); false after dwTimeoutMs.
    bool WaitForExit(DWORD dwTimeoutMs) const;
    // A handle of the client's process that the caller owns (to wait on from another thread);
    // null when there is none.
    HANDLE DuplicateProcessHandle() const;

private:
    HWND m_hWindow;
    CKernelHandle m_process;
};
