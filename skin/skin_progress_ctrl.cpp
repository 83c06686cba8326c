#include "skin/skin_progress_ctrl.h"

#include <algorithm>
#include <vector>

namespace {
// The artwork's geometry: the fill image, and the track's one-pixel ends around a stretched
// middle.
const int kFillWidth = 40;
const int kFillHeight = 12;
const int kTrackEndWidth = 1;
const int kTrackMiddleWidth = 98;
const int kTrackHeight = 14;

// Keeps a DC's stretch mode for one drawing pass.
class CStretchModeGuard {
public:
    CStretchModeGuard(HDC hdc, int mode) : m_hDC(hdc), m_nOld(SetStretchBltMode(hdc, mode)) {}
    ~CStretchModeGuard() {
        if (m_nOld)
            SetStretchBltMode(m_hDC, m_nOld);
    }
    CStretchModeGuard(const CStretchModeGuard&) = delete;
    CStretchModeGuard& operator=(const CStretchModeGuard&) = delete;

private:
    HDC m_hDC;
    int m_nOld;
};
// Whether every column of the bitmap is the same as its first.
bool ColumnsAlike(HBITMAP hBitmap) {
    BITMAP info = {};
    if (!hBitmap || !GetObject(hBitmap, sizeof(info), &info) || info.bmWidth <= 0 ||
        info.bmHeight <= 0)
        return false;
    BITMAPINFO format = {};
    format.bmiHeader.biSize = sizeof(format.bmiHeader);
    format.bmiHeader.biWidth = info.bmWidth;
    format.bmiHeader.biHeight = -info.bmHeight; // top-down
    format.bmiHeader.biPlanes = 1;
    format.bmiHeader.biBitCount = 32;
    format.bmiHeader.biCompression = BI_RGB;
    std::vector<DWORD> pixels(static_cast<size_t>(info.bmWidth) * info.bmHeight);
    const HDC screen = GetDC(nullptr);
    const int rows =
        GetDIBits(screen, hBitmap, 0, info.bmHeight, pixels.data(), &format, DIB_RGB_COLORS);
    ReleaseDC(nullptr, screen);
    if (rows != info.bmHeight)
        return false;
    for (int y = 0; y < info.bmHeight; ++y)
        for (int x = 1; x < info.bmWidth; ++x)
            if (pixels[y * info.bmWidth + x] != pixels[y * info.bmWidth])
                return false;
    return true;
}
} // namespace

CSkinProgressCtrl::CSkinProgressCtrl(UINT nFillBitmapID, UINT nTrackBitmapID) {
    m_bmpFill.LoadBitmap(nFillBitmapID);
    m_bmpTrack.LoadBitmap(nTrackBitmapID);
    m_bFillColumnsAlike = ColumnsAlike(m_bmpFill);
}

bool CSkinProgressCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) {
    switch (message) {
    case WM_NCCALCSIZE:
        if (!wParam)
            break;
        OnNcCalcSize(TRUE, reinterpret_cast<NCCALCSIZE_PARAMS*>(lParam));
        lResult = 0;
        return true;
    case WM_NCPAINT:
        OnNcPaint();
        lResult = 0;
        return true;
    case WM_ERASEBKGND:
        lResult = OnEraseBkgnd(reinterpret_cast<HDC>(wParam));
        return true;
    case WM_PAINT:
        OnPaint();
        lResult = 0;
        return true;
    }
    return CProgressCtrl::OnMessage(message, wParam, lParam, lResult);
}

void CSkinProgressCtrl::OnNcCalcSize(BOOL bCalcValidRects, NCCALCSIZE_PARAMS* lpncsp) {
    // The client area becomes the whole window: a border style from the template takes no
    // room once the control is moved or sized. Without the flag the default runs instead
    // (OnMessage does not come here).
    if (bCalcValidRects)
        lpncsp->rgrc[2] = lpncsp->rgrc[0];
}

void CSkinProgressCtrl::OnNcPaint() {}

BOOL CSkinProgressCtrl::OnEraseBkgnd(HDC hdc) {
    RECT rc;
    GetClientRect(&rc);
    const int height = rc.bottom - rc.top;
    CStretchModeGuard mode(hdc, HALFTONE);
    CDC memDC;
    memDC.CreateCompatibleDC(hdc);
    CSelectGuard select(memDC, m_bmpTrack.GetSafeHandle());
    // The ends stay one pixel wide at any width; only the middle is stretched sideways.
    StretchBlt(hdc, rc.left, rc.top, kTrackEndWidth, height, memDC, 0, 0, kTrackEndWidth,
               kTrackHeight, SRCCOPY);
    StretchBlt(hdc, rc.left + kTrackEndWidth, rc.top, rc.right - rc.left - 2 * kTrackEndWidth,
               height, memDC, kTrackEndWidth, 0, kTrackMiddleWidth, kTrackHeight, SRCCOPY);
    StretchBlt(hdc, rc.right - kTrackEndWidth, rc.top, kTrackEndWidth, height, memDC,
               kTrackEndWidth + kTrackMiddleWidth, 0, kTrackEndWidth, kTrackHeight, SRCCOPY);
    return TRUE;
}

void CSkinProgressCtrl::OnPaint() {
    CPaintDC dc(m_hWnd);
    // Through the control's own queries: its private memory layout is not the same everywhere.
    int lower = 0;
    int upper = 0;
    GetRange(lower, upper);
    const int position = GetPos();
    const bool vertical = (GetStyle() & PBS_VERTICAL) != 0;

    RECT client;
    GetClientRect(&client);
    const int left = client.left + 1;
    const int top = client.top + 1;
    const int right = client.right - 1;
    const int bottom = client.bottom - 1;

    // MulDiv rounds to nearest and gives -1 for equal bounds, which leaves no fill. The far
    // edge is measured from the client area's edge, not from the inset one, so a full bar
    // keeps one column (or row) of track before the end, as at the start.
    RECT fill;
    if (vertical) {
        const int y = MulDiv(bottom - top, upper - position, upper - lower);
        fill = {left, y, right, bottom};
    } else {
        const int x = MulDiv(right - left, position - lower, upper - lower);
        fill = {left + 1, top, x, bottom};
    }
    if (fill.right <= fill.left || fill.bottom <= fill.top)
        return;
    // A fill that grows by a few pixels a frame is then not stretched anew each time.
    if (!vertical && m_bFillColumnsAlike) {
        PaintFillFromStretched(dc, fill, right - left, bottom - top);
        return;
    }
    CDC memDC;
    memDC.CreateCompatibleDC(dc);
    CSelectGuard select(memDC, m_bmpFill.GetSafeHandle());
    CStretchModeGuard mode(dc, HALFTONE);
    StretchBlt(dc, fill.left, fill.top, fill.right - fill.left, fill.bottom - fill.top, memDC, 0, 0,
               kFillWidth, kFillHeight, SRCCOPY);
}

void CSkinProgressCtrl::PaintFillFromStretched(HDC hdc, const RECT& fill, int barWidth,
                                               int barHeight) {
    CDC stretchedDC;
    stretchedDC.CreateCompatibleDC(hdc);
    if (m_sizeFillStretched.cx != barWidth || m_sizeFillStretched.cy != barHeight) {
        m_bmpFillStretched.DeleteObject();
        m_sizeFillStretched = {0, 0};
        if (!m_bmpFillStretched.CreateCompatibleBitmap(hdc, barWidth, barHeight))
            return;
        CDC artDC;
        artDC.CreateCompatibleDC(hdc);
        CSelectGuard selectArt(artDC, m_bmpFill.GetSafeHandle());
        CSelectGuard selectStretched(stretchedDC, m_bmpFillStretched.GetSafeHandle());
        CStretchModeGuard mode(stretchedDC, HALFTONE);
        StretchBlt(stretchedDC, 0, 0, barWidth, barHeight, artDC, 0, 0, kFillWidth, kFillHeight,
                   SRCCOPY);
        m_sizeFillStretched = {barWidth, barHeight};
    }
    CSelectGuard select(stretchedDC, m_bmpFillStretched.GetSafeHandle());
    const int width = (std::min)(static_cast<int>(fill.right - fill.left), barWidth);
    const int height = (std::min)(static_cast<int>(fill.bottom - fill.top), barHeight);
    BitBlt(hdc, fill.left, fill.top, width, height, stretchedDC, 0, 0, SRCCOPY);
}
