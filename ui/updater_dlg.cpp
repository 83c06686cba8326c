// The update window: construction, the start-up sequence that decides the run, and input.
#include "ui/updater_dlg.h"

#include "framework/win_app.h"
#include "manifest/manifest_check.h"
#include "res/resource.h"
#include "skin/transparent_ctrl.h"
#include "ui/background_cache.h"

#include <shlwapi.h>
#include <stdlib.h>
#include <time.h>
#include <windowsx.h>

namespace {

const char kClientWindowClass[] = "Quillmarket";
const char kDefaultSite[] = "http://download.quillmarket.example.com/down";

// Folder of this program's executable, with a trailing backslash.
CString ProgramFolder() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(AfxGetInstanceHandle(), path, MAX_PATH - 1);
    PathRemoveFileSpecA(path);
    PathAddBackslashA(path);
    return CString(path);
}

bool StartsWithNoCase(const CString& text, const char* prefix) {
    const int length = static_cast<int>(strlen(prefix));
    return text.GetLength() >= length && text.Left(length).CompareNoCase(prefix) == 0;
}

// A site that already names its scheme is used as given; anything else is taken as http.
CString SiteWithScheme(const CString& site) {
    if (StartsWithNoCase(site, "http://") || StartsWithNoCase(site, "https://"))
        return site;
    return "http://" + site;
}

} // namespace

CUpdaterDlg::CUpdaterDlg(CWnd* pParent)
    : CDialog(IDD_UPDATER, pParent),
      m_hIcon(LoadIconA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME))), m_dwFileBytes(0),
      m_dwTotalBytes(0), m_pBkgndDC(nullptr), m_hOldBkgndBitmap(nullptr), m_pBkgndBitmap(nullptr) {
    m_bmpBackground.LoadBitmap(IDB_BACKGROUND);
}

CUpdaterDlg::~CUpdaterDlg() {
    WaitForWorker(INFINITE);
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

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));
    m_staticFile.m_crText = RGB(255, 255, 255);
    m_staticSize.m_crText = RGB(255, 255, 255);

    HWND client = FindWindowA(kClientWindowClass, nullptr);

    m_strInstallDir = ProgramFolder();
    CWinApp* app = AfxGetApp();
    const CString site =
        app ? app->GetProfileString("Download", "site1", kDefaultSite) : CString(kDefaultSite);
    const CString tempName =
        app ? app->GetProfileString("Setup", "TempDir", "Update") : CString("Update");
    const CString baseUrl = SiteWithScheme(site) + "/update/";
    const CString tempDir = m_strInstallDir + tempName;
    m_engine.Init(this, baseUrl, tempDir, m_strInstallDir);

    BITMAP bm = {};
    m_bmpBackground.GetBitmap(&bm);
    SetWindowPos(nullptr, 0, 0, bm.bmWidth, bm.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);

    srand(static_cast<unsigned>(time(nullptr)));
    const int n = rand() % 1000000 + 1;
    CString query;
    query.Format("update.xml?%d", n);
    const CString manifestUrl = baseUrl + query;

    if (!CheckManifest(this, manifestUrl)) {
        ::SendMessageA(client, WM_UPDATE_NONE, 0, 0);
        PostMessage(WM_CLOSE);
        return TRUE;
    }

    ::SendMessageA(client, WM_CLOSE, 0, 0);
    m_btnCancel.SetBitmap(IDB_CANCEL);
    m_progressTotal.SendMessage(PBM_SETRANGE32, 0, static_cast<LPARAM>(m_dwTotalBytes >> 10));

    RECT button = {};
    m_btnCancel.GetClientRect(&button);
    m_progressFile.MoveWindow(7, 50, 492, 15);
    m_progressTotal.MoveWindow(7, 70, 492, 15);
    m_staticFile.MoveWindow(10, 90, 300, 16);
    m_staticSize.MoveWindow(10, 110, 548, 15);
    m_btnCancel.MoveWindow(480, 10, button.right - button.left, button.bottom - button.top);

    CenterWindow();
    ShowWindow(SW_SHOW);
    BringWindowToTop();
    UpdateWindow();

    m_engine.m_dwReceived = 0;
    m_engine.m_hThread = CreateThread(nullptr, 0, &WorkerProc, &m_engine, 0, nullptr);
    SetEvent(m_engine.m_hStartEvent);
    return TRUE;
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
    const int state = m_engine.m_nState;
    if (state == UPD_EVT_DOWNLOADED || state == UPD_EVT_FAILED) {
        DestroyWindow();
        return;
    }
    m_engine.m_bCancel = TRUE;
    m_btnCancel.EnableWindow(FALSE);
}

void CUpdaterDlg::OnDestroy() {
    // From here on the worker's events change nothing on screen; a download still running is
    // asked to stop after its current block. An installation under way is left to finish.
    m_bClosing = true;
    if (m_engine.m_nState != UPD_EVT_DOWNLOADED)
        m_engine.m_bCancel = TRUE;
}

bool CUpdaterDlg::WaitForWorker(DWORD dwTimeoutMs) {
    HANDLE worker = m_engine.m_hThread;
    if (!worker)
        return true;
    const DWORD start = GetTickCount();
    while (true) {
        DWORD wait = INFINITE;
        if (dwTimeoutMs != INFINITE) {
            const DWORD elapsed = GetTickCount() - start;
            if (elapsed >= dwTimeoutMs)
                return false;
            wait = dwTimeoutMs - elapsed;
        }
        // The worker may be inside a SendMessage to this thread: keep serving sent messages.
        const DWORD result = MsgWaitForMultipleObjects(1, &worker, FALSE, wait, QS_SENDMESSAGE);
        if (result == WAIT_OBJECT_0 || result == WAIT_FAILED)
            return true;
        if (result == WAIT_TIMEOUT)
            return false;
        MSG msg;
        PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
}
