#include "digest/bytes_digest.h"

#include "digest/file_digest.h"
#include "digest/file_sha256.h"

bool IsDigestText(const std::string& text, size_t nDigits) {
    return text.size() == nDigits &&
           text.find_first_not_of("0123456789abcdef") == std::string::npos;
}

std::string DigestOfBytes(const void* pData, size_t nSize, bool bSha256) {
    if (bSha256) {
        CSha256 hash;
        std::string hex;
        return hash.Update(pData, static_cast<DWORD>(nSize)) && hash.Final(hex) ? hex
                                                                                : std::string();
    }
    CFileDigest md5;
    md5.Update(static_cast<const BYTE*>(pData), static_cast<DWORD>(nSize));
    return md5.Final().GetString();
}
