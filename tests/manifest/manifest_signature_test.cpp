// What a signed release must pass: only the exact bytes, signed by the configured key and in
// the signature file's byte order; malformed keys and signatures are refused, never trusted.
// Keys and signatures are made with CryptoAPI directly, independently of mkmanifest.
#include "manifest/manifest_signature.h"

#include "framework/crypt_handles.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

namespace {

std::string Base64(const std::string& bytes) {
    const BYTE* data = reinterpret_cast<const BYTE*>(bytes.data());
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, nullptr, &size);
    std::string text(size, '\0');
    CryptBinaryToStringA(data, static_cast<DWORD>(bytes.size()), flags, &text[0], &size);
    return text.c_str();
}

class TestKey {
public:
    explicit TestKey(DWORD bits) {
        EXPECT_TRUE(m_prov.AcquireVerifyContext());
        EXPECT_TRUE(CryptGenKey(m_prov.Get(), AT_SIGNATURE, (bits << 16) | CRYPT_EXPORTABLE,
                                m_key.Receive()));
    }
    std::string Export(DWORD type = PUBLICKEYBLOB) const {
        DWORD size = 0;
        CryptExportKey(m_key.Get(), 0, type, 0, nullptr, &size);
        std::string blob(size, '\0');
        EXPECT_TRUE(
            CryptExportKey(m_key.Get(), 0, type, 0, reinterpret_cast<BYTE*>(&blob[0]), &size));
        return blob;
    }
    std::string PublicText() const { return Base64(Export()); }
    // As the signature file holds it: most significant byte first, unlike CryptoAPI.
    std::string Sign(const std::string& data, bool fileOrder = true) const {
        CCryptHash hash;
        EXPECT_TRUE(hash.Create(m_prov.Get(), CALG_SHA_256));
        CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(data.data()),
                      static_cast<DWORD>(data.size()), 0);
        DWORD size = 0;
        CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0, nullptr, &size);
        std::string signature(size, '\0');
        EXPECT_TRUE(CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0,
                                   reinterpret_cast<BYTE*>(&signature[0]), &size));
        if (fileOrder)
            std::reverse(signature.begin(), signature.end());
        return signature;
    }

private:
    CCryptProv m_prov;
    CCryptKey m_key;
};

const char kManifest[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<manifest>\r\n"
                         "  <filelist>\r\n    <file filename=\"a.dat\" filesize=\"3\" "
                         "fileversion=\"2.0\" md5=\"900150983cd24fb0d6963f7d28e17f72\"/>\r\n"
                         "  </filelist>\r\n</manifest>\r\n";

} // namespace

// Only a well-formed public signature key of 2048 bits or more is read; it verifies only the
// exact bytes it signed, in the signature file's byte order.
TEST(ManifestSignatureTest, OnlyTheExactBytesSignedByAWellFormedKeyVerify) {
    const TestKey key(2048), other(2048), weak(1024);
    const std::string manifest = kManifest, text = key.PublicText(), good = key.Sign(manifest);
    ASSERT_EQ(good.size(), 256u);
    std::string changed = manifest, badChar = text, otherKind = key.Export(),
                exchange = key.Export();
    changed[manifest.find("3\"")] = '4'; // the size of a.dat
    badChar[100] = '!';
    otherKind[0] = PRIVATEKEYBLOB;
    const ALG_ID keyExchange = CALG_RSA_KEYX;
    std::memcpy(&exchange[4], &keyExchange, sizeof(keyExchange));
    const struct {
        const char* what;
        std::string publicKey, data, signature;
        bool verifies;
    } cases[] = {
        {"the signed bytes", text, manifest, good, true},
        {"one byte changed", text, changed, good, false},
        {"verified with another key", other.PublicText(), manifest, good, false},
        {"CryptoAPI's own byte order", text, manifest, key.Sign(manifest, false), false},
        {"an empty signature", text, manifest, "", false},
        {"a byte short", text, manifest, good.substr(1), false},
        {"a byte over", text, manifest, good + '\0', false},
        // A key that is not read verifies nothing, even the right signature.
        {"no key", "", manifest, good, false},
        {"a line break inside", text.substr(0, 64) + "\r\n" + text.substr(64), manifest, good,
         false},
        {"a character outside base64", badChar, manifest, good, false},
        {"one character short", text.substr(1), manifest, good, false},
        {"four characters short (a shorter blob)", text.substr(0, text.size() - 4), manifest, good,
         false},
        {"a byte appended to the blob", Base64(key.Export() + '\0'), manifest, good, false},
        {"the private blob", Base64(key.Export(PRIVATEKEYBLOB)), manifest, good, false},
        {"another kind of blob", Base64(otherKind), manifest, good, false},
        {"a key-exchange key", Base64(exchange), manifest, good, false},
        {"1024 bits", weak.PublicText(), manifest, weak.Sign(manifest), false},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> blob;
        const bool wellFormed = c.publicKey == text || c.publicKey == other.PublicText();
        EXPECT_EQ(DecodePublicKey(c.publicKey, blob), wellFormed) << c.what;
        EXPECT_EQ(VerifyManifestSignature(c.publicKey, c.data, c.signature), c.verifies) << c.what;
    }
}
