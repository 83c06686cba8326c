#include "manifest/update_file.h"

#include "digest/bytes_digest.h"
#include "digest/file_sha256.h"
#include "manifest/file_name_rules.h"

#include <ctype.h>
#include <string.h>

namespace {

bool IsWellFormedMd5(const char* pszText) {
    if (!pszText || strlen(pszText) != UPDATE_DIGEST_SIZE - 1)
        return false;
    for (const char* p = pszText; *p; ++p)
        if (!isxdigit(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

} // namespace

bool MakeUpdateFile(const char* pszRemoteName, const char* pszLocalName, const char* pszMd5,
                    const char* pszSha256, DWORD dwSize, CUpdateFile& file) {
    const bool hasSha256 = pszSha256 && *pszSha256;
    if (!pszRemoteName || (hasSha256 && !IsSha256Text(pszSha256)))
        return false;
    const char* local = pszLocalName ? pszLocalName : pszRemoteName;
    if (!IsAcceptableFileName(pszRemoteName) || !IsAcceptableFileName(local))
        return false;
    file = CUpdateFile{};
    strcpy(file.szRemoteName, pszRemoteName); // lengths checked above
    strcpy(file.szLocalName, local);
    if (IsWellFormedMd5(pszMd5))
        for (int i = 0; i < UPDATE_DIGEST_SIZE - 1; ++i)
            file.szMd5[i] = static_cast<char>(tolower(static_cast<unsigned char>(pszMd5[i])));
    if (hasSha256)
        strcpy(file.szSha256, pszSha256); // 64 digits, checked above
    file.dwSize = dwSize;
    return true;
}

bool SetBlockIndex(CUpdateFile& file, const char* pszName, const char* pszDigest, bool bSigned) {
    if (!pszName || !pszDigest || !IsAcceptableFileName(pszName) ||
        !IsDigestText(pszDigest, bSigned ? UPDATE_SHA256_SIZE - 1 : UPDATE_DIGEST_SIZE - 1))
        return false;
    strcpy(file.szIndexName, pszName); // lengths checked above
    strcpy(file.szIndexDigest, pszDigest);
    return true;
}
