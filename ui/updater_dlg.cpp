// The update window: construction, its own start-up, what the controller has it show, and input.
#include "ui/updater_dlg.h"

#include "framework/win_app.h"
#include "res/resource.h"
#include "skin/transparent_ctrl.h"
#include "ui/background_cache.h"

#include <windowsx.h>

namespace {

// Wakes the window for the run's events.
const UINT WM_RUN_EVENTS = WM_APP + 1;
// The newest progress is shown about 12 times a second: smooth to the eye, and a fast download
// does not spend its time repainting (under Wine a round of the skinned controls' repaints takes
// milliseconds of the one processor that the download also needs).
const UINT_PTR kDisplayTimer = 1;
const UINT kDisplayIntervalMs = 80;

} // namespace

CUpdaterDlg::CUpdaterDlg(CUpdateController& controller, CWnd* pParent)
    : CDialog(IDD_UPDATER, pParent),
      m_hIcon(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))),
      m_progressFile(IDB_PROGRESS_FILL, IDB_PROGRESS_TRACK),
      m_progressTotal(IDB_PROGRESS_FILL, IDB_PROGRESS_TRACK), m_dwFileBytes(0), m_pBkgndDC(nullptr),
      m_hOldBkgndBitmap(nullptr), m_pBkgndBitmap(nullptr), m_controller(controller) {
    m_bmpBackground.LoadBitmap(IDB_BACKGROUND);
}

CUpdaterDlg::~CUpdaterDlg() {
    FreeBackgroundCache(m_pBkgndDC, m_pBkgndBitmap, m_hOldBkgndBitmap);
}

void CUpdaterDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROGRESS_FILE, m_progressFile);
    DDX_Control(pDX, IDC_PROGRESS_TOTAL, m_progressTotal);
    DDX_Control(pDX, IDC_STATIC_FILE, m_staticFile);
    DDX_Control(pDX, IDC_STATIC_SIZE, m_staticSize);
    DDX_Control(pDX, IDCANCEL, m_btnCancel);
}

bool CUpdaterDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    switch (message) {
    case WM_PAINT:
        OnPaint();
        return true;
    case WM_ERASEBKGND:
        lResult = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
        return true;
    case WM_SIZE:
        OnSize(static_cast<UINT>(wParam), LOWORD(lParam), HIWORD(lParam));
        return true;
    case WM_QUERYDRAGICON:
        lResult = reinterpret_cast<LRESULT>(OnQueryDragIcon());
        return true;
    case WM_CLOSE:
        OnClose();
        return true;
    case WM_LBUTTONDOWN:
        OnLButtonDown(static_cast<UINT>(wParam), POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
        return true;
    case WM_RUN_EVENTS:
        ApplyEvents();
        return true;
    case WM_TIMER:
        if (wParam != kDisplayTimer)
            break;
        ApplyEvents();
        return true;
    case WM_DESTROY:
        OnDestroy();
        return false; // the dialog manager still does its own clean-up
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && HIWORD(wParam) == BN_CLICKED) {
            OnCancelClicked();
            return true;
        }
        break;
    default:
        if (message == WM_TRANSPARENT_DRAWBKGND) {
            lResult = OnDrawParentBkgnd(wParam, lParam);
            return true;
        }
        break;
    }
    return CDialog::OnMessage(message, wParam, lParam, lResult);
}

BOOL CUpdaterDlg::OnInitDialog() {
    CDialog::OnInitDialog();
    SetIconsAndColours();
    FitToSkin();
    return TRUE;
}

void CUpdaterDlg::ShowProgress(DWORD dwTotalBytes) {
    LayOutControls(dwTotalBytes);
    ShowCentred();
    StartDisplay();
}

void CUpdaterDlg::SetIconsAndColours() {
    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_staticFile.m_crText = RGB(255, 255, 255);
    m_staticSize.m_crText = RGB(255, 255, 255);
}

void CUpdaterDlg::FitToSkin() {
    BITMAP bm = {};
    m_bmpBackground.GetBitmap(&bm);
    SetWindowPos(nullptr, 0, 0, bm.bmWidth, bm.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
}

void CUpdaterDlg::LayOutControls(DWORD dwTotalBytes) {
    m_btnCancel.SetBitmap(IDB_CANCEL);
    m_progressTotal.SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(dwTotalBytes >> 10));
    RECT button = {};
    m_btnCancel.GetClientRect(&button);
    m_progressFile.MoveWindow(7, 50, 492, 15);
    m_progressTotal.MoveWindow(7, 70, 492, 15);
    m_staticFile.MoveWindow(10, 90, 300, 16);
    m_staticSize.MoveWindow(10, 110, 548, 15);
    m_btnCancel.MoveWindow(480, 10, button.right - button.left, button.bottom - button.top);
}

void CUpdaterDlg::ShowCentred() {
    CenterWindow();
    ShowWindow(SW_SHOW);
    BringWindowToTop();
    UpdateWindow();
}

void CUpdaterDlg::StartDisplay() {
    m_events.WakeUp(m_hWnd, WM_RUN_EVENTS);
    SetTimer(m_hWnd, kDisplayTimer, kDisplayIntervalMs, nullptr);
}

HCURSOR CUpdaterDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CUpdaterDlg::OnClose() {
    DestroyWindow();
}

void CUpdaterDlg::OnLButtonDown(UINT, POINT point) {
    // A press on the face moves the window as if its caption had been grabbed.
    PostMessage(WM_NCLBUTTONDOWN, HTCAPTION, MAKELPARAM(point.x, point.y));
    Default();
}

void CUpdaterDlg::OnCancelClicked() {
    // Once every file is in, or after a failure, there is nothing left to stop.
    const RunState state = m_controller.State();
    if (state == RunState::Downloaded || state == RunState::Installing || state == RunState::Done ||
        state == RunState::Failed) {
        DestroyWindow();
        return;
    }
    m_controller.StopDownload();
    m_btnCancel.EnableWindow(FALSE);
}

void CUpdaterDlg::OnDestroy() {
    // From here on the run's events change nothing on screen; a download still running is
    // asked to stop after its current block. An installation under way is left to finish.
    m_bClosing = true;
    m_events.WakeUp(nullptr, 0);
    m_controller.StopDownload();
}
