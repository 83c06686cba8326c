// Event sequences, files written and installed, for whole runs of the worker.
#include "tests/engine/engine_fixture.h"

#include <shlwapi.h>

using namespace testsupport;

namespace {

const char kFailedA[] = "下载 a.dat 文件失败";

TEST_F(EngineTest, TwoFilesAreReceivedThenInstalled) {
    ASSERT_TRUE(WriteWholeFile(folder / "b.dat", "previous b"));
    server.Set("/update/a.dat", Generated(20000));
    server.Set("/update/b.dat", Body("the new content of the b file"));
    engine.AddFile("a.dat", nullptr);
    engine.AddFile("b.dat", nullptr);

    EXPECT_EQ(RunWorker(), 0u);
    EXPECT_EQ(recorder.Codes(), (std::vector<int>{1, 3, 4, 4, 4, 5, 1, 3, 4, 5, 6, 8, 9}));
    const std::vector<RecordedEvent> e = recorder.Events();
    EXPECT_EQ(e[1].a2, 20000u);
    EXPECT_EQ(e[1].text, "a.dat");
    EXPECT_EQ(e[2].a1, 8192u);
    EXPECT_EQ(e[3].a1, 16384u);
    EXPECT_EQ(e[4].a1, 20000u);
    EXPECT_EQ(e[4].a2, 20000u);
    EXPECT_EQ(e[8].a1, 29u);
    EXPECT_EQ(e[8].a2, 20029u);
    EXPECT_EQ(e[8].text, "b.dat");
    EXPECT_FALSE(e[0].hasText);
    EXPECT_EQ(e[11].text, "开始安装更新，请稍候...");

    EXPECT_EQ(ReadWholeFile(folder / "a.dat"), GeneratedContent(20000));
    EXPECT_EQ(ReadWholeFile(folder / "b.dat"), "the new content of the b file");
    EXPECT_FALSE(PathFileExistsA(TempFile("a.dat").c_str())); // moved, not copied
    EXPECT_EQ(engine.m_files.GetSize(), 0);                   // emptied only after success
    EXPECT_EQ(engine.m_nState, UPD_EVT_DOWNLOADED);           // installation leaves it alone
    EXPECT_EQ(server.Requests(), (std::vector<std::string>{"GET /update/a.dat HTTP/1.1",
                                                           "GET /update/b.dat HTTP/1.1"}));
}

TEST_F(EngineTest, FailureInTheFirstFileStopsTheRun) {
    server.Set("/update/a.dat", Body("<html><body>not found</body></html>", 404));
    server.Set("/update/b.dat", Generated(100));
    engine.AddFile("a.dat", nullptr);
    engine.AddFile("b.dat", nullptr);

    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_EQ(recorder.Codes(), (std::vector<int>{1, 32}));
    EXPECT_EQ(recorder.Events().back().text, kFailedA);
    EXPECT_EQ(engine.m_nState, UPD_EVT_FAILED);
    EXPECT_EQ(server.Requests().size(), 1u); // the second file is never tried
    EXPECT_EQ(engine.m_files.GetSize(), 2);  // the list stays after a failure
}

TEST_F(EngineTest, FailureInTheSecondFileKeepsTheFirstDownloadButInstallsNothing) {
    ASSERT_TRUE(WriteWholeFile(folder / "a.dat", "installed a"));
    server.Set("/update/a.dat", Generated(9000));
    HttpReply cut = Generated(20000); // ends before its announced length
    cut.announcedLength = 50000;
    server.Set("/update/b.dat", cut);
    engine.AddFile("a.dat", nullptr);
    engine.AddFile("b.dat", nullptr);

    EXPECT_EQ(RunWorker(), 1u);
    EXPECT_EQ(recorder.Sequence(), "1 3 4* 5 1 3 4* 32");
    EXPECT_EQ(recorder.Events().back().text, "下载 b.dat 文件失败");
    EXPECT_EQ(ReadWholeFile(TempFile("a.dat")), GeneratedContent(9000));
    EXPECT_EQ(ReadWholeFile(folder / "a.dat"), "installed a");
    EXPECT_EQ(recorder.Count(UPD_EVT_INSTALLING), 0);
}

// A body is taken as the file unless it is short, an error status or one of the two HTML
// openings, compared exactly at the first byte.
TEST_F(EngineTest, ResponsesThatAreNotTheFileAreRejected) {
    const std::string pad = " padding to make it long enough";
    struct Case {
        std::string body;
        int status;
        bool accepted;
    } cases[] = {
        {"exactly twenty-two ch.", 200, true},
        {"twenty-one characters", 200, false},
        {"<html>" + pad, 200, false},
        {"<!DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.01//EN\">", 200, false},
        {"<HTML>" + pad, 200, true},
        {" <html>" + pad, 200, true},
        {"<!doctype html public" + pad, 200, true},
        {"a plain error page of the server" + pad, 500, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.body);
        InstallFolder run{"reject"};
        TestHttpServer local;
        ASSERT_TRUE(local.Start());
        NotifyRecorder events;
        CUpdateEngine one;
        ASSERT_TRUE(
            one.Init(&events, local.Url("/u/").c_str(), (run / "t").c_str(), run.Path().c_str()));
        local.Set("/u/a.dat", Body(c.body, c.status));
        one.AddFile("a.dat", nullptr);
        EXPECT_EQ(one.DownloadAll(), c.accepted ? 0 : 1);
        if (c.accepted) {
            EXPECT_EQ(events.Sequence(), "1 3 4* 5 6");
            EXPECT_EQ(ReadWholeFile(run / "t\\a.dat.dtm"), c.body);
        } else {
            EXPECT_EQ(events.Sequence(), "1 32");
            EXPECT_EQ(events.Events().back().text, kFailedA);
            EXPECT_FALSE(PathFileExistsA((run / "t\\a.dat.dtm").c_str()));
        }
    }
}

TEST_F(EngineTest, BodyWithoutLengthIsReadToItsEnd) {
    HttpReply unsized = Generated(30000);
    unsized.sendContentLength = false;
    server.Set("/update/a.dat", unsized);
    engine.AddFile("a.dat", nullptr);
    EXPECT_EQ(RunWorker(), 0u);
    const std::vector<RecordedEvent> e = recorder.Events();
    ASSERT_GE(e.size(), 2u);
    EXPECT_EQ(e[1].a2, 0u); // no announced length
    EXPECT_EQ(recorder.Count(UPD_EVT_PROGRESS), 4);
    EXPECT_EQ(ReadWholeFile(folder / "a.dat"), GeneratedContent(30000));
}

// Platform failures carry the platform's own text, not the program's.
TEST_F(EngineTest, PlatformFailuresReportThePlatformText) {
    {
        TestHttpServer closed;
        ASSERT_TRUE(closed.Start());
        const std::string url = closed.Url("/update/");
        closed.Stop(); // nothing listens there now
        NotifyRecorder events;
        CUpdateEngine one;
        ASSERT_TRUE(one.Init(&events, url.c_str(), TempDir().c_str(), folder.Path().c_str()));
        one.AddFile("a.dat", nullptr);
        EXPECT_EQ(one.DownloadAll(), 1);
        EXPECT_EQ(events.Sequence(), "1 32");
        EXPECT_FALSE(events.Events().back().text.empty());
        EXPECT_NE(events.Events().back().text, kFailedA);
    }
    {
        // Only the last level of the temporary folder is created, so this one stays missing.
        NotifyRecorder events;
        CUpdateEngine one;
        const std::string missing = folder / "no\\such\\folder";
        ASSERT_TRUE(one.Init(&events, server.Url("/update/").c_str(), missing.c_str(),
                             folder.Path().c_str()));
        EXPECT_FALSE(PathIsDirectoryA(missing.c_str()));
        server.Set("/update/a.dat", Generated(100));
        one.AddFile("a.dat", nullptr);
        EXPECT_EQ(one.DownloadAll(), 1);
        EXPECT_EQ(events.Sequence(), "1 3 32");
        EXPECT_FALSE(events.Events().back().text.empty());
        EXPECT_NE(events.Events().back().text, kFailedA);
    }
    {
        // A temporary path that does not fit the path limit fails with the program's text.
        NotifyRecorder events;
        CUpdateEngine one;
        const std::string deep = folder / std::string(240, 'd');
        ASSERT_TRUE(
            one.Init(&events, server.Url("/update/").c_str(), deep.c_str(), folder.Path().c_str()));
        server.Set("/update/a.dat", Generated(100));
        one.AddFile("a.dat", nullptr);
        EXPECT_EQ(one.DownloadAll(), 1);
        EXPECT_EQ(events.Sequence(), "1 3 32");
        EXPECT_EQ(events.Events().back().text, kFailedA);
    }
}

} // namespace
