// How the framework binds objects to windows and routes messages: handled ones stay with the
// object, the rest reach the original procedure, notifications the child leaves reach the parent
// (the skin's owner-drawn controls show WM_DRAWITEM reflected), the binding ends with the window.
#include "framework/controls.h"
#include "framework/dialog.h"
#include "framework/win_app.h"
#include "res/resource.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

namespace {

const UINT WM_TEST_HANDLED = WM_APP + 1;
const UINT WM_TEST_THROWS = WM_APP + 2;

std::vector<std::string> g_log;

class LoggingButton : public CButton {
public:
    int destroyed = 0;

protected:
    void PreSubclassWindow() override {
        // Runs before the object sees any message of the window.
        g_log.push_back(std::string("presubclass bound=") +
                        (FromHandlePermanent(m_hWnd) == this ? "yes" : "no"));
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        switch (message) {
        case WM_TEST_HANDLED:
            lResult = 42;
            return true;
        case WM_TEST_THROWS:
            throw std::runtime_error("a handler that fails");
        case WM_SETTEXT:
            g_log.push_back("settext");
            break; // seen, then left to the button's own procedure
        default:
            break;
        }
        return CButton::OnMessage(message, wParam, lParam, lResult);
    }
    void PostNcDestroy() override { ++destroyed; }
};

class TestDialog : public CDialog {
public:
    TestDialog() : CDialog(IDD_UPDATER) {}
    LoggingButton m_button;
    bool initialisedInsideCreate = false;
    int commands = 0;

protected:
    void DoDataExchange(CDataExchange* pDX) override { DDX_Control(pDX, IDCANCEL, m_button); }
    BOOL OnInitDialog() override {
        CDialog::OnInitDialog();
        initialisedInsideCreate = m_hWnd != nullptr && m_button.m_hWnd != nullptr;
        return TRUE;
    }
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
            ++commands;
            return true;
        }
        return CDialog::OnMessage(message, wParam, lParam, lResult);
    }
};

TEST(WindowDispatch, ControlsAreBoundRoutedReflectedAndUnbound) {
    g_log.clear();
    TestDialog dialog;
    ASSERT_TRUE(dialog.Create(IDD_UPDATER));
    EXPECT_TRUE(dialog.initialisedInsideCreate);
    HWND button = dialog.m_button.m_hWnd;
    EXPECT_EQ(CWnd::FromHandlePermanent(button), &dialog.m_button);
    EXPECT_EQ(CWnd::FromHandlePermanent(dialog.m_hWnd), &dialog);

    // Handled by the object; unhandled ones reach the original procedure.
    EXPECT_EQ(SendMessageA(button, WM_TEST_HANDLED, 0, 0), 42);
    SetWindowTextA(button, "Abc");
    char text[16] = {};
    GetWindowTextA(button, text, sizeof(text));
    EXPECT_STREQ(text, "Abc");
    // The text a window already shows is not set again (that would only repaint it).
    dialog.m_button.SetWindowText("Abc");
    // An exception in a handler never leaves the window procedure.
    EXPECT_EQ(SendMessageA(button, WM_TEST_THROWS, 0, 0), 0);

    // Notifications reach the parent when the child does not take them.
    SendMessageA(dialog.m_hWnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(button));
    EXPECT_EQ(dialog.commands, 1);

    dialog.m_button.SetWindowText("Abcd");
    EXPECT_EQ(g_log, (std::vector<std::string>{"presubclass bound=no", "settext", "settext"}));

    // Destroying the window unbinds both objects; the objects live on.
    EXPECT_TRUE(dialog.DestroyWindow());
    EXPECT_EQ(dialog.m_hWnd, nullptr);
    EXPECT_EQ(dialog.m_button.m_hWnd, nullptr);
    EXPECT_EQ(dialog.m_button.destroyed, 1);
    EXPECT_EQ(CWnd::FromHandlePermanent(button), nullptr);
}

TEST(WindowDispatch, DestroyingTheMainWindowEndsTheMessageLoop) {
    CWinApp app;
    TestDialog main, other;
    ASSERT_TRUE(main.Create(IDD_UPDATER) && other.Create(IDD_UPDATER));
    app.m_pMainWnd = &main;
    other.DestroyWindow(); // not the main window: the loop goes on
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
    main.DestroyWindow();
    struct Timer { // ends a loop that the destruction failed to end, with a code the test rejects
        static void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD) { PostQuitMessage(99); }
    };
    const UINT_PTR guard = SetTimer(nullptr, 0, 10000, &Timer::GiveUp);
    EXPECT_EQ(app.Run(), 0);
    KillTimer(nullptr, guard);
    EXPECT_EQ(main.m_hWnd, nullptr);
}

} // namespace
