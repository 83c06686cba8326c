// The update window: shows what the controller tells it (nothing at all when there is nothing
// to update) and the progress of the run, which a worker thread carries out. The worker only
// records its events here; the window applies them on its own thread.
#pragma once

#include "engine/update_controller.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "skin/skin_button.h"
#include "skin/skin_progress_ctrl.h"
#include "skin/skin_static.h"
#include "ui/run_event_queue.h"

class CUpdaterDlg : public CDialog, public IUpdateView {
public:
    // The controller outlives the window object's use of it: it is freed after the window.
    explicit CUpdaterDlg(CUpdateController& controller, CWnd* pParent = nullptr);
    ~CUpdaterDlg() override;

    // Worker thread: records the event and wakes the window, without waiting for it.
    void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) override;
    void ShowProgress(DWORD dwTotalBytes) override;

    // The window's own start-up steps, in the order OnInitDialog takes them.
    void SetIconsAndColours();
    void FitToSkin();
    // And those of ShowProgress.
    void LayOutControls(DWORD dwTotalBytes);
    void ShowCentred();
    void StartDisplay();

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
    // The run's events, on the window thread (updater_dlg_events.cpp).
    void ApplyEvents();
    void ApplyEvent(const RunEvent& event);
    void OnFileSize(DWORD dwFileBytes);
    void OnProgress(DWORD dwFileReceived, DWORD dwTotalReceived, const char* pszName);
    void OnInstalled();
    void OnFailed();

protected:
    HICON m_hIcon;
    CSkinProgressCtrl m_progressFile;
    CSkinProgressCtrl m_progressTotal;
    CSkinStatic m_staticFile;
    CSkinStatic m_staticSize;
    CSkinButton m_btnCancel;
    DWORD m_dwFileBytes;
    CDC* m_pBkgndDC;
    HGDIOBJ m_hOldBkgndBitmap;
    CBitmap* m_pBkgndBitmap;
    CBitmap m_bmpBackground;
    // Set when the window is being destroyed; later events change nothing on screen.
    bool m_bClosing = false;

private:
    CUpdateController& m_controller;
    CRunEventQueue m_events;
};
