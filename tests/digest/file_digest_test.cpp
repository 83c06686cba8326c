#include "digest/file_digest.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <wincrypt.h>
#include <windows.h>

using testsupport::InstallFolder;
using testsupport::WriteWholeFile;

namespace {

// The same digest from Windows' CryptoAPI, as lower-case hexadecimal text.
std::string ReferenceMd5(const std::string& bytes) {
    HCRYPTPROV provider = 0;
    HCRYPTHASH hash = 0;
    BYTE value[16];
    DWORD size = sizeof value;
    std::string text = "no reference";
    if (CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT) &&
        CryptCreateHash(provider, CALG_MD5, 0, 0, &hash) &&
        CryptHashData(hash, reinterpret_cast<const BYTE*>(bytes.data()),
                      static_cast<DWORD>(bytes.size()), 0) &&
        CryptGetHashParam(hash, HP_HASHVAL, value, &size, 0)) {
        text.clear();
        for (BYTE b : value)
            text += {"0123456789abcdef"[b >> 4], "0123456789abcdef"[b & 15]};
    }
    if (hash)
        CryptDestroyHash(hash);
    if (provider)
        CryptReleaseContext(provider, 0);
    return text;
}

// Deterministic bytes with no short period (xorshift32).
std::string PatternBytes(size_t size, DWORD x) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string DigestInPieces(const std::string& bytes, size_t piece) {
    CFileDigest context;
    for (size_t done = 0; done < bytes.size(); done += piece) {
        const size_t n = bytes.size() - done < piece ? bytes.size() - done : piece;
        context.Update(reinterpret_cast<const BYTE*>(bytes.data() + done), static_cast<DWORD>(n));
    }
    return context.Final().GetString();
}

// Digests the bytes as a file and through Update in pieces: the result must be `expected`.
void ExpectDigest(const std::string& path, const std::string& bytes, const std::string& expected) {
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    EXPECT_EQ(CFileDigest::DigestFile(path.c_str()).GetString(), expected) << path;
    for (size_t piece : {1, 63, 1000}) // partial blocks carried between calls
        EXPECT_EQ(DigestInPieces(bytes, piece), expected) << path << " in pieces of " << piece;
}

} // namespace

TEST(FileDigest, RfcSuite) {
    InstallFolder folder("digest");
    // The empty message's digest starts with the bytes 0x00, 0x04, 0x09: leading zeros stay.
    const char* const suite[][2] = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (const auto& c : suite)
        ExpectDigest(folder / ("rfc" + std::to_string(&c - suite)), c[0], c[1]);
}

TEST(FileDigest, BlockAndReadBoundariesAndMebibytesMatchWindowsMd5) {
    InstallFolder folder("digest");
    for (size_t size :
         {0, 55, 56, 63, 64, 65, 1023, 1024, 1025, 65535, 65536, 65537, 3 * 1024 * 1024 + 777}) {
        const std::string bytes = PatternBytes(size, static_cast<DWORD>(size) * 2654435761u + 1);
        ExpectDigest(folder / ("size" + std::to_string(size)), bytes, ReferenceMd5(bytes));
    }
}

TEST(FileDigest, ReadersMayShareButAWriterMakesTheOpenThrow) {
    InstallFolder folder("digest");
    const std::string shared = folder / "shared.bin", written = folder / "written.bin";
    ASSERT_TRUE(WriteWholeFile(shared, "abc") && WriteWholeFile(written, "abc"));
    ASSERT_TRUE(CreateDirectoryA((folder / "folder").c_str(), nullptr));
    using Handle = std::unique_ptr<void, decltype(&CloseHandle)>;
    const Handle reader(CreateFileA(shared.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr),
                        &CloseHandle);
    const Handle writer(CreateFileA(written.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, 0, nullptr),
                        &CloseHandle);
    ASSERT_NE(reader.get(), INVALID_HANDLE_VALUE);
    ASSERT_NE(writer.get(), INVALID_HANDLE_VALUE);
    EXPECT_STREQ(CFileDigest::DigestFile(shared.c_str()), "900150983cd24fb0d6963f7d28e17f72");

    const std::pair<std::string, int> refused[] = {
        {written, CFileException::sharingViolation},
        {folder / "missing.bin", CFileException::fileNotFound},
        {folder / "folder", -1}, // any cause
    };
    for (const auto& c : refused) {
        try {
            CFileDigest::DigestFile(c.first.c_str());
            ADD_FAILURE() << c.first << " was digested";
        } catch (CFileException* e) {
            EXPECT_TRUE(c.second < 0 || e->m_cause == c.second) << c.first << ": " << e->m_cause;
            e->Delete();
        }
    }
}
