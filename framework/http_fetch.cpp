#include "framework/http_fetch.h"

CHttpFetch::CHttpFetch(CInternetSession& session, const char* pszUrl, DWORD dwFlags)
    : m_file(session.OpenURL(pszUrl, 1, dwFlags)) {
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
    unsigned long long value = 0;
    const char* p = text.GetString();
    if (!*p)
        throw new CHttpBodyError;
    for (; *p; ++p) {
        const unsigned digit = static_cast<unsigned>(*p - '0');
        if (digit > 9 || value > (~0ull - digit) / 10)
            throw new CHttpBodyError;
        value = value * 10 + digit;
    }
    nLength = value;
    return true;
}

bool CHttpFetch::ReadBody(IHttpBodySink& sink) {
    unsigned long long length = 0;
    const bool hasLength = Length(length);
    unsigned long long received = 0;
    do {
        const UINT count = m_file->Read(sink.PieceBuffer(), kHttpPieceSize);
        if (count == 0 && received > 0) {
            if (hasLength && received < length)
                throw new CHttpBodyError; // the server lied or the connection dropped
            return true;
        }
        received += count;
        if (!sink.OnPiece(count))
            return false;
        if (count == 0)
            return true;
    } while (!hasLength || received < length);
    return true;
}
