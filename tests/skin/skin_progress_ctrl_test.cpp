// The skinned progress bar, painted through its real paint path inside a host window.
#include "skin_test_support.h"

#include "res/resource.h"
#include "skin/skin_progress_ctrl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace skintest;

namespace {

// The stretched copies are made with HALFTONE, which blends neighbouring source pixels when it
// enlarges (and need not average when it shrinks), so the pictures are told apart by which
// artwork a pixel is nearest to, not by exact colours.
int Distance(Rgb a, Rgb b) {
    int d = 0;
    for (int shift = 0; shift < 24; shift += 8)
        d += abs(static_cast<int>((a >> shift) & 0xFF) - static_cast<int>((b >> shift) & 0xFF));
    return d;
}

int DistanceToSet(Rgb c, const std::set<Rgb>& colours) {
    int best = 1 << 30;
    for (Rgb candidate : colours)
        best = std::min(best, Distance(c, candidate));
    return best;
}

// The source row of an artwork column that a stretched pixel is nearest to.
int NearestRow(const Pixels& art, int column, Rgb c) {
    int best = 0;
    for (int y = 1; y < art.height; ++y)
        if (Distance(c, art.at(column, y)) < Distance(c, art.at(column, best)))
            best = y;
    return best;
}

class SkinProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        fill_ = ResourcePixels(IDB_PROGRESS_FILL);
        track_ = ResourcePixels(IDB_PROGRESS_TRACK);
        ASSERT_EQ(40, fill_.width);
        ASSERT_EQ(100, track_.width);
        ASSERT_EQ(14, track_.height);
        fillColours_ = fill_.Colours();
        trackColours_ = track_.Colours();
        // The checks below tell fill from track by colour.
        for (Rgb c : fillColours_)
            ASSERT_EQ(0u, trackColours_.count(c));
        ASSERT_TRUE(IsWindowVisible(dlg_));
    }

    // A vertical bar made like the window's (with a border), alone in the window.
    void CreateVertical(int w, int h) {
        for (CWnd* other :
             {static_cast<CWnd*>(&dlg_.m_progressFile), static_cast<CWnd*>(&dlg_.m_progressTotal),
              static_cast<CWnd*>(&dlg_.m_staticFile), static_cast<CWnd*>(&dlg_.m_staticSize)})
            other->ShowWindow(SW_HIDE);
        HWND hWnd =
            CreateChild(dlg_, PROGRESS_CLASSA, "",
                        WS_VISIBLE | WS_BORDER | PBS_SMOOTH | PBS_VERTICAL, 10, 10, 20, 20, 1005);
        ASSERT_TRUE(vertical_.SubclassWindow(hWnd));
        vertical_.MoveWindow(7, 10, w, h);
        bar_ = &vertical_;
    }

    Pixels Paint(int lower, int upper, int pos) {
        bar_->SetRange32(lower, upper);
        bar_->SetPos(pos);
        return PaintAndCapture(*bar_);
    }

    bool IsFill(Rgb c) const {
        return DistanceToSet(c, fillColours_) < DistanceToSet(c, trackColours_);
    }

    // Every pixel inside `fill` is fill artwork; every pixel outside is track artwork, and the
    // same as in the empty bar when there is one to compare with.
    void ExpectFillExactly(const Pixels& shot, const Pixels* empty, RECT fill) {
        int wrong = 0;
        for (int y = 0; y < shot.height; ++y)
            for (int x = 0; x < shot.width; ++x) {
                const bool inside =
                    x >= fill.left && x < fill.right && y >= fill.top && y < fill.bottom;
                const bool ok =
                    inside ? IsFill(shot.at(x, y))
                           : !IsFill(shot.at(x, y)) && (!empty || shot.at(x, y) == empty->at(x, y));
                if (!ok && ++wrong <= 5)
                    ADD_FAILURE() << "pixel (" << x << ", " << y << ") "
                                  << (inside ? "should be fill" : "should be track") << " "
                                  << std::hex << shot.at(x, y) << std::dec;
            }
        EXPECT_EQ(0, wrong);
    }

    CTestUpdaterDlg dlg_;
    CSkinProgressCtrl vertical_;
    // The bar under test: the window's own file bar unless a test makes another.
    CSkinProgressCtrl* bar_ = &dlg_.m_progressFile;
    Pixels fill_;
    Pixels track_;
    std::set<Rgb> fillColours_;
    std::set<Rgb> trackColours_;
};

TEST_F(SkinProgressTest, BorderTakesNoRoomOnceMoved) {
    RECT rc;
    bar_->GetClientRect(&rc);
    EXPECT_EQ(492, rc.right);
    EXPECT_EQ(15, rc.bottom);
    // The outermost rows are the track's top and bottom rows, not a frame.
    const Pixels shot = Paint(0, 100, 0);
    for (int x = 1; x < shot.width - 1; ++x) {
        EXPECT_EQ(0, NearestRow(track_, 50, shot.at(x, 0))) << x;
        EXPECT_EQ(13, NearestRow(track_, 50, shot.at(x, 14))) << x;
    }
}

TEST_F(SkinProgressTest, TrackKeepsOnePixelEndsAndStretchesTheMiddle) {
    std::set<Rgb> leftEnd, rightEnd, middle;
    // Rows 0 and 13 are the same dark edge in every column; the rows between tell parts apart.
    for (int y = 1; y < 13; ++y) {
        leftEnd.insert(track_.at(0, y));
        rightEnd.insert(track_.at(99, y));
        for (int x = 1; x < 99; ++x)
            middle.insert(track_.at(x, y));
    }
    auto nearerTo = [](Rgb c, const std::set<Rgb>& a, const std::set<Rgb>& b) {
        return DistanceToSet(c, a) < DistanceToSet(c, b);
    };
    for (int width : {492, 60}) {
        SCOPED_TRACE(width);
        bar_->MoveWindow(kProgressFileAt.x, kProgressFileAt.y, width, 15);
        const Pixels shot = Paint(0, 100, 0);
        for (int y = 2; y < 13; ++y) {
            EXPECT_TRUE(nearerTo(shot.at(0, y), leftEnd, middle)) << y;
            EXPECT_TRUE(nearerTo(shot.at(1, y), middle, leftEnd)) << y;
            EXPECT_TRUE(nearerTo(shot.at(width - 1, y), rightEnd, middle)) << y;
            EXPECT_TRUE(nearerTo(shot.at(width - 2, y), middle, rightEnd)) << y;
        }
        // The middle is the same in every column, from the track's top row to its bottom row
        // over all 15 rows.
        for (int x = 2; x < width - 1; ++x)
            for (int y = 0; y < 15; ++y)
                ASSERT_EQ(shot.at(1, y), shot.at(x, y)) << x << ", " << y;
        EXPECT_EQ(0, NearestRow(track_, 50, shot.at(1, 0)));
        EXPECT_EQ(13, NearestRow(track_, 50, shot.at(1, 14)));
    }
}

TEST_F(SkinProgressTest, FillFollowsThePosition) {
    const Pixels empty = Paint(0, 100, 0);
    ExpectFillExactly(empty, nullptr, RECT{0, 0, 0, 0});
    {
        SCOPED_TRACE("half");
        ExpectFillExactly(Paint(0, 100, 50), &empty, RECT{2, 1, 245, 14});
    }
    {
        // Columns 0, 1, 490 and 491 stay track.
        SCOPED_TRACE("full");
        ExpectFillExactly(Paint(0, 100, 100), &empty, RECT{2, 1, 490, 14});
    }
    {
        SCOPED_TRACE("bounds not starting at 0");
        ExpectFillExactly(Paint(-100, 100, 0), &empty, RECT{2, 1, 245, 14});
    }
}

TEST_F(SkinProgressTest, NoFillUntilTheEdgePassesColumnTwo) {
    const Pixels empty = Paint(0, 1000, 0);
    // 490 * 5 / 1000 rounds to 2: an empty rectangle; 490 * 6 / 1000 rounds to 3.
    ExpectFillExactly(Paint(0, 1000, 5), &empty, RECT{0, 0, 0, 0});
    ExpectFillExactly(Paint(0, 1000, 6), &empty, RECT{2, 1, 3, 14});
}

TEST_F(SkinProgressTest, EqualBoundsShowNoFill) {
    const Pixels empty = Paint(0, 100, 0);
    ExpectFillExactly(Paint(7, 7, 7), &empty, RECT{0, 0, 0, 0});
}

TEST_F(SkinProgressTest, PositionChangesRepaintWithoutHelp) {
    // The standard control invalidates on its own; going back must bring the track back.
    const Pixels empty = Paint(0, 100, 0);
    Paint(0, 100, 80);
    bar_->SetPos(20);
    UpdateWindow(*bar_);
    ExpectFillExactly(Capture(*bar_), &empty, RECT{2, 1, 98, 14});
}

TEST_F(SkinProgressTest, VerticalBarAtItsBounds) {
    CreateVertical(15, 100);
    // From the client area's top row down to B = 99 at the upper bound ...
    ExpectFillExactly(Paint(0, 100, 100), nullptr, RECT{1, 0, 14, 99});
    // ... and the single row B - 1 at the lower bound.
    ExpectFillExactly(Paint(0, 100, 0), nullptr, RECT{1, 98, 14, 99});
}

} // namespace
