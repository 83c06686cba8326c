// Pixels of the skin as painted for real into windows on the test display.
#pragma once

#include "res/resource.h"
#include "ui/updater_dlg.h"

#include <algorithm>
#include <cstdint>
#include <functional>
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
    bool Untouched() const { return px == std::vector<Rgb>(px.size(), kMarker); }
};

// What `draw` leaves in a w x h 32-bit top-down DIB section first filled with kMarker.
Pixels Capture(int w, int h, const std::function<void(HDC)>& draw);
Pixels Grab(HDC hdc, int w, int h); // the top-left w x h of hdc
Pixels Resource(UINT nID);
Pixels Shot(HWND hWnd); // the client area after a full repaint
// Pixels of shot that differ from src at (sx + x, sy + y), not counting those in colour `except`.
int Differences(const Pixels& shot, const Pixels& src, int sx, int sy, int64_t except = -1);
int CountGdiObjects();

// The real window, laid out as for a run and shown, or only created (hidden, no cache yet).
class CTestUpdaterDlg : public CUpdaterDlg {
public:
    explicit CTestUpdaterDlg(bool bLayOut = true);
    ~CTestUpdaterDlg() override { ::DestroyWindow(m_hWnd); }
    BOOL OnInitDialog() override { return CDialog::OnInitDialog(); } // none of the start-up
    using CUpdaterDlg::m_btnCancel;
    using CUpdaterDlg::m_pBkgndDC;
    using CUpdaterDlg::m_progressFile;
    using CUpdaterDlg::m_staticFile;

private:
    CUpdateController m_controller; // never started: only the window is under test
};
