// An owner-drawn push button whose face is one of five images of a strip bitmap (normal, hot,
// pressed, unused, disabled), drawn over the parent's background with magenta transparent.
#pragma once

#include "framework/controls.h"
#include "framework/gdi.h"

const int SKIN_BUTTON_STATES = 5;

class CSkinButton : public CButton {
public:
    CSkinButton() = default;
    // Loads the strip and sizes the button to one image.
    void SetBitmap(UINT nBitmapID);
    void DrawItem(LPDRAWITEMSTRUCT lpDIS) override;

    BOOL m_bTracking = FALSE;
    CBitmap m_bmpStates;
    UINT m_nBitmapID = 0;

protected:
    void PreSubclassWindow() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    void SetUp();
    void OnMouseMove(UINT nFlags, POINT point);
    LRESULT OnMouseLeave(WPARAM wParam, LPARAM lParam);
};
