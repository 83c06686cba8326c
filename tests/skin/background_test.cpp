#include "skin_test_support.h"

#include "res/resource.h"
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
        if (message == WM_TRANSPARENT_BKGNDCHANGED)
            lResult = (++m_nChanged, m_answer);
        return message == WM_TRANSPARENT_BKGNDCHANGED;
    }
    LRESULT m_answer;
    int m_nChanged = 0;
};
bool Invalid(HWND hWnd) {
    return GetUpdateRect(hWnd, nullptr, FALSE) != 0;
}

class BackgroundTest : public ::testing::Test {
protected:
    LRESULT RequestBackground(CTestUpdaterDlg& dlg, HWND hChild, HDC hdc) {
        return dlg.SendMessage(WM_TRANSPARENT_DRAWBKGND, reinterpret_cast<WPARAM>(hdc),
                               reinterpret_cast<LPARAM>(hChild));
    }
    Pixels Cache() const {
        return dlg_.m_pBkgndDC ? Grab(dlg_.m_pBkgndDC->GetSafeHdc(), 512, 133) : Pixels();
    }
    CTestUpdaterDlg dlg_;
    const Pixels skin_ = Resource(IDB_BACKGROUND);
};

TEST_F(BackgroundTest, PaintShowsTheSkin) {
    for (HWND child = GetTopWindow(dlg_); child; child = GetWindow(child, GW_HWNDNEXT))
        ShowWindow(child, SW_HIDE);
    EXPECT_TRUE(Shot(dlg_) == skin_);
}

TEST_F(BackgroundTest, SizeRebuildsAndInvalidatesVisibleMarkedChildren) {
    CProbe answers0(dlg_, 10, true), answers1(dlg_, 40, true, 1), answers2(dlg_, 70, true, 2);
    CProbe hidden(dlg_, 100, true, 0, 0), unmarked(dlg_, 130, false);
    CProbe grandchild(unmarked, 0, true);
    RedrawWindow(dlg_, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN);
    ASSERT_FALSE(Invalid(answers0) || Invalid(grandchild));

    dlg_.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(512, 133)); // same size: still rebuilds
    EXPECT_TRUE(Invalid(dlg_));
    EXPECT_TRUE(Cache() == skin_);
    const CProbe* probes[] = {&answers0, &answers1, &answers2, &hidden, &unmarked, &grandchild};
    const int changed[] = {1, 1, 1, 0, 0, 0};
    const bool invalid[] = {true, false, true, false, false, false};
    for (int i = 0; i < 6; ++i) {
        EXPECT_EQ(changed[i], probes[i]->m_nChanged) << i;
        EXPECT_EQ(invalid[i], Invalid(*probes[i])) << i;
    }
}

TEST_F(BackgroundTest, ChildGetsExactlyTheCachePixelsUnderIt) {
    for (const RECT& rc : {RECT{37, 21, 87, 41}, RECT{480, 10, 496, 27}}) {
        CProbe child(dlg_, 0, true);
        child.MoveWindow(rc.left, rc.top, rc.right - rc.left, rc.bottom - rc.top);
        Dib dib(rc.right - rc.left, rc.bottom - rc.top);
        EXPECT_EQ(1, RequestBackground(dlg_, child, dib.dc()));
        EXPECT_EQ(0, Differences(dib.Read(), skin_, rc.left, rc.top));
    }
}

TEST_F(BackgroundTest, RequestBeforeTheFirstCacheCopiesNothingAndAnswersOne) {
    CTestUpdaterDlg fresh(false);
    ASSERT_EQ(nullptr, fresh.m_pBkgndDC);
    Dib dib(16, 17);
    EXPECT_EQ(1, RequestBackground(fresh, fresh.m_btnCancel, dib.dc()));
    EXPECT_EQ(std::vector<Rgb>(16 * 17, kMarker), dib.Read().px);
}

TEST_F(BackgroundTest, PaintsLeakNoGdiObjects) {
    const int base = CountGdiObjects();
    HGDIOBJ probe = CreateSolidBrush(RGB(1, 2, 3));
    ASSERT_EQ(base + 1, CountGdiObjects()) << "the count must see one object";
    DeleteObject(probe);
    int before = 0;
    for (int i = 0; i <= 300; ++i) {
        dlg_.m_progressFile.SetPos(i % 101);
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
