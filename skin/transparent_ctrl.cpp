#include "skin/transparent_ctrl.h"

void DrawParentBackground(HWND hChild, HDC hdcSrc, HDC hdcDest) {
    // The window rectangle, not the client rectangle: the skin controls have no border, and
    // the parent's picture is in its client coordinates.
    RECT rc;
    GetWindowRect(hChild, &rc);
    HWND hParent = GetParent(hChild);
    POINT topLeft = {rc.left, rc.top};
    POINT bottomRight = {rc.right, rc.bottom};
    ScreenToClient(hParent, &topLeft);
    ScreenToClient(hParent, &bottomRight);
    // Without a source picture (no cache yet) the copy fails and the child keeps what it had.
    BitBlt(hdcDest, 0, 0, bottomRight.x - topLeft.x, bottomRight.y - topLeft.y, hdcSrc, topLeft.x,
           topLeft.y, SRCCOPY);
}

void NotifyTransparentChildren(HWND hParent) {
    // Direct children only, top of the Z order first. IsWindowVisible also looks at the
    // ancestors, so a rebuild while the parent is still hidden tells nobody.
    for (HWND child = GetTopWindow(hParent); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (!IsWindowVisible(child) || !GetPropA(child, TRANSPARENT_CTRL_TAG))
            continue;
        // A child that answers exactly 1 repaints itself; any other gets a full redraw.
        if (SendMessageA(child, WM_TRANSPARENT_BKGNDCHANGED, 0, 0) != 1)
            InvalidateRect(child, nullptr, TRUE);
    }
}

void MarkTransparent(HWND hWnd) {
    if (!GetPropA(hWnd, TRANSPARENT_CTRL_TAG))
        SetPropA(hWnd, TRANSPARENT_CTRL_TAG, hWnd);
}

void PaintParentBackground(HWND hWnd, HDC hdc) {
    HWND hParent = GetParent(hWnd);
    const LRESULT answered =
        SendMessageA(hParent, WM_TRANSPARENT_DRAWBKGND, reinterpret_cast<WPARAM>(hdc),
                     reinterpret_cast<LPARAM>(hWnd));
    // A parent that does not know the protocol is asked to erase into our DC instead.
    if (answered == 0)
        SendMessageA(hParent, WM_ERASEBKGND, reinterpret_cast<WPARAM>(hdc), 0);
}
