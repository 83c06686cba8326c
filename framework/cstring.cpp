#include "framework/cstring.h"

#include "framework/format.h"

#include <cstdarg>
#include <string.h>

char CString::GetAt(int nIndex) const {
    if (nIndex < 0 || nIndex >= GetLength())
        return 0;
    return m_str[static_cast<size_t>(nIndex)];
}

CString& CString::operator=(const char* psz) {
    m_str = psz ? psz : "";
    return *this;
}

CString& CString::operator+=(const char* psz) {
    if (psz)
        m_str += psz;
    return *this;
}

CString& CString::operator+=(char ch) {
    m_str += ch;
    return *this;
}

CString& CString::operator+=(const CString& s) {
    m_str += s.m_str;
    return *this;
}

void CString::Format(const char* pszFormat, ...) {
    va_list args;
    va_start(args, pszFormat);
    va_list probe;
    va_copy(probe, args);
    const int needed = FormatTextV(nullptr, 0, pszFormat, probe);
    va_end(probe);
    if (needed < 0) {
        m_str.clear();
    } else {
        std::string text(static_cast<size_t>(needed) + 1, '\0');
        FormatTextV(&text[0], text.size(), pszFormat, args);
        text.resize(static_cast<size_t>(needed));
        m_str.swap(text);
    }
    va_end(args);
}

CString CString::Left(int nCount) const {
    if (nCount <= 0)
        return CString();
    return CString(m_str.substr(0, static_cast<size_t>(nCount)).c_str());
}

CString CString::Mid(int nFirst) const {
    if (nFirst <= 0)
        return *this;
    if (nFirst >= GetLength())
        return CString();
    return CString(m_str.c_str() + nFirst);
}

int CString::CompareNoCase(const char* psz) const {
    return _stricmp(m_str.c_str(), psz ? psz : "");
}

CString operator+(const CString& a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const CString& a, const char* b) {
    CString r(a);
    r += b;
    return r;
}

CString operator+(const char* a, const CString& b) {
    CString r(a);
    r += b;
    return r;
}
