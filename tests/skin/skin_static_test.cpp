#include "skin_test_support.h"

#include "skin/skin_static.h"

#include <gtest/gtest.h>

class SkinStaticTest : public ::testing::Test {
protected:
    void SetUp() override {
        static HFONT font = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0,
                                        NONANTIALIASED_QUALITY, 0, "Tahoma");
        label_.m_crText = RGB(255, 255, 255);
        label_.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(font), FALSE);
    }
    Pixels Show(const char* text) {
        label_.SetWindowText(text);
        return Shot(label_);
    }

    CTestUpdaterDlg dlg_;
    CSkinStatic& label_ = dlg_.m_staticFile;
};

// White text over exactly the skin, no trace of a longer text before, and "&" underlines the
// next character: only an underline is added, as a drawn "&" would move the "b".
TEST_F(SkinStaticTest, WhiteTextOverTheSkinNoTraceOfLongerTextAndAmpersandUnderlines) {
    const Pixels skin = Resource(IDB_BACKGROUND), alone = Show("12 KB");
    EXPECT_EQ(0, Differences(alone, skin, kStaticAt.x, kStaticAt.y, kWhite));
    EXPECT_GT(Differences(alone, skin, kStaticAt.x, kStaticAt.y), 20);
    Show("1234567 KB of 7654321 KB, 99%");
    EXPECT_TRUE(Show("12 KB") == alone);
    const Pixels plain = Show("ab"), prefixed = Show("a&b");
    int added = 0, other = 0;
    for (size_t i = 0; i < plain.px.size(); ++i)
        if (plain.px[i] != prefixed.px[i])
            ++(prefixed.px[i] == kWhite ? added : other);
    EXPECT_GT(added, 0);
    EXPECT_EQ(0, other);
}
