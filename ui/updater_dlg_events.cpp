// The engine's events, on the worker thread: every effect on a window is a message sent to the
// user-interface thread.
#include "ui/updater_dlg.h"

#include "framework/win_app.h"

#include <shlwapi.h>

namespace {

const char kDefaultErrorMessage[] = "更新失败，请到官方网站去下载最新版本";

// The client's command line: its path quoted (a folder with blanks must not start another
// program), then the switch that keeps it from starting the updater again.
CString ClientCommandLine() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(AfxGetInstanceHandle(), path, MAX_PATH - 1);
    PathRemoveFileSpecA(path);
    return "\"" + CString(path) + "\\Quillmarket.exe\" -noupdate";
}

int KiB(DWORD dwBytes) {
    return static_cast<int>(dwBytes >> 10);
}

} // namespace

void CUpdaterDlg::OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) {
    // The installation's end still restarts the client; nothing else is shown once closing.
    if (m_bClosing && nEvent != UPD_EVT_DONE)
        return;
    switch (nEvent) {
    case UPD_EVT_FILE_SIZE:
        OnFileSize(dwArg2);
        break;
    case UPD_EVT_PROGRESS:
        OnProgress(dwArg1, dwArg2, pszText);
        break;
    case UPD_EVT_FILE_DONE:
        m_dwFileBytes = 0;
        break;
    case UPD_EVT_DOWNLOADED:
        m_btnCancel.EnableWindow(FALSE);
        break;
    case UPD_EVT_CLOSE:
        SendMessage(WM_CLOSE);
        break;
    case UPD_EVT_DONE:
        OnInstalled();
        break;
    case UPD_EVT_FAILED:
        OnFailed();
        break;
    default: // connecting and installing change nothing on screen
        break;
    }
}

void CUpdaterDlg::OnFileSize(DWORD dwFileBytes) {
    m_dwFileBytes = dwFileBytes;
    m_progressFile.SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(dwFileBytes >> 10));
    m_progressFile.SendMessage(PBM_SETPOS, 0, 0);
}

void CUpdaterDlg::OnProgress(DWORD dwFileReceived, DWORD dwTotalReceived, const char* pszName) {
    CString fileLine;
    fileLine.Format("正在下载 %s ", pszName ? pszName : "");
    CString sizeLine;
    sizeLine.Format("大小 %d KB  已下载 %d KB", KiB(m_dwFileBytes), KiB(dwFileReceived));
    m_staticFile.SetWindowText(fileLine);
    m_staticSize.SetWindowText(sizeLine);
    m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(KiB(dwFileReceived)), 0);
    m_progressTotal.SendMessage(PBM_SETPOS, static_cast<WPARAM>(KiB(dwTotalReceived)), 0);
}

void CUpdaterDlg::OnInstalled() {
    const CString commandLine = ClientCommandLine();
    WinExec(commandLine, SW_SHOWDEFAULT);
    SendMessage(WM_CLOSE);
}

void CUpdaterDlg::OnFailed() {
    CWinApp* app = AfxGetApp();
    const CString message =
        app ? app->GetProfileString("messages", "ErrorMsg", kDefaultErrorMessage)
            : CString(kDefaultErrorMessage);
    MessageBox(message, "提示", MB_OK | MB_ICONINFORMATION);
    SendMessage(WM_CLOSE);
}
