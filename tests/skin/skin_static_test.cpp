// The skin static text: its text in its colour, over exactly the window's skin beneath it.
#include "skin_test_support.h"

#include "res/resource.h"
#include "skin/skin_static.h"
#include "skin/transparent_ctrl.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

using namespace skintest;

namespace {

struct Ink {
    int pixels = 0;    // pixels in the text colour where the background has another colour
    int strangers = 0; // pixels that are neither background nor text colour
    RECT box = {0, 0, 0, 0};
};

// Compares a shot with the background it was drawn over.
Ink InkOver(const Pixels& shot, const Pixels& background, Rgb text) {
    Ink ink;
    ink.box = {shot.width, shot.height, -1, -1};
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x) {
            const Rgb c = shot.at(x, y);
            if (c == background.at(x, y))
                continue;
            if (c != text) {
                ++ink.strangers;
                continue;
            }
            ++ink.pixels;
            ink.box.left = std::min<LONG>(ink.box.left, x);
            ink.box.top = std::min<LONG>(ink.box.top, y);
            ink.box.right = std::max<LONG>(ink.box.right, x + 1);
            ink.box.bottom = std::max<LONG>(ink.box.bottom, y + 1);
        }
    return ink;
}

class SkinStaticTest : public ::testing::Test {
protected:
    void SetUp() override {
        background_ = ResourcePixels(IDB_BACKGROUND);
        ASSERT_TRUE(IsWindowVisible(dlg_));
        Prepare(dlg_.m_staticFile);
        dlg_.m_staticFile.m_crText = RGB(255, 255, 255);
        under_ = background_.Crop(kStaticFileAt.x, kStaticFileAt.y, 300, 16);
    }

    static void Prepare(CSkinStatic& control) {
        control.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(TestFont()), FALSE);
    }

    Pixels Show(const char* text) {
        dlg_.m_staticFile.SetWindowText(text);
        return PaintAndCapture(dlg_.m_staticFile);
    }

    // Another static in the window, in the free space above the bars.
    void AddStatic(CSkinStatic& control, int w, int h, const char* text) {
        control.SubclassWindow(
            CreateChild(dlg_, "STATIC", text, WS_VISIBLE | SS_LEFT, 10, 10, w, h, 1030));
        Prepare(control);
    }

    CTestUpdaterDlg dlg_;
    Pixels background_;
    Pixels under_;
};

TEST_F(SkinStaticTest, BindingMarksItAndMakesItOwnerDrawn) {
    CSkinStatic& label = dlg_.m_staticFile;
    EXPECT_EQ(static_cast<DWORD>(SS_OWNERDRAW), label.GetStyle() & SS_TYPEMASK);
    EXPECT_EQ(static_cast<HANDLE>(label.m_hWnd), GetPropA(label, TRANSPARENT_CTRL_TAG));
}

TEST_F(SkinStaticTest, TextInItsColourOverExactlyTheBackground) {
    const Ink ink = InkOver(Show("Downloading Quillmarket.exe"), under_, kWhite);
    EXPECT_EQ(0, ink.strangers);
    EXPECT_GT(ink.pixels, 50);
    // One line, left-aligned, at the top.
    EXPECT_LE(ink.box.left, 2);
    EXPECT_LE(ink.box.top, 4);

    // An empty text clears the control to the skin.
    EXPECT_TRUE(Show("") == under_);
}

TEST_F(SkinStaticTest, ShorterTextLeavesNoTraceOfALongerOne) {
    const Pixels shortAlone = Show("12 KB");
    EXPECT_FALSE(Show("1234567 KB of 7654321 KB, 99%") == shortAlone);
    EXPECT_TRUE(Show("12 KB") == shortAlone);
}

TEST_F(SkinStaticTest, AmpersandUnderlinesTheNextCharacter) {
    const Ink plain = InkOver(Show("ab"), under_, kWhite);
    const Ink prefixed = InkOver(Show("a&b"), under_, kWhite);
    EXPECT_EQ(0, prefixed.strangers);
    // No ampersand glyph: about as wide as the plain text, but with an underline added.
    EXPECT_EQ(plain.box.left, prefixed.box.left);
    EXPECT_LE(std::abs(prefixed.box.right - plain.box.right), 1);
    EXPECT_GT(prefixed.pixels, plain.pixels);
    EXPECT_GT(prefixed.box.bottom, plain.box.bottom);
}

TEST_F(SkinStaticTest, LongTextIsCutAtTheRightEdgeWithoutWrapping) {
    CSkinStatic label;
    AddStatic(label, 100, 40, "The quick brown fox jumps over the lazy dog, twice over");
    label.m_crText = RGB(255, 255, 255);
    TEXTMETRICA tm = {};
    {
        Dib dib(1, 1);
        CSelectGuard font(dib.dc(), TestFont());
        GetTextMetricsA(dib.dc(), &tm);
    }
    const Ink ink = InkOver(PaintAndCapture(label), background_.Crop(10, 10, 100, 40), kWhite);
    EXPECT_EQ(0, ink.strangers);
    EXPECT_GE(ink.box.right, 97);
    EXPECT_LE(ink.box.bottom, tm.tmHeight);
}

TEST_F(SkinStaticTest, UnsetColourIsBlack) {
    CSkinStatic label;
    AddStatic(label, 100, 16, "Black");
    const Ink ink = InkOver(PaintAndCapture(label), background_.Crop(10, 10, 100, 16), kBlack);
    EXPECT_EQ(0, ink.strangers);
    EXPECT_GT(ink.pixels, 10);
}

TEST_F(SkinStaticTest, ParentWithoutTheProtocolIsAskedToEraseInstead) {
    CPlainParent parent;
    CSkinStatic label;
    label.SubclassWindow(
        CreateChild(parent, "STATIC", "Hello", WS_VISIBLE | SS_LEFT, 5, 5, 120, 16, 1));
    Prepare(label);
    label.m_crText = RGB(255, 255, 255);
    const Pixels shot = PaintAndCapture(label);
    EXPECT_GT(parent.m_nChildErases, 0);
    Pixels erased = shot;
    std::fill(erased.px.begin(), erased.px.end(), 0x0080FF); // RGB(0, 128, 255)
    const Ink ink = InkOver(shot, erased, kWhite);
    EXPECT_EQ(0, ink.strangers);
    EXPECT_GT(ink.pixels, 10);
}

TEST_F(SkinStaticTest, EraseBackgroundDrawsNothing) {
    Dib dib(300, 16, 0x010203);
    EXPECT_EQ(TRUE,
              dlg_.m_staticFile.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dib.dc())));
    EXPECT_EQ(std::set<Rgb>{0x010203}, dib.Read().Colours());
}

} // namespace
