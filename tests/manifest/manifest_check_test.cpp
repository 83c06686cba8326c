#include "manifest/manifest_check.h"

#include "framework/program_info.h"
#include "manifest/installed_digests.h"
#include "tests/support/manifests.h"
#include "tests/support/replies.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace testsupport;
using Names = std::vector<std::string>;

namespace {

const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72"; // the present files hold "abc"
const char kNewSha256[] = "0123456789abcdef0123456789abcdef0123456789abcdef0123456789abcdef";

std::string Entry(const std::string& name, const std::string& size,
                  const std::string& md5 = kAbcMd5, const std::string& sha256 = "") {
    return ManifestEntry(name, size, md5, sha256);
}

const ULONGLONG kSecond = 10000000; // in a FILETIME's units

void SetWriteTime(const std::string& path, ULONGLONG time) {
    const CKernelHandle file = HoldOpen(path, FILE_WRITE_ATTRIBUTES);
    const FILETIME written = {static_cast<DWORD>(time), static_cast<DWORD>(time >> 32)};
    EXPECT_TRUE(SetFileTime(file.Get(), nullptr, nullptr, &written)) << path;
}

// The check runs where the program runs it: on a thread in a single-threaded apartment.
class ManifestCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(m_com));
        ASSERT_TRUE(CreateDirectoryA(m_install.c_str(), nullptr));
        ASSERT_TRUE(WriteWholeFile(m_install + "a.dat", "abc"));
        ASSERT_TRUE(WriteWholeFile(m_install + "数据.dat", "abc"));
        ASSERT_TRUE(WriteWholeFile(m_install + "e.dat", ""));
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override {
        if (SUCCEEDED(m_com))
            CoUninitialize();
    }

    // Runs the check from an empty queue against a manifest (and a signature reply beside it,
    // with the same query) under a URL not asked for before, so no cache answers. Without a key
    // that is exactly one GET of the manifest.
    BOOL Check(const HttpReply& manifest, const HttpReply& signature = Body("", 404),
               const std::string& publicKey = "", const char* tempDir = "temp") {
        static int s_counter = 0;
        const std::string query =
            "?" + std::to_string(GetTickCount()) + "-" + std::to_string(++s_counter);
        m_path = "/update/update.xml" + query;
        m_server.Set(m_path, manifest);
        m_server.Set("/update/update.xml.sig" + query, signature);
        const size_t before = m_server.Requests().size();
        m_files = CheckManifest(ManifestCheckRequest{m_install.c_str(),
                                                     (m_root / tempDir).c_str(),
                                                     {m_server.Url(m_path).c_str()},
                                                     publicKey.c_str()})
                      .files;
        m_total = TotalSize(m_files);
        const Names all = m_server.Requests();
        m_requests.assign(all.begin() + before, all.end());
        if (publicKey.empty()) {
            EXPECT_EQ(m_requests, Names{"GET " + m_path + " HTTP/1.1"});
        }
        return !m_files.empty();
    }

    std::string Queued() const { // names separated by spaces
        std::string names;
        for (const CUpdateFile& file : m_files) {
            names += (names.empty() ? "" : " ") + std::string(file.szRemoteName);
            EXPECT_STREQ(file.szLocalName, file.szRemoteName);
        }
        return names;
    }

    const HRESULT m_com = CoInitialize(nullptr);
    InstallFolder m_root{"manifest"}; // the installation folder and a file beside it
    std::string m_install = m_root / "install\\";
    TestHttpServer m_server;
    std::vector<CUpdateFile> m_files;
    DWORD m_total = 0;
    std::string m_path;
    Names m_requests;
};

} // namespace

TEST_F(ManifestCheckTest, QueuesMissingAndChangedFilesWithTheirSizes) {
    // Many entries, current, changed and missing in turn, each with its own size: the files
    // are digested side by side, but every decision belongs to its own entry.
    std::string many, manyQueued;
    DWORD manyTotal = 0;
    for (int i = 1; i <= 60; ++i) {
        const char* name = i % 3 == 0 ? "a.dat" : i % 3 == 1 ? "e.dat" : "gone.dat";
        many += Entry(name, std::to_string(i)); // a.dat holds "abc"; e.dat does not
        if (i % 3 != 0) {
            manyQueued += (manyQueued.empty() ? "" : " ") + std::string(name);
            manyTotal += i;
        }
    }
    const struct {
        std::string body, queued;
        DWORD total;
    } cases[] = {
        // Up to date whatever size is listed.
        {ManifestXml(Entry("a.dat", "999") +
                     Entry("e.dat", "0", "d41d8cd98f00b204e9800998ecf8427e")),
         "", 0},
        // The digest text must match exactly.
        {ManifestXml(Entry("a.dat", "1", "0cc175b9c0f1b6a831c399e269772661") +
                     Entry("a.dat", "2", "900150983CD24FB0D6963F7D28E17F72") +
                     Entry("a.dat", "4", std::string(" ") + kAbcMd5) + Entry("e.dat", "8", "")),
         "a.dat a.dat a.dat e.dat", 15},
        // Listed twice: added and counted twice; the sum wraps at 2^32.
        {ManifestXml(Entry("2.dat", "4294967295") + Entry("2.dat", "4294967295") + Entry("z", "0")),
         "2.dat 2.dat z", 4294967294u},
        // Every list counts, in document order; everything else in them is ignored.
        {kXmlDeclaration +
             ("<manifest><filelist>" + Entry("1.dat", "1") + "<note>text</note></filelist>" +
              "<filelist/><filelist extra=\"1\">" + Entry("2.dat", "2") + Entry("a.dat", "3") +
              Entry("3.dat", "4") + "</filelist></manifest>"),
         "1.dat 2.dat 3.dat", 7},
        // The manifest is UTF-8; names on disk and in the engine are code page 936 text.
        {ManifestXml(Entry(u8"数据.dat", "3") + Entry(u8"新文件.dat", "9")), "新文件.dat", 9},
        {ManifestXml(many), manyQueued, manyTotal},
    };
    for (const auto& c : cases) {
        Check(Body(c.body));
        EXPECT_EQ(Queued(), c.queued) << c.body;
        EXPECT_EQ(m_total, c.total) << c.body;
    }
}

TEST_F(ManifestCheckTest, EveryFailureIsFalseAndQueuesNothing) {
    const std::string missing = Entry("missing.dat", "10");
    Names bodies = {
        kXmlDeclaration + ("<manifest><filelist>" + missing + "</filelist>"), // unclosed
        kXmlDeclaration + ("<Manifest><filelist>" + missing + "</filelist></Manifest>"),
        kXmlDeclaration + ("<manifest>" + missing + "<filelist><group>" + missing +
                           "</group></filelist></manifest>"),
        ManifestXml("<file filesize=\"1\" fileversion=\"1\" md5=\"\"/>"),
        ManifestXml("<file filename=\"x.dat\" fileversion=\"1\" md5=\"\"/>"),
        ManifestXml("<file filename=\"x.dat\" filesize=\"1\" fileversion=\"1\"/>"),
        ManifestXml(Entry("f1.dat", "7") + "<file filename=\"f2.dat\" filesize=\"7\" md5=\"\"/>" +
                    Entry("f3.dat", "7")),
        ManifestXml(Entry("folder", "1")),
        ManifestXml(Entry("locked.dat", "1", ""))};
    for (const char* size : {"-1", "4294967296", "0x10"})
        bodies.push_back(ManifestXml(Entry("x.dat", size)));
    // A name the engine refuses; judged as files, "..\beside.dat" and "a.dat." would be up to
    // date and later.dat queued.
    for (const char* name : {"..\\beside.dat", "C:\\x.dat", "x.dat:stream",
                             "0123456789012345678901234567890.dat", "COM1.bin", "a.dat.", "a.dat "})
        bodies.push_back(ManifestXml(Entry(name, "5") + Entry("later.dat", "6")));
    for (int status : {404, 500})
        EXPECT_FALSE(Check(Body(ManifestXml(missing), status))) << status;

    ASSERT_TRUE(WriteWholeFile(m_root / "beside.dat", "abc"));
    ASSERT_TRUE(CreateDirectoryA((m_install + "folder").c_str(), nullptr));
    ASSERT_TRUE(WriteWholeFile(m_install + "locked.dat", "abc"));
    const CKernelHandle locked = HoldOpen(m_install + "locked.dat", GENERIC_READ, 0);
    ASSERT_TRUE(locked.IsValid());
    for (const std::string& body : bodies)
        EXPECT_FALSE(Check(Body(body))) << body;

    // A silent host, a stall for good after some bytes, and a trickle that would take half a
    // minute: each is a failed check within its limit (1 s of silence, 3 s in all here).
    SetEnvironmentVariableA("UPDATER_TEST_ONLY_IDLE_LIMIT_MS", "1000");
    SetEnvironmentVariableA("UPDATER_TEST_ONLY_CHECK_LIMIT_MS", "3000");
    HttpReply stalled = Body(ManifestXml(missing));
    stalled.stallAfter = 10;
    for (const HttpReply& reply : {Silent(), stalled, Trickle(ManifestXml(missing), 1, 200)}) {
        const DWORD start = GetTickCount();
        EXPECT_FALSE(Check(reply));
        EXPECT_LT(GetTickCount() - start, 4500u);
    }
}

// With a key, the manifest's exact bytes must carry its signature (fetched beside it, same query),
// every entry a well-formed sha256 (kept when queued), no serial older than one verified here,
// no past expiry. Without a key, signatures, sha256, serials and expiry are ignored as before.
TEST_F(ManifestCheckTest, ASignedManifestIsVerifiedBeforeItIsRead) {
    const std::string entries =
        Entry("a.dat", "3", kAbcMd5,
              "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad") +
        Entry("new.dat", "9", kAbcMd5, kNewSha256);
    const std::string good = ManifestXml(entries);
    std::string changed = good; // one byte: the size of new.dat, still a well-formed manifest
    changed[changed.rfind("filesize=\"9\"") + 10] = '8';
    const std::string noSha256 = ManifestXml(Entry("new.dat", "9"));
    std::string upperSha256 = kNewSha256;
    std::transform(upperSha256.begin(), upperSha256.end(), upperSha256.begin(), ::toupper);
    const std::string badSha256 = ManifestXml(Entry("new.dat", "9", kAbcMd5, upperSha256));
    std::string key;
    const std::string signature = Sign(good, &key), other = Sign(good, nullptr, true);
    const auto signedBy = [](const std::string& bytes) { return Body(Sign(bytes)); };
    auto release = [&](const std::string& attributes) { return ManifestXml(entries, attributes); };
    const struct {
        const char* what;
        std::string manifest;
        HttpReply signature;
        std::string key;
        bool queued;  // new.dat queued, with its sha256 when a key is set
        int requests; // 0: none, 1: the manifest, 2: and its signature
        const char* tempDir = "temp";
    } cases[] = {
        {"signed, no serial yet", good, Body(signature), key, true, 2},
        {"one byte changed", changed, Body(signature), key, false, 2},
        {"another key's signature", good, Body(other), key, false, 2},
        {"no signature", good, Body("not found", 404), key, false, 2},
        {"signed, an entry without sha256", noSha256, signedBy(noSha256), key, false, 2},
        {"signed, sha256 in capitals", badSha256, signedBy(badSha256), key, false, 2},
        {"a key that cannot be read", good, Body(signature), key.substr(4), false, 0},
        {"serial 2", release(" serial=\"2\""), signedBy(release(" serial=\"2\"")), key, true, 2},
        {"no serial after 2", good, Body(signature), key, false, 2},
        {"serial 3, malformed", release(" serial=\"3 \""), signedBy(release(" serial=\"3 \"")), key,
         false, 2},
        {"serial 2 again, expiring in 2100", release(" serial=\"2\" expires=\"4102444800\""),
         signedBy(release(" serial=\"2\" expires=\"4102444800\"")), key, true, 2},
        {"serial 1, another installation", release(" serial=\"1\""),
         signedBy(release(" serial=\"1\"")), key, true, 2, "temp2"},
        {"no key: as before", release(" serial=\"1\" expires=\"1\""), Body("not found", 404), "",
         true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Check(Body(c.manifest), c.signature, c.key, c.tempDir), c.queued);
        std::string sig = m_path;
        const Names both = {"GET " + m_path + " HTTP/1.1",
                            "GET " + sig.insert(sig.find('?'), ".sig") + " HTTP/1.1"};
        EXPECT_EQ(m_requests, Names(both.begin(), both.begin() + c.requests));
        EXPECT_EQ(Queued(), c.queued ? "new.dat" : "");
        if (c.queued) {
            EXPECT_STREQ(m_files[0].szSha256, c.key.empty() ? "" : kNewSha256);
        }
    }
    // The newest verified, not a refused one nor one read without a key. (The whole program's
    // runs show an older and an expired release refused.)
    EXPECT_EQ(ReadWholeFile(m_root / "temp\\release.serial"), "2\r\n");
    EXPECT_EQ(ReadWholeFile(m_root / "temp2\\release.serial"), "1\r\n");
}

// The digest cache spares a file only while its stamp (size, write time, identity) is as recorded,
// the record was made well after the write, and the last full check is under 7 days old; a cache
// not whole is not used. Each case checks, changes a.dat behind the updater's back, checks again.
TEST_F(ManifestCheckTest, TheDigestCacheSparesOnlyFilesWhoseStampIsUnchanged) {
    const std::string temp = m_root / "temp", cachePath = temp + "\\digests.cache";
    const std::string a = m_install + "a.dat",
                      manifest = ManifestXml(Entry(u8"数据.dat", "3") + Entry("a.dat", "3"));
    ASSERT_TRUE(CreateDirectoryA(temp.c_str(), nullptr));
    enum Cache { Kept, Aged, Flipped, Torn, Foreign, Folder };
    // a.dat written over with its time given back, or with another old time; or another file
    // with the old time put in its place.
    enum Change { InPlace, OtherTime, OtherFile };
    const struct {
        const char* what;
        ULONGLONG age;       // of a.dat's write time when first checked, 0: written just then
        const char* content; // a.dat's new content
        Change change;
        Cache cache;
        bool fetched;
    } cases[] = {
        // What the cache trusts: content changed with size and time kept goes unseen...
        {"size and time kept", 3600, "xyz", InPlace, Kept, false},
        // ...but not when a.dat was written too close to the check, or after the period.
        {"written just before the check", 0, "xyz", InPlace, Kept, true},
        {"the full check after 7 days", 3600, "xyz", InPlace, Aged, true},
        {"another write time", 3600, "xyz", OtherTime, Kept, true},
        {"the old time, a new size", 3600, "abcd", InPlace, Kept, true},
        {"another file, size and time kept", 3600, "xyz", OtherFile, Kept, true},
        {"a byte of the cache changed", 3600, "xyz", InPlace, Flipped, true},
        {"the cache cut short", 3600, "xyz", InPlace, Torn, true},
        {"a file not ours", 3600, "xyz", InPlace, Foreign, true},
        {"a folder in its place", 3600, "xyz", InPlace, Folder, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        DeleteFileA(cachePath.c_str());
        RemoveDirectoryA(cachePath.c_str());
        ASSERT_TRUE(WriteWholeFile(a, "abc"));
        const ULONGLONG written = FileTimeNow() - c.age * kSecond;
        SetWriteTime(a, written);
        EXPECT_FALSE(Check(Body(manifest)));
        const std::string changed = c.change == OtherFile ? m_root / "other.dat" : a;
        ASSERT_TRUE(WriteWholeFile(changed, c.content));
        SetWriteTime(changed, c.change == OtherTime ? written - 60 * kSecond : written);
        ASSERT_TRUE(changed == a ||
                    MoveFileExA(changed.c_str(), a.c_str(), MOVEFILE_REPLACE_EXISTING));
        std::string bytes = ReadWholeFile(cachePath);
        ASSERT_GT(bytes.size(), 100u);
        if (c.cache == Aged) {
            CDigestCache cache(temp.c_str());
            ASSERT_EQ(cache.Load(), CDigestCache::Loaded::Whole);
            cache.m_lastFullCheck -= 7 * 24 * 3600 * kSecond;
            ASSERT_TRUE(cache.Save());
        } else if (c.cache == Folder) {
            ASSERT_TRUE(DeleteFileA(cachePath.c_str()));
            ASSERT_TRUE(CreateDirectoryA(cachePath.c_str(), nullptr));
        } else if (c.cache != Kept) {
            if (c.cache == Flipped) // the last letter of the last name: a.dat's record stays
                bytes[bytes.size() - 41] ^= 1;
            else
                bytes = c.cache == Torn ? bytes.substr(0, bytes.size() - 9) : "[Download]\r\n";
            ASSERT_TRUE(WriteWholeFile(cachePath, bytes));
        }
        EXPECT_EQ(Check(Body(manifest)), c.fetched);
        EXPECT_EQ(Queued(), c.fetched ? "a.dat" : "");
    }

    // An installation records each file placed with the digests its download was checked
    // against, but not the updater's own file, placed beside itself, nor one without an md5.
    ASSERT_TRUE(RemoveDirectoryA(cachePath.c_str()));
    const CString program = ProgramPath();
    const char* own = PathFindFileNameA(program);
    std::vector<CUpdateFile> placed(3);
    ASSERT_TRUE(MakeUpdateFile("new.dat", nullptr, "22AF645D1859CB5CA6DA0C484F1F37EA", kNewSha256,
                               3, placed[0]));
    ASSERT_TRUE(MakeUpdateFile(own, nullptr, kAbcMd5, "", 3, placed[1]));
    ASSERT_TRUE(MakeUpdateFile("a.dat", nullptr, "", "", 3, placed[2]));
    for (const char* name : {"new.dat", own}) {
        ASSERT_TRUE(WriteWholeFile(m_install + name, "new"));
        SetWriteTime(m_install + name, FileTimeNow() - 3600 * kSecond);
    }
    RecordInstalledFiles(m_install.c_str(), temp.c_str(), placed);
    CDigestCache cache(temp.c_str());
    ASSERT_EQ(cache.Load(), CDigestCache::Loaded::Whole);
    const DigestRecord* record = cache.Find("new.dat");
    ASSERT_NE(record, nullptr);
    EXPECT_STREQ(record->md5, "22af645d1859cb5ca6da0c484f1f37ea");
    EXPECT_STREQ(record->sha256, kNewSha256);
    EXPECT_EQ(cache.Find(own), nullptr);
    EXPECT_EQ(cache.Find("a.dat"), nullptr);
    // A signed manifest's sha256 must also match the one the cache knows: new.dat's true one
    // differs from the recorded kNewSha256, so new.dat is fetched, though its md5 is right. (A
    // cache that an installation began is due for a full check, which would hash new.dat.)
    cache.m_lastFullCheck = FileTimeNow();
    ASSERT_TRUE(cache.Save());
    for (const char* sha256 :
         {kNewSha256, "11507a0e2f5e69d5dfa40a62a1bd7b6ee57e6bcd85c67c9b8431b36fff21c437"}) {
        const std::string signedManifest =
            ManifestXml(Entry("new.dat", "3", "22af645d1859cb5ca6da0c484f1f37ea", sha256));
        std::string key;
        const std::string signature = Sign(signedManifest, &key);
        EXPECT_EQ(Check(Body(signedManifest), Body(signature), key), sha256 != kNewSha256);
    }
}
