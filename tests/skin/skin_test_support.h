// Pixels of the skin as painted for real into windows on the test display.
#pragma once

#include "ui/updater_dlg.h"

#include <cstdint>
#include <vector>

using Rgb = uint32_t; // 0x00RRGGBB, as a 32-bit DIB holds it
const Rgb kWhite = 0xFFFFFF, kMagenta = 0xFF00FF;
const Rgb kMarker = 0x010203; // in no artwork: shows that nothing was drawn
const POINT kStaticAt = {10, 90}, kCancelAt = {480, 10}; // where the window puts them

struct Pixels {
    int w = 0, h = 0;
    std::vector<Rgb> px;
    Rgb at(int x, int y) const { return px[static_cast<size_t>(y) * w + x]; }
    bool operator==(const Pixels& o) const { return w == o.w && h == o.h && px == o.px; }
};

// A 32-bit top-down DIB section in its own memory DC, filled with one colour.
class Dib {
public:
    Dib(int w, int h, Rgb fill = kMarker);
    ~Dib();
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    HDC dc() const { return m_hDC; }
    Pixels Read() const;

private:
    int m_w, m_h;
    Rgb* m_bits = nullptr;
    HBITMAP m_hBitmap;
    HDC m_hDC;
    HGDIOBJ m_hOld;
};

Pixels Grab(HDC hdc, int w, int h); // the top-left w x h of hdc
Pixels Resource(UINT nID);
Pixels Shot(HWND hWnd); // the client area after a full repaint
// Pixels of shot that differ from src at (sx + x, sy + y), not counting those in colour `except`.
int Differences(const Pixels& shot, const Pixels& src, int sx, int sy, int64_t except = -1);
int CountGdiObjects();
HFONT TestFont(); // not antialiased: text pixels are exactly the text colour

// The real window, laid out as for a run and shown, or only created (hidden, no cache yet).
class CTestUpdaterDlg : public CUpdaterDlg {
public:
    explicit CTestUpdaterDlg(bool bLayOut = true);
    ~CTestUpdaterDlg() override { ::DestroyWindow(m_hWnd); }

protected:
    BOOL OnInitDialog() override { return CDialog::OnInitDialog(); } // none of the start-up
};
