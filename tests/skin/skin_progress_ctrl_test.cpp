#include "skin_test_support.h"

#include "skin/skin_progress_ctrl.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <set>

class SkinProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (Rgb c : fill_)
            ASSERT_EQ(0u, track_.count(c)) << "fill and track must be told apart by colour";
    }

    // HALFTONE blends when it enlarges: a pixel is fill when it is nearer to a fill colour.
    bool IsFill(Rgb c) const { return Distance(c, fill_) < Distance(c, track_); }
    static int Distance(Rgb c, const std::set<Rgb>& colours) {
        int best = 1 << 30;
        for (Rgb a : colours)
            best = std::min(best, abs(int(a & 0xFF) - int(c & 0xFF)) +
                                      abs(int(a >> 8 & 0xFF) - int(c >> 8 & 0xFF)) +
                                      abs(int(a >> 16) - int(c >> 16)));
        return best;
    }

    // Paints the bar: exactly `fill` must be fill artwork, the rest as in `empty` when given.
    Pixels ExpectFill(CSkinProgressCtrl& bar, int lower, int upper, int pos, RECT fill,
                      const Pixels* empty = nullptr) {
        bar.SetRange32(lower, upper);
        bar.SetPos(pos);
        const Pixels shot = Shot(bar);
        int wrong = 0;
        for (size_t i = 0; i < shot.px.size(); ++i) {
            const POINT p = {static_cast<int>(i % shot.w), static_cast<int>(i / shot.w)};
            const bool isFill = IsFill(shot.px[i]);
            wrong += PtInRect(&fill, p) ? !isFill : isFill || (empty && shot.px[i] != empty->px[i]);
        }
        EXPECT_EQ(0, wrong) << lower << ".." << upper << " at " << pos;
        // And the fill is, pixel for pixel, the artwork stretched onto exactly that rectangle.
        const int w = fill.right - fill.left, h = fill.bottom - fill.top;
        if (w > 0 && h > 0) {
            EXPECT_EQ(0, Differences(Capture(w, h, [&](HDC hdc) { StretchFill(hdc, w, h); }), shot,
                                     fill.left, fill.top))
                << lower << ".." << upper << " at " << pos;
        }
        return shot;
    }

    void StretchFill(HDC hdc, int w, int h) const {
        CBitmap art;
        art.LoadBitmap(IDB_PROGRESS_FILL);
        CDC memDC;
        memDC.CreateCompatibleDC(hdc);
        CSelectGuard select(memDC, art.GetSafeHandle());
        SetStretchBltMode(hdc, HALFTONE);
        StretchBlt(hdc, 0, 0, w, h, memDC, 0, 0, 40, 12, SRCCOPY);
    }

    CTestUpdaterDlg dlg_;
    const Pixels fillArt_ = Resource(IDB_PROGRESS_FILL), trackArt_ = Resource(IDB_PROGRESS_TRACK);
    const std::set<Rgb> fill_{fillArt_.px.begin(), fillArt_.px.end()},
        track_{trackArt_.px.begin(), trackArt_.px.end()};
};

// The window's bar, then a vertical one; both bordered, as the window's template makes its bars:
// once moved, the border must take no room.
TEST_F(SkinProgressTest, FillFollowsThePositionHorizontallyAndVertically) {
    CSkinProgressCtrl& bar = dlg_.m_progressFile;
    const Pixels empty = ExpectFill(bar, 0, 100, 0, {});
    ExpectFill(bar, 0, 100, 50, {2, 1, 245, 14}, &empty);
    ExpectFill(bar, 0, 100, 100, {2, 1, 490, 14}, &empty); // columns 0, 1, 490, 491 stay track
    ExpectFill(bar, -100, 100, 0, {2, 1, 245, 14}, &empty);
    ExpectFill(bar, 0, 1000, 6, {2, 1, 3, 14}, &empty);
    ExpectFill(bar, 7, 7, 7, {}, &empty);
    CSkinProgressCtrl vertical(IDB_PROGRESS_FILL, IDB_PROGRESS_TRACK);
    ASSERT_TRUE(vertical.SubclassWindow(CreateWindowExA(
        0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH | PBS_VERTICAL, 0, 0,
        20, 20, dlg_, nullptr, nullptr, nullptr)));
    vertical.MoveWindow(20, 5, 15, 40);
    ExpectFill(vertical, 0, 100, 100, {1, 0, 14, 39});
    ExpectFill(vertical, 0, 100, 0, {1, 38, 14, 39});
}
