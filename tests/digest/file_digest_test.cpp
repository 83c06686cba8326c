#include "digest/file_digest.h"
#include "digest/file_sha256.h"

#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

// The digest of bytes from Windows' CryptoAPI, as lower-case hexadecimal text.
std::string Reference(ALG_ID algorithm, const std::string& bytes) {
    CCryptProv provider;
    CCryptHash hash; // destroyed before its context
    BYTE value[32];
    DWORD size = sizeof value;
    if (!provider.AcquireVerifyContext() || !hash.Create(provider.Get(), algorithm) ||
        !CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(bytes.data()),
                       static_cast<DWORD>(bytes.size()), 0) ||
        !CryptGetHashParam(hash.Get(), HP_HASHVAL, value, &size, 0))
        return "no reference";
    std::string text;
    for (DWORD i = 0; i < size; ++i)
        text += {"0123456789abcdef"[value[i] >> 4], "0123456789abcdef"[value[i] & 15]};
    return text;
}

} // namespace

// Known MD5s, then sizes around the 64-byte block and the file reads, up to mebibytes, against
// Windows' MD5 and SHA-256: each as a file, the MD5 also through Update in pieces (partial blocks
// carried over). A SHA-256 matches only in the manifest's form, lower-case.
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
        cases.emplace_back(bytes, Reference(CALG_MD5, bytes));
    }
    for (const auto& c : cases) {
        const std::string path = folder / ("case" + std::to_string(&c - &cases[0]));
        ASSERT_TRUE(WriteWholeFile(path, c.first));
        EXPECT_EQ(CFileDigest::DigestFile(path.c_str()).GetString(), c.second) << path;
        std::string sha256, upper;
        EXPECT_TRUE(FileSha256(path.c_str(), sha256));
        EXPECT_EQ(sha256, Reference(CALG_SHA_256, c.first)) << path;
        EXPECT_TRUE(FileMatchesSha256(path.c_str(), sha256));
        std::transform(sha256.begin(), sha256.end(), std::back_inserter(upper), ::toupper);
        EXPECT_FALSE(FileMatchesSha256(path.c_str(), upper));
        for (size_t piece : {1, 63, 1000}) {
            CFileDigest context;
            for (size_t done = 0; done < c.first.size(); done += piece)
                context.Update(reinterpret_cast<const BYTE*>(c.first.data() + done),
                               static_cast<DWORD>(std::min(piece, c.first.size() - done)));
            EXPECT_EQ(context.Final().GetString(), c.second) << path << " in pieces of " << piece;
        }
    }
}

// Neither digest is taken of a file that another program holds open for writing.
TEST(FileDigest, ReadersMayShareButAWriterMakesTheOpenThrow) {
    InstallFolder folder("digest");
    const std::string shared = folder / "shared.bin", written = folder / "written.bin";
    ASSERT_TRUE(WriteWholeFile(shared, "abc") && WriteWholeFile(written, "abc"));
    ASSERT_TRUE(CreateDirectoryA((folder / "folder").c_str(), nullptr));
    const CKernelHandle reader = HoldOpen(shared), writer = HoldOpen(written, GENERIC_WRITE);
    ASSERT_TRUE(reader.IsValid() && writer.IsValid());
    EXPECT_STREQ(CFileDigest::DigestFile(shared.c_str()), "900150983cd24fb0d6963f7d28e17f72");

    const std::pair<std::string, int> refused[] = {
        {written, CFileException::sharingViolation},
        {folder / "missing.bin", CFileException::fileNotFound},
        {folder / "folder", -1}, // any cause
    };
    for (const auto& c : refused) {
        std::string sha256;
        EXPECT_FALSE(FileSha256(c.first.c_str(), sha256)) << c.first;
        try {
            CFileDigest::DigestFile(c.first.c_str());
            ADD_FAILURE() << c.first << " was digested";
        } catch (CFileException* e) {
            EXPECT_TRUE(c.second < 0 || e->m_cause == c.second) << c.first << ": " << e->m_cause;
            e->Delete();
        }
    }
}
