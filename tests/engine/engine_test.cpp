// Whole runs of the engine's worker against the test server: the events a receiver sees, the
// files written and installed, and where a cancel request takes effect.
#include "engine/install_journal.h"
#include "engine/update_run.h"
#include "tests/support/notify_recorder.h"
#include "tests/support/replies.h"
#include "tests/support/test_files.h"
#include "ui/run_event_queue.h"

#include <gtest/gtest.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

using namespace testsupport;

namespace {

const char kFailedA[] = "下载 a.dat 文件失败";

// One run over its own installation folder; the temporary folder is "<folder>\t".
struct EngineRun {
    explicit EngineRun(const std::string& baseUrl, const std::string& tempDir = "") {
        EXPECT_TRUE(run.Init(&events, baseUrl.c_str(),
                             (tempDir.empty() ? folder / "t" : tempDir).c_str(),
                             folder.Path().c_str()));
    }
    std::string Temp(const std::string& name) const { return folder / ("t\\" + name + ".dtm"); }
    // Starts the worker as the window does and waits for it; the worker's result.
    DWORD Worker() {
        EXPECT_TRUE(run.Start());
        EXPECT_TRUE(run.Wait(60000));
        return static_cast<DWORD>(run.Result());
    }

    InstallFolder folder{"engine"};
    NotifyRecorder events;
    CUpdateRun run;
    CUpdateEngine& engine = run.Engine();
};

// Milliseconds since `start`.
DWORD Since(DWORD start) {
    return GetTickCount() - start;
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Silence fails a request after 1.5 s here instead of 30 s.
        SetEnvironmentVariableA("UPDATER_TEST_ONLY_IDLE_LIMIT_MS", "1500");
        ASSERT_TRUE(server.Start());
    }
    TestHttpServer server;
};

TEST_F(EngineTest, TwoFilesAreReceivedThenInstalled) {
    EngineRun run(server.Url("/update")); // the missing "/" is added
    ASSERT_TRUE(WriteWholeFile(run.folder / "数据.dat", "previous 数据"));
    server.Set("/update/a.dat", Generated(20000));
    server.Set("/update/数据.dat", Body("the new content of the b file"));
    run.engine.AddFile("a.dat", nullptr);
    run.engine.AddFile("数据.dat", nullptr);

    EXPECT_EQ(run.Worker(), 0u);
    EXPECT_EQ(run.events.Sequence(), "1 3 4* 5 1 3 4* 5 6 8 9");
    ASSERT_EQ(run.events.Count(UPD_EVT_PROGRESS), 4); // three blocks of a, one of the second
    const std::vector<RecordedEvent> e = run.events.Events();
    EXPECT_FALSE(e[0].hasText);
    EXPECT_EQ(e[1].a2, 20000u); // announced length
    EXPECT_EQ(e[1].text, "a.dat");
    EXPECT_EQ(e[3].a1, 16384u);
    EXPECT_EQ(e[4].a1, 20000u);
    EXPECT_EQ(e[8].a1, 29u);    // this file's bytes
    EXPECT_EQ(e[8].a2, 20029u); // the run's bytes
    EXPECT_EQ(e[11].text, "开始安装更新，请稍候...");
    // What the window takes when it comes late to all of it: every event in order, a file's
    // progress folded into its last figures.
    CRunEventQueue window;
    for (const RecordedEvent& r : e)
        window.Push(r.code, r.a1, r.a2, r.hasText ? r.text.c_str() : nullptr);
    std::string taken;
    for (RunEvent t; window.Pop(t);)
        taken += std::to_string(t.code) +
                 (t.code == UPD_EVT_PROGRESS
                      ? "=" + std::to_string(t.a1) + "/" + std::to_string(t.a2) + t.text
                      : "") +
                 " ";
    EXPECT_EQ(taken, "1 3 4=20000/20000a.dat 5 1 3 4=29/20029数据.dat 5 6 8 9 ");

    EXPECT_EQ(ReadWholeFile(run.folder / "a.dat"), GeneratedContent(20000));            // created
    EXPECT_EQ(ReadWholeFile(run.folder / "数据.dat"), "the new content of the b file"); // replaced
    EXPECT_FALSE(PathFileExistsA(run.Temp("a.dat").c_str()));
    EXPECT_EQ(run.engine.Files().size(), 0u);              // emptied only after success
    EXPECT_EQ(run.engine.LastEvent(), UPD_EVT_DOWNLOADED); // installation leaves it alone
    EXPECT_EQ(run.run.State(), RunState::Done);
    // A non-ASCII name goes on the wire as its ANSI (GBK) bytes, unescaped.
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"GET /update/a.dat HTTP/1.1",
                                        "GET /update/\xca\xfd\xbe\xdd.dat HTTP/1.1"}));
}

TEST_F(EngineTest, AFailureStopsTheRunAndInstallsNothing) {
    HttpReply cut = Generated(20000); // ends before its announced length
    cut.announcedLength = 50000;
    const char* failedB = "下载 b.dat 文件失败";
    const char* platform = nullptr; // the platform's text for a time-out
    struct Case {
        const char* what;
        HttpReply a, b;
        const char* sequence;
        const char* text;
        size_t requests; // the files after a failure are never tried
        const char* md5B = "";
        const char* sha256B = "";
    } cases[] = {
        {"first file 404", Body("<html>not found</html>", 404), Generated(100), "1 32", kFailedA,
         1},
        {"second file cut short", Generated(9000), cut, "1 3 4* 5 1 3 4* 32", failedB, 2},
        {"first file never answered", Silent(), Generated(100), "1 32", platform, 1},
        {"second file stops for good", Generated(9000), Generated(50000, 16384),
         "1 3 4* 5 1 3 4* 32", platform, 2},
        {"length larger than the body, connection kept", Generated(9000), Lying(20000, 50000),
         "1 3 4* 5 1 3 4* 32", platform, 2},
        {"length beyond 32 bits", Generated(9000), Lying(20000, 99999999999), "1 3 4* 5 1 32",
         failedB, 2},
        {"wrong bytes for the digest", Generated(9000), Generated(20000), "1 3 4* 5 1 3 4* 32",
         failedB, 2, "0123456789ABCDEF0123456789abcdef"},
        // A signed manifest's SHA-256 (of "abc"), held to after the md5 passed.
        {"wrong bytes for the sha256", Generated(9000), Generated(20000), "1 3 4* 5 1 3 4* 32",
         failedB, 2, "", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = "/" + std::to_string(server.Requests().size()) + "/";
        const size_t before = server.Requests().size();
        EngineRun run(server.Url(base));
        ASSERT_TRUE(WriteWholeFile(run.folder / "a.dat", "installed a"));
        server.Set(base + "a.dat", c.a);
        server.Set(base + "b.dat", c.b);
        run.engine.AddFile("a.dat", nullptr);
        ASSERT_TRUE(run.engine.AddFile("b.dat", nullptr, c.md5B, c.sha256B));
        const DWORD start = GetTickCount();
        EXPECT_EQ(run.Worker(), 1u);
        EXPECT_LT(Since(start), 5000u); // a silent server fails after the idle limit
        EXPECT_EQ(run.events.Sequence(), c.sequence);
        const std::string text = run.events.Events().back().text;
        EXPECT_FALSE(text.empty());
        if (c.text) {
            EXPECT_EQ(text, c.text);
        }
        // The failed entry leaves no partial or unverified file to be taken for a download.
        EXPECT_FALSE(PathFileExistsA(run.Temp(c.requests == 1 ? "a.dat" : "b.dat").c_str()));
        EXPECT_EQ(run.engine.LastEvent(), UPD_EVT_FAILED);
        EXPECT_EQ(run.run.State(), RunState::Failed);
        EXPECT_EQ(server.Requests().size() - before, c.requests);
        EXPECT_EQ(run.engine.Files().size(), 2u); // the list stays
        EXPECT_EQ(ReadWholeFile(run.folder / "a.dat"), "installed a");
        EXPECT_FALSE(PathFileExistsA(run.Temp("a.dat").c_str())); // no temporary file stays
    }
}

// A body is the file unless it is short, an error status or one of the two HTML openings
// compared exactly at the first byte; without a length it is read to its end.
TEST_F(EngineTest, ResponsesThatAreNotTheFileAreRejected) {
    const std::string pad = " padding to make it long enough";
    HttpReply unsized = Generated(30000);
    unsized.sendContentLength = false;
    struct Case {
        HttpReply reply;
        bool accepted;
        const char* md5 = nullptr; // a well-formed one is checked in either case
        const char* sha256 = nullptr;
    } cases[] = {
        {Body("exactly twenty-two ch."), true},
        {Body("exactly twenty-two ch."), true, "adf36cd257f037b483c5d8e174a8feec",
         "137f2f13e0d0fb86477742620095dfc745686c5d5376326fd9dc631a36816125"},
        {Body("exactly twenty-two ch."), true, "ADF36CD257F037B483C5D8E174A8FEEC"},
        {Body("exactly twenty-two ch."), true, "force a fetch every time"},        // a placeholder
        {Body("exactly twenty-two ch."), true, "ADF36CD257F037B483C5D8E174A8FEE"}, // 31 digits
        {Body("twenty-one characters"), false},
        {Body("<html>" + pad), false},
        {Body("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">"), false},
        {Body("<HTML>" + pad), true},
        {Body(" <html>" + pad), true},
        {Body("<!doctype html public" + pad), true},
        {Body("a plain error page of the server" + pad, 500), false},
        {unsized, true},
    };
    int n = 0;
    for (const Case& c : cases) {
        const std::string base = "/r" + std::to_string(++n) + "/";
        SCOPED_TRACE(base);
        EngineRun run(server.Url(base));
        server.Set(base + "a.dat", c.reply);
        ASSERT_TRUE(run.engine.AddFile("a.dat", nullptr, c.md5, c.sha256));
        EXPECT_EQ(run.engine.DownloadAll(), c.accepted ? 0 : 1);
        const std::string expected =
            c.reply.generatedSize ? GeneratedContent(c.reply.generatedSize) : c.reply.body;
        if (c.accepted) {
            EXPECT_EQ(run.events.Sequence(), "1 3 4* 5 6");
            EXPECT_EQ(ReadWholeFile(run.Temp("a.dat")), expected);
        } else {
            EXPECT_EQ(run.events.Sequence(), "1 32");
            EXPECT_EQ(run.events.Events().back().text, kFailedA);
            EXPECT_FALSE(PathFileExistsA(run.Temp("a.dat").c_str()));
        }
    }
}

// Platform failures carry the platform's own text; a path that does not fit, the program's.
TEST_F(EngineTest, PlatformFailuresReportThePlatformText) {
    TestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    const std::string refused = closed.Url("/u/");
    closed.Stop(); // nothing listens there now
    server.SetDefault(Generated(100));
    struct Case {
        std::string url;
        std::string tempDir; // relative to the folder; only the last level is ever created
        const char* sequence;
        bool platformText;
    } cases[] = {
        {refused, "t", "1 32", true},
        {server.Url("/u/"), "no\\such\\folder", "1 3 32", true},
        {server.Url("/u/"), std::string(240, 'd'), "1 3 32", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sequence);
        InstallFolder where{"paths"};
        EngineRun run(c.url, where / c.tempDir);
        run.engine.AddFile("a.dat", nullptr);
        EXPECT_EQ(run.engine.DownloadAll(), 1);
        EXPECT_EQ(run.events.Sequence(), c.sequence);
        const std::string text = run.events.Events().back().text;
        EXPECT_FALSE(text.empty());
        EXPECT_EQ(text == kFailedA, !c.platformText) << text;
    }
}

TEST_F(EngineTest, CancelIsSeenAfterTheCurrentBlock) {
    server.Set("/c/a.dat", Generated(40000)); // five blocks
    server.Set("/c/b.dat", Generated(10000)); // two blocks
    struct Case {
        const char* what;
        int atCode;     // the cancel is requested inside this event (0: before the start)
        int occurrence; // at its n-th occurrence
        const char* sequence;
        DWORD exitCode;
    } cases[] = {
        {"before the first block", 0, 0, "1 3 4* 7", 2}, // that block is still written
        {"mid-file", UPD_EVT_PROGRESS, 1, "1 3 4* 7", 2},
        {"between files", UPD_EVT_FILE_DONE, 0, "1 3 4* 5 1 3 4* 7", 2}, // next file starts
        {"after the last read loop", UPD_EVT_PROGRESS, 6, "1 3 4* 5 1 3 4* 7", 2},
        {"too late, at the last file's end", UPD_EVT_FILE_DONE, 1, "1 3 4* 5 1 3 4* 5 6 8 9", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EngineRun run(server.Url("/c/"));
        run.engine.AddFile("a.dat", nullptr);
        run.engine.AddFile("b.dat", nullptr);
        CUpdateRun& updateRun = run.run;
        if (c.atCode == 0)
            updateRun.Cancel();
        else
            run.events.ActAt(c.atCode, c.occurrence, [&updateRun] { updateRun.Cancel(); });
        EXPECT_EQ(run.Worker(), c.exitCode);
        EXPECT_EQ(updateRun.State(), c.exitCode == 0 ? RunState::Done : RunState::Cancelled);
        EXPECT_EQ(run.events.Sequence(), c.sequence);
        EXPECT_EQ(PathFileExistsA((run.folder / "a.dat").c_str()) != FALSE, c.exitCode == 0);
        if (c.atCode == 0) {
            EXPECT_EQ(run.events.Count(UPD_EVT_PROGRESS), 1);
            EXPECT_EQ(ReadWholeFile(run.Temp("a.dat")), GeneratedContent(8192));
        }
    }
}

// A cancel while a read waits on a silent server ends the run within the promised 2 s: the
// wait is given up, nothing is installed and the run ends as any cancel does.
TEST_F(EngineTest, CancelEndsABlockedRead) {
    SetEnvironmentVariableA("UPDATER_TEST_ONLY_IDLE_LIMIT_MS", nullptr); // the shipped 30 s
    server.Set("/s/a.dat", Generated(40000, 8192));
    EngineRun run(server.Url("/s/"));
    ASSERT_TRUE(WriteWholeFile(run.folder / "a.dat", "installed a"));
    run.engine.AddFile("a.dat", nullptr);
    ASSERT_TRUE(run.run.Start());
    ASSERT_TRUE(server.WaitStalled(10000));
    // Once the first block is reported, the worker's next read waits on the silent server.
    ASSERT_TRUE(WaitUntil([&] { return run.events.Count(UPD_EVT_PROGRESS) > 0; }, 10000));
    const DWORD start = GetTickCount();
    run.run.Cancel();
    EXPECT_TRUE(run.run.Wait(2000));
    EXPECT_LT(Since(start), 2000u);
    EXPECT_EQ(run.run.Result(), 2);
    EXPECT_EQ(run.run.State(), RunState::Cancelled);
    EXPECT_EQ(run.events.Sequence(), "1 3 4* 7");
    EXPECT_EQ(ReadWholeFile(run.folder / "a.dat"), "installed a");
}

// The program's own executable is placed beside itself as ".EX_", in any letter case. A file
// that stays in use, installed or downloaded, undoes the whole installation after a bounded
// wait: every file old again, the added one gone, no temporary file, one failure.
TEST_F(EngineTest, InstallationIsAllOrNothing) {
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    std::string ownName = PathFindFileNameA(module); // e.g. engine_tests.exe
    std::transform(ownName.begin(), ownName.end(), ownName.begin(), ::toupper);
    const std::string ownCopy = ownName.substr(0, ownName.rfind('.')) + ".EX_";
    const std::vector<std::string> names = {ownName, "added.dat", "busy.dat", "last.dat"};
    for (const std::string& name : names)
        server.Set("/i/" + name, Body("the new content of " + name));
    struct Case {
        const char* what;
        const char* held; // opened without delete sharing for the whole installation
        bool temporary;   // the downloaded file rather than the installed one
    } cases[] = {{"nothing held", nullptr, false},
                 {"an installed file held", "busy.dat", false},
                 {"the last download held", "last.dat", true}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EngineRun run(server.Url("/i/"));
        const std::vector<std::string> installed = {ownCopy, "busy.dat", "last.dat"};
        for (const std::string& name : installed)
            ASSERT_TRUE(WriteWholeFile(run.folder / name, "old " + name));
        for (const std::string& name : names)
            run.engine.AddFile(name.c_str(), nullptr);
        std::unique_ptr<CKernelHandle> held;
        if (c.held)
            run.events.ActAt(UPD_EVT_INSTALLING, 0, [&] {
                const std::string path = c.temporary ? run.Temp(c.held) : run.folder / c.held;
                held.reset(
                    new CKernelHandle(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ,
                                                  nullptr, OPEN_EXISTING, 0, nullptr)));
            });
        EXPECT_EQ(run.Worker(), c.held ? 1u : 0u);
        if (c.held) {
            EXPECT_TRUE(held && held->IsValid());
        }
        held.reset();

        EXPECT_EQ(run.events.Sequence(), c.held ? "1 3 4* 5 1 3 4* 5 1 3 4* 5 1 3 4* 5 6 8 32"
                                                : "1 3 4* 5 1 3 4* 5 1 3 4* 5 1 3 4* 5 6 8 9");
        EXPECT_EQ(run.run.State(), c.held ? RunState::Failed : RunState::Done);
        for (const std::string& name : installed)
            EXPECT_EQ(ReadWholeFile(run.folder / name),
                      c.held ? "old " + name
                             : "the new content of " + (name == ownCopy ? ownName : name));
        EXPECT_FALSE(PathFileExistsA((run.folder / ownName).c_str()));
        EXPECT_EQ(PathFileExistsA((run.folder / "added.dat").c_str()) != FALSE, !c.held);
        for (const std::string& name : names) // the one still held cannot go
            EXPECT_EQ(PathFileExistsA(run.Temp(name).c_str()) != FALSE,
                      c.temporary && name == c.held)
                << name;
        // No journal is left, nor a set-aside name once nothing holds its file: a name kept
        // by a holder goes at the next start.
        EXPECT_FALSE(PathFileExistsA((run.folder / "t\\install.jnl").c_str()));
        if (!c.held || c.temporary) {
            EXPECT_FALSE(PathFileExistsA((run.folder / "t\\aside").c_str()));
        }
        EXPECT_FALSE(CompleteUnfinishedInstallation((run.folder / "t").c_str()));
        EXPECT_FALSE(PathFileExistsA((run.folder / "t\\aside").c_str()));
    }
}

// Whatever is thrown inside the worker ends the run with one failure event; the window closes
// on it. Installed files stay as they were and no temporary file is left.
TEST_F(EngineTest, AnExceptionInsideTheWorkerEndsTheRunWithOneFailure) {
    server.Set("/x/a.dat", Body("the new content of the a file"));
    const struct {
        int atCode;
        const char* sequence;
    } cases[] = {{UPD_EVT_FILE_DONE, "1 3 4* 5 32"}, {UPD_EVT_INSTALLING, "1 3 4* 5 6 8 32"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.sequence);
        EngineRun run(server.Url("/x/"));
        ASSERT_TRUE(WriteWholeFile(run.folder / "a.dat", "installed a"));
        run.engine.AddFile("a.dat", nullptr);
        run.events.ActAt(c.atCode, 0, [] { throw std::runtime_error("thrown by the receiver"); });
        EXPECT_EQ(run.Worker(), 1u);
        EXPECT_EQ(run.events.Sequence(), c.sequence);
        EXPECT_EQ(run.run.State(), RunState::Failed);
        EXPECT_EQ(ReadWholeFile(run.folder / "a.dat"), "installed a");
        EXPECT_FALSE(PathFileExistsA(run.Temp("a.dat").c_str()));
    }
}

TEST(EngineInit, KeepsTheSlashRefusesNoReceiverAndInstallsAnEmptyList) {
    InstallFolder folder{"init"};
    NotifyRecorder events;
    CUpdateEngine kept;
    ASSERT_TRUE(
        kept.Init(&events, "http://example.com/x/", (folder / "t").c_str(), folder.Path().c_str()));
    EXPECT_STREQ(kept.BaseUrl(), "http://example.com/x/");
    EXPECT_TRUE(PathIsDirectoryA((folder / "t").c_str())); // a missing folder is created
    EXPECT_EQ(kept.InstallAll(), 0);
    EXPECT_EQ(events.Sequence(), "8 9");

    CUpdateEngine refused;
    EXPECT_FALSE(refused.Init(nullptr, "http://example.com/", "t", "d"));
    EXPECT_FALSE(refused.HasSession());
    EXPECT_TRUE(refused.BaseUrl().IsEmpty());
}

} // namespace
