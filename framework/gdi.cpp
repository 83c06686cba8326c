#include "framework/gdi.h"

#include "framework/win_app.h"

BOOL CGdiObject::Attach(HGDIOBJ hObject) {
    if (!hObject)
        return FALSE;
    DeleteObject();
    m_hObject = hObject;
    return TRUE;
}

HGDIOBJ CGdiObject::Detach() {
    HGDIOBJ h = m_hObject;
    m_hObject = nullptr;
    return h;
}

BOOL CGdiObject::DeleteObject() {
    if (!m_hObject)
        return FALSE;
    const BOOL ok = ::DeleteObject(m_hObject);
    m_hObject = nullptr;
    return ok;
}

int CGdiObject::GetObject(int nCount, void* pObject) const {
    return m_hObject ? ::GetObjectA(m_hObject, nCount, pObject) : 0;
}

BOOL CBitmap::LoadBitmap(UINT nIDResource) {
    return Attach(::LoadBitmapA(AfxGetInstanceHandle(), MAKEINTRESOURCEA(nIDResource)));
}

BOOL CBitmap::CreateCompatibleBitmap(HDC hdc, int nWidth, int nHeight) {
    return Attach(::CreateCompatibleBitmap(hdc, nWidth, nHeight));
}

BOOL CDC::CreateCompatibleDC(HDC hdc) {
    DeleteDC();
    m_hDC = ::CreateCompatibleDC(hdc);
    m_bOwned = m_hDC != nullptr;
    return m_hDC != nullptr;
}

BOOL CDC::Attach(HDC hdc) {
    if (!hdc)
        return FALSE;
    DeleteDC();
    m_hDC = hdc;
    m_bOwned = true;
    return TRUE;
}

HDC CDC::Detach() {
    HDC h = m_hDC;
    m_hDC = nullptr;
    m_bOwned = false;
    return h;
}

BOOL CDC::DeleteDC() {
    if (!m_hDC)
        return FALSE;
    const BOOL ok = m_bOwned ? ::DeleteDC(m_hDC) : TRUE;
    m_hDC = nullptr;
    m_bOwned = false;
    return ok;
}

CPaintDC::CPaintDC(HWND hWnd) : m_hWnd(hWnd) {
    m_hDC = ::BeginPaint(hWnd, &m_ps);
}

CPaintDC::~CPaintDC() {
    ::EndPaint(m_hWnd, &m_ps);
    m_hDC = nullptr;
}

CClientDC::CClientDC(HWND hWnd) : m_hWnd(hWnd) {
    m_hDC = ::GetDC(hWnd);
}

CClientDC::~CClientDC() {
    if (m_hDC)
        ::ReleaseDC(m_hWnd, m_hDC);
    m_hDC = nullptr;
}
