#include "digest/file_digest.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <string>
#include <wincrypt.h>
#include <windows.h>

using testsupport::InstallFolder;
using testsupport::WriteWholeFile;

namespace {

// Closes a file handle the test opened.
struct ScopedHandle {
    explicit ScopedHandle(HANDLE h) : h(h) {}
    ~ScopedHandle() {
        if (Valid())
            CloseHandle(h);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    bool Valid() const { return h != INVALID_HANDLE_VALUE && h != nullptr; }
    HANDLE h;
};

// The same digest from Windows' CryptoAPI, as lower-case hexadecimal text.
std::string ReferenceMd5(const std::string& bytes) {
    struct Provider {
        HCRYPTPROV h = 0;
        ~Provider() {
            if (h)
                CryptReleaseContext(h, 0);
        }
    } provider;
    struct Hash {
        HCRYPTHASH h = 0;
        ~Hash() {
            if (h)
                CryptDestroyHash(h);
        }
    } hash;
    if (!CryptAcquireContextA(&provider.h, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT))
        return "no provider";
    if (!CryptCreateHash(provider.h, CALG_MD5, 0, 0, &hash.h))
        return "no hash";
    if (!CryptHashData(hash.h, reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()), 0))
        return "hash failed";
    BYTE value[16];
    DWORD size = sizeof(value);
    if (!CryptGetHashParam(hash.h, HP_HASHVAL, value, &size, 0) || size != 16)
        return "no value";
    static const char kHex[] = "0123456789abcdef";
    std::string text;
    for (BYTE b : value) {
        text += kHex[b >> 4];
        text += kHex[b & 15];
    }
    return text;
}

// Deterministic bytes with no short period (xorshift32).
std::string PatternBytes(size_t size, DWORD seed) {
    std::string bytes(size, '\0');
    DWORD x = seed;
    for (size_t i = 0; i < size; ++i) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        bytes[i] = static_cast<char>(x >> 24);
    }
    return bytes;
}

std::string DigestOfFile(const std::string& path) {
    return CFileDigest::DigestFile(CString(path.c_str())).GetString();
}

std::string DigestInPieces(const std::string& bytes, size_t piece) {
    CFileDigest context;
    for (size_t done = 0; done < bytes.size(); done += piece) {
        const size_t n = bytes.size() - done < piece ? bytes.size() - done : piece;
        context.Update(reinterpret_cast<const BYTE*>(bytes.data() + done), static_cast<DWORD>(n));
    }
    return context.Final().GetString();
}

struct RfcCase {
    const char* message;
    const char* digest;
};

// RFC 1321, appendix A.5.
const RfcCase kRfcSuite[] = {
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

class FileDigestTest : public ::testing::Test {
protected:
    std::string PathOf(const char* name) const { return m_folder / name; }

    InstallFolder m_folder{"digest"};
};

} // namespace

TEST_F(FileDigestTest, RfcSuiteFromFilesAndInPieces) {
    int n = 0;
    for (const RfcCase& c : kRfcSuite) {
        const std::string path = PathOf(("rfc" + std::to_string(n++)).c_str());
        ASSERT_TRUE(WriteWholeFile(path, c.message));
        EXPECT_EQ(DigestOfFile(path), c.digest) << '"' << c.message << '"';
        // Byte by byte and in odd pieces: the buffer carries partial blocks between calls.
        EXPECT_EQ(DigestInPieces(c.message, 1), c.digest) << '"' << c.message << '"';
        EXPECT_EQ(DigestInPieces(c.message, 7), c.digest) << '"' << c.message << '"';
    }
}

TEST_F(FileDigestTest, TextIsLowerCaseAndKeepsLeadingZeros) {
    // The empty message's digest holds the bytes 0x00, 0x04, 0x09 and 0x08.
    const std::string path = PathOf("empty");
    ASSERT_TRUE(WriteWholeFile(path, ""));
    const CString text = CFileDigest::DigestFile(CString(path.c_str()));
    ASSERT_EQ(text.GetLength(), 32);
    EXPECT_STREQ(text, "d41d8cd98f00b204e9800998ecf8427e");
    // Every digest text is 32 characters of 0-9 and a-f, whatever the bytes.
    for (DWORD seed = 1; seed <= 64; ++seed) {
        const std::string digest = DigestInPieces(PatternBytes(seed, seed), 64);
        ASSERT_EQ(digest.size(), 32u);
        EXPECT_EQ(digest.find_first_not_of("0123456789abcdef"), std::string::npos) << digest;
    }
}

TEST_F(FileDigestTest, BlockAndReadBoundariesMatchWindowsMd5) {
    const size_t sizes[] = {0,   1,   55,  56,   57,   63,   64,   65,
                            119, 120, 128, 1023, 1024, 1025, 2048, 4097};
    for (size_t size : sizes) {
        const std::string bytes = PatternBytes(size, static_cast<DWORD>(size) * 2654435761u + 1);
        const std::string expected = ReferenceMd5(bytes);
        const std::string path = PathOf(("size" + std::to_string(size)).c_str());
        ASSERT_TRUE(WriteWholeFile(path, bytes));
        EXPECT_EQ(DigestOfFile(path), expected) << size << " bytes";
        EXPECT_EQ(DigestInPieces(bytes, 63), expected) << size << " bytes";
        EXPECT_EQ(DigestInPieces(bytes, 65), expected) << size << " bytes";
    }
}

TEST_F(FileDigestTest, SeveralMebibytesMatchWindowsMd5) {
    const std::string bytes = PatternBytes(3 * 1024 * 1024 + 777, 0x9e3779b9);
    const std::string expected = ReferenceMd5(bytes);
    const std::string path = PathOf("large.bin");
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    EXPECT_EQ(DigestOfFile(path), expected);
    EXPECT_EQ(DigestInPieces(bytes, bytes.size()), expected); // whole blocks straight from input
    EXPECT_EQ(DigestInPieces(bytes, 1000), expected);
}

TEST_F(FileDigestTest, OpenFileIsDigestedFromItsCurrentPosition) {
    const std::string bytes = PatternBytes(3000, 7);
    const std::string path = PathOf("positioned.bin");
    ASSERT_TRUE(WriteWholeFile(path, bytes));
    CFile file(path.c_str(), CFile::modeRead | CFile::shareDenyWrite | CFile::typeBinary);
    char skipped[100];
    ASSERT_EQ(file.Read(skipped, sizeof(skipped)), 100u);
    EXPECT_EQ(std::string(CFileDigest::DigestOpenFile(file)), ReferenceMd5(bytes.substr(100)));
}

TEST_F(FileDigestTest, OtherReadersAreAllowed) {
    const std::string path = PathOf("shared.bin");
    ASSERT_TRUE(WriteWholeFile(path, "abc"));
    ScopedHandle reader(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(reader.Valid());
    EXPECT_EQ(DigestOfFile(path), "900150983cd24fb0d6963f7d28e17f72");
}

TEST_F(FileDigestTest, FileThatCannotBeOpenedThrowsTheFileException) {
    struct Case {
        const char* what;
        std::string path;
        int cause;
    };
    const std::string written = PathOf("written.bin");
    ASSERT_TRUE(WriteWholeFile(written, "abc"));
    // Another handle may write: the digest's deny-write sharing cannot be granted.
    ScopedHandle writer(CreateFileA(written.c_str(), GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(writer.Valid());
    const std::string folder = PathOf("folder");
    ASSERT_TRUE(CreateDirectoryA(folder.c_str(), nullptr));

    const Case cases[] = {
        {"held open for writing", written, CFileException::sharingViolation},
        {"missing", PathOf("missing.bin"), CFileException::fileNotFound},
        {"a folder", folder, -1},
    };
    for (const Case& c : cases) {
        CFileException* caught = nullptr;
        try {
            DigestOfFile(c.path);
        } catch (CFileException* e) {
            caught = e;
        }
        ASSERT_NE(caught, nullptr) << c.what;
        if (c.cause >= 0) {
            EXPECT_EQ(caught->m_cause, c.cause) << c.what;
        }
        caught->Delete();
    }
}
