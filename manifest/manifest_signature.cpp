#include "manifest/manifest_signature.h"

#include "framework/crypt_handles.h"
#include "framework/scoped_handle.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>

namespace {

const DWORD kRsaPublicMagic = 0x31415352; // "RSA1"
const DWORD kMinKeyBits = 2048;           // shorter RSA keys are no longer safe to trust
const DWORD kMaxKeyBits = 16384;          // the largest the provider makes

bool IsBase64(const std::string& text) {
    if (text.empty() || text.size() % 4 != 0)
        return false;
    const size_t padding = text.size() - text.find_last_not_of('=') - 1;
    if (padding > 2)
        return false;
    for (size_t i = 0; i < text.size() - padding; ++i) {
        const char c = text[i];
        if (!((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
              c == '+' || c == '/'))
            return false;
    }
    return true;
}

// The bits of an RSA signature key's public blob, or 0 when the bytes are not exactly one.
DWORD PublicKeyBits(const std::vector<BYTE>& blob) {
    BLOBHEADER header;
    RSAPUBKEY rsa;
    if (blob.size() < sizeof(header) + sizeof(rsa))
        return 0;
    std::memcpy(&header, blob.data(), sizeof(header));
    std::memcpy(&rsa, blob.data() + sizeof(header), sizeof(rsa));
    if (header.bType != PUBLICKEYBLOB || header.bVersion != CUR_BLOB_VERSION ||
        header.aiKeyAlg != CALG_RSA_SIGN || rsa.magic != kRsaPublicMagic ||
        rsa.bitlen < kMinKeyBits || rsa.bitlen > kMaxKeyBits || rsa.bitlen % 8 != 0 ||
        blob.size() != sizeof(header) + sizeof(rsa) + rsa.bitlen / 8)
        return 0;
    return rsa.bitlen;
}

bool HashData(HCRYPTHASH hash, const void* data, size_t size) {
    const BYTE* bytes = static_cast<const BYTE*>(data);
    while (size > 0) {
        const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!CryptHashData(hash, bytes, chunk, 0))
            return false;
        bytes += chunk;
        size -= chunk;
    }
    return true;
}

} // namespace

bool DecodePublicKey(const std::string& base64, std::vector<BYTE>& blob) {
    try {
        if (!IsBase64(base64) || base64.size() > kMaxKeyBits)
            return false;
        DWORD size = 0;
        if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()),
                                  CRYPT_STRING_BASE64, nullptr, &size, nullptr, nullptr))
            return false;
        std::vector<BYTE> decoded(size);
        if (!CryptStringToBinaryA(base64.c_str(), static_cast<DWORD>(base64.size()),
                                  CRYPT_STRING_BASE64, decoded.data(), &size, nullptr, nullptr))
            return false;
        decoded.resize(size);
        if (PublicKeyBits(decoded) == 0)
            return false;
        blob.swap(decoded);
        return true;
    } catch (...) {
        return false;
    }
}

bool VerifySignature(const std::vector<BYTE>& publicKeyBlob, const void* data, size_t size,
                     const void* signature, size_t signatureSize) {
    try {
        const DWORD bits = PublicKeyBits(publicKeyBlob);
        // A signature is exactly as long as the modulus; anything else is not one.
        if (bits == 0 || signatureSize != bits / 8 || (size > 0 && data == nullptr))
            return false;
        CCryptProv prov;
        if (!prov.AcquireVerifyContext())
            return false;
        CCryptKey key;
        if (!CryptImportKey(prov.Get(), publicKeyBlob.data(),
                            static_cast<DWORD>(publicKeyBlob.size()), 0, 0, key.Receive()))
            return false;
        CCryptHash hash;
        if (!hash.Create(prov.Get(), CALG_SHA_256) || !HashData(hash.Get(), data, size))
            return false;
        // The file's order is most significant byte first; CryptoAPI's the reverse.
        const BYTE* bytes = static_cast<const BYTE*>(signature);
        std::vector<BYTE> reversed(bytes, bytes + signatureSize);
        std::reverse(reversed.begin(), reversed.end());
        return CryptVerifySignatureA(hash.Get(), reversed.data(),
                                     static_cast<DWORD>(reversed.size()), key.Get(), nullptr,
                                     0) != FALSE;
    } catch (...) {
        return false;
    }
}

bool VerifyManifestSignature(const std::string& publicKeyBase64, const std::string& manifest,
                             const std::string& signature) {
    std::vector<BYTE> blob;
    return DecodePublicKey(publicKeyBase64, blob) &&
           VerifySignature(blob, manifest.data(), manifest.size(), signature.data(),
                           signature.size());
}
