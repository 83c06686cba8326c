#include "skin_test_support.h"

#include "skin/transparent_ctrl.h"

#include <gtest/gtest.h>

namespace {

// A child that counts background-changed notices and answers them with a chosen value.
struct CProbe : CWnd {
    CProbe(HWND hParent, int x, bool bMarked, LRESULT answer = 0, DWORD style = WS_VISIBLE)
        : m_answer(answer) {
        SubclassWindow(CreateWindowExA(0, "STATIC", "", WS_CHILD | style, x, 10, 20, 20, hParent,
                                       nullptr, nullptr, nullptr));
        if (bMarked)
            MarkTransparent(m_hWnd);
    }
    bool OnMessage(UINT message, WPARAM, LPARAM, LRESULT& lResult) override {
        const bool mine = message == WM_TRANSPARENT_BKGNDCHANGED;
        lResult = mine ? (++m_nChanged, m_answer) : lResult;
        return mine;
    }
    LRESULT m_answer;
    int m_nChanged = 0;
};
bool Invalid(HWND hWnd) {
    return GetUpdateRect(hWnd, nullptr, FALSE) != 0;
}

LRESULT RequestBackground(CWnd& dlg, HWND hChild, HDC hdc) {
    return dlg.SendMessage(WM_TRANSPARENT_DRAWBKGND, reinterpret_cast<WPARAM>(hdc),
                           reinterpret_cast<LPARAM>(hChild));
}

class BackgroundTest : public ::testing::Test {
protected:
    CTestUpdaterDlg dlg_;
    const Pixels skin_ = Resource(IDB_BACKGROUND);
};

TEST_F(BackgroundTest, PaintShowsTheSkinAndSizeRebuildsItForVisibleMarkedChildren) {
    for (HWND child = GetTopWindow(dlg_); child; child = GetWindow(child, GW_HWNDNEXT))
        ShowWindow(child, SW_HIDE);
    EXPECT_TRUE(Shot(dlg_) == skin_);
    CProbe answers0(dlg_, 10, true), answers1(dlg_, 40, true, 1), answers2(dlg_, 70, true, 2);
    CProbe hidden(dlg_, 100, true, 0, 0), unmarked(dlg_, 130, false);
    CProbe grandchild(unmarked, 0, true);
    RedrawWindow(dlg_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ASSERT_FALSE(Invalid(answers0) || Invalid(grandchild));

    dlg_.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(512, 133)); // same size: still rebuilds
    EXPECT_TRUE(Invalid(dlg_));
    ASSERT_NE(nullptr, dlg_.m_pBkgndDC);
    EXPECT_TRUE(Grab(dlg_.m_pBkgndDC->GetSafeHdc(), 512, 133) == skin_);
    const CProbe* probes[] = {&answers0, &answers1, &answers2, &hidden, &unmarked, &grandchild};
    const int changed[] = {1, 1, 1, 0, 0, 0};
    const bool invalid[] = {true, false, true, false, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(changed[i], probes[i]->m_nChanged) << i;
        EXPECT_EQ(invalid[i], Invalid(*probes[i])) << i;
    }
}

// Before the first cache there is nothing to copy, but the child must still not paint its own.
TEST_F(BackgroundTest, ChildGetsExactlyTheCachePixelsUnderItOrNothingBeforeTheFirstCache) {
    for (const RECT& rc : {RECT{37, 21, 87, 41}, RECT{480, 10, 496, 27}}) {
        CProbe child(dlg_, 0, true);
        child.MoveWindow(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
        LRESULT answer = 0;
        const Pixels got = Capture(rc.right - rc.left, rc.bottom - rc.top,
                                   [&](HDC dc) { answer = RequestBackground(dlg_, child, dc); });
        EXPECT_EQ(1, answer);
        EXPECT_EQ(0, Differences(got, skin_, rc.left, rc.top));
    }
    CTestUpdaterDlg fresh(false);
    ASSERT_EQ(nullptr, fresh.m_pBkgndDC);
    EXPECT_TRUE(Capture(16, 17, [&](HDC dc) {
                    EXPECT_EQ(1, RequestBackground(fresh, fresh.m_btnCancel, dc));
                }).Untouched());
}

TEST_F(BackgroundTest, PaintsLeakNoGdiObjects) {
    const int base = CountGdiObjects();
    HGDIOBJ probe = CreateSolidBrush(RGB(1, 2, 3));
    ASSERT_EQ(base + 1, CountGdiObjects()) << "the count must see one object";
    DeleteObject(probe);
    int before = 0;
    for (int i = 0; i <= 300; ++i) {
        dlg_.m_progressFile.SetPos((i + 50) % 101); // a fill from the first paint on
        dlg_.m_btnCancel.SendMessage(i % 2 ? WM_MOUSEMOVE : WM_MOUSELEAVE);
        dlg_.m_btnCancel.SendMessage(BM_SETSTATE, i % 3 == 0);
        dlg_.m_staticFile.SetWindowText(i % 2 ? "123 KB of 456 KB" : "x.exe");
        dlg_.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(512, 133));
        Shot(dlg_);
        if (i == 0) // the first paint may make objects that the system keeps
            before = CountGdiObjects();
    }
    EXPECT_EQ(before, CountGdiObjects());
}

} // namespace
