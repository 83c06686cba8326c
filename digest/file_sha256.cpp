#include "digest/file_sha256.h"

#include "digest/bytes_digest.h"
#include "framework/crypt_handles.h"
#include "framework/scoped_handle.h"

#include <vector>

namespace {

const DWORD kReadBlock = 64 * 1024;

} // namespace

CSha256::CSha256()
    : m_bOk(m_prov.AcquireVerifyContext() && m_hash.Create(m_prov.Get(), CALG_SHA_256)) {}

bool CSha256::Update(const void* pData, DWORD dwSize) {
    m_bOk = m_bOk && CryptHashData(m_hash.Get(), static_cast<const BYTE*>(pData), dwSize, 0);
    return m_bOk;
}

bool CSha256::Final(std::string& hex) {
    BYTE digest[32];
    DWORD digestSize = sizeof(digest);
    m_bOk = m_bOk && CryptGetHashParam(m_hash.Get(), HP_HASHVAL, digest, &digestSize, 0) &&
            digestSize == sizeof(digest);
    if (!m_bOk)
        return false;
    static const char kDigits[] = "0123456789abcdef";
    std::string text(2 * sizeof(digest), '0');
    for (size_t i = 0; i < sizeof(digest); ++i) {
        text[2 * i] = kDigits[digest[i] >> 4];
        text[2 * i + 1] = kDigits[digest[i] & 0x0f];
    }
    hex.swap(text);
    return true;
}

bool FileSha256(const char* path, std::string& hex) {
    try {
        CKernelHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                       FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!file.IsValid())
            return false;
        CSha256 hash;
        std::vector<BYTE> block(kReadBlock);
        for (;;) {
            DWORD read = 0;
            if (!ReadFile(file.Get(), block.data(), kReadBlock, &read, nullptr))
                return false;
            if (read == 0)
                break;
            if (!hash.Update(block.data(), read))
                return false;
        }
        return hash.Final(hex);
    } catch (...) {
        return false;
    }
}

bool IsSha256Text(const std::string& text) {
    return IsDigestText(text, 64);
}

bool FileMatchesSha256(const char* path, const std::string& expectedHex) {
    std::string actual;
    return IsSha256Text(expectedHex) && FileSha256(path, actual) && actual == expectedHex;
}
