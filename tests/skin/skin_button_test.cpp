#include "skin_test_support.h"

#include "skin/skin_button.h"

#include <gtest/gtest.h>

class SkinButtonTest : public ::testing::Test {
protected:
    // Image n of the strip at the Cancel button's place: magenta shows the window's skin.
    Pixels Expected(int n) const {
        Pixels p{16, 17, {}};
        for (int i = 0, x = 0, y = 0; i < 16 * 17; ++i, x = i % 16, y = i / 16) {
            const Rgb c = strip_.at(n * 16 + x, y);
            p.px.push_back(c == kMagenta ? skin_.at(kCancelAt.x + x, kCancelAt.y + y) : c);
        }
        return p;
    }

    CTestUpdaterDlg dlg_;
    CSkinButton& cancel_ = dlg_.m_btnCancel;
    const Pixels strip_ = Resource(IDB_CANCEL);
    const Pixels skin_ = Resource(IDB_BACKGROUND);
};

TEST_F(SkinButtonTest, ImagePerStateDisabledOverPressedOverHotAndRepaintOnlyOnEnterOrLeave) {
    ASSERT_EQ(80, strip_.w);
    ASSERT_FALSE(Expected(1) == Expected(0) || Expected(2) == Expected(1) ||
                 Expected(4) == Expected(2) || Expected(4) == Expected(1));
    ASSERT_GT(std::count(strip_.px.begin(), strip_.px.end(), kMagenta), 0);
    auto shows = [&](int image) { return Shot(cancel_) == Expected(image); };
    auto invalidates = [&](UINT message) {
        ValidateRect(cancel_, nullptr);
        cancel_.SendMessage(message, 0, MAKELPARAM(4, 4));
        return GetUpdateRect(cancel_, nullptr, FALSE) != 0;
    };
    EXPECT_TRUE(shows(0)) << "normal";
    EXPECT_TRUE(invalidates(WM_MOUSEMOVE));
    EXPECT_FALSE(invalidates(WM_MOUSEMOVE)) << "still inside";
    EXPECT_TRUE(shows(1)) << "hot";
    cancel_.SendMessage(BM_SETSTATE, TRUE);
    EXPECT_TRUE(shows(2)) << "pressed while hot";
    EXPECT_TRUE(invalidates(WM_MOUSELEAVE));
    EXPECT_TRUE(shows(2)) << "pressed";
    EXPECT_TRUE(invalidates(WM_MOUSEMOVE)) << "entering again";
    cancel_.EnableWindow(FALSE);
    EXPECT_TRUE(shows(4)) << "disabled while pressed";
    cancel_.SendMessage(BM_SETSTATE, FALSE);
    EXPECT_TRUE(shows(4)) << "disabled while hot";
}
