// The standard controls the update window binds; thin wrappers over their messages.
#pragma once

#include "framework/wnd.h"

#include <commctrl.h>

// An owner-drawn control draws itself when its parent reflects WM_DRAWITEM to it.
class COwnerDrawnControl : public CWnd {
public:
    virtual void DrawItem(LPDRAWITEMSTRUCT) {}

protected:
    bool OnChildNotify(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override {
        if (message != WM_DRAWITEM)
            return CWnd::OnChildNotify(message, wParam, lParam, lResult);
        DrawItem(reinterpret_cast<LPDRAWITEMSTRUCT>(lParam));
        lResult = TRUE;
        return true;
    }
};

class CButton : public COwnerDrawnControl {};

class CStatic : public COwnerDrawnControl {};

class CProgressCtrl : public CWnd {
public:
    void SetRange32(int nLower, int nUpper) { SendMessage(PBM_SETRANGE32, nLower, nUpper); }
    void GetRange(int& nLower, int& nUpper) const {
        nLower = static_cast<int>(SendMessage(PBM_GETRANGE, TRUE, 0));
        nUpper = static_cast<int>(SendMessage(PBM_GETRANGE, FALSE, 0));
    }
    int SetPos(int nPos) { return static_cast<int>(SendMessage(PBM_SETPOS, nPos, 0)); }
    int GetPos() const { return static_cast<int>(SendMessage(PBM_GETPOS, 0, 0)); }
};
