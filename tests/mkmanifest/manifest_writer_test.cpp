// The publisher's manifest against the updater's own manifest check: what mkmanifest writes is
// read back by CheckManifestInto over HTTP, refusals write nothing, and the tool runs as a
// program with the exit codes a publishing script relies on.
#include "tools/mkmanifest/manifest_writer.h"

#include "engine/update_engine.h"
#include "manifest/manifest_check.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <shlwapi.h>
#include <windows.h>

#include <string>
#include <vector>

#ifndef MKMANIFEST_EXE_UNIX
#error "the test build names the tool under test"
#endif

using namespace testsupport;

namespace {

using Names = std::vector<std::string>;

// "数据.txt" in the ANSI code page (the sources are compiled to code page 936).
const char kChineseName[] = "数据.txt";
const char kLongestName[] = "abcdefghijklmnopqrstuvwxyz01.da"; // 31 characters

std::string Exists(const std::string& path) {
    return PathFileExistsA(path.c_str()) ? "present" : "absent";
}

class ManifestWriterTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_comReady = true;
        ASSERT_TRUE(m_server.Start());
        m_release = m_root / "release";
        m_install = m_root / "install\\";
        ASSERT_TRUE(CreateDirectoryA(m_release.c_str(), nullptr));
        ASSERT_TRUE(CreateDirectoryA(m_install.c_str(), nullptr));
    }
    void TearDown() override {
        if (m_comReady)
            CoUninitialize();
    }

    void Put(const std::string& name, const std::string& content) {
        const std::string path = m_release + "\\" + name;
        const size_t slash = name.rfind('\\');
        if (slash != std::string::npos)
            CreateDirectoryA((m_release + "\\" + name.substr(0, slash)).c_str(), nullptr);
        ASSERT_TRUE(WriteWholeFile(path, content)) << name;
    }
    std::string Manifest() const { return ReadWholeFile(m_release + "\\update.xml"); }

    // Serves the release's update.xml and runs the updater's check against the folder.
    BOOL CheckAgainst(const std::string& installDir) {
        static int s_counter = 0;
        const std::string path = "/update/update.xml?" + std::to_string(++s_counter);
        HttpReply reply;
        reply.body = Manifest();
        reply.headers.push_back({"Content-Type", "text/xml"});
        m_server.Set(path, reply);
        m_engine.RemoveAll();
        m_total = 0;
        return CheckManifestInto(installDir.c_str(), m_total, m_engine, m_server.Url(path).c_str());
    }
    Names Queued() const {
        Names names;
        for (int i = 0; i < m_engine.m_files.GetSize(); ++i)
            names.push_back(m_engine.m_files[i]->szRemoteName);
        return names;
    }

    bool m_comReady = false;
    InstallFolder m_root{"mkmanifest"};
    std::string m_release; // no trailing backslash, as the tool is given it
    std::string m_install; // ends with a backslash, as the updater holds it
    TestHttpServer m_server;
    CUpdateEngine m_engine;
    DWORD m_total = 0;
};

// Runs the tool with stdout and stderr in files; returns its exit code.
int RunTool(const std::string& arguments, const std::string& outputFolder, std::string& output) {
    const std::string outPath = outputFolder + "\\tool-output.txt";
    SECURITY_ATTRIBUTES inherit = {sizeof(inherit), nullptr, TRUE};
    HANDLE out = CreateFileA(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, &inherit,
                             CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE)
        return -1;
    std::string exe = "Z:" MKMANIFEST_EXE_UNIX;
    for (char& c : exe)
        if (c == '/')
            c = '\\';
    std::string line = "\"" + exe + "\" " + arguments;
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
    PROCESS_INFORMATION info = {};
    const BOOL started = CreateProcessA(nullptr, &line[0], nullptr, nullptr, TRUE, 0, nullptr,
                                        nullptr, &startup, &info);
    CloseHandle(out);
    if (!started)
        return -1;
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForSingleObject(info.hProcess, 30000) == WAIT_OBJECT_0)
        GetExitCodeProcess(info.hProcess, &code);
    CloseHandle(info.hThread);
    CloseHandle(info.hProcess);
    output = ReadWholeFile(outPath);
    DeleteFileA(outPath.c_str());
    return static_cast<int>(code);
}

} // namespace

// Every file below the release, in subfolders too, under awkward and Chinese names, is listed
// so that the updater's check queues all of them for an empty installation and none of them
// for an installation that holds exactly the release: the two agree on names and digests.
TEST_F(ManifestWriterTest, UpdatersCheckReadsWhatTheToolWrites) {
    Put("a.dat", std::string(3000, 'a'));
    Put("empty.dat", "");
    Put("sub\\b.dat", "bee");
    Put("R&D's.dat", "ampersand and apostrophe");
    Put(kChineseName, "中文内容");
    Put(kLongestName, "long name");
    Put("sub\\update.xml", "only the top folder's manifest is the manifest");
    Put("update.xml", "an older manifest, replaced");
    Put("update.xml.tmp", "left over from an interrupted run");

    std::vector<ReleaseFile> files;
    std::string error;
    ASSERT_TRUE(WriteReleaseManifest(m_release, "2.0 \"beta\" <R&D>", files, error)) << error;
    EXPECT_EQ(files.size(), 7u);
    EXPECT_NE(Manifest().find("fileversion=\"2.0 &quot;beta&quot; &lt;R&amp;D&gt;\""),
              std::string::npos);
    EXPECT_EQ(Manifest().rfind("<?xml version=\"1.0\" encoding=\"UTF-8\"?>", 0), 0u);
    // UTF-8 in the file, whatever the ANSI code page.
    EXPECT_NE(Manifest().find("filename=\"\xe6\x95\xb0\xe6\x8d\xae.txt\""), std::string::npos);
    EXPECT_EQ(Exists(m_release + "\\update.xml.tmp"), "absent");

    ASSERT_TRUE(CheckAgainst(m_install));
    EXPECT_EQ(Queued(), (Names{"a.dat", kLongestName, "empty.dat", "R&D's.dat", "sub\\b.dat",
                               "sub\\update.xml", kChineseName}));
    EXPECT_EQ(m_total, 3000u + 9u + 0u + 24u + 3u + 46u + 8u);

    EXPECT_FALSE(CheckAgainst(m_release + "\\"));
    EXPECT_TRUE(Queued().empty());

    // A changed file is the only one queued after the next release.
    Put("sub\\b.dat", "bee, version two");
    ASSERT_TRUE(WriteReleaseManifest(m_release, "2.1", files, error)) << error;
    ASSERT_TRUE(WriteWholeFile(m_release + "\\sub\\b.dat", "bee"));
    EXPECT_TRUE(CheckAgainst(m_release + "\\"));
    EXPECT_EQ(Queued(), (Names{"sub\\b.dat"}));
}

// A name the updater would refuse, one the ANSI code page cannot hold, or a file too large for
// a 32-bit size: every offender is named, and neither a manifest nor its temporary is written;
// an existing manifest stays as it was.
TEST_F(ManifestWriterTest, RefusalsNameEveryOffenderAndWriteNothing) {
    Put("fine.dat", "fine");
    Put("update.xml", "the published manifest");
    struct Case {
        const char* what;
        std::wstring name;
        unsigned long long size;
        const char* expected;
    } cases[] = {
        {"32 characters", L"abcdefghijklmnopqrstuvwxyz01.dat", 1, "is 32 characters long"},
        {"folder counts", L"folder\\abcdefghijklmnopqrstu.dat", 1, "is 32 characters long"},
        {"not in code page 936", L"\x0e01\x0e02.dat", 1, "cannot be written"},
        {"4 GiB", L"huge.dat", 1ull << 32, "4 GiB or larger"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::wstring folder = std::wstring(m_release.begin(), m_release.end());
        const size_t slash = c.name.rfind(L'\\');
        if (slash != std::wstring::npos)
            CreateDirectoryW((folder + L"\\" + c.name.substr(0, slash)).c_str(), nullptr);
        const std::wstring path = folder + L"\\" + c.name;
        HANDLE file =
            CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE);
        LARGE_INTEGER end;
        end.QuadPart = static_cast<LONGLONG>(c.size);
        SetFilePointerEx(file, end, nullptr, FILE_BEGIN);
        SetEndOfFile(file); // sparse: nothing is read before the refusal
        CloseHandle(file);

        std::vector<ReleaseFile> files(1);
        std::string error;
        EXPECT_FALSE(WriteReleaseManifest(m_release, "3.0", files, error));
        EXPECT_TRUE(files.empty());
        EXPECT_NE(error.find(c.expected), std::string::npos) << error;
        EXPECT_EQ(error.find("fine.dat"), std::string::npos) << error;
        EXPECT_EQ(Manifest(), "the published manifest");
        EXPECT_EQ(Exists(m_release + "\\update.xml.tmp"), "absent");
        DeleteFileW(path.c_str());
    }
}

TEST_F(ManifestWriterTest, AttributeEscaping) {
    EXPECT_EQ(XmlAttributeEscape("a&b<c>d\"e'f\tg\nh\ri"),
              "a&amp;b&lt;c&gt;d&quot;e&apos;f&#9;g&#10;h&#13;i");
    EXPECT_EQ(XmlAttributeEscape("\xe6\x95\xb0 plain"), "\xe6\x95\xb0 plain");
    ReleaseFile file;
    file.nameUtf8 = "x\"y.dat";
    file.size = 4294967295ul;
    file.md5 = "900150983cd24fb0d6963f7d28e17f72";
    EXPECT_EQ(ManifestXml({file}, "1&2"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n<manifest>\r\n  <filelist>\r\n"
              "    <file filename=\"x&quot;y.dat\" filesize=\"4294967295\" fileversion=\"1&amp;2\" "
              "md5=\"900150983cd24fb0d6963f7d28e17f72\"/>\r\n  </filelist>\r\n</manifest>\r\n");
}

// The program itself: success prints a summary (and a warning for files in subfolders) and
// exits 0, a refusal exits 1 naming the file on stderr and leaves no update.xml, a wrong call
// exits 2 with the usage.
TEST_F(ManifestWriterTest, ToolExitCodes) {
    Put("one.dat", "one");
    Put("sub\\two.dat", "two");
    std::string output;
    EXPECT_EQ(RunTool("\"" + m_release + "\\\\\" 4.0", m_root.Path(), output), 0) << output;
    EXPECT_NE(output.find("2 files, version 4.0"), std::string::npos) << output;
    // Fetching into a subfolder needs that subfolder in the updater's temporary folder.
    EXPECT_NE(output.find("warning: sub\\two.dat is in a subfolder"), std::string::npos) << output;
    EXPECT_NE(Manifest().find("filename=\"one.dat\" filesize=\"3\" fileversion=\"4.0\""),
              std::string::npos);

    ASSERT_TRUE(DeleteFileA((m_release + "\\update.xml").c_str()));
    Put("this-name-is-much-too-long-for-it.dat", "x");
    EXPECT_EQ(RunTool("\"" + m_release + "\" 4.1", m_root.Path(), output), 1);
    EXPECT_NE(output.find("this-name-is-much-too-long-for-it.dat: the name is 37"),
              std::string::npos)
        << output;
    EXPECT_EQ(Exists(m_release + "\\update.xml"), "absent");

    EXPECT_EQ(RunTool("\"" + m_release + "\"", m_root.Path(), output), 2);
    EXPECT_NE(output.find("usage: mkmanifest RELEASE_FOLDER VERSION"), std::string::npos);
    EXPECT_EQ(RunTool("\"" + m_root / "no such folder" + "\" 1", m_root.Path(), output), 1);
    EXPECT_NE(output.find("is not a folder"), std::string::npos) << output;
}
