// MD5 (RFC 1321) digest of a file's content, as 32 lower-case hexadecimal characters. A context
// lives inside one digest call only.
#pragma once

#include "framework/cstring.h"
#include "framework/file.h"

#include <windows.h>

class CFileDigest {
public:
    CFileDigest();
    virtual ~CFileDigest() = default;

    // Opens for reading while denying others write access. A failed open or read throws the
    // CFileException* on to the caller, who deletes it.
    static CString DigestFile(const CString& strPath);
    // Reads from the file's current position to its end in 64 KiB reads.
    static CString DigestOpenFile(CFile& file);

    void Update(const BYTE* pInput, DWORD dwLength);
    // Pads, appends the length and returns the digest text; the context is spent afterwards.
    CString Final();
    // The same as 16 bytes.
    void Final(BYTE (&digest)[16]);
    void Transform(const BYTE* pBlock);

private:
    BYTE m_buffer[64];
    DWORD m_bitCount[2]; // length in bits, low word first
    DWORD m_state[4];    // chaining words A, B, C, D
};
