// The update window: decides the run at start-up, shows the progress of the worker, and turns
// the engine's events into what the user sees.
#pragma once

#include "engine/update_engine.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "skin/skin_button.h"
#include "skin/skin_progress_ctrl.h"
#include "skin/skin_static.h"

#include <atomic>

// Sent to the client's window when there is nothing to update.
const UINT WM_UPDATE_NONE = WM_USER + 102;

class CUpdaterDlg : public CDialog, public IUpdateNotify {
public:
    explicit CUpdaterDlg(CWnd* pParent = nullptr);
    ~CUpdaterDlg() override;

    void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) override;

    // Waits until the worker has ended, serving messages sent to this thread meanwhile; false
    // when it still runs after dwTimeoutMs. The engine and this object must outlive the worker.
    bool WaitForWorker(DWORD dwTimeoutMs);

    HICON m_hIcon;
    CSkinProgressCtrl m_progressFile;
    CSkinProgressCtrl m_progressTotal;
    CSkinStatic m_staticFile;
    CSkinStatic m_staticSize;
    CSkinButton m_btnCancel;
    CUpdateEngine m_engine;
    CString m_strInstallDir;
    DWORD m_dwFileBytes;
    DWORD m_dwTotalBytes;
    CDC* m_pBkgndDC;
    HGDIOBJ m_hOldBkgndBitmap;
    CBitmap* m_pBkgndBitmap;
    CBitmap m_bmpBackground;
    // Set when the window is being destroyed; the worker's later events change nothing on screen.
    std::atomic<bool> m_bClosing{false};

protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

    // Background and the transparent-control protocol (updater_dlg_background.cpp).
    void BuildBackgroundCache();
    void OnPaint();
    BOOL OnEraseBkgnd(HDC hdc);
    void OnSize(UINT nType, int cx, int cy);
    LRESULT OnDrawParentBkgnd(WPARAM wParam, LPARAM lParam);

    // Input (updater_dlg.cpp).
    HCURSOR OnQueryDragIcon();
    void OnClose();
    void OnLButtonDown(UINT nFlags, POINT point);
    void OnCancelClicked();
    void OnDestroy();

private:
    // Engine events (updater_dlg_events.cpp).
    void OnFileSize(DWORD dwFileBytes);
    void OnProgress(DWORD dwFileReceived, DWORD dwTotalReceived, const char* pszName);
    void OnInstalled();
    void OnFailed();
};
