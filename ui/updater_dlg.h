// The update window: decides the run at start-up and shows the progress of the run, which a
// worker thread carries out (CUpdateRun). The worker only records its events here; the window
// applies them on its own thread.
#pragma once

#include "engine/update_run.h"
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/gdi.h"
#include "skin/skin_button.h"
#include "skin/skin_progress_ctrl.h"
#include "skin/skin_static.h"
#include "ui/run_event_queue.h"

class CUpdaterDlg : public CDialog, public IUpdateNotify {
public:
    explicit CUpdaterDlg(CWnd* pParent = nullptr);
    ~CUpdaterDlg() override;

    // Worker thread: records the event and wakes the window, without waiting for it.
    void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) override;
    // At shutdown, once the window is gone: waits a bounded time for the worker, then carries
    // out what its last events still ask for (restarting the client after an installation).
    void EndRun();

    // The start-up steps, in the order OnInitDialog takes them.
    struct Settings {
        CString site;    // as configured, or the default
        CString baseUrl; // the site with "/update/"
        CString tempDir;
        CString publicKey; // "": releases are not signed
    };
    void SetIconsAndColours();
    Settings ReadSettings(); // also sets the installation folder
    // The run log's first line: version, settings file and the settings that matter
    // (updater_dlg_log.cpp).
    static void LogStart(const Settings& settings);
    // An installation that an earlier run left half done is finished or undone.
    static void CompleteEarlierInstallation(const CString& tempDir);
    void FitToSkin();
    // Queues the files to fetch; FALSE when there are none or the manifest failed.
    BOOL CheckManifest(const Settings& settings);
    // Tells the client there is nothing to update, or asks it to close.
    static void HandShake(HWND hClient, BOOL bUpdate);
    void LayOutControls();
    void ShowCentred();
    bool StartRun();

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
    void StartClient() const;
    // A value of the settings file, or the default when the key is missing.
    static CString Setting(const char* pszSection, const char* pszKey, const char* pszDefault);

protected:
    HICON m_hIcon;
    CSkinProgressCtrl m_progressFile;
    CSkinProgressCtrl m_progressTotal;
    CSkinStatic m_staticFile;
    CSkinStatic m_staticSize;
    CSkinButton m_btnCancel;
    CString m_strInstallDir;
    DWORD m_dwFileBytes;
    DWORD m_dwTotalBytes;
    CDC* m_pBkgndDC;
    HGDIOBJ m_hOldBkgndBitmap;
    CBitmap* m_pBkgndBitmap;
    CBitmap m_bmpBackground;
    // Set when the window is being destroyed; later events change nothing on screen.
    bool m_bClosing = false;

private:
    CRunEventQueue m_events;
    // Last, so that it is destroyed first: no event reaches this object after that.
    CUpdateRun m_run;
};
