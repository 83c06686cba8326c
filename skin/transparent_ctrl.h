// How child controls look transparent over their parent's skin: a child marked with a window
// property asks its parent to paint the background beneath it into the child's DC; the
// parent tells marked children when that background changed.
#pragma once

#include <windows.h>

#define TRANSPARENT_CTRL_TAG "###tranparentctrl_tag###"
const UINT WM_TRANSPARENT_DRAWBKGND = WM_USER + 0x3FD; // 0x07FD
const UINT WM_TRANSPARENT_BKGNDCHANGED = 0x1095;

// Copies from hdcSrc (the parent's client area in its client coordinates) the rectangle that
// hChild covers into hdcDest at (0, 0).
void DrawParentBackground(HWND hChild, HDC hdcSrc, HDC hdcDest);
// Tells every visible marked direct child of hParent that the background changed; a child that
// does not answer exactly 1 is invalidated with erasing.
void NotifyTransparentChildren(HWND hParent);
// Child side: marks hWnd as transparent unless it already is.
void MarkTransparent(HWND hWnd);
// Child side: has the parent paint the background under hWnd into hdc (WM_ERASEBKGND to the
// parent when it does not know the protocol).
void PaintParentBackground(HWND hWnd, HDC hdc);
