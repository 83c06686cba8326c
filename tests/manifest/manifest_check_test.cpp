#include "manifest/manifest_check.h"

#include "engine/update_engine.h"
#include "tests/support/test_files.h"
#include "tests/support/test_http_server.h"

#include <gtest/gtest.h>

#include <objbase.h>
#include <string>
#include <vector>
#include <windows.h>

using testsupport::HttpReply;
using testsupport::InstallFolder;
using testsupport::TestHttpServer;
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

const char kAbc[] = "abc"; // content of the present files
const char kAbcMd5[] = "900150983cd24fb0d6963f7d28e17f72";
const char kOtherMd5[] = "0cc175b9c0f1b6a831c399e269772661";

std::string Entry(const std::string& name, const std::string& size, const std::string& md5) {
    return "<file filename=\"" + name + "\" filesize=\"" + size +
           "\" fileversion=\"1.0.0.1\" md5=\"" + md5 + "\"/>";
}

std::string Manifest(const std::string& entries) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest><filelist>" + entries +
           "</filelist></manifest>";
}

// The check runs where the program runs it: on a thread in a single-threaded apartment.
class ManifestCheckTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(SUCCEEDED(CoInitialize(nullptr)));
        m_comReady = true;
        m_install = m_root / "install\\";
        ASSERT_TRUE(CreateDirectoryA(m_install.c_str(), nullptr));
        ASSERT_TRUE(m_server.Start());
    }
    void TearDown() override {
        if (m_comReady)
            CoUninitialize();
    }

    void Put(const std::string& name, const std::string& content = kAbc) {
        ASSERT_TRUE(WriteWholeFile(m_install + name, content)) << name;
    }

    // Serves the body under a manifest URL not asked for before (so that no cache answers),
    // runs the check, and expects exactly one GET of that URL.
    BOOL Check(const std::string& body, int status = 200) {
        static LONG s_counter = 0;
        const std::string path = "/update/update.xml?" + std::to_string(GetTickCount()) +
                                 std::to_string(InterlockedIncrement(&s_counter));
        HttpReply reply;
        reply.status = status;
        reply.body = body;
        reply.headers.push_back({"Content-Type", "text/xml"});
        m_server.Set(path, reply);
        const size_t before = m_server.Requests().size();
        const BOOL result =
            CheckManifestInto(m_install.c_str(), m_total, m_engine, m_server.Url(path).c_str());
        const std::vector<std::string> requests = m_server.Requests();
        EXPECT_EQ(requests.size(), before + 1);
        if (requests.size() == before + 1) {
            EXPECT_EQ(requests.back(), "GET " + path + " HTTP/1.1");
        }
        return result;
    }

    std::vector<std::string> Queued() const {
        std::vector<std::string> names;
        for (int i = 0; i < m_engine.m_files.GetSize(); ++i) {
            names.push_back(m_engine.m_files[i]->szRemoteName);
            EXPECT_STREQ(m_engine.m_files[i]->szLocalName, m_engine.m_files[i]->szRemoteName);
        }
        return names;
    }

    void ExpectNothingQueued() {
        EXPECT_TRUE(Queued().empty());
        EXPECT_EQ(m_total, 0u);
    }

    bool m_comReady = false;
    InstallFolder m_root{"manifest"}; // holds the installation folder and files beside it
    std::string m_install;            // ends with a backslash
    TestHttpServer m_server;
    CUpdateEngine m_engine;
    DWORD m_total = 0;
};

using Names = std::vector<std::string>;

} // namespace

TEST_F(ManifestCheckTest, NothingToFetchIsFalse) {
    Put("a.dat");
    Put("b.dat", "");
    EXPECT_FALSE(Check(Manifest("")));
    EXPECT_FALSE(Check("<?xml version=\"1.0\"?><manifest/>"));
    // Present with the listed digest: up to date, whatever size is listed.
    EXPECT_FALSE(Check(Manifest(Entry("a.dat", "999", kAbcMd5) +
                                Entry("b.dat", "0", "d41d8cd98f00b204e9800998ecf8427e"))));
    ExpectNothingQueued();
}

TEST_F(ManifestCheckTest, MissingOrChangedFilesAreQueued) {
    Put("same.dat");
    Put("changed.dat");
    ASSERT_TRUE(CreateDirectoryA((m_install + "sub").c_str(), nullptr));
    Put("sub\\deep.dat");
    EXPECT_TRUE(
        Check(Manifest(Entry("same.dat", "3", kAbcMd5) + Entry("missing.dat", "1234", kAbcMd5) +
                       Entry("changed.dat", "3", kOtherMd5) + Entry("sub\\deep.dat", "3", kAbcMd5) +
                       Entry("sub/new.dat", "10", kAbcMd5))));
    EXPECT_EQ(Queued(), (Names{"missing.dat", "changed.dat", "sub/new.dat"}));
    EXPECT_EQ(m_total, 1234u + 3u + 10u);
}

TEST_F(ManifestCheckTest, DigestTextMustMatchExactly) {
    Put("upper.dat");
    Put("empty.dat");
    EXPECT_TRUE(Check(Manifest(Entry("upper.dat", "1", "900150983CD24FB0D6963F7D28E17F72") +
                               Entry("empty.dat", "2", "") + Entry("gone.dat", "4", "") +
                               Entry("spaced.dat", "8", std::string(" ") + kAbcMd5))));
    EXPECT_EQ(Queued(), (Names{"upper.dat", "empty.dat", "gone.dat", "spaced.dat"}));
    EXPECT_EQ(m_total, 15u);
}

TEST_F(ManifestCheckTest, SizesAddUpInOrderWithoutResetAndWrap) {
    m_engine.AddFile("earlier.dat", nullptr);
    m_total = 100;
    EXPECT_TRUE(
        Check(Manifest(Entry("one.dat", "1024", kAbcMd5) + Entry("two.dat", "2048", kAbcMd5) +
                       Entry("three.dat", "4096", kAbcMd5))));
    EXPECT_EQ(Queued(), (Names{"earlier.dat", "one.dat", "two.dat", "three.dat"}));
    EXPECT_EQ(m_total, 100u + 7168u);

    // Listed twice: added twice, counted twice; the sum wraps at 2^32.
    m_engine.RemoveAll();
    m_total = 0;
    EXPECT_TRUE(Check(Manifest(Entry("twice.dat", "4294967295", kAbcMd5) +
                               Entry("twice.dat", "4294967295", kAbcMd5) +
                               Entry("zero.dat", "0", kAbcMd5))));
    EXPECT_EQ(Queued(), (Names{"twice.dat", "twice.dat", "zero.dat"}));
    EXPECT_EQ(m_total, 4294967294u);
}

TEST_F(ManifestCheckTest, EntryLackingAnAttributeFailsTheCheck) {
    std::string entries;
    for (int i = 1; i <= 5; ++i) {
        const std::string name = "f" + std::to_string(i) + ".dat";
        entries += i == 3 ? "<file filename=\"f3.dat\" filesize=\"7\" md5=\"\"/>"
                          : Entry(name, "7", kAbcMd5);
    }
    EXPECT_FALSE(Check(Manifest(entries)));
    // The first two may stay queued; nothing after the broken entry is.
    const Names queued = Queued();
    EXPECT_LE(queued.size(), 2u);
    for (const std::string& name : queued)
        EXPECT_TRUE(name == "f1.dat" || name == "f2.dat") << name;

    const char* const lacking[] = {
        "<file filesize=\"1\" fileversion=\"1\" md5=\"\"/>",
        "<file filename=\"x.dat\" fileversion=\"1\" md5=\"\"/>",
        "<file filename=\"x.dat\" filesize=\"1\" md5=\"\"/>",
        "<file filename=\"x.dat\" filesize=\"1\" fileversion=\"1\"/>",
        "<file FileName=\"x.dat\" filesize=\"1\" fileversion=\"1\" md5=\"\"/>",
    };
    for (const char* entry : lacking) {
        m_engine.RemoveAll();
        m_total = 0;
        EXPECT_FALSE(Check(Manifest(entry))) << entry;
        ExpectNothingQueued();
    }
}

TEST_F(ManifestCheckTest, FileSizeMustBeAnUnsigned32BitNumber) {
    const char* const refused[] = {"-1", "4294967296", "abc", "", "0x10"};
    for (const char* size : refused) {
        EXPECT_FALSE(Check(Manifest(Entry("x.dat", size, kAbcMd5)))) << size;
        ExpectNothingQueued();
    }
}

TEST_F(ManifestCheckTest, HttpFailuresAreFalse) {
    const std::string valid = Manifest(Entry("missing.dat", "10", kAbcMd5));
    EXPECT_FALSE(Check(valid, 404));
    EXPECT_FALSE(Check(valid, 500));
    ExpectNothingQueued();

    // Nobody listening any more.
    const std::string url = m_server.Url("/update/update.xml?1");
    m_server.Stop();
    EXPECT_FALSE(CheckManifestInto(m_install.c_str(), m_total, m_engine, url.c_str()));
    ExpectNothingQueued();
}

TEST_F(ManifestCheckTest, OnlyFileElementsAtTheExactPlaceCount) {
    const std::string missing = Entry("missing.dat", "10", kAbcMd5);
    const std::string bodies[] = {
        "this is not XML " + missing,
        "<?xml version=\"1.0\"?><manifest><filelist>" + missing + "</filelist>", // unclosed
        "<?xml version=\"1.0\"?><Manifest><filelist>" + missing + "</filelist></Manifest>",
        "<?xml version=\"1.0\"?><manifest><FileList>" + missing + "</FileList></manifest>",
        "<?xml version=\"1.0\"?><manifest><filelist><File filename=\"missing.dat\" filesize=\"1\" "
        "fileversion=\"1\" md5=\"\"/></filelist></manifest>",
        "<?xml version=\"1.0\"?><manifest>" + missing + "<other>" + missing +
            "</other><filelist><group>" + missing + "</group></filelist></manifest>",
        "<?xml version=\"1.0\"?><root><manifest><filelist>" + missing +
            "</filelist></manifest></root>",
    };
    for (const std::string& body : bodies) {
        EXPECT_FALSE(Check(body)) << body;
        ExpectNothingQueued();
    }

    // Several lists all count, in document order; everything else is ignored.
    EXPECT_TRUE(Check("<?xml version=\"1.0\"?><manifest><!-- two lists --><filelist>" +
                      Entry("a.dat", "1", "") +
                      "<note>text</note></filelist><file filename=\"no.dat\"/>" +
                      "<filelist/><filelist extra=\"1\">" + Entry("b.dat", "2", "") +
                      Entry("c.dat", "4", "") + "</filelist></manifest>"));
    EXPECT_EQ(Queued(), (Names{"a.dat", "b.dat", "c.dat"}));
    EXPECT_EQ(m_total, 7u);
}

TEST_F(ManifestCheckTest, UnreadableListedPathFailsTheCheck) {
    ASSERT_TRUE(CreateDirectoryA((m_install + "folder").c_str(), nullptr));
    EXPECT_FALSE(Check(Manifest(Entry("folder", "1", kAbcMd5))));
    ExpectNothingQueued();

    Put("locked.dat");
    ScopedHandle locked(CreateFileA((m_install + "locked.dat").c_str(), GENERIC_READ, 0, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(locked.Valid());
    EXPECT_FALSE(Check(Manifest(Entry("locked.dat", "1", kOtherMd5))));
    ExpectNothingQueued();
}

TEST_F(ManifestCheckTest, NamesLeavingTheFolderFailTheCheckBeforeAnythingIsRead) {
    // A real file beside the installation folder, listed with its true digest: judged as a
    // file it would count as up to date, and the later missing entry would be queued.
    ASSERT_TRUE(WriteWholeFile(m_root / "beside.dat", kAbc));
    const std::string beside = "..\\beside.dat";

    const std::string hostile[] = {
        beside,
        "sub\\..\\" + beside,
        "sub/../../x.dat",
        "\\Windows\\win.ini",
        "/x.dat",
        "C:\\x.dat",
        "c:x.dat",
        "x.dat:stream",
        "0123456789012345678901234567890.dat", // longer than the 31 characters that fit
    };
    for (const std::string& name : hostile) {
        EXPECT_FALSE(Check(Manifest(Entry(name, "5", kAbcMd5) + Entry("later.dat", "6", kAbcMd5))))
            << name;
        ExpectNothingQueued();
    }
}

TEST_F(ManifestCheckTest, NamesAreTextInTheAnsiCodePage) {
    // The manifest is UTF-8; names on disk and in the engine are code page 936 text.
    Put("数据.dat");
    EXPECT_TRUE(
        Check(Manifest(Entry(u8"数据.dat", "3", kAbcMd5) + Entry(u8"新文件.dat", "9", kAbcMd5))));
    EXPECT_EQ(Queued(), (Names{"新文件.dat"}));
    EXPECT_EQ(m_total, 9u);
}
