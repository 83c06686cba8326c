#include "framework/wnd.h"

#include "framework/exception.h"
#include "framework/win_app.h"

#include <vector>

namespace {
// The property that ties a window handle to its object.
const char kObjectProp[] = "UpdaterFrameworkWnd";
} // namespace

CWnd::~CWnd() {
    // An object that dies before its window leaves the window on its original procedure.
    if (m_hWnd && IsWindow(m_hWnd))
        Detach();
}

CWnd* CWnd::FromHandlePermanent(HWND hWnd) {
    if (!hWnd)
        return nullptr;
    return static_cast<CWnd*>(GetPropA(hWnd, kObjectProp));
}

void CWnd::Attach(HWND hWnd) {
    m_hWnd = hWnd;
    SetPropA(hWnd, kObjectProp, this);
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&StaticWindowProc)));
}

void CWnd::Detach() {
    if (m_pfnSuper)
        SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    RemovePropA(m_hWnd, kObjectProp);
    m_pfnSuper = nullptr;
    m_hWnd = nullptr;
}

BOOL CWnd::SubclassWindow(HWND hWnd) {
    if (!hWnd || m_hWnd || FromHandlePermanent(hWnd))
        return FALSE;
    m_hWnd = hWnd;
    PreSubclassWindow();
    Attach(hWnd);
    return TRUE;
}

LRESULT CALLBACK CWnd::StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CWnd* self = FromHandlePermanent(hWnd);
    if (!self)
        return DefWindowProcA(hWnd, message, wParam, lParam);
    return self->Dispatch(message, wParam, lParam);
}

LRESULT CWnd::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
    const CurrentMessage outer = m_current;
    m_current = {message, wParam, lParam};
    LRESULT result = 0;
    bool handled = false;
    // No exception may leave a window procedure: an escaping one counts as not handled.
    try {
        handled = ReflectToChild(message, wParam, lParam, result) ||
                  OnMessage(message, wParam, lParam, result);
    } catch (CException* e) {
        e->Delete();
        handled = false;
    } catch (...) {
        handled = false;
    }
    if (!handled)
        result = Default();
    m_current = outer;

    if (message == WM_NCDESTROY) {
        Detach();
        CWinApp* app = AfxGetApp();
        // Destroying the main window ends the message loop.
        if (app && app->m_pMainWnd == this)
            PostQuitMessage(0);
        PostNcDestroy();
    }
    return result;
}

bool CWnd::ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    HWND child = nullptr;
    if (message == WM_DRAWITEM && wParam != 0)
        child = reinterpret_cast<const DRAWITEMSTRUCT*>(lParam)->hwndItem;
    else if (message == WM_COMMAND && lParam != 0)
        child = reinterpret_cast<HWND>(lParam);
    CWnd* target = FromHandlePermanent(child);
    if (!target || target == this)
        return false;
    return target->OnChildNotify(message, wParam, lParam, lResult);
}

bool CWnd::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

bool CWnd::OnChildNotify(UINT, WPARAM, LPARAM, LRESULT&) {
    return false;
}

LRESULT CWnd::Default() {
    return CallDefault(m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::CallDefault(UINT message, WPARAM wParam, LPARAM lParam) {
    if (m_pfnSuper)
        return CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
    return ::DefWindowProcA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::DestroyWindow() {
    return m_hWnd ? ::DestroyWindow(m_hWnd) : FALSE;
}

void CWnd::MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint) {
    ::MoveWindow(m_hWnd, x, y, nWidth, nHeight, bRepaint);
}

void CWnd::CenterWindow(CWnd* pAlternateOwner) {
    RECT window;
    ::GetWindowRect(m_hWnd, &window);
    RECT area;
    HWND owner = pAlternateOwner ? pAlternateOwner->m_hWnd : ::GetWindow(m_hWnd, GW_OWNER);
    if (owner && IsWindowVisible(owner) && !IsIconic(owner)) {
        ::GetWindowRect(owner, &area);
    } else {
        // No owner to centre on: the work area of the screen the window is on.
        MONITORINFO info = {};
        info.cbSize = sizeof(info);
        GetMonitorInfoA(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTOPRIMARY), &info);
        area = info.rcWork;
    }
    const int width = window.right - window.left;
    const int height = window.bottom - window.top;
    const int x = area.left + (area.right - area.left - width) / 2;
    const int y = area.top + (area.bottom - area.top - height) / 2;
    ::SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CWnd::SetWindowText(const char* pszText) {
    // Setting the text a window already shows would only repaint it: skipped.
    CString current;
    GetWindowText(current);
    if (current == (pszText ? pszText : ""))
        return;
    ::SetWindowTextA(m_hWnd, pszText);
}

int CWnd::GetWindowText(CString& rString) const {
    const int length = ::GetWindowTextLengthA(m_hWnd);
    std::vector<char> text(static_cast<size_t>(length > 0 ? length : 0) + 1, '\0');
    const int copied = ::GetWindowTextA(m_hWnd, text.data(), static_cast<int>(text.size()));
    rString = CString(text.data(), copied);
    return copied;
}

BOOL CWnd::EnableWindow(BOOL bEnable) {
    return ::EnableWindow(m_hWnd, bEnable);
}

BOOL CWnd::ShowWindow(int nCmdShow) {
    return ::ShowWindow(m_hWnd, nCmdShow);
}

void CWnd::BringWindowToTop() {
    ::BringWindowToTop(m_hWnd);
}

void CWnd::UpdateWindow() {
    ::UpdateWindow(m_hWnd);
}

void CWnd::GetClientRect(RECT* pRect) const {
    ::GetClientRect(m_hWnd, pRect);
}

void CWnd::GetWindowRect(RECT* pRect) const {
    ::GetWindowRect(m_hWnd, pRect);
}

void CWnd::Invalidate(BOOL bErase) {
    ::InvalidateRect(m_hWnd, nullptr, bErase);
}

BOOL CWnd::ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags) {
    const DWORD style = GetStyle();
    const DWORD newStyle = (style & ~dwRemove) | dwAdd;
    if (style == newStyle)
        return FALSE;
    SetWindowLongA(m_hWnd, GWL_STYLE, static_cast<LONG>(newStyle));
    if (nFlags != 0)
        ::SetWindowPos(m_hWnd, nullptr, 0, 0, 0, 0,
                       SWP_NOSIZE | SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | nFlags);
    return TRUE;
}

BOOL CWnd::SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags) {
    return ::SetWindowPos(m_hWnd, hWndInsertAfter, x, y, cx, cy, nFlags);
}

int CWnd::MessageBox(const char* pszText, const char* pszCaption, UINT nType) {
    return ::MessageBoxA(m_hWnd, pszText, pszCaption, nType);
}

LRESULT CWnd::SendMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::SendMessageA(m_hWnd, message, wParam, lParam);
}

BOOL CWnd::PostMessage(UINT message, WPARAM wParam, LPARAM lParam) const {
    return ::PostMessageA(m_hWnd, message, wParam, lParam);
}
