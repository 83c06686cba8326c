// Whole runs of the engine's worker against the test server: the events a receiver sees, the
// files written and installed, and where a cancel request takes effect.
#include "engine/download/block_matcher.h"
#include "engine/install/install_recovery.h"
#include "engine/update_run.h"
#include "framework/program_info.h"
#include "manifest/block_index.h"
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

// One run over its own installation folder.
struct EngineRun {
    // tempDir is relative to the folder; only its last level is ever created.
    explicit EngineRun(const std::string& baseUrl, const std::string& tempDir = "t") {
        EXPECT_TRUE(
            run.Init(&events, baseUrl.c_str(), (folder / tempDir).c_str(), folder.Path().c_str()));
    }
    // Where a file is downloaded: the flat temporary folder, each backslash written %5C.
    std::string Temp(std::string name) const {
        for (size_t at; (at = name.find('\\')) != std::string::npos;)
            name.replace(at, 1, "%5C");
        return folder / ("t\\" + name + ".dtm");
    }
    // Starts the worker as the window does and waits for it; the worker's result.
    DWORD Worker() {
        EXPECT_TRUE(run.Start());
        EXPECT_TRUE(run.Wait(60000));
        return static_cast<DWORD>(run.Result());
    }

    InstallFolder folder{"engine"};
    NotifyRecorder events;
    CUpdateRun run;
};

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        // Silence fails a request after 1.5 s here, and the first new try comes after 10 ms.
        SetEnvironmentVariableA("UPDATER_TEST_ONLY_IDLE_LIMIT_MS", "1500");
        SetEnvironmentVariableA("UPDATER_TEST_ONLY_RETRY_DELAY_MS", "10");
        ASSERT_TRUE(server.Start());
    }
    TestHttpServer server;
};

TEST_F(EngineTest, TwoFilesAreReceivedThenInstalled) {
    EngineRun run(server.Url("/update")); // the missing "/" is added
    ASSERT_TRUE(WriteWholeFile(run.folder / "数据.dat", "previous 数据"));
    server.Set("/update/a.dat", Generated(20000));
    server.Set("/update/数据.dat", Body("the new content of the b file"));
    run.run.AddFile("a.dat", nullptr);
    run.run.AddFile("数据.dat", nullptr);

    EXPECT_EQ(run.Worker(), 0u);
    EXPECT_EQ(run.events.Sequence(), "1 3 4* 5 1 3 4* 5 6 8 9");
    // A window that comes late takes every event in order, a file's progress folded into its
    // last figures: this file's bytes, then the run's.
    CRunEventQueue window;
    for (const RecordedEvent& r : run.events.Events())
        window.Push(r.code, r.a1, r.a2, r.hasText ? r.text.c_str() : nullptr);
    std::string taken;
    window.TakeWaiting([&](const RunEvent& t) {
        taken += std::to_string(t.code) +
                 (t.code == UPD_EVT_PROGRESS
                      ? "=" + std::to_string(t.a1) + "/" + std::to_string(t.a2) + t.text
                      : "") +
                 " ";
        // Recorded while the window shows: left for its next pass, not taken in this one.
        window.Push(UPD_EVT_PROGRESS, 1, 1, "late");
    });
    EXPECT_EQ(taken, "1 3 4=20000/20000a.dat 5 1 3 4=29/20029数据.dat 5 6 8 9 ");
    RunEvent late;
    ASSERT_TRUE(window.Pop(late));
    EXPECT_EQ(late.text, "late");
    EXPECT_FALSE(window.Pop(late));

    EXPECT_EQ(ReadWholeFile(run.folder / "a.dat"), GeneratedContent(20000));
    EXPECT_EQ(ReadWholeFile(run.folder / "数据.dat"), "the new content of the b file");
    EXPECT_FALSE(Exists(run.Temp("a.dat")));
    EXPECT_EQ(run.run.Files().size(), 0u);                      // emptied only after success,
    EXPECT_EQ(run.run.Files().capacity(), 0u);                  // its storage released
    EXPECT_EQ(run.run.LastDownloadEvent(), UPD_EVT_DOWNLOADED); // installation leaves it alone
    EXPECT_EQ(run.run.State(), RunState::Done);
    // A non-ASCII name goes on the wire as its ANSI (GBK) bytes, unescaped.
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"GET /update/a.dat HTTP/1.1",
                                        "GET /update/\xca\xfd\xbe\xdd.dat HTTP/1.1"}));
}

// What becomes of the second file's replies. A body is the file unless it is short, an error
// status or starts with one of the two HTML openings, screens a well-formed digest overrides;
// without a length it is read to its end; a digest holds in either letter case, anything else in
// its place is ignored. Passing faults are tried again, continuing where the server allows it; a
// wrong digest is fetched once more. A failure ends the run with one event (a platform failure
// with the platform's text): nothing installed, nothing later tried, nothing kept unchecked.
TEST_F(EngineTest, EachReplyEitherInstallsEverythingOrFailsTheRun) {
    TestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    const std::string refused = closed.Url("/u/");
    closed.Stop(); // nothing listens there now
    HttpReply cut = Generated(50000), unsized = Generated(30000), reset, whole = Generated(300000);
    cut.dropAfter = 20000; // ends before its announced length
    unsized.sendContentLength = false;
    reset.reset = true;
    whole.etag = "\"v1\"";
    HttpReply dropped = whole, deaf = whole, headersOnly = Generated(9000);
    dropped.dropAfter = 100000;
    headersOnly.dropAfter = 0;
    deaf.ignoreRange = true;
    const std::string pad = " padding to make it long enough", ok = "exactly twenty-two ch.";
    const char* failedB = "下载 b.dat 文件失败";
    const char *platform = nullptr, *installed = "1 3 4* 5 1 3 4* 5 6 8 9",
               *second = "1 3 4* 5 1 3 4* 32", *rejected = "1 3 4* 5 1 32";
    struct Case {
        const char* what;
        HttpReply a;
        std::vector<HttpReply> b; // in turn; the last one answers again
        const char* sequence;
        const char* text; // of the failure
        size_t requests;  // the files after a failure are never tried
        const char* md5B = nullptr;
        const char* sha256B = nullptr;
        std::string url = "", tempDir = "t";
        bool journal = false; // an earlier installation unfinished: nothing begins, it stays
    } cases[] = {
        {"digests in the file's form", Generated(100), Seq(Body(ok)), installed, "", 2,
         "adf36cd257f037b483c5d8e174a8feec",
         "137f2f13e0d0fb86477742620095dfc745686c5d5376326fd9dc631a36816125"},
        {"md5 in capitals", Generated(100), Seq(Body(ok)), installed, "", 2,
         "ADF36CD257F037B483C5D8E174A8FEEC"},
        {"md5 a placeholder", Generated(100), Seq(Body(ok)), installed, "", 2, "fetch every time"},
        {"md5 of 31 digits", Generated(100), Seq(Body(ok)), installed, "", 2,
         "ADF36CD257F037B483C5D8E174A8FEE"},
        {"no length", Generated(100), Seq(unsized), installed, "", 2},
        {"<HTML>", Generated(100), Seq(Body("<HTML>" + pad)), installed, "", 2},
        {"blank, <html>", Generated(100), Seq(Body(" <html>" + pad)), installed, "", 2},
        {"21 characters", Generated(100), Seq(Body("twenty-one characters")), rejected, failedB, 2},
        // Tiny files whose digest proves them right.
        {"21 characters with their md5", Generated(100), Seq(Body("twenty-one characters")),
         installed, "", 2, "1725618f634e243a96274e170cb70c56"},
        {"1 byte with its md5", Generated(100), Seq(Body("x")), installed, "", 2,
         "9dd4e461268c8034f5c8564e155c67a6"},
        {"5 bytes with their sha256", Generated(100), Seq(Body("hello")), installed, "", 2, nullptr,
         "2cf24dba5fb0a30e26e83b2ac5b9e29e1b161e5c1fa7425e73043362938b9824"},
        {"<html>", Generated(100), Seq(Body("<html>" + pad)), rejected, failedB, 2},
        {"<!DOCTYPE HTML PUBLIC", Generated(100),
         Seq(Body("<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">")), rejected, failedB, 2},
        {"status 404", Generated(100), Seq(Body("not here" + pad, 404)), rejected, failedB, 2},
        {"status 500, eight tries", Generated(100), Seq(Body("an error page" + pad, 500)), rejected,
         failedB, 9},
        {"503, then reset before a byte", Generated(100),
         Seq(Body("busy" + pad, 503), reset, Generated(100)), installed, "", 4},
        {"cut short, eight tries", Generated(9000), Seq(cut), second, failedB, 9},
        {"silent, then answered", Generated(100), Seq(Silent(), Generated(100)), installed, "", 3},
        {"length larger than the body, connection kept, then whole", Generated(9000),
         Seq(Generated(50000, 20000), Generated(20000)), installed, "", 3},
        {"dropped twice, continued", Generated(100), Seq(dropped, dropped, whole), installed, "",
         4},
        {"dropped, then Range ignored", Generated(100), Seq(dropped, deaf), installed, "", 3},
        {"a length and no byte, then whole", Generated(100), Seq(headersOnly, Generated(100)),
         installed, "", 3},
        {"dropped, then a 206 that does not continue", Generated(100),
         Seq(dropped, Body("not the rest" + pad, 206), deaf), installed, "", 4},
        {"length beyond 32 bits", Generated(9000), Seq(Generated(99999999999, 20000)), rejected,
         failedB, 2},
        {"wrong bytes for the md5, twice", Generated(9000), Seq(Generated(20000)), second, failedB,
         3, "0123456789ABCDEF0123456789abcdef"},
        // A signed manifest's SHA-256 (of "abc"), held to after the md5 passed.
        {"wrong bytes for the sha256, twice", Generated(9000), Seq(Generated(20000)), second,
         failedB, 3, nullptr, "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
        {"connection refused, eight tries", Generated(100), Seq(Generated(100)), "1 32", platform,
         0, nullptr, nullptr, refused},
        {"no such folder", Generated(100), Seq(Generated(100)), "1 3 32", platform, 1, nullptr,
         nullptr, "", "no\\such\\folder"},
        {"temporary path too long", Generated(100), Seq(Generated(100)), "1 3 32", kFailedA, 1,
         nullptr, nullptr, "", std::string(240, 'd')},
        {"an installation unfinished", Generated(100), Seq(Generated(100)), "32", "安装更新失败", 0,
         nullptr, nullptr, "", "t", true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const bool done = c.sequence == installed;
        const std::string base = "/" + std::to_string(server.Requests().size()) + "/";
        const size_t before = server.Requests().size();
        const unsigned long long sentBefore = server.BodyBytesSent();
        EngineRun run(c.url.empty() ? server.Url(base) : c.url, c.tempDir);
        ASSERT_TRUE(WriteWholeFile(run.folder / "a.dat", "installed a"));
        if (c.journal) {
            ASSERT_TRUE(WriteWholeFile(run.folder / "t\\install.jnl", "install-journal 2\r\n"));
        }
        server.Set(base + "a.dat", c.a);
        server.SetSequence(base + "b.dat", c.b);
        run.run.AddFile("a.dat", nullptr);
        ASSERT_TRUE(run.run.AddFile("b.dat", nullptr, c.md5B, c.sha256B));
        const DWORD start = GetTickCount();
        EXPECT_EQ(run.Worker(), done ? 0u : 1u);
        EXPECT_LT(GetTickCount() - start, 5000u); // a silent server fails after the idle limit
        EXPECT_EQ(run.events.Sequence(), c.sequence);
        EXPECT_EQ(server.Requests().size() - before, c.requests);
        EXPECT_FALSE(Exists(run.Temp("a.dat")) || Exists(run.Temp("b.dat")));
        EXPECT_EQ(Exists(run.folder / "t\\install.jnl"), c.journal);
        if (done) {
            const HttpReply& b = c.b.back();
            const std::string content =
                b.generatedSize ? GeneratedContent(b.generatedSize) : b.body;
            EXPECT_EQ(ReadWholeFile(run.folder / "b.dat"), content);
            // What was received is never fetched again while the server continues it.
            if (c.b.size() > 1 && !b.etag.empty() && !b.ignoreRange) {
                EXPECT_LE(server.BodyBytesSent() - sentBefore, (content.size() + 9000) * 102 / 100);
            }
            continue;
        }
        const std::string text = run.events.Events().back().text;
        if (c.text)
            EXPECT_EQ(text, c.text);
        else
            EXPECT_TRUE(!text.empty() && text != kFailedA && text != failedB) << text;
        EXPECT_EQ(run.run.LastDownloadEvent(), UPD_EVT_FAILED);
        EXPECT_EQ(run.run.State(), RunState::Failed);
        EXPECT_EQ(run.run.Files().size(), 2u); // the list stays
        EXPECT_EQ(ReadWholeFile(run.folder / "a.dat"), "installed a");
    }
}

// A cancel is seen after the current block, and kept until the next file starts; anything
// thrown inside the worker ends the run with one failure event (the window closes on it). Either
// way installed files stay as they were.
TEST_F(EngineTest, CancelOrExceptionInsideTheRunEndsIt) {
    server.Set("/c/a.dat", Generated(40000)); // five blocks
    server.Set("/c/b.dat", Generated(10000)); // two blocks
    const struct {
        const char* what;
        int atCode;     // inside this event (0: a cancel before the start)
        int occurrence; // at its n-th occurrence
        const char* sequence;
        DWORD exitCode; // 2: cancelled, 1: failed (thrown)
    } cases[] = {
        {"before the first block", 0, 0, "1 3 4* 7", 2}, // that block is still written
        {"mid-file", UPD_EVT_PROGRESS, 1, "1 3 4* 7", 2},
        {"between files", UPD_EVT_FILE_DONE, 0, "1 3 4* 5 1 3 4* 7", 2}, // next file starts
        {"after the last read loop", UPD_EVT_PROGRESS, 6, "1 3 4* 5 1 3 4* 7", 2},
        {"too late, at the last file's end", UPD_EVT_FILE_DONE, 1, "1 3 4* 5 1 3 4* 5 6 8 9", 0},
        {"thrown after a file", UPD_EVT_FILE_DONE, 0, "1 3 4* 5 32", 1},
        {"thrown at installing", UPD_EVT_INSTALLING, 0, "1 3 4* 5 1 3 4* 5 6 8 32", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EngineRun run(server.Url("/c/"));
        ASSERT_TRUE(WriteWholeFile(run.folder / "a.dat", "installed a"));
        run.run.AddFile("a.dat", nullptr);
        run.run.AddFile("b.dat", nullptr);
        CUpdateRun& r = run.run;
        if (c.atCode == 0)
            r.Cancel();
        else if (c.exitCode == 1)
            run.events.ActAt(c.atCode, 0, [] { throw std::runtime_error("thrown"); });
        else
            run.events.ActAt(c.atCode, c.occurrence, [&r] { r.Cancel(); });
        EXPECT_EQ(run.Worker(), c.exitCode);
        EXPECT_EQ(r.State(), c.exitCode == 0   ? RunState::Done
                             : c.exitCode == 1 ? RunState::Failed
                                               : RunState::Cancelled);
        EXPECT_EQ(run.events.Sequence(), c.sequence);
        EXPECT_EQ(ReadWholeFile(run.folder / "a.dat") == "installed a", c.exitCode != 0);
        EXPECT_FALSE(c.exitCode == 1 && (Exists(run.Temp("a.dat")) || Exists(run.Temp("b.dat"))));
        if (c.atCode == 0) {
            EXPECT_EQ(run.events.Count(UPD_EVT_PROGRESS), 1);
            EXPECT_EQ(ReadWholeFile(run.Temp("a.dat")), GeneratedContent(8192));
        }
    }
}

// What a failed or cancelled run received serves the next run of the same release: a finished
// download that its digest proves is not fetched again, and a file cancelled at its half
// continues where it stopped, so that at most 55% of it crosses the network again.
TEST_F(EngineTest, WhatARunReceivedServesTheNext) {
    const size_t size = 16 << 20;
    HttpReply big = Generated(size);
    big.etag = "\"r1\"";
    server.Set("/k/big.dat", big);
    server.Set("/k/small.dat", Body("twenty-one characters"));
    const std::string content = GeneratedContent(size), bigMd5 = Md5Of(content);
    InstallFolder folder{"kept"};
    const auto runOnce = [&](bool withBig, std::function<void(CUpdateRun&, NotifyRecorder&)> act) {
        NotifyRecorder events;
        CUpdateRun run;
        EXPECT_TRUE(run.Init(&events, server.Url("/k/").c_str(), (folder / "t").c_str(),
                             folder.Path().c_str()));
        run.AddFile("small.dat", nullptr, "1725618f634e243a96274e170cb70c56",
                    "11cb52084d3b8f66990883a7b1bff99030f86d0ad6e857b121093ae66ed21026");
        run.AddFile(withBig ? "big.dat" : "gone.dat", nullptr, withBig ? bigMd5.c_str() : "");
        act(run, events);
        const size_t before = server.Requests().size();
        EXPECT_TRUE(run.Start() && run.Wait(60000));
        const std::vector<std::string> all = server.Requests();
        return std::vector<std::string>(all.begin() + before, all.end());
    };
    const auto nothing = [](CUpdateRun&, NotifyRecorder&) {};
    // A missing second file fails the run; the first, finished and verified, stays.
    EXPECT_EQ(runOnce(false, nothing).size(), 2u);
    // Cancelled once half of the large file is in; the small one is not fetched again.
    const std::vector<std::string> cancelled = runOnce(true, [](CUpdateRun& r, NotifyRecorder& e) {
        e.ActAt(UPD_EVT_PROGRESS, 1 + (8 << 20) / 8192, [&r] { r.Cancel(); });
    });
    EXPECT_EQ(cancelled, std::vector<std::string>{"GET /k/big.dat HTTP/1.1"});
    // The server may still be sending the cancelled body; stopped, it has sent all it will.
    server.Stop();
    ASSERT_TRUE(server.Start());
    const unsigned long long sentBefore = server.BodyBytesSent();
    EXPECT_EQ(runOnce(true, nothing), std::vector<std::string>{"GET /k/big.dat HTTP/1.1"});
    EXPECT_LE(server.BodyBytesSent() - sentBefore, size * 55 / 100);
    EXPECT_EQ(ReadWholeFile(folder / "big.dat"), content);
    EXPECT_EQ(ReadWholeFile(folder / "small.dat"), "twenty-one characters");
    EXPECT_FALSE(Exists(folder / "t\\big.dat.dtm.resume"));
}

// A changed file with a block index is rebuilt from its installed copy: only the changed blocks
// cross the network, wherever an insertion moved the others. Any doubt (no ranges, a damaged
// index, an index of other bytes) falls back to the whole file; every result is exact.
TEST_F(EngineTest, AChangedFileIsRebuiltFromItsInstalledCopy) {
    const std::string old = GeneratedContent(2 << 20);
    std::string fresh = old.substr(0, 5000) + std::string(1000, '+') + old.substr(5000);
    for (size_t at = 40000; at < fresh.size(); at += 100 * 4096)
        fresh[at] ^= 0x55; // about 1% of the blocks
    InstallFolder release{"release"};
    const auto indexOf = [&](const std::string& content) {
        CBlockIndex index;
        EXPECT_TRUE(WriteWholeFile(release / "f", content) && index.Build((release / "f").c_str()));
        return index.Serialize();
    };
    // Equal blocks are found at once, every one, not by a walk over all of them at each byte.
    CBlockIndex zeros;
    ASSERT_TRUE(WriteWholeFile(release / "z", std::string(8 << 20, '\0')));
    ASSERT_TRUE(zeros.Build((release / "z").c_str()));
    const std::atomic<BOOL> running{FALSE};
    const std::vector<DWORD> found = FindKnownBlocks(zeros, (release / "z").c_str(), running);
    EXPECT_EQ(std::count(found.begin(), found.end(), 0u), static_cast<long>(found.size()));
    // The other index has the new size but the old bytes: the rebuilt file fails its digest.
    const std::string index = indexOf(fresh), other = indexOf(old + std::string(1000, '-'));
    HttpReply served = Body(fresh), deaf = Body(fresh);
    served.etag = deaf.etag = "\"d1\"";
    deaf.ignoreRange = true;
    const struct {
        const char* what;
        HttpReply file;
        std::string index, indexMd5;
        size_t most; // bytes the server may send in all
    } cases[] = {
        {"rebuilt", served, index, Md5Of(index), index.size() + 120000},
        {"no ranges", deaf, index, Md5Of(index), index.size() + 2 * fresh.size()},
        {"index damaged", served, index.substr(1), Md5Of(index), index.size() + fresh.size()},
        {"index of other bytes", served, other, Md5Of(other), index.size() + 2 * fresh.size()},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string base = "/d" + std::to_string(&c - cases) + "/";
        EngineRun run(server.Url(base));
        ASSERT_TRUE(WriteWholeFile(run.folder / "b.dat", old));
        server.Set(base + "b.dat", c.file);
        server.Set(base + "b.dat.blocks", Body(c.index));
        CUpdateFile file;
        ASSERT_TRUE(MakeUpdateFile("b.dat", nullptr, Md5Of(fresh).c_str(), nullptr,
                                   static_cast<DWORD>(fresh.size()), file));
        ASSERT_TRUE(SetBlockIndex(file, "b.dat.blocks", c.indexMd5.c_str(), false));
        run.run.SetFiles({file});
        const unsigned long long before = server.BodyBytesSent();
        EXPECT_EQ(run.Worker(), 0u);
        EXPECT_LE(server.BodyBytesSent() - before, c.most);
        EXPECT_TRUE(ReadWholeFile(run.folder / "b.dat") == fresh);
        // Both bars end full: the file's last figures are its size and the run's.
        const RecordedEvent last = run.events.Events()[run.events.Events().size() - 5];
        EXPECT_EQ(last.code, UPD_EVT_PROGRESS);
        EXPECT_EQ(last.a1, fresh.size());
        EXPECT_EQ(last.a2, fresh.size());
    }
}

// The program's own executable is placed beside itself as ".EX_", in any letter case. A file
// that stays in use, installed or downloaded, undoes the whole installation after a bounded
// wait: every file old again, the added one gone, no temporary file, one failure.
TEST_F(EngineTest, InstallationIsAllOrNothing) {
    std::string ownName = PathFindFileNameA(ProgramPath()); // engine_tests.exe
    std::transform(ownName.begin(), ownName.end(), ownName.begin(), ::toupper);
    const std::string ownCopy = ownName.substr(0, ownName.rfind('.')) + ".EX_";
    // One file in a folder there is, one in two folders there are not.
    const std::vector<std::string> names = {ownName, "new\\deep\\added.dat", "sub\\busy.dat",
                                            "last.dat"};
    const std::vector<std::string> installed = {ownCopy, "sub\\busy.dat", "last.dat"};
    for (std::string name : names) {
        const std::string content = "the new content of " + name;
        std::replace(name.begin(), name.end(), '\\', '/'); // as the request has it
        server.Set("/i/" + name, Body(content));
    }
    const struct {
        const char* held; // opened without delete sharing for the whole installation
        bool temporary;   // the downloaded file rather than the installed one
    } cases[] = {{nullptr, false}, {"sub\\busy.dat", false}, {"last.dat", true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.held ? c.held : "nothing held");
        EngineRun run(server.Url("/i/"));
        ASSERT_TRUE(CreateDirectoryA((run.folder / "sub").c_str(), nullptr));
        for (const std::string& name : installed)
            ASSERT_TRUE(WriteWholeFile(run.folder / name, "old " + name));
        for (const std::string& name : names)
            run.run.AddFile(name.c_str(), nullptr);
        std::unique_ptr<CKernelHandle> held;
        if (c.held)
            run.events.ActAt(UPD_EVT_INSTALLING, 0, [&] {
                const std::string path = c.temporary ? run.Temp(c.held) : run.folder / c.held;
                held.reset(new CKernelHandle(HoldOpen(path)));
            });
        // The client starts on UPD_EVT_DONE, and may change its files: nothing is left to undo.
        bool leftAtDone = false;
        run.events.ActAt(UPD_EVT_DONE, 0, [&] {
            leftAtDone = Exists(run.folder / "t\\install.jnl") || Exists(run.folder / "t\\aside");
        });
        EXPECT_EQ(run.Worker(), c.held ? 1u : 0u);
        EXPECT_FALSE(leftAtDone);
        EXPECT_EQ(held && held->IsValid(), c.held != nullptr);
        held.reset();

        EXPECT_EQ(run.events.Sequence(),
                  std::string("1 3 4* 5 1 3 4* 5 1 3 4* 5 1 3 4* 5 6 8 ") + (c.held ? "32" : "9"));
        EXPECT_EQ(run.run.State(), c.held ? RunState::Failed : RunState::Done);
        for (const std::string& name : installed)
            EXPECT_EQ(ReadWholeFile(run.folder / name),
                      c.held ? "old " + name
                             : "the new content of " + (name == ownCopy ? ownName : name));
        EXPECT_FALSE(Exists(run.folder / ownName));
        EXPECT_EQ(Exists(run.folder / "new\\deep\\added.dat"), !c.held);
        EXPECT_EQ(Exists(run.folder / "new"), !c.held); // an undo takes its folders too
        for (const std::string& name : names)           // the one still held cannot go
            EXPECT_EQ(Exists(run.Temp(name)), c.temporary && name == c.held) << name;
        // No journal is left, nor a set-aside name once nothing holds its file: a name kept
        // by a holder goes at the next start.
        EXPECT_FALSE(Exists(run.folder / "t\\install.jnl"));
        if (!c.held || c.temporary) {
            EXPECT_FALSE(Exists(run.folder / "t\\aside"));
        }
        EXPECT_EQ(CompleteUnfinishedInstallation((run.folder / "t").c_str()), Recovery::None);
        EXPECT_FALSE(Exists(run.folder / "t\\aside"));
    }
}

} // namespace
