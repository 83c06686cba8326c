// The standard progress bar drawn from two bitmaps: a track with one-pixel ends and a
// stretched middle, and a fill stretched over the part that the position covers.
#pragma once

#include "framework/controls.h"
#include "framework/gdi.h"

class CSkinProgressCtrl : public CProgressCtrl {
public:
    // The artwork: the fill image and the track, loaded from the program's bitmap resources.
    CSkinProgressCtrl(UINT nFillBitmapID, UINT nTrackBitmapID);

    CBitmap m_bmpFill;
    CBitmap m_bmpTrack;

protected:
    bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& lResult) override;

private:
    void OnNcCalcSize(BOOL bCalcValidRects, NCCALCSIZE_PARAMS* lpncsp);
    void OnNcPaint();
    BOOL OnEraseBkgnd(HDC hdc);
    void OnPaint();
    // Copies the left part of the fill stretched once over the whole bar. Only for artwork whose
    // columns are all alike: then that part is, pixel for pixel, the artwork stretched onto the
    // narrower rectangle, and a paint is a copy instead of a new stretch.
    void PaintFillFromStretched(HDC hdc, const RECT& fill, int barWidth, int barHeight);

    bool m_bFillColumnsAlike = false;
    CBitmap m_bmpFillStretched;
    SIZE m_sizeFillStretched = {0, 0};
};
