#include "skin/skin_button.h"

#include "skin/transparent_ctrl.h"

#include <commctrl.h>

namespace {
// Pixels of this colour in the strip let the parent's background show through.
const COLORREF kTransparentColour = RGB(255, 0, 255);

enum StripImage { kImageNormal = 0, kImageHot = 1, kImagePressed = 2, kImageDisabled = 4 };

// Single-line caption placed as the button's alignment styles ask; centred both ways when it
// carries none of them.
UINT CaptionFormat(DWORD style) {
    UINT format = DT_SINGLELINE;
    switch (style & BS_CENTER) {
    case BS_LEFT:
        format |= DT_LEFT;
        break;
    case BS_RIGHT:
        format |= DT_RIGHT;
        break;
    default:
        format |= DT_CENTER;
        break;
    }
    switch (style & BS_VCENTER) {
    case BS_TOP:
        format |= DT_TOP;
        break;
    case BS_BOTTOM:
        format |= DT_BOTTOM;
        break;
    default:
        format |= DT_VCENTER;
        break;
    }
    return format;
}
} // namespace

void CSkinButton::SetBitmap(UINT nBitmapID) {
    m_nBitmapID = nBitmapID;
    SetUp();
}

void CSkinButton::PreSubclassWindow() {
    SetUp();
}

void CSkinButton::SetUp() {
    CButton::PreSubclassWindow();
    ModifyStyle(0, BS_OWNERDRAW);
    MarkTransparent(m_hWnd);
    if (m_nBitmapID == 0)
        return;
    m_bmpStates.LoadBitmap(m_nBitmapID);
    // A strip that failed to load gives no size to go by: the button keeps its own.
    BITMAP bm = {};
    if (!m_bmpStates.GetBitmap(&bm))
        return;
    SetWindowPos(nullptr, 0, 0, bm.bmWidth / SKIN_BUTTON_STATES, bm.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSkinButton::DrawItem(LPDRAWITEMSTRUCT lpDIS) {
    if (m_nBitmapID == 0)
        return;
    HDC hdc = lpDIS->hDC;
    PaintParentBackground(m_hWnd, hdc);

    BITMAP bm = {};
    if (m_bmpStates.GetBitmap(&bm)) {
        const int imageWidth = bm.bmWidth / SKIN_BUTTON_STATES;
        int image = kImageNormal;
        if (lpDIS->itemState & ODS_DISABLED)
            image = kImageDisabled;
        else if (lpDIS->itemState & ODS_SELECTED)
            image = kImagePressed;
        else if (m_bTracking)
            image = kImageHot;

        CDC memDC;
        memDC.CreateCompatibleDC(hdc);
        CSelectGuard select(memDC, m_bmpStates.GetSafeHandle());
        const RECT& item = lpDIS->rcItem;
        TransparentBlt(hdc, 0, 0, item.right - item.left, item.bottom - item.top, memDC,
                       image * imageWidth, 0, imageWidth, bm.bmHeight, kTransparentColour);
    }

    CString caption;
    GetWindowText(caption);
    if (caption.IsEmpty())
        return;
    const int oldMode = SetBkMode(hdc, TRANSPARENT);
    RECT text = lpDIS->rcItem;
    if (lpDIS->itemState & ODS_SELECTED)
        OffsetRect(&text, 1, 1);
    DrawTextA(hdc, caption, caption.GetLength(), &text, CaptionFormat(GetStyle()));
    SetBkMode(hdc, oldMode);
}

bool CSkinButton::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    switch (message) {
    case WM_MOUSEMOVE: {
        const POINT point = {static_cast<short>(LOWORD(lParam)),
                             static_cast<short>(HIWORD(lParam))};
        OnMouseMove(static_cast<UINT>(wParam), point);
        lResult = Default();
        return true;
    }
    case WM_MOUSELEAVE:
        lResult = OnMouseLeave(wParam, lParam);
        return true;
    case WM_ERASEBKGND:
        // The background comes with DrawItem.
        lResult = TRUE;
        return true;
    }
    return CButton::OnMessage(message, wParam, lParam, lResult);
}

void CSkinButton::OnMouseMove(UINT, POINT) {
    if (m_bTracking)
        return;
    TRACKMOUSEEVENT tme = {};
    tme.cbSize = sizeof(tme);
    tme.dwFlags = TME_LEAVE;
    tme.hwndTrack = m_hWnd;
    tme.dwHoverTime = 1;
    // Stays 0 when arming fails, so that the next move tries again.
    m_bTracking = TrackMouseEvent(&tme);
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CSkinButton::OnMouseLeave(WPARAM, LPARAM) {
    m_bTracking = FALSE;
    InvalidateRect(m_hWnd, nullptr, FALSE);
    return 0;
}
