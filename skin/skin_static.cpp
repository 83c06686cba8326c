#include "skin/skin_static.h"

#include "skin/transparent_ctrl.h"

#include "framework/gdi.h"

void CSkinStatic::PreSubclassWindow() {
    CStatic::PreSubclassWindow();
    MarkTransparent(m_hWnd);
    ModifyStyle(0, SS_OWNERDRAW);
}

void CSkinStatic::DrawItem(LPDRAWITEMSTRUCT lpDIS) {
    HDC hdc = lpDIS->hDC;
    // The whole area gets the skin first, so a shorter text leaves nothing of a longer one.
    PaintParentBackground(m_hWnd, hdc);

    CString text;
    GetWindowText(text);
    RECT rc;
    GetClientRect(&rc);
    SetBkMode(hdc, TRANSPARENT);
    // Without a font of its own the control draws in the DC's current one.
    HFONT hFont = reinterpret_cast<HFONT>(SendMessage(WM_GETFONT));
    HGDIOBJ hOldFont = hFont ? SelectObject(hdc, hFont) : nullptr;
    const COLORREF crOld = SetTextColor(hdc, m_crText);
    // One line, clipped at the edges; "&" underlines the next character.
    DrawTextA(hdc, text, text.GetLength(), &rc, DT_SINGLELINE);
    SetTextColor(hdc, crOld);
    if (hOldFont)
        SelectObject(hdc, hOldFont);
}

bool CSkinStatic::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    if (message == WM_ERASEBKGND) {
        // The background comes with DrawItem.
        lResult = TRUE;
        return true;
    }
    return CStatic::OnMessage(message, wParam, lParam, lResult);
}
