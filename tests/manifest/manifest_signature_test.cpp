// What a signed release must pass: only the exact bytes, signed by the configured key and in
// the signature file's byte order; malformed keys and signatures are refused, never trusted.
// Keys and signatures are made with CryptoAPI directly, independently of mkmanifest.
#include "manifest/manifest_signature.h"

#include "framework/crypt_handles.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

std::string Base64(const std::string& bytes) {
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()), flags, nullptr, &size);
    std::string text(size, '\0');
    CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()),
                         static_cast<DWORD>(bytes.size()), flags, &text[0], &size);
    return text.c_str();
}

class TestKey {
public:
    explicit TestKey(DWORD bits) {
        EXPECT_TRUE(m_prov.AcquireVerifyContext());
        EXPECT_TRUE(CryptGenKey(m_prov.Get(), AT_SIGNATURE, (bits << 16) | CRYPT_EXPORTABLE,
                                m_key.Receive()));
        m_public = Export(PUBLICKEYBLOB);
    }
    std::string Export(DWORD type) const {
        DWORD size = 0;
        CryptExportKey(m_key.Get(), 0, type, 0, nullptr, &size);
        std::string blob(size, '\0');
        EXPECT_TRUE(
            CryptExportKey(m_key.Get(), 0, type, 0, reinterpret_cast<BYTE*>(&blob[0]), &size));
        return blob;
    }
    const std::string& PublicBlob() const { return m_public; }
    std::string PublicText() const { return Base64(m_public); }
    // As CryptoAPI gives it: least significant byte first.
    std::string SignLittleEndian(const std::string& data) const {
        CCryptHash hash;
        EXPECT_TRUE(hash.Create(m_prov.Get(), CALG_SHA_256));
        CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(data.data()),
                      static_cast<DWORD>(data.size()), 0);
        DWORD size = 0;
        CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0, nullptr, &size);
        std::string signature(size, '\0');
        EXPECT_TRUE(CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0,
                                   reinterpret_cast<BYTE*>(&signature[0]), &size));
        return signature;
    }
    // As the signature file holds it.
    std::string Sign(const std::string& data) const {
        std::string signature = SignLittleEndian(data);
        std::reverse(signature.begin(), signature.end());
        return signature;
    }

private:
    CCryptProv m_prov;
    CCryptKey m_key;
    std::string m_public;
};

const char kManifest[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<manifest>\r\n"
                         "  <filelist>\r\n    <file filename=\"a.dat\" filesize=\"3\" "
                         "fileversion=\"2.0\" md5=\"900150983cd24fb0d6963f7d28e17f72\"/>\r\n"
                         "  </filelist>\r\n</manifest>\r\n";

} // namespace

TEST(ManifestSignatureTest, OnlyTheExactBytesSignedByTheKeyVerify) {
    const TestKey key(3072), other(3072);
    const std::string manifest = kManifest;
    const std::string good = key.Sign(manifest);
    ASSERT_EQ(good.size(), 384u);
    std::string changed = manifest, flipped = good;
    changed[manifest.find("3\"")] = '4'; // the size of a.dat
    flipped[200] ^= 0x01;
    const struct {
        const char* what;
        std::string publicKey, data, signature;
        bool verifies;
    } cases[] = {
        {"the signed bytes", key.PublicText(), manifest, good, true},
        {"nothing, signed", key.PublicText(), "", key.Sign(""), true},
        {"one byte changed", key.PublicText(), changed, good, false},
        {"a byte appended", key.PublicText(), manifest + "\n", good, false},
        {"the last byte dropped", key.PublicText(), manifest.substr(0, manifest.size() - 1), good,
         false},
        {"verified with another key", other.PublicText(), manifest, good, false},
        {"signed by another key", key.PublicText(), manifest, other.Sign(manifest), false},
        {"CryptoAPI's own byte order", key.PublicText(), manifest, key.SignLittleEndian(manifest),
         false},
        {"one bit of the signature flipped", key.PublicText(), manifest, flipped, false},
        {"an empty signature", key.PublicText(), manifest, "", false},
        {"a byte short", key.PublicText(), manifest, good.substr(1), false},
        {"a byte over", key.PublicText(), manifest, good + '\0', false},
        {"all zero", key.PublicText(), manifest, std::string(384, '\0'), false},
        {"all ones", key.PublicText(), manifest, std::string(384, '\xff'), false},
        {"an HTML error page", key.PublicText(), manifest, "<html>404</html>", false},
        {"no key", "", manifest, good, false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(VerifyManifestSignature(c.publicKey, c.data, c.signature), c.verifies) << c.what;
}

TEST(ManifestSignatureTest, OnlyWellFormedPublicSignatureKeysAreRead) {
    const TestKey key(2048), weak(1024); // the shortest accepted, and one below it
    const std::string good = key.PublicText();
    std::string badChar = good, otherKind = key.PublicBlob(), exchange = key.PublicBlob();
    badChar[100] = '!';
    otherKind[0] = PRIVATEKEYBLOB;
    const ALG_ID keyExchange = CALG_RSA_KEYX;
    std::memcpy(&exchange[4], &keyExchange, sizeof(keyExchange));
    const struct {
        const char* what;
        std::string text;
        bool read;
    } cases[] = {
        {"as printed", good, true},
        {"empty", "", false},
        {"a leading blank", " " + good, false},
        {"a line break inside", good.substr(0, 64) + "\r\n" + good.substr(64), false},
        {"a character outside base64", badChar, false},
        {"one character short", good.substr(1), false},
        {"four characters short (a shorter blob)", good.substr(0, good.size() - 4), false},
        {"padding where it cannot be", "=" + good.substr(1), false},
        {"a byte appended to the blob", Base64(key.PublicBlob() + '\0'), false},
        {"the private blob", Base64(key.Export(PRIVATEKEYBLOB)), false},
        {"another kind of blob", Base64(otherKind), false},
        {"a key-exchange key", Base64(exchange), false},
        {"1024 bits", weak.PublicText(), false},
        {"base64 of text", "UHVibGljS2V5", false},
    };
    for (const auto& c : cases) {
        std::vector<BYTE> blob;
        EXPECT_EQ(DecodePublicKey(c.text, blob), c.read) << c.what;
        // A key that is not read verifies nothing, even the right signature.
        EXPECT_EQ(VerifyManifestSignature(c.text, kManifest, key.Sign(kManifest)), c.read)
            << c.what;
    }
}

// Known SHA-256 values (FIPS 180-2 examples, and the empty file); the million bytes take many
// reads. A file that another program holds open for writing is not read, as for the MD5.
TEST(ManifestSignatureTest, FileSha256MatchesKnownValues) {
    InstallFolder folder{"sha256"};
    const struct {
        std::string content, sha256;
    } cases[] = {
        {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
        {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
         "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
        {std::string(1000000, 'a'),
         "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
    };
    const std::string path = folder / "file.dat";
    for (const auto& c : cases) {
        ASSERT_TRUE(WriteWholeFile(path, c.content));
        std::string hex;
        EXPECT_TRUE(FileSha256(path.c_str(), hex));
        EXPECT_EQ(hex, c.sha256);
        EXPECT_TRUE(FileMatchesSha256(path.c_str(), c.sha256));
    }
    std::string upper = cases[3].sha256, hex;
    std::transform(upper.begin(), upper.end(), upper.begin(), ::toupper);
    EXPECT_FALSE(FileMatchesSha256(path.c_str(), upper)); // the manifest's form only
    EXPECT_FALSE(FileMatchesSha256(path.c_str(), cases[3].sha256.substr(1)));
    EXPECT_FALSE(FileMatchesSha256(path.c_str(), cases[0].sha256));
    EXPECT_FALSE(FileSha256((folder / "missing.dat").c_str(), hex));
    EXPECT_FALSE(FileSha256(folder.Path().c_str(), hex));
    HANDLE writer = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(writer, INVALID_HANDLE_VALUE);
    EXPECT_FALSE(FileMatchesSha256(path.c_str(), cases[3].sha256));
    CloseHandle(writer);
}
