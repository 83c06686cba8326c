#include "framework/http_fetch.h"

#include "framework/decimal_number.h"

CHttpFetch::CHttpFetch(CInternetSession& session, const char* pszUrl, DWORD dwFlags,
                       const char* pszHeaders)
    : m_file(session.OpenURL(pszUrl, 1, dwFlags, pszHeaders,
                             pszHeaders ? static_cast<DWORD>(-1) : 0)) {
    if (!m_file->QueryInfoStatusCode(m_dwStatus))
        m_dwStatus = 0;
}

bool CHttpFetch::Header(DWORD dwInfoLevel, CString& strValue) const {
    return m_file->QueryInfo(dwInfoLevel, strValue) != FALSE;
}

bool CHttpFetch::Length(unsigned long long& nLength) const {
    CString text;
    if (!Header(HTTP_QUERY_CONTENT_LENGTH, text))
        return false;
    // Parsed from the text: the header's numeric form has 32 bits only.
    const char* p = text.GetString();
    if (!ParseDecimal(p, nLength) || *p)
        throw new CHttpBodyError;
    return true;
}

bool CHttpFetch::ContentRange(unsigned long long& nFirst, unsigned long long& nTotal) const {
    CString text;
    if (!Header(HTTP_QUERY_CONTENT_RANGE, text) || text.Left(6) != "bytes ")
        return false;
    const char* p = text.GetString() + 6;
    unsigned long long last = 0;
    return ParseDecimal(p, nFirst) && *p++ == '-' && ParseDecimal(p, last) && *p++ == '/' &&
           ParseDecimal(p, nTotal) && !*p && nFirst <= last && last < nTotal;
}

bool CHttpFetch::ReadBody(IHttpBodySink& sink) {
    unsigned long long length = 0;
    const bool hasLength = Length(length);
    unsigned long long received = 0;
    do {
        const UINT count = m_file->Read(sink.PieceBuffer(), kHttpPieceSize);
        if (count == 0 && hasLength && received < length)
            throw new CHttpBodyError; // the server lied or the connection dropped
        if (count == 0 && received > 0)
            return true;
        received += count;
        if (!sink.OnPiece(count))
            return false;
        if (count == 0)
            return true;
    } while (!hasLength || received < length);
    return true;
}

bool CHttpBodyText::OnPiece(UINT nCount) {
    if (m_text.size() + nCount > m_nMaxBytes)
        throw new CHttpBodyError;
    m_text.append(reinterpret_cast<const char*>(m_piece), nCount);
    return true;
}
