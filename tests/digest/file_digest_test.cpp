#include "digest/file_digest.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>
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

} // namespace

// Known digests, then sizes around the 64-byte block and the file reads, up to mebibytes, against
// Windows' MD5: each as a file and through Update in pieces (partial blocks carried over).
TEST(FileDigest, KnownDigestsAndBoundariesAsFileAndInPieces) {
    InstallFolder folder("digest");
    std::vector<std::pair<std::string, std::string>> cases = {
        {"", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "0cc175b9c0f1b6a831c399e269772661"}, // leading zeros stay
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
    };
    for (size_t size : {55, 56, 63, 64, 65, 1023, 1024, 1025, 65535, 65536, 65537, 3145728 + 777}) {
        std::string bytes(size, '\0');
        DWORD x = static_cast<DWORD>(size) * 2654435761u + 1; // xorshift32: no short period
        for (char& c : bytes) {
            x ^= x << 13, x ^= x >> 17, x ^= x << 5;
            c = static_cast<char>(x >> 24);
        }
        cases.emplace_back(bytes, ReferenceMd5(bytes));
    }
    for (const auto& c : cases) {
        const std::string path = folder / ("case" + std::to_string(&c - &cases[0]));
        ASSERT_TRUE(WriteWholeFile(path, c.first));
        EXPECT_EQ(CFileDigest::DigestFile(path.c_str()).GetString(), c.second) << path;
        for (size_t piece : {1, 63, 1000}) {
            CFileDigest context;
            for (size_t done = 0; done < c.first.size(); done += piece)
                context.Update(reinterpret_cast<const BYTE*>(c.first.data() + done),
                               static_cast<DWORD>(std::min(piece, c.first.size() - done)));
            EXPECT_EQ(context.Final().GetString(), c.second) << path << " in pieces of " << piece;
        }
    }
}

TEST(FileDigest, ReadersMayShareButAWriterMakesTheOpenThrow) {
    InstallFolder folder("digest");
    const std::string shared = folder / "shared.bin", written = folder / "written.bin";
    ASSERT_TRUE(WriteWholeFile(shared, "abc") && WriteWholeFile(written, "abc"));
    ASSERT_TRUE(CreateDirectoryA((folder / "folder").c_str(), nullptr));
    const HANDLE reader = CreateFileA(shared.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr),
                 writer = CreateFileA(written.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr,
                                      OPEN_EXISTING, 0, nullptr);
    ASSERT_TRUE(reader != INVALID_HANDLE_VALUE && writer != INVALID_HANDLE_VALUE);
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
    CloseHandle(reader);
    CloseHandle(writer);
}
