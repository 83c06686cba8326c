// Pixels, windows and GDI counts for the skin tests: controls are painted through their real
// paint path into real windows (shown on the test display) and read back from the window DC.
#pragma once

#include "framework/gdi.h"
#include "framework/wnd.h"
#include "ui/updater_dlg.h"

#include <cstdint>
#include <set>
#include <vector>
#include <windows.h>

namespace skintest {

// 0x00RRGGBB, as a 32-bit top-down DIB stores it.
using Rgb = uint32_t;
const Rgb kMagenta = 0xFF00FF;
const Rgb kWhite = 0xFFFFFF;
const Rgb kBlack = 0x000000;

struct Pixels {
    int width = 0;
    int height = 0;
    std::vector<Rgb> px;
    Rgb at(int x, int y) const { return px[static_cast<size_t>(y) * width + x]; }
    // The part (x, y, w, h) of this picture.
    Pixels Crop(int x, int y, int w, int h) const;
    std::set<Rgb> Colours() const { return std::set<Rgb>(px.begin(), px.end()); }
    bool operator==(const Pixels& other) const {
        return width == other.width && height == other.height && px == other.px;
    }
};

// A 32-bit top-down DIB section selected into its own memory DC.
class Dib {
public:
    Dib(int width, int height, Rgb fill = 0);
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    HDC dc() const { return m_hDC; }
    Pixels Read() const;

private:
    int m_nWidth;
    int m_nHeight;
    HDC m_hDC = nullptr;
    HBITMAP m_hBitmap = nullptr;
    HGDIOBJ m_hOld = nullptr;
    Rgb* m_pBits = nullptr;
};

// The pixels of one of this program's bitmap resources.
Pixels ResourcePixels(UINT nID);
// Paints hWnd and its children now, with erasing, and returns what its client area shows.
Pixels PaintAndCapture(HWND hWnd);
// What the client area of hWnd shows now, without painting.
Pixels Capture(HWND hWnd);
// GDI objects of this process: the system's count where it has one, else the live entries of
// the handle table (Wine answers the system's count with 0).
int CountGdiObjects();

// The real update window, created from its template with its five controls bound and laid out
// as the window lays itself out for a run, and shown; nothing else of its start-up runs.
// With bLayOut false the window is only created: hidden, at its template size, no cache yet.
class CTestUpdaterDlg : public CUpdaterDlg {
public:
    explicit CTestUpdaterDlg(bool bLayOut = true);
    ~CTestUpdaterDlg() override;

    // Messages the window received, in order.
    std::vector<UINT> m_messages;
    int Count(UINT message) const;
    using CUpdaterDlg::OnPaint;

protected:
    BOOL OnInitDialog() override { return CDialog::OnInitDialog(); }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        m_messages.push_back(message);
        return CUpdaterDlg::OnMessage(message, wParam, lParam, lResult);
    }
};

// A top-level parent that does not know the transparent-control protocol; it answers a
// child's WM_ERASEBKGND by filling the child's DC with m_crErase.
class CPlainParent : public CWnd {
public:
    CPlainParent();
    ~CPlainParent() override;

    COLORREF m_crErase = RGB(0, 128, 255);
    int m_nChildErases = 0;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
};

// Where the update window puts its controls.
const POINT kProgressFileAt = {7, 50};
const POINT kStaticFileAt = {10, 90};
const POINT kCancelAt = {480, 10};

// A non-antialiased font, so that text pixels are exactly the text colour.
HFONT TestFont();

// A child window of the test's own class, bound to this object.
HWND CreateChild(HWND hParent, const char* pszClass, const char* pszText, DWORD dwStyle, int x,
                 int y, int w, int h, int nID);

} // namespace skintest
