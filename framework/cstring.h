// 8-bit text in the ANSI code page, with the few operations the program uses.
#pragma once

#include <string>

class CString {
public:
    CString() = default;
    CString(const char* psz) : m_str(psz ? psz : "") {}
    CString(const char* pch, int nLength) : m_str(pch, nLength > 0 ? nLength : 0) {}

    operator const char*() const { return m_str.c_str(); }
    const char* GetString() const { return m_str.c_str(); }
    int GetLength() const { return static_cast<int>(m_str.size()); }
    bool IsEmpty() const { return m_str.empty(); }
    void Empty() { m_str.clear(); }
    // Returns 0 for an index outside the text instead of reading past it.
    char GetAt(int nIndex) const;

    CString& operator=(const char* psz);
    CString& operator+=(const char* psz);
    CString& operator+=(char ch);
    CString& operator+=(const CString& s);

    // sprintf semantics; the text grows to fit, nothing is cut.
    void Format(const char* pszFormat, ...)
#if defined(__GNUC__)
        __attribute__((format(printf, 2, 3)))
#endif
        ;

    CString Left(int nCount) const;
    CString Mid(int nFirst) const;
    int Compare(const char* psz) const {
        return m_str.compare(psz ? psz : "");
    }
    int CompareNoCase(const char* psz) const;

    friend CString operator+(const CString& a, const CString& b);
    friend CString operator+(const CString& a, const char* b);
    friend CString operator+(const char* a, const CString& b);
    friend bool operator==(const CString& a, const CString& b) {
        return a.m_str == b.m_str;
    }
    friend bool operator==(const CString& a, const char* b) {
        return a.Compare(b) == 0;
    }
    friend bool operator!=(const CString& a, const CString& b) {
        return !(a == b);
    }
    friend bool operator!=(const CString& a, const char* b) {
        return !(a == b);
    }

private:
    std::string m_str;
};
