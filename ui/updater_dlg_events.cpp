// The run's events: recorded on the worker thread, applied here on the window thread, in order.
#include "ui/updater_dlg.h"

namespace {

int KiB(DWORD dwBytes) {
    return static_cast<int>(dwBytes >> 10);
}

} // namespace

void CUpdaterDlg::OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) {
    m_events.Push(nEvent, dwArg1, dwArg2, pszText);
}

void CUpdaterDlg::ApplyEvents() {
    m_events.TakeWaiting([this](const RunEvent& event) { ApplyEvent(event); });
}

void CUpdaterDlg::ApplyEvent(const RunEvent& event) {
    // The installation's end still restarts the client; nothing else is shown once closing.
    if (m_bClosing || !m_hWnd) {
        if (event.code == UPD_EVT_DONE)
            m_controller.RestartClient();
        return;
    }
    switch (event.code) {
    case UPD_EVT_FILE_SIZE:
        OnFileSize(event.a2);
        break;
    case UPD_EVT_PROGRESS:
        OnProgress(event.a1, event.a2, event.text.c_str());
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
    fileLine.Format("正在下载 %s ", pszName);
    CString sizeLine;
    sizeLine.Format("大小 %d KB  已下载 %d KB", KiB(m_dwFileBytes), KiB(dwFileReceived));
    m_staticFile.SetWindowText(fileLine);
    m_staticSize.SetWindowText(sizeLine);
    m_progressFile.SendMessage(PBM_SETPOS, static_cast<WPARAM>(KiB(dwFileReceived)), 0);
    m_progressTotal.SendMessage(PBM_SETPOS, static_cast<WPARAM>(KiB(dwTotalReceived)), 0);
}

void CUpdaterDlg::OnInstalled() {
    m_controller.RestartClient();
    SendMessage(WM_CLOSE);
}

void CUpdaterDlg::OnFailed() {
    const CString message = FailureMessage();
    MessageBox(message, "提示", MB_OK | MB_ICONINFORMATION);
    if (m_hWnd) // unless Cancel closed the window while the message was shown
        SendMessage(WM_CLOSE);
}
