#include "skin_test_support.h"

#include "res/resource.h"
#include "skin/skin_progress_ctrl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <set>

class SkinProgressTest : public ::testing::Test {
protected:
    void SetUp() override {
        const Pixels fill = Resource(IDB_PROGRESS_FILL), track = Resource(IDB_PROGRESS_TRACK);
        fill_.insert(fill.px.begin(), fill.px.end());
        track_.insert(track.px.begin(), track.px.end());
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

    // Paints the bar and checks that exactly `fill` is fill artwork; outside it the bar is the
    // same as `empty` when given.
    Pixels ExpectFill(CSkinProgressCtrl& bar, int lower, int upper, int pos, RECT fill,
                      const Pixels* empty = nullptr) {
        bar.SetRange32(lower, upper);
        bar.SetPos(pos);
        const Pixels shot = Shot(bar);
        int wrong = 0;
        for (int y = 0; y < shot.h; ++y)
            for (int x = 0; x < shot.w; ++x) {
                const POINT p = {x, y};
                wrong += PtInRect(&fill, p)
                             ? !IsFill(shot.at(x, y))
                             : IsFill(shot.at(x, y)) || (empty && shot.at(x, y) != empty->at(x, y));
            }
        EXPECT_EQ(0, wrong) << lower << ".." << upper << " at " << pos;
        return shot;
    }

    CTestUpdaterDlg dlg_;
    std::set<Rgb> fill_, track_;
};

TEST_F(SkinProgressTest, FillFollowsThePosition) {
    CSkinProgressCtrl& bar = dlg_.m_progressFile;
    const Pixels empty = ExpectFill(bar, 0, 100, 0, {});
    // Columns 0, 1, 490 and 491 stay track even when full.
    const struct {
        int lower, upper, pos;
        RECT fill;
    } cases[] = {{0, 100, 50, {2, 1, 245, 14}},
                 {0, 100, 100, {2, 1, 490, 14}},
                 {-100, 100, 0, {2, 1, 245, 14}},
                 {0, 1000, 6, {2, 1, 3, 14}},
                 {7, 7, 7, {}}};
    for (const auto& c : cases)
        ExpectFill(bar, c.lower, c.upper, c.pos, c.fill, &empty);
}

// With a border, as the window's template gives its bars: once moved, the border must take no
// room, or every fill would shift.
TEST_F(SkinProgressTest, VerticalBarWithBorderAtItsBounds) {
    CSkinProgressCtrl bar;
    ASSERT_TRUE(bar.SubclassWindow(CreateWindowExA(
        0, PROGRESS_CLASSA, "", WS_CHILD | WS_VISIBLE | WS_BORDER | PBS_SMOOTH | PBS_VERTICAL, 0, 0,
        20, 20, dlg_, nullptr, nullptr, nullptr)));
    bar.MoveWindow(20, 5, 15, 40);
    ExpectFill(bar, 0, 100, 100, {1, 0, 14, 39});
    ExpectFill(bar, 0, 100, 0, {1, 38, 14, 39});
}
