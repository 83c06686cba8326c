// A window object bound to its window handle. Messages reach the object through one virtual
// OnMessage switch per class; whatever a class does not handle goes to its base class and
// finally to the window's original procedure.
#pragma once

#include "framework/cstring.h"

#include <windows.h>

class CWnd {
public:
    CWnd() = default;
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // The object bound to hWnd, or null.
    static CWnd* FromHandlePermanent(HWND hWnd);

    // Binds an existing window (a dialog's control) to this object: PreSubclassWindow first,
    // then the window's messages are routed through OnMessage.
    BOOL SubclassWindow(HWND hWnd);
    HWND GetSafeHwnd() const { return m_hWnd; }
    operator HWND() const { return m_hWnd; }

    BOOL DestroyWindow();
    void MoveWindow(int x, int y, int nWidth, int nHeight, BOOL bRepaint = TRUE);
    void CenterWindow(CWnd* pAlternateOwner = nullptr);
    void SetWindowText(const char* pszText);
    int GetWindowText(CString& rString) const;
    BOOL EnableWindow(BOOL bEnable = TRUE);
    BOOL ShowWindow(int nCmdShow);
    void BringWindowToTop();
    void UpdateWindow();
    void GetClientRect(RECT* pRect) const;
    void GetWindowRect(RECT* pRect) const;
    void Invalidate(BOOL bErase = TRUE);
    BOOL ModifyStyle(DWORD dwRemove, DWORD dwAdd, UINT nFlags = 0);
    BOOL SetWindowPos(HWND hWndInsertAfter, int x, int y, int cx, int cy, UINT nFlags);
    int MessageBox(const char* pszText, const char* pszCaption = nullptr, UINT nType = MB_OK);
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const;
    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    DWORD GetStyle() const { return static_cast<DWORD>(GetWindowLongA(m_hWnd, GWL_STYLE)); }

    HWND m_hWnd = nullptr;

protected:
    virtual void PreSubclassWindow() {}
    // The class's message map: returns true when the message was handled, with its result.
    virtual bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // A message that the parent reflects back to this control (WM_DRAWITEM, WM_COMMAND
    // notifications); true when handled.
    virtual bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    // The window's original processing of the message being handled now.
    LRESULT Default();
    LRESULT CallDefault(UINT message, WPARAM wParam, LPARAM lParam);
    // Called after the final message; the object is unbound by then.
    virtual void PostNcDestroy() {}

    // Binds this object to hWnd and routes the window's messages through it.
    void Attach(HWND hWnd);

private:
    static LRESULT CALLBACK StaticWindowProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT Dispatch(UINT message, WPARAM wParam, LPARAM lParam);
    bool ReflectToChild(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult);
    void Detach();

    WNDPROC m_pfnSuper = nullptr;
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };
    CurrentMessage m_current = {0, 0, 0};
};
