// A static text drawn in a chosen colour straight over the parent's background.
#pragma once

#include "framework/controls.h"

class CSkinStatic : public CStatic {
public:
    CSkinStatic() = default;
    void DrawItem(LPDRAWITEMSTRUCT lpDIS) override;

    COLORREF m_crText = RGB(0, 0, 0);

protected:
    void PreSubclassWindow() override;
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;
};
