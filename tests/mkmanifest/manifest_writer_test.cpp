// mkmanifest.exe run as a publisher runs it: the updater's own check reads what it writes, a
// signed release verifies under the key it printed, a refusal fails the run and writes nothing.
#include "manifest/block_index.h"
#include "manifest/manifest_check.h"
#include "manifest/manifest_signature.h"
#include "tests/support/replies.h"
#include "tests/support/test_files.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <windows.h>

#include <ctime>
#include <regex>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

using Names = std::vector<std::string>;

class ManifestWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        ASSERT_TRUE(m_server.Start());
        ASSERT_TRUE(CreateDirectoryA(m_release.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA((m_release + "\\sub").c_str(), nullptr));
    }
    void TearDown() override { CoUninitialize(); }
    void Put(const std::string& name, const std::string& content) {
        ASSERT_TRUE(WriteWholeFile(m_release + "\\" + name, content)) << name;
    }
    std::string Manifest() const { return ReadWholeFile(m_release + "\\update.xml"); }
    bool NoTemporaries() const {
        return !Exists(m_release + "\\update.xml.tmp") &&
               !Exists(m_release + "\\update.xml.sig.tmp");
    }
    // The updater's check of an installation against the served update.xml (and the signature
    // beside it, with a key); fills m_queued and m_total.
    BOOL Check(const std::string& installDir, const std::string& publicKey = "") {
        m_server.Set("/update.xml", Body(Manifest()));
        m_server.Set("/update.xml.sig", Body(ReadWholeFile(m_release + "\\update.xml.sig")));
        const std::vector<CUpdateFile> files =
            CheckManifest(ManifestCheckRequest{installDir.c_str(),
                                               (m_root / "temp").c_str(),
                                               {m_server.Url("/update.xml").c_str()},
                                               publicKey.c_str()})
                .files;
        m_total = TotalSize(files);
        m_queued.clear();
        for (const CUpdateFile& file : files)
            m_queued.push_back(file.szRemoteName);
        return !files.empty();
    }
    // Runs the tool on the release folder (given with a trailing backslash, which it drops);
    // its exit code, with stdout and stderr in m_output.
    int RunTool(const std::string& version, const std::string& options = "") {
        return Run(options + "\"" + m_release + "\\\\\" \"" + version + "\"");
    }
    int Run(const std::string& arguments) {
        SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
        HANDLE out = CreateFileA((m_root / "out.txt").c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                 &inherit, CREATE_ALWAYS, 0, nullptr);
        PROCESS_INFORMATION info = {};
        DWORD code = 12345; // not started
        if (StartProgram("\"" + WinePath(MKMANIFEST_EXE_UNIX) + "\" " + arguments, info, "", out)) {
            WaitForSingleObject(info.hProcess, INFINITE);
            GetExitCodeProcess(info.hProcess, &code);
            CloseHandle(info.hThread);
            CloseHandle(info.hProcess);
        }
        CloseHandle(out);
        m_output = ReadWholeFile(m_root / "out.txt");
        return static_cast<int>(code);
    }

    InstallFolder m_root{"mkmanifest"}, m_empty{"mkmanifest-empty"};
    std::string m_release = m_root / "release";
    std::string m_output;
    TestHttpServer m_server;
    DWORD m_total = 0;
    Names m_queued;
};

// Awkward names (escaped in the XML), a Chinese one (UTF-8 in the file, ANSI in the updater),
// subfolders and the longest name survive the trip: an empty installation queues every file, the
// release is up to date. A 1 MiB file gets a block index, no file of the release at the next run.
TEST_F(ManifestWriterTest, UpdatersCheckReadsWhatTheToolWrites) {
    const char kChinese[] = "数据.txt";
    const char kLongest[] = "abcdefghijklmnopqrstuvwxyz01.da"; // 31 characters
    Put("a.dat", std::string(1 << 20, 'a'));
    Put("empty.dat", "");
    Put("sub\\b.dat", "bee");
    Put("R&D's.dat", "ampersand and apostrophe");
    Put(kChinese, "中文内容");
    Put(kLongest, "long name");
    Put("sub\\update.xml", "only the top folder's manifest is the manifest");
    Put("update.xml", "an older manifest, replaced");
    Put("update.xml.tmp", "left over from an interrupted run");

    ASSERT_EQ(RunTool("1.9"), 0) << m_output;
    ASSERT_EQ(RunTool("2.0 \\\"beta\\\" <R&D>"), 0) << m_output;
    EXPECT_NE(m_output.find("7 files, version 2.0 \"beta\" <R&D>"), std::string::npos) << m_output;
    CBlockIndex index;
    EXPECT_TRUE(index.Parse(ReadWholeFile(m_release + "\\a.dat.blocks")));
    EXPECT_EQ(index.FileSize(), 1u << 20);
    EXPECT_NE(Manifest().find(" blocks=\"a.dat.blocks\" blocksmd5=\""), std::string::npos);
    EXPECT_EQ(Manifest().find("blocks=\"empty.dat"), std::string::npos);
    // A non-ASCII name goes on the wire as its ANSI bytes: the publisher is told, of it alone.
    EXPECT_NE(m_output.find(std::string("warning: ") + kChinese + " is not plain ASCII"),
              std::string::npos)
        << m_output;
    EXPECT_EQ(m_output.find("warning:"), m_output.rfind("warning:")) << m_output;
    EXPECT_NE(Manifest().find("    <file filename=\"R&amp;D&apos;s.dat\" filesize=\"24\" "
                              "fileversion=\"2.0 &quot;beta&quot; &lt;R&amp;D&gt;\" md5=\""),
              std::string::npos)
        << Manifest();
    EXPECT_TRUE(NoTemporaries());

    ASSERT_TRUE(Check(m_empty.Path()));
    EXPECT_EQ(m_queued, (Names{"a.dat", kLongest, "empty.dat", "R&D's.dat", "sub\\b.dat",
                               "sub\\update.xml", kChinese}));
    EXPECT_EQ(m_total, (1u << 20) + 9u + 0u + 24u + 3u + 46u + 8u);
    EXPECT_FALSE(Check(m_release + "\\"));
}

// One key made by the tool signs the release: the signature verifies under the printed public
// key, the manifest carries each file's SHA-256 and otherwise is the plain one, byte for byte,
// and the updater's check reads it. An existing key is never replaced.
TEST_F(ManifestWriterTest, SignedReleaseVerifiesUnderThePrintedKey) {
    const std::string key = m_root / "publisher.key";
    Put("a.dat", "abc");
    Put("sub\\empty.dat", "");
    ASSERT_EQ(Run("--new-key \"" + key + "\""), 0) << m_output;
    const std::string publicKey = m_output.substr(0, m_output.find_first_of("\r\n"));
    std::vector<BYTE> blob;
    ASSERT_TRUE(DecodePublicKey(publicKey, blob)) << m_output;
    EXPECT_EQ(blob.size(), 8u + 12u + 3072u / 8); // headers and a 3072-bit modulus
    const std::string privateKey = ReadWholeFile(key);
    EXPECT_NE(Run("--new-key \"" + key + "\""), 0);
    EXPECT_NE(m_output.find("already exists"), std::string::npos) << m_output;
    EXPECT_EQ(ReadWholeFile(key), privateKey);

    Put("update.xml.sig", "a stale signature, replaced and not listed");
    const time_t before = time(nullptr);
    ASSERT_EQ(RunTool("2.0", "--sign \"" + key + "\" "), 0) << m_output;
    const time_t after = time(nullptr);
    EXPECT_NE(m_output.find("update.xml and update.xml.sig: 2 files"), std::string::npos)
        << m_output;
    const std::string signedXml = Manifest();
    std::smatch serial; // the signing time unless given
    ASSERT_TRUE(std::regex_search(signedXml, serial, std::regex("<manifest serial=\"(\\d+)\">")));
    EXPECT_GE(std::stoll(serial[1]), before);
    EXPECT_LE(std::stoll(serial[1]), after);
    EXPECT_TRUE(VerifyManifestSignature(publicKey, signedXml,
                                        ReadWholeFile(m_release + "\\update.xml.sig")));
    EXPECT_NE(signedXml.find("md5=\"900150983cd24fb0d6963f7d28e17f72\" sha256=\"ba7816bf8f01cfea"
                             "414140de5dae2223b00361a396177a9cb410ff61f20015ad\"/>"),
              std::string::npos)
        << signedXml;
    EXPECT_TRUE(NoTemporaries());
    ASSERT_TRUE(Check(m_empty.Path(), publicKey));
    EXPECT_EQ(m_queued, (Names{"a.dat", "sub\\empty.dat"}));
    // An expiry of 0 days has passed when the updater reads it; one day has not.
    for (const char* days : {"1", "0"}) {
        ASSERT_EQ(RunTool("2.0", "--sign \"" + key + "\" --serial 9000000000 --expires-days " +
                                     days + " "),
                  0)
            << m_output;
        EXPECT_TRUE(std::regex_search(
            Manifest(), std::regex("<manifest serial=\"9000000000\" expires=\"\\d+\">")));
        EXPECT_EQ(Check(m_empty.Path(), publicKey), *days == '1') << days;
    }

    ASSERT_EQ(RunTool("2.0"), 0) << m_output;
    EXPECT_EQ(
        Manifest(),
        std::regex_replace(signedXml, std::regex(" sha256=\"[0-9a-f]{64}\"| serial=\"\\d+\""), ""));
}

// A name the updater would refuse, one the ANSI code page cannot hold, a size beyond 32 bits, a
// key that is missing, not a private key, or inside the release folder: the tool fails naming
// the offender only, writes no temporary, and the published manifest and signature stay.
TEST_F(ManifestWriterTest, RefusalsWriteNothing) {
    Put("fine.dat", "fine");
    Put("update.xml", "the published manifest");
    Put("update.xml.sig", "the published signature");
    ASSERT_TRUE(WriteWholeFile(m_root / "not-a-key.bin", "not a key"));
    const struct {
        const wchar_t* name; // made in the release folder for the run, or none
        unsigned long long size;
        std::string key; // --sign with this file, or plain
        const char* expected;
    } cases[] = {
        {L"abcdefghijklmnopqrstuvwxyz01.dat", 1, "", "xyz01.dat: the name is 32 characters long"},
        {L"sub\\abcdefghijklmnopqrstuvwx.dat", 1, "", "uvwx.dat: the name is 32 characters long"},
        {L"\x0e01\x0e02.dat", 1, "", "cannot be written in the system's code page"},
        {L"huge.dat", 1ull << 32, "", "huge.dat: 4 GiB or larger"},
        {nullptr, 0, m_root / "missing.key", "cannot read the key file"},
        {nullptr, 0, m_root / "not-a-key.bin", "is not a private key"},
        {L"sub\\publisher.key", 9, m_release + "\\sub\\publisher.key", "inside the release folder"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        const std::wstring path =
            std::wstring(m_release.begin(), m_release.end()) + L"\\" + (c.name ? c.name : L"");
        if (c.name) {
            HANDLE file =
                CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            ASSERT_NE(file, INVALID_HANDLE_VALUE);
            LARGE_INTEGER end;
            end.QuadPart = static_cast<LONGLONG>(c.size);
            SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
            SetEndOfFile(file); // sparse: nothing is read before the refusal
            CloseHandle(file);
        }
        EXPECT_NE(RunTool("3.0", c.key.empty() ? "" : "--sign \"" + c.key + "\" "), 0);
        EXPECT_NE(m_output.find(c.expected), std::string::npos) << m_output;
        EXPECT_EQ(m_output.find("fine.dat"), std::string::npos) << m_output;
        EXPECT_EQ(Manifest(), "the published manifest");
        EXPECT_EQ(ReadWholeFile(m_release + "\\update.xml.sig"), "the published signature");
        EXPECT_TRUE(NoTemporaries());
        if (c.name)
            DeleteFileW(path.c_str());
    }
}

// A published site checked as the updater fetches it: sound, or one line naming each problem;
// a usage error (also a malformed option of --sign) exits 2.
TEST_F(ManifestWriterTest, VerifyNamesEveryProblemOfAPublishedSite) {
    const std::string key = m_root / "publisher.key", chinese = "数据.txt";
    const std::vector<std::pair<std::string, std::string>> files = {
        {"a.dat", "the first file of the release"},
        {"b.dat", "the second file of the release"},
        {chinese, "the third file, with a Chinese name"}};
    for (const auto& file : files)
        Put(file.first, file.second);
    ASSERT_EQ(Run("--new-key \"" + key + "\""), 0) << m_output;
    const std::string publicKey = m_output.substr(0, m_output.find_first_of("\r\n"));
    ASSERT_EQ(RunTool("2.0", "--sign \"" + key + "\" --expires-days 0 "), 0) << m_output;
    const std::string expired = Manifest(),
                      expiredSig = ReadWholeFile(m_release + "\\update.xml.sig");
    ASSERT_EQ(RunTool("2.0", "--sign \"" + key + "\" "), 0) << m_output;
    const std::string manifest = Manifest(),
                      signature = ReadWholeFile(m_release + "\\update.xml.sig");
    enum Site { Signed, Unsigned, OtherSignature, Expired };
    const struct {
        const char* what;
        Site site;
        std::vector<std::pair<std::string, HttpReply>> served; // instead of the release's files
        Names expected; // "is sound" (exit 0), or each problem (exit 1)
    } cases[] = {
        {"sound", Signed, {}, {"is sound"}},
        {"sound, unsigned", Unsigned, {}, {"is sound"}},
        {"one missing, one stale, one cut short (slow enough for the progress line)",
         Signed,
         {{"a.dat", Body("", 404)},
          {"b.dat", Body("the SECOND file of the release")},
          {chinese, Trickle("the third", 1, 150)}},
         {"a.dat: missing: HTTP status 404\r\n", "b.dat: wrong digest: md5 ",
          chinese + ": wrong size: the site sends 9 bytes, the manifest lists 35",
          "mkmanifest: checking 3 of 3, " + chinese, "3 problem(s) found"}},
        {"a non-ASCII name answering 404",
         Signed,
         {{chinese, Body("", 404)}},
         {chinese + ": missing: HTTP status 404; the name is not plain ASCII"}},
        {"another manifest's signature",
         OtherSignature,
         {},
         {"update.xml: signature: not PublicKey's signature of the manifest"}},
        {"expired", Expired, {}, {"update.xml: expired at "}},
    };
    const std::string site = m_server.Url("/site");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        m_server.SetPrefix("/site/update/update.xml?",
                           Body(c.site == Expired ? expired : manifest));
        m_server.SetPrefix("/site/update/update.xml.sig?", Body(c.site == Signed     ? signature
                                                                : c.site == Unsigned ? ""
                                                                                     : expiredSig));
        for (const auto& file : files)
            m_server.Set("/site/update/" + file.first, Body(file.second));
        for (const auto& file : c.served)
            m_server.Set("/site/update/" + file.first, file.second);
        EXPECT_EQ(Run("--verify " + site + " " + (c.site == Unsigned ? "" : publicKey)),
                  c.expected[0] == "is sound" ? 0 : 1);
        for (const std::string& text : c.expected)
            EXPECT_NE(m_output.find(text), std::string::npos) << text << " in\n" << m_output;
    }
    for (const std::string& usage :
         Names{"--verify", "--verify \"\"", "--verify " + site + " AAAA",
               "--verify " + site + " " + publicKey + " more", "--sign k --serial 0x10 r 1",
               "--sign k --expires-days 36501 r 1"}) {
        EXPECT_EQ(Run(usage), 2) << usage;
    }
}

} // namespace
