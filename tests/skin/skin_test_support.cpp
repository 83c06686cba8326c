#include "skin_test_support.h"

#include "res/resource.h"

#include <algorithm>

Dib::Dib(int w, int h, Rgb fill) : m_w(w), m_h(h) {
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), w, -h, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    m_hBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, reinterpret_cast<void**>(&m_bits),
                                 nullptr, 0);
    m_hDC = CreateCompatibleDC(nullptr);
    m_hOld = SelectObject(m_hDC, m_hBitmap);
    std::fill(m_bits, m_bits + w * h, fill);
}

Dib::~Dib() {
    SelectObject(m_hDC, m_hOld);
    DeleteDC(m_hDC);
    DeleteObject(m_hBitmap);
}

Pixels Dib::Read() const {
    GdiFlush();
    Pixels p{m_w, m_h, std::vector<Rgb>(m_bits, m_bits + m_w * m_h)};
    for (Rgb& c : p.px)
        c &= 0xFFFFFF;
    return p;
}

Pixels Grab(HDC hdc, int w, int h) {
    Dib dib(w, h);
    BitBlt(dib.dc(), 0, 0, w, h, hdc, 0, 0, SRCCOPY);
    return dib.Read();
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

HFONT TestFont() {
    static HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                    NONANTIALIASED_QUALITY, 0, "Tahoma");
    return font;
}

CTestUpdaterDlg::CTestUpdaterDlg(bool bLayOut) : CUpdaterDlg(nullptr) {
    if (!Create(IDD_UPDATER) || !bLayOut)
        return;
    SetWindowPos(nullptr, 0, 0, 512, 133, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    m_btnCancel.SetBitmap(IDB_CANCEL);
    m_progressFile.MoveWindow(7, 50, 492, 15);
    m_progressTotal.MoveWindow(7, 70, 492, 15);
    m_staticFile.MoveWindow(kStaticAt.x, kStaticAt.y, 300, 16);
    m_staticSize.MoveWindow(10, 110, 548, 15);
    m_btnCancel.MoveWindow(kCancelAt.x, kCancelAt.y, 16, 17);
    ShowWindow(SW_SHOWNOACTIVATE);
    UpdateWindow();
}
