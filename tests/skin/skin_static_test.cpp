#include "skin_test_support.h"

#include "res/resource.h"
#include "skin/skin_static.h"

#include <gtest/gtest.h>

class SkinStaticTest : public ::testing::Test {
protected:
    void SetUp() override {
        label_.m_crText = RGB(255, 255, 255);
        label_.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(TestFont()), FALSE);
    }
    Pixels Show(const char* text) {
        label_.SetWindowText(text);
        return Shot(label_);
    }

    CTestUpdaterDlg dlg_;
    CSkinStatic& label_ = dlg_.m_staticFile;
    const Pixels skin_ = Resource(IDB_BACKGROUND);
};

TEST_F(SkinStaticTest, WhiteTextOverExactlyTheSkin) {
    const Pixels shot = Show("Downloading Quillmarket.exe");
    EXPECT_EQ(0, Differences(shot, skin_, kStaticAt.x, kStaticAt.y, kWhite));
    EXPECT_GT(Differences(shot, skin_, kStaticAt.x, kStaticAt.y), 50);
}

TEST_F(SkinStaticTest, ShorterTextLeavesNoTraceOfALongerOne) {
    const Pixels alone = Show("12 KB");
    Show("1234567 KB of 7654321 KB, 99%");
    EXPECT_TRUE(Show("12 KB") == alone);
}

TEST_F(SkinStaticTest, AmpersandUnderlinesTheNextCharacter) {
    // Only an underline is added: a drawn "&" would move the "b" and leave skin where it was.
    const Pixels plain = Show("ab"), prefixed = Show("a&b");
    int added = 0, other = 0;
    for (size_t i = 0; i < plain.px.size(); ++i)
        if (plain.px[i] != prefixed.px[i])
            ++(prefixed.px[i] == kWhite ? added : other);
    EXPECT_GT(added, 0);
    EXPECT_EQ(0, other);
}
