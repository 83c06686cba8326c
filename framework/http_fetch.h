// One bounded HTTP GET, the single path by which the program fetches anything (the manifest,
// its signature, every file): the URL opened on a session within its limits, the reply's
// status and headers, and the body handed on piece by piece and held to its announced length.
#pragma once

#include "framework/cstring.h"
#include "framework/internet.h"

#include <memory>
#include <string>

// Each read asks for this much; a piece is this long unless the body ends.
const UINT kHttpPieceSize = 8192;

// A body that ended before its announced length, or a length that is not a decimal number.
// It has no system text: callers word it themselves.
class CHttpBodyError : public CException {
public:
    BOOL GetErrorMessage(char*, UINT, UINT* = nullptr) const override { return FALSE; }
};

// Receives a body.
class IHttpBodySink {
public:
    // Where the next piece goes: room for kHttpPieceSize bytes.
    virtual BYTE* PieceBuffer() = 0;
    // The piece just read into PieceBuffer(). False stops the reading (a cancel).
    virtual bool OnPiece(UINT nCount) = 0;

protected:
    ~IHttpBodySink() = default;
};

// A whole body in memory, up to a cap; a larger one throws CHttpBodyError*.
class CHttpBodyText : public IHttpBodySink {
public:
    explicit CHttpBodyText(size_t nMaxBytes) : m_nMaxBytes(nMaxBytes) {}
    BYTE* PieceBuffer() override { return m_piece; }
    bool OnPiece(UINT nCount) override;
    const std::string& Text() const { return m_text; }

private:
    const size_t m_nMaxBytes;
    std::string m_text;
    BYTE m_piece[kHttpPieceSize];
};

class CHttpFetch {
public:
    // Opens the URL, with extra request headers when given ("Name: value\r\n" lines), and waits
    // for the reply's headers; throws CInternetException* on a network failure, a limit or a
    // cancel (as CInternetSession::OpenURL does).
    CHttpFetch(CInternetSession& session, const char* pszUrl, DWORD dwFlags,
               const char* pszHeaders = nullptr);

    DWORD Status() const { return m_dwStatus; } // 0 when the reply has none
    // A header as the server sent it; false when it is absent.
    bool Header(DWORD dwInfoLevel, CString& strValue) const;
    // The announced length: false when there is none; throws CHttpBodyError* when it is not a
    // decimal number that fits 64 bits.
    bool Length(unsigned long long& nLength) const;
    // A 206 reply's "Content-Range: bytes FIRST-LAST/TOTAL": false when it is absent or not of
    // that form (an unknown total, "*", is refused too).
    bool ContentRange(unsigned long long& nFirst, unsigned long long& nTotal) const;
    // Reads the body into the sink to its end: always a first piece, then up to the announced
    // length or, without one, until the data ends. True when it was read whole; false when the
    // sink stopped it. Throws as the constructor does, and CHttpBodyError* when the body ends
    // before its announced length.
    bool ReadBody(IHttpBodySink& sink);

private:
    std::unique_ptr<CHttpFile> m_file;
    DWORD m_dwStatus = 0;
};
