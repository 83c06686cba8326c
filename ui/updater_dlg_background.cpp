#include "ui/updater_dlg.h"

#include "skin/transparent_ctrl.h"
#include "ui/background_cache.h"

#include <memory>

void RebuildBackgroundCache(HWND hWnd, HBITMAP hSkin, CDC*& pDC, CBitmap*& pBitmap,
                            HGDIOBJ& hOldBitmap) {
    CClientDC reference(hWnd);
    CDC skinDC;
    skinDC.CreateCompatibleDC(reference);
    CSelectGuard selectSkin(skinDC, hSkin);
    RECT rc;
    GetClientRect(hWnd, &rc);
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;

    FreeBackgroundCache(pDC, pBitmap, hOldBitmap);
    auto dc = std::make_unique<CDC>();
    auto bitmap = std::make_unique<CBitmap>();
    dc->CreateCompatibleDC(reference);
    bitmap->CreateCompatibleBitmap(reference, width, height);
    hOldBitmap = dc->SelectObject(*bitmap);
    // No scaling: the window is sized to the skin, so the cache is the whole picture.
    dc->BitBlt(0, 0, width, height, skinDC, 0, 0, SRCCOPY);
    pDC = dc.release();
    pBitmap = bitmap.release();

    NotifyTransparentChildren(hWnd);
}

void FreeBackgroundCache(CDC*& pDC, CBitmap*& pBitmap, HGDIOBJ& hOldBitmap) {
    if (pDC && hOldBitmap)
        pDC->SelectObject(hOldBitmap);
    delete pBitmap;
    delete pDC;
    pBitmap = nullptr;
    pDC = nullptr;
    hOldBitmap = nullptr;
}

void PaintBackground(HWND hWnd, const CDC* pCache, HICON hIcon) {
    CPaintDC dc(hWnd);
    RECT rc;
    GetClientRect(hWnd, &rc);
    const int width = rc.right - rc.left;
    const int height = rc.bottom - rc.top;
    if (IsIconic(hWnd)) {
        SendMessageA(hWnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
        const int cxIcon = GetSystemMetrics(SM_CXICON);
        const int cyIcon = GetSystemMetrics(SM_CYICON);
        DrawIcon(dc, (width - cxIcon + 1) / 2, (height - cyIcon + 1) / 2, hIcon);
        return;
    }
    if (pCache)
        dc.BitBlt(0, 0, width, height, pCache->GetSafeHdc(), 0, 0, SRCCOPY);
}

void CUpdaterDlg::BuildBackgroundCache() {
    RebuildBackgroundCache(m_hWnd, m_bmpBackground, m_pBkgndDC, m_pBkgndBitmap, m_hOldBkgndBitmap);
}

void CUpdaterDlg::OnPaint() {
    PaintBackground(m_hWnd, m_pBkgndDC, m_hIcon);
}

BOOL CUpdaterDlg::OnEraseBkgnd(HDC) {
    // The paint pass covers the whole client area.
    return TRUE;
}

void CUpdaterDlg::OnSize(UINT, int, int) {
    Default();
    BuildBackgroundCache();
    InvalidateRect(m_hWnd, nullptr, FALSE);
}

LRESULT CUpdaterDlg::OnDrawParentBkgnd(WPARAM wParam, LPARAM lParam) {
    // Answers 1 even without a cache: the child then keeps what its DC held.
    DrawParentBackground(reinterpret_cast<HWND>(lParam),
                         m_pBkgndDC ? m_pBkgndDC->GetSafeHdc() : nullptr,
                         reinterpret_cast<HDC>(wParam));
    return 1;
}
