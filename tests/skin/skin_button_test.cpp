// The skin button: its images, hot tracking, the caption, and what it must leave alone.
#include "skin_test_support.h"

#include "res/resource.h"
#include "skin/skin_button.h"
#include "skin/transparent_ctrl.h"

#include <gtest/gtest.h>

#include <algorithm>

using namespace skintest;

namespace {

const int kImage = 16;

// A 24-bit strip of five solid images (and whatever columns are left over in `extra`).
HBITMAP MakeStrip(int width, int height, const Rgb (&images)[5], Rgb extra) {
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP hBitmap = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    const int stride = (width * 3 + 3) & ~3;
    const int imageWidth = width / 5;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const Rgb c = x < 5 * imageWidth ? images[x / imageWidth] : extra;
            BYTE* p = static_cast<BYTE*>(bits) + y * stride + x * 3;
            p[0] = static_cast<BYTE>(c);
            p[1] = static_cast<BYTE>(c >> 8);
            p[2] = static_cast<BYTE>(c >> 16);
        }
    return hBitmap;
}

// A skin button that remembers the messages it was sent.
class CRecordingButton : public CSkinButton {
public:
    std::vector<UINT> m_messages;
    int Count(UINT message) const {
        return static_cast<int>(std::count(m_messages.begin(), m_messages.end(), message));
    }

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        m_messages.push_back(message);
        return CSkinButton::OnMessage(message, wParam, lParam, lResult);
    }
};

// The bounding box of the pixels that are not `face`; empty when there are none.
RECT InkBox(const Pixels& shot, Rgb face) {
    RECT box = {shot.width, shot.height, 0, 0};
    for (int y = 0; y < shot.height; ++y)
        for (int x = 0; x < shot.width; ++x)
            if (shot.at(x, y) != face) {
                box.left = std::min<LONG>(box.left, x);
                box.top = std::min<LONG>(box.top, y);
                box.right = std::max<LONG>(box.right, x + 1);
                box.bottom = std::max<LONG>(box.bottom, y + 1);
            }
    return box.right > box.left ? box : RECT{0, 0, 0, 0};
}

class SkinButtonTest : public ::testing::Test {
protected:
    void SetUp() override {
        strip_ = ResourcePixels(IDB_CANCEL);
        background_ = ResourcePixels(IDB_BACKGROUND);
        ASSERT_EQ(80, strip_.width);
        ASSERT_EQ(17, strip_.height);
        ASSERT_TRUE(IsWindowVisible(dlg_));
    }

    // What image n of the real strip looks like at the Cancel button's place.
    Pixels Expected(int n) const {
        Pixels p = strip_.Crop(n * kImage, 0, kImage, strip_.height);
        for (int y = 0; y < p.height; ++y)
            for (int x = 0; x < p.width; ++x)
                if (p.at(x, y) == kMagenta)
                    p.px[y * p.width + x] = background_.at(kCancelAt.x + x, kCancelAt.y + y);
        return p;
    }

    // Another button in the window, in the free space left of the Cancel button.
    HWND AddButton(CSkinButton& button, int x, int w, int h, const char* caption = "",
                   DWORD style = 0) {
        HWND hWnd = CreateChild(dlg_, "BUTTON", caption, WS_VISIBLE | BS_PUSHBUTTON | style, x, 12,
                                w, h, 1010 + x);
        button.SubclassWindow(hWnd);
        button.SendMessage(WM_SETFONT, reinterpret_cast<WPARAM>(TestFont()), FALSE);
        return hWnd;
    }

    void UseSolidStrip(CSkinButton& button, int width, int height, Rgb extra = 0x123456) {
        button.m_bmpStates.Attach(MakeStrip(width, height, kSolid, extra));
        button.m_nBitmapID = 1;
    }

    static constexpr Rgb kSolid[5] = {0xC0C0C0, 0xA0E0A0, 0xE0A0A0, 0x0000FF, 0xA0A0E0};
    CTestUpdaterDlg dlg_;
    Pixels strip_;
    Pixels background_;
};

constexpr Rgb SkinButtonTest::kSolid[5];

TEST_F(SkinButtonTest, BindingMakesItOwnerDrawnAndMarkedAndTheStripSizesIt) {
    CSkinButton& cancel = dlg_.m_btnCancel;
    EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), cancel.GetStyle() & BS_TYPEMASK);
    EXPECT_EQ(static_cast<HANDLE>(cancel.m_hWnd), GetPropA(cancel, TRANSPARENT_CTRL_TAG));
    RECT rc;
    cancel.GetClientRect(&rc);
    EXPECT_EQ(kImage, rc.right);
    EXPECT_EQ(17, rc.bottom);

    // Without a strip the button keeps its size; a mark already there is kept.
    CSkinButton other;
    HWND hWnd = CreateChild(dlg_, "BUTTON", "", WS_VISIBLE, 10, 12, 46, 13, 1020);
    SetPropA(hWnd, TRANSPARENT_CTRL_TAG, reinterpret_cast<HANDLE>(0x1234));
    other.SubclassWindow(hWnd);
    other.GetClientRect(&rc);
    EXPECT_EQ(46, rc.right);
    EXPECT_EQ(reinterpret_cast<HANDLE>(0x1234), GetPropA(hWnd, TRANSPARENT_CTRL_TAG));
    EXPECT_EQ(static_cast<DWORD>(BS_OWNERDRAW), other.GetStyle() & BS_TYPEMASK);
}

TEST_F(SkinButtonTest, EachStateShowsItsImageWithMagentaShowingTheBackground) {
    // The images must differ for the checks to mean anything, and magenta must be there.
    for (int a : {0, 1, 2, 4}) {
        for (int b : {0, 1, 2, 4}) {
            if (a < b) {
                ASSERT_FALSE(strip_.Crop(a * kImage, 0, kImage, 17) ==
                             strip_.Crop(b * kImage, 0, kImage, 17));
            }
        }
    }
    ASSERT_EQ(1u, strip_.Crop(0, 0, kImage, 17).Colours().count(kMagenta));

    CSkinButton& cancel = dlg_.m_btnCancel;
    EXPECT_TRUE(PaintAndCapture(cancel) == Expected(0)) << "normal";
    cancel.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
    ASSERT_TRUE(cancel.m_bTracking);
    EXPECT_TRUE(PaintAndCapture(cancel) == Expected(1)) << "hot";
    cancel.SendMessage(BM_SETSTATE, TRUE);
    EXPECT_TRUE(PaintAndCapture(cancel) == Expected(2)) << "pressed while hot";
    cancel.SendMessage(WM_MOUSELEAVE);
    EXPECT_TRUE(PaintAndCapture(cancel) == Expected(2)) << "pressed";
    cancel.EnableWindow(FALSE);
    EXPECT_TRUE(PaintAndCapture(cancel) == Expected(4)) << "disabled and pressed";
    cancel.SendMessage(BM_SETSTATE, FALSE);
    cancel.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(4, 4));
    EXPECT_TRUE(PaintAndCapture(cancel) == Expected(4)) << "disabled while hot";
}

TEST_F(SkinButtonTest, ImagesAreAFifthOfTheStripRoundedDownAndFillTheButton) {
    // 82 / 5 = 16: the two rightmost columns belong to no image. The button is larger than
    // an image, so the image is stretched over it.
    CSkinButton button;
    AddButton(button, 100, 32, 20);
    UseSolidStrip(button, 82, 10, 0x123456);
    auto shows = [&](Rgb colour) {
        const Pixels shot = PaintAndCapture(button);
        return shot.Colours() == std::set<Rgb>{colour};
    };
    EXPECT_TRUE(shows(kSolid[0]));
    button.SendMessage(BM_SETSTATE, TRUE);
    EXPECT_TRUE(shows(kSolid[2]));
    button.EnableWindow(FALSE);
    EXPECT_TRUE(shows(kSolid[4]));
}

TEST_F(SkinButtonTest, NothingIsDrawnWithoutAStripNorOnErase) {
    CSkinButton bare;
    HWND hWnd = AddButton(bare, 100, 16, 17, "Go");
    Dib dib(16, 17, 0x010203);
    DRAWITEMSTRUCT dis = {};
    dis.CtlType = ODT_BUTTON;
    dis.hwndItem = hWnd;
    dis.hDC = dib.dc();
    dis.rcItem = {0, 0, 16, 17};
    dis.itemAction = ODA_DRAWENTIRE;
    bare.DrawItem(&dis);
    // Not even the parent's background.
    EXPECT_EQ(std::set<Rgb>{0x010203}, dib.Read().Colours());

    EXPECT_EQ(TRUE,
              dlg_.m_btnCancel.SendMessage(WM_ERASEBKGND, reinterpret_cast<WPARAM>(dib.dc())));
    EXPECT_EQ(std::set<Rgb>{0x010203}, dib.Read().Colours());
}

TEST_F(SkinButtonTest, FirstMoveInvalidatesOnceUntilTheMouseLeaves) {
    CRecordingButton button;
    AddButton(button, 100, 16, 17);
    button.SetBitmap(IDB_CANCEL);
    UpdateWindow(dlg_);
    auto invalidated = [&] {
        RECT rc;
        const bool any = GetUpdateRect(button, &rc, FALSE) != 0;
        button.m_messages.clear();
        UpdateWindow(button);
        // Invalidated without erasing: the paint pass comes without WM_ERASEBKGND.
        EXPECT_EQ(0, button.Count(WM_ERASEBKGND));
        return any && rc.right - rc.left == kImage && rc.bottom - rc.top == 17;
    };
    ASSERT_FALSE(invalidated());

    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    EXPECT_TRUE(button.m_bTracking);
    EXPECT_TRUE(invalidated());
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(5, 6));
    EXPECT_FALSE(invalidated());

    EXPECT_EQ(0, button.SendMessage(WM_MOUSELEAVE));
    EXPECT_FALSE(button.m_bTracking);
    EXPECT_TRUE(invalidated());
    button.SendMessage(WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    EXPECT_TRUE(invalidated());
}

TEST_F(SkinButtonTest, CaptionIsCentredAndMovesWhenPressed) {
    CSkinButton button;
    AddButton(button, 100, 60, 20, "Ok");
    UseSolidStrip(button, 80, 10);
    const RECT normal = InkBox(PaintAndCapture(button), kSolid[0]);
    ASSERT_LT(normal.left, normal.right);
    EXPECT_LE(std::abs(normal.left - (60 - normal.right)), 1);
    EXPECT_LE(std::abs(normal.top - (20 - normal.bottom)), 1);

    button.SendMessage(BM_SETSTATE, TRUE);
    const RECT pressed = InkBox(PaintAndCapture(button), kSolid[2]);
    EXPECT_EQ(normal.left + 1, pressed.left);
    EXPECT_EQ(normal.top + 1, pressed.top);
    EXPECT_EQ(normal.right + 1, pressed.right);
    EXPECT_EQ(normal.bottom + 1, pressed.bottom);

    button.SetWindowText("");
    const RECT none = InkBox(PaintAndCapture(button), kSolid[2]);
    EXPECT_EQ(none.left, none.right);
}

TEST_F(SkinButtonTest, CaptionFollowsAlignmentStyles) {
    CSkinButton button;
    AddButton(button, 100, 60, 20, "Ok", BS_RIGHT | BS_BOTTOM);
    UseSolidStrip(button, 80, 10);
    const RECT ink = InkBox(PaintAndCapture(button), kSolid[0]);
    ASSERT_LT(ink.left, ink.right);
    EXPECT_GT(ink.left, 60 - ink.right + 10);
    EXPECT_GT(ink.top, 20 - ink.bottom);
}

} // namespace
