// The update window's background: its cache of the skin, its painting, and its side of the
// transparent-control protocol.
#include "skin_test_support.h"

#include "res/resource.h"
#include "skin/transparent_ctrl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <vector>

using namespace skintest;

namespace {

// A child window that counts what it is sent and answers the background-changed message
// with a chosen value.
class CProbeChild : public CWnd {
public:
    CProbeChild(HWND hParent, int x, int y, int w, int h, bool bMarked, LRESULT answer = 0,
                bool bVisible = true)
        : m_answer(answer) {
        static const char kClass[] = "SkinTestProbe";
        WNDCLASSA wc = {};
        if (!GetClassInfoA(GetModuleHandleA(nullptr), kClass, &wc)) {
            wc.lpfnWndProc = DefWindowProcA;
            wc.hInstance = GetModuleHandleA(nullptr);
            wc.lpszClassName = kClass;
            RegisterClassA(&wc);
        }
        HWND hWnd = CreateChild(hParent, kClass, "", bVisible ? WS_VISIBLE : 0, x, y, w, h, 0);
        if (bMarked)
            SetPropA(hWnd, TRANSPARENT_CTRL_TAG, hWnd);
        SubclassWindow(hWnd);
    }

    int m_nChanged = 0;
    int m_nErases = 0;

protected:
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& lResult) override {
        if (message == WM_TRANSPARENT_BKGNDCHANGED) {
            ++m_nChanged;
            lResult = m_answer;
            return true;
        }
        if (message == WM_ERASEBKGND)
            ++m_nErases;
        return false;
    }

private:
    LRESULT m_answer;
};

// Whether the window has something to repaint, and whether that repaint erases.
struct Pending {
    bool invalid;
    bool whole;
    bool erased;
};

Pending Repaint(HWND hWnd, const std::function<int()>& erases) {
    RECT update = {}, client = {};
    GetClientRect(hWnd, &client);
    const bool invalid = GetUpdateRect(hWnd, &update, FALSE) != 0;
    const int before = erases();
    // Wine's UpdateWindow also paints the children: this window only.
    RedrawWindow(hWnd, nullptr, nullptr, RDW_UPDATENOW | RDW_NOCHILDREN);
    return {invalid, EqualRect(&update, &client) != 0, erases() != before};
}

class BackgroundTest : public ::testing::Test {
protected:
    void SetUp() override {
        background_ = ResourcePixels(IDB_BACKGROUND);
        ASSERT_EQ(512, background_.width);
        ASSERT_TRUE(IsWindowVisible(dlg_));
    }

    // The cache as it is now.
    Pixels Cache() {
        BITMAP bm = {};
        if (!dlg_.m_pBkgndDC || !dlg_.m_pBkgndBitmap || !dlg_.m_pBkgndBitmap->GetBitmap(&bm))
            return Pixels();
        Dib dib(bm.bmWidth, bm.bmHeight);
        BitBlt(dib.dc(), 0, 0, bm.bmWidth, bm.bmHeight, dlg_.m_pBkgndDC->GetSafeHdc(), 0, 0,
               SRCCOPY);
        return dib.Read();
    }

    CTestUpdaterDlg dlg_;
    Pixels background_;
};

TEST_F(BackgroundTest, CacheIsTheSkinAndPaintingShowsIt) {
    EXPECT_TRUE(Cache() == background_);
    // Where no control covers it, the window shows the skin.
    const Pixels shot = PaintAndCapture(dlg_);
    std::vector<RECT> covered;
    for (HWND child = GetTopWindow(dlg_); child; child = GetWindow(child, GW_HWNDNEXT)) {
        RECT rc;
        GetWindowRect(child, &rc);
        MapWindowPoints(nullptr, dlg_, reinterpret_cast<POINT*>(&rc), 2);
        covered.push_back(rc);
    }
    int compared = 0;
    for (int y = 0; y < 133; ++y) {
        for (int x = 0; x < 512; ++x) {
            const POINT p = {x, y};
            if (std::any_of(covered.begin(), covered.end(),
                            [&](const RECT& rc) { return PtInRect(&rc, p) != 0; }))
                continue;
            ++compared;
            ASSERT_EQ(background_.at(x, y), shot.at(x, y)) << x << ", " << y;
        }
    }
    EXPECT_GT(compared, 512 * 133 / 2);
    // Erasing draws nothing: the paint covers everything.
    Dib dib(8, 8, 0x010203);
    EXPECT_NE(0, dlg_.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dib.dc())));
    EXPECT_EQ(std::set<Rgb>{0x010203}, dib.Read().Colours());
}

TEST_F(BackgroundTest, SizeRebuildsAndRepaintsVisibleMarkedChildrenOnly) {
    CProbeChild answers0(dlg_, 10, 10, 20, 20, true, 0);
    CProbeChild answers1(dlg_, 40, 10, 20, 20, true, 1);
    CProbeChild answers2(dlg_, 70, 10, 20, 20, true, 2);
    CProbeChild hidden(dlg_, 100, 10, 20, 20, true, 0, false);
    CProbeChild unmarked(dlg_, 130, 10, 40, 30, false);
    CProbeChild grandchild(unmarked, 5, 5, 10, 10, true, 0);
    RedrawWindow(dlg_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);

    // The same size again still rebuilds.
    dlg_.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(512, 133));
    EXPECT_EQ(1, answers0.m_nChanged);
    EXPECT_EQ(1, answers1.m_nChanged);
    EXPECT_EQ(1, answers2.m_nChanged);
    EXPECT_EQ(0, hidden.m_nChanged);
    EXPECT_EQ(0, unmarked.m_nChanged);
    EXPECT_EQ(0, grandchild.m_nChanged);
    EXPECT_TRUE(Cache() == background_);

    // Children that did not answer 1 repaint all of themselves with erasing; the window
    // repaints all of itself without erasing; nobody else repaints.
    for (CProbeChild* child : {&answers0, &answers2}) {
        const Pending p = Repaint(*child, [child] { return child->m_nErases; });
        EXPECT_TRUE(p.invalid && p.whole && p.erased);
    }
    for (CProbeChild* child : {&answers1, &hidden, &unmarked, &grandchild})
        EXPECT_FALSE(Repaint(*child, [child] { return child->m_nErases; }).invalid);
    const Pending window = Repaint(dlg_, [this] { return dlg_.Count(WM_ERASEBKGND); });
    EXPECT_TRUE(window.invalid && window.whole);
    EXPECT_FALSE(window.erased);
}

TEST_F(BackgroundTest, RebuildWhileHiddenTellsNoChild) {
    CProbeChild child(dlg_, 10, 10, 20, 20, true, 0);
    dlg_.ShowWindow(SW_HIDE);
    dlg_.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(512, 133));
    EXPECT_EQ(0, child.m_nChanged);
}

TEST_F(BackgroundTest, ChildGetsExactlyTheCachePixelsUnderIt) {
    CProbeChild child(dlg_, 37, 21, 50, 20, true);
    Dib dib(50, 20, 0x010203);
    EXPECT_EQ(1, dlg_.SendMessage(WM_TRANSPARENT_DRAWBKGND, reinterpret_cast<WPARAM>(dib.dc()),
                                  reinterpret_cast<LPARAM>(child.m_hWnd)));
    EXPECT_TRUE(dib.Read() == background_.Crop(37, 21, 50, 20));

    // The same for the window's own Cancel button, at its place in the top right corner.
    Dib cancel(16, 17, 0x010203);
    dlg_.SendMessage(WM_TRANSPARENT_DRAWBKGND, reinterpret_cast<WPARAM>(cancel.dc()),
                     reinterpret_cast<LPARAM>(dlg_.m_btnCancel.m_hWnd));
    EXPECT_TRUE(cancel.Read() == background_.Crop(kCancelAt.x, kCancelAt.y, 16, 17));
}

TEST(BackgroundBeforeSizingTest, RequestBeforeTheFirstCacheCopiesNothingAndAnswersOne) {
    CTestUpdaterDlg dlg(false);
    ASSERT_TRUE(dlg.m_hWnd);
    EXPECT_EQ(nullptr, dlg.m_pBkgndDC);
    Dib dib(16, 17, 0x010203);
    EXPECT_EQ(1, dlg.SendMessage(WM_TRANSPARENT_DRAWBKGND, reinterpret_cast<WPARAM>(dib.dc()),
                                 reinterpret_cast<LPARAM>(dlg.m_btnCancel.m_hWnd)));
    EXPECT_EQ(std::set<Rgb>{0x010203}, dib.Read().Colours());
}

TEST_F(BackgroundTest, MinimisedWindowRebuildsAtItsSizeAndPaintsTheIcon) {
    dlg_.ShowWindow(SW_MINIMIZE);
    ASSERT_TRUE(IsIconic(dlg_));
    RECT rc;
    dlg_.GetClientRect(&rc);
    BITMAP bm = {};
    ASSERT_TRUE(dlg_.m_pBkgndBitmap && dlg_.m_pBkgndBitmap->GetBitmap(&bm));
    // An empty client area (as here) gets the system's stand-in for an empty bitmap.
    EXPECT_EQ(std::max<LONG>(rc.right, 1), bm.bmWidth);
    EXPECT_EQ(std::max<LONG>(rc.bottom, 1), bm.bmHeight);

    // With no client area there is no WM_PAINT to wait for: run the paint pass directly.
    dlg_.OnPaint();
    EXPECT_EQ(1, dlg_.Count(WM_ICONERASEBKGND));

    dlg_.ShowWindow(SW_RESTORE);
    EXPECT_TRUE(Cache() == background_);
}

} // namespace
