// BSTR and VARIANT owners, and the conversions between them and 8-bit text in the ANSI code page.
// Allocation failures are thrown as COleException*.
#pragma once

#include "framework/com_error.h"
#include "framework/cstring.h"

#include <oleauto.h>
#include <string>
#include <windows.h>

class CBstr {
public:
    CBstr() = default;
    // Converts 8-bit text in the ANSI code page to UTF-16.
    explicit CBstr(const char* psz) {
        const int length = psz ? lstrlenA(psz) : 0;
        if (length == 0) {
            m_bstr = SysAllocStringLen(nullptr, 0);
        } else {
            const int wide = MultiByteToWideChar(CP_ACP, 0, psz, length, nullptr, 0);
            if (wide <= 0)
                throw new COleException(HRESULT_FROM_WIN32(GetLastError()));
            m_bstr = SysAllocStringLen(nullptr, static_cast<UINT>(wide));
            if (m_bstr)
                MultiByteToWideChar(CP_ACP, 0, psz, length, m_bstr, wide);
        }
        if (!m_bstr)
            throw new COleException(E_OUTOFMEMORY);
    }
    ~CBstr() { SysFreeString(m_bstr); }
    CBstr(const CBstr&) = delete;
    CBstr& operator=(const CBstr&) = delete;

    BSTR Get() const { return m_bstr; }

private:
    BSTR m_bstr = nullptr;
};

class CVariant {
public:
    CVariant() { VariantInit(&m_var); }
    ~CVariant() { VariantClear(&m_var); }
    CVariant(const CVariant&) = delete;
    CVariant& operator=(const CVariant&) = delete;

    // The value of an optional argument left out (VT_ERROR, DISP_E_PARAMNOTFOUND).
    void SetMissing() {
        Clear();
        m_var.vt = VT_ERROR;
        m_var.scode = DISP_E_PARAMNOTFOUND;
    }
    void SetBool(bool value) {
        Clear();
        m_var.vt = VT_BOOL;
        m_var.boolVal = value ? VARIANT_TRUE : VARIANT_FALSE;
    }

    const VARIANT& Get() const { return m_var; }
    VARIANT* Ptr() { return &m_var; }
    // The slot for an out-parameter; what was held is cleared first.
    VARIANT* Receive() {
        Clear();
        return &m_var;
    }
    void Clear() {
        VariantClear(&m_var);
        VariantInit(&m_var);
    }

private:
    VARIANT m_var;
};

// The text of a VT_BSTR VARIANT in the ANSI code page (characters it cannot show become its
// default character); the text ends at an embedded zero. Other types throw DISP_E_TYPEMISMATCH.
inline CString CStringFromVariant(const VARIANT& var) {
    if (var.vt != VT_BSTR)
        throw new COleException(DISP_E_TYPEMISMATCH);
    const BSTR bstr = var.bstrVal;
    int length = 0;
    const int limit = bstr ? static_cast<int>(SysStringLen(bstr)) : 0;
    while (length < limit && bstr[length] != L'\0')
        ++length;
    if (length == 0)
        return CString();
    const int bytes = WideCharToMultiByte(CP_ACP, 0, bstr, length, nullptr, 0, nullptr, nullptr);
    if (bytes <= 0)
        throw new COleException(HRESULT_FROM_WIN32(GetLastError()));
    std::string text(static_cast<size_t>(bytes), '\0');
    WideCharToMultiByte(CP_ACP, 0, bstr, length, &text[0], bytes, nullptr, nullptr);
    return CString(text.data(), bytes);
}
