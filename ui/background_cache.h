// The update window's skin kept as a client-sized copy in a memory DC, so that every paint and
// every transparent child's background request is a single BitBlt. Free functions over the
// window's cache members, so that any window can use them.
#pragma once

#include "framework/gdi.h"

// Rebuilds the cache at hWnd's current client size from the top-left of hSkin (also when the
// size did not change), then tells hWnd's transparent children that their background changed.
void RebuildBackgroundCache(HWND hWnd, HBITMAP hSkin, CDC*& pDC, CBitmap*& pBitmap,
                            HGDIOBJ& hOldBitmap);
// Puts the cache DC's original bitmap back and frees the DC and the bitmap; nothing without a
// cache. Both pointers are null afterwards.
void FreeBackgroundCache(CDC*& pDC, CBitmap*& pBitmap, HGDIOBJ& hOldBitmap);
// One WM_PAINT pass of hWnd: the cache over the client area (nothing without one), or hIcon
// centred while the window is minimised.
void PaintBackground(HWND hWnd, const CDC* pCache, HICON hIcon);
