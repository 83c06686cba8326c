#include "skin_test_support.h"

Pixels Capture(int w, int h, const std::function<void(HDC)>& draw) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    Rgb* bits = nullptr;
    CBitmap bitmap;
    CDC dc;
    if (!bitmap.Attach(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS,
                                        reinterpret_cast<void**>(&bits), nullptr, 0)) ||
        !dc.CreateCompatibleDC(nullptr))
        return Pixels();
    CSelectGuard select(dc, bitmap.GetSafeHandle());
    std::fill(bits, bits + w * h, kMarker);
    draw(dc);
    GdiFlush();
    Pixels p{w, h, std::vector<Rgb>(bits, bits + w * h)};
    for (Rgb& c : p.px)
        c &= 0xFFFFFF;
    return p;
}

Pixels Grab(HDC hdc, int w, int h) {
    return Capture(w, h, [&](HDC dc) { BitBlt(dc, 0, 0, w, h, hdc, 0, 0, SRCCOPY); });
}

Pixels Resource(UINT nID) {
    CBitmap bitmap;
    BITMAP bm = {};
    bitmap.LoadBitmap(nID);
    bitmap.GetBitmap(&bm);
    CDC dc;
    dc.CreateCompatibleDC(nullptr);
    CSelectGuard select(dc, bitmap.GetSafeHandle());
    return Grab(dc, bm.bmWidth, bm.bmHeight);
}

Pixels Shot(HWND hWnd) {
    RedrawWindow(hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    RECT rc;
    GetClientRect(hWnd, &rc);
    CClientDC dc(hWnd);
    return Grab(dc, rc.right, rc.bottom);
}

int Differences(const Pixels& shot, const Pixels& src, int sx, int sy, int64_t except) {
    if (sx < 0 || sy < 0 || sx + shot.w > src.w || sy + shot.h > src.h)
        return -1;
    int n = 0;
    for (int y = 0; y < shot.h; ++y)
        for (int x = 0; x < shot.w; ++x)
            n += shot.at(x, y) != src.at(sx + x, sy + y) && shot.at(x, y) != except;
    return n;
}

int CountGdiObjects() {
    if (const DWORD n = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS))
        return static_cast<int>(n);
    // Wine answers 0: count live handle-table entries (a zero upper half names any generation).
    int live = 0;
    for (UINT_PTR i = 1; i < 0x10000; ++i)
        live += GetObjectType(reinterpret_cast<HGDIOBJ>(i)) != 0;
    return live;
}

CTestUpdaterDlg::CTestUpdaterDlg(bool bLayOut) : CUpdaterDlg(m_controller, nullptr) {
    if (!Create(IDD_UPDATER) || !bLayOut)
        return;
    FitToSkin();
    LayOutControls(0);
    ShowWindow(SW_SHOWNOACTIVATE);
    UpdateWindow();
}
