// Painting the skin must give back every GDI object it makes: the count of the process's GDI
// objects is the same before and after a few hundred paints of each part.
#include "skin_test_support.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <utility>

using namespace skintest;

namespace {

void Redraw(HWND hWnd) {
    RedrawWindow(hWnd, nullptr, nullptr,
                 RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
}

TEST(SkinGdiTest, PaintsLeaveNoGdiObjectsBehind) {
    CTestUpdaterDlg dlg;
    ASSERT_TRUE(IsWindowVisible(dlg));
    dlg.m_staticFile.m_crText = RGB(255, 255, 255);

    const std::pair<std::string, std::function<void(int)>> parts[] = {
        {"progress bar",
         [&](int i) {
             dlg.m_progressFile.SetRange32(0, 100);
             dlg.m_progressFile.SetPos(i % 101);
             Redraw(dlg.m_progressFile);
         }},
        {"button",
         [&](int i) {
             dlg.m_btnCancel.SendMessage(i % 2 ? WM_MOUSEMOVE : WM_MOUSELEAVE);
             dlg.m_btnCancel.SendMessage(BM_SETSTATE, i % 3 == 0);
             Redraw(dlg.m_btnCancel);
         }},
        {"static text",
         [&](int i) {
             dlg.m_staticFile.SetWindowText(i % 2 ? "123 KB of 456 KB" : "Quillmarket.exe");
             Redraw(dlg.m_staticFile);
         }},
        {"window",
         [&](int) {
             dlg.SendMessage(WM_SIZE, SIZE_RESTORED, MAKELPARAM(512, 133));
             Redraw(dlg);
         }},
    };

    // The count must see a single object come and go, or the comparison below means nothing.
    const int base = CountGdiObjects();
    HGDIOBJ probe = CreateSolidBrush(RGB(1, 2, 3));
    ASSERT_EQ(base + 1, CountGdiObjects());
    DeleteObject(probe);
    ASSERT_EQ(base, CountGdiObjects());

    for (const auto& part : parts) {
        SCOPED_TRACE(part.first);
        // The first paints may create objects that the system keeps (fonts, brushes).
        for (int i = 0; i < 3; ++i)
            part.second(i);
        const int before = CountGdiObjects();
        for (int i = 0; i < 300; ++i)
            part.second(i);
        const int after = CountGdiObjects();
        printf("%s: %d GDI objects before and %d after 300 paints\n", part.first.c_str(), before,
               after);
        EXPECT_EQ(before, after);
    }
}

} // namespace
