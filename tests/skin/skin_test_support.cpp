#include "skin_test_support.h"

#include "res/resource.h"

#include <algorithm>

namespace skintest {

Pixels Pixels::Crop(int x, int y, int w, int h) const {
    Pixels part;
    part.width = w;
    part.height = h;
    part.px.reserve(static_cast<size_t>(w) * h);
    for (int row = y; row < y + h; ++row)
        for (int col = x; col < x + w; ++col)
            part.px.push_back(at(col, row));
    return part;
}

Dib::Dib(int width, int height, Rgb fill) : m_nWidth(width), m_nHeight(height) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    m_hBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    m_pBits = static_cast<Rgb*>(bits);
    m_hDC = CreateCompatibleDC(nullptr);
    m_hOld = SelectObject(m_hDC, m_hBitmap);
    for (int i = 0; i < width * height; ++i)
        m_pBits[i] = fill;
}

Dib::~Dib() {
    SelectObject(m_hDC, m_hOld);
    DeleteDC(m_hDC);
    DeleteObject(m_hBitmap);
}

Pixels Dib::Read() const {
    GdiFlush();
    Pixels p;
    p.width = m_nWidth;
    p.height = m_nHeight;
    p.px.assign(m_pBits, m_pBits + static_cast<size_t>(m_nWidth) * m_nHeight);
    for (Rgb& c : p.px)
        c &= 0xFFFFFF;
    return p;
}

Pixels ResourcePixels(UINT nID) {
    CBitmap bitmap;
    bitmap.LoadBitmap(nID);
    BITMAP bm = {};
    if (!bitmap.GetBitmap(&bm))
        return Pixels();
    Dib dib(bm.bmWidth, bm.bmHeight);
    CDC source;
    source.CreateCompatibleDC(dib.dc());
    CSelectGuard select(source, bitmap.GetSafeHandle());
    BitBlt(dib.dc(), 0, 0, bm.bmWidth, bm.bmHeight, source, 0, 0, SRCCOPY);
    return dib.Read();
}

Pixels Capture(HWND hWnd) {
    RECT rc;
    GetClientRect(hWnd, &rc);
    Dib dib(rc.right, rc.bottom);
    CClientDC window(hWnd);
    BitBlt(dib.dc(), 0, 0, rc.right, rc.bottom, window, 0, 0, SRCCOPY);
    return dib.Read();
}

Pixels PaintAndCapture(HWND hWnd) {
    RedrawWindow(hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
    return Capture(hWnd);
}

int CountGdiObjects() {
    const DWORD count = GetGuiResources(GetCurrentProcess(), GR_GDIOBJECTS);
    if (count != 0)
        return static_cast<int>(count);
    // A handle with a zero upper half names its table entry whatever the entry's generation.
    int live = 0;
    for (UINT_PTR index = 1; index < 0x10000; ++index)
        if (GetObjectType(reinterpret_cast<HGDIOBJ>(index)) != 0)
            ++live;
    return live;
}

namespace {
const char kPlainParentClass[] = "SkinTestPlainParent";
} // namespace

CTestUpdaterDlg::CTestUpdaterDlg(bool bLayOut) : CUpdaterDlg(nullptr) {
    if (!Create(IDD_UPDATER) || !bLayOut)
        return;
    BITMAP bm = {};
    m_bmpBackground.GetBitmap(&bm);
    SetWindowPos(nullptr, 0, 0, bm.bmWidth, bm.bmHeight,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_NOCOPYBITS);
    m_btnCancel.SetBitmap(IDB_CANCEL);
    RECT button = {};
    m_btnCancel.GetClientRect(&button);
    m_progressFile.MoveWindow(kProgressFileAt.x, kProgressFileAt.y, 492, 15);
    m_progressTotal.MoveWindow(7, 70, 492, 15);
    m_staticFile.MoveWindow(kStaticFileAt.x, kStaticFileAt.y, 300, 16);
    m_staticSize.MoveWindow(10, 110, 548, 15);
    m_btnCancel.MoveWindow(kCancelAt.x, kCancelAt.y, button.right, button.bottom);
    ShowWindow(SW_SHOWNOACTIVATE);
    UpdateWindow();
}

int CTestUpdaterDlg::Count(UINT message) const {
    return static_cast<int>(std::count(m_messages.begin(), m_messages.end(), message));
}

CTestUpdaterDlg::~CTestUpdaterDlg() {
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

CPlainParent::CPlainParent() {
    WNDCLASSA wc = {};
    if (!GetClassInfoA(GetModuleHandleA(nullptr), kPlainParentClass, &wc)) {
        wc.lpfnWndProc = DefWindowProcA;
        wc.hInstance = GetModuleHandleA(nullptr);
        wc.lpszClassName = kPlainParentClass;
        RegisterClassA(&wc);
    }
    HWND hWnd = CreateWindowExA(WS_EX_TOOLWINDOW, kPlainParentClass, "",
                                WS_POPUP | WS_CLIPCHILDREN | WS_VISIBLE, 0, 0, 400, 100, nullptr,
                                nullptr, GetModuleHandleA(nullptr), nullptr);
    SubclassWindow(hWnd);
}

CPlainParent::~CPlainParent() {
    if (m_hWnd)
        ::DestroyWindow(m_hWnd);
}

bool CPlainParent::OnMessage(UINT message, WPARAM wParam, LPARAM, LRESULT& lResult) {
    if (message != WM_ERASEBKGND)
        return false;
    HDC hdc = reinterpret_cast<HDC>(wParam);
    if (WindowFromDC(hdc) != m_hWnd) {
        ++m_nChildErases;
        RECT all = {0, 0, 4096, 4096};
        HBRUSH brush = CreateSolidBrush(m_crErase);
        FillRect(hdc, &all, brush);
        DeleteObject(brush);
    }
    lResult = TRUE;
    return true;
}

HFONT TestFont() {
    static HFONT s_font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE, DEFAULT_CHARSET,
                                      OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                                      NONANTIALIASED_QUALITY, DEFAULT_PITCH, "Tahoma");
    return s_font;
}

HWND CreateChild(HWND hParent, const char* pszClass, const char* pszText, DWORD dwStyle, int x,
                 int y, int w, int h, int nID) {
    return CreateWindowExA(0, pszClass, pszText, WS_CHILD | dwStyle, x, y, w, h, hParent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(nID)),
                           GetModuleHandleA(nullptr), nullptr);
}

} // namespace skintest
