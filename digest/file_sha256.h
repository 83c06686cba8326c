// The SHA-256 of a file's content, through the platform's CryptoAPI, in the manifest's text
// form. Every function answers true or false; none throws.
#pragma once

#include "framework/crypt_handles.h"

#include <string>

// The SHA-256 of bytes given piece by piece. Once a step failed, every later one is false.
class CSha256 {
public:
    CSha256();
    bool Update(const void* pData, DWORD dwSize);
    // The digest as 64 lower-case hexadecimal digits; the hash is spent afterwards.
    bool Final(std::string& hex);

private:
    CCryptProv m_prov;
    CCryptHash m_hash; // after the context that made it
    bool m_bOk;
};

// The SHA-256 of a file's content as 64 lower-case hexadecimal digits, read in blocks while
// others may read but not write it. False when it cannot be opened or read.
bool FileSha256(const char* path, std::string& hex);

// True when text is exactly 64 lower-case hexadecimal digits, the form the manifest carries.
bool IsSha256Text(const std::string& text);

// True when the file can be read and its SHA-256 is expectedHex, which must be in the
// manifest's form; a malformed expectation never matches.
bool FileMatchesSha256(const char* path, const std::string& expectedHex);
