// When a cancel request is seen, and how downloaded files are moved into place.
#include "tests/engine/engine_fixture.h"

#include <shlwapi.h>

#include <algorithm>
#include <cctype>

using namespace testsupport;

namespace {

// Where the cancel request arrives, and what the run must show for it.
struct CancelCase {
    const char* what;
    int atCode;     // request the cancel inside this event (0: before the worker starts)
    int occurrence; // at its n-th occurrence
    const char* sequence;
    DWORD exitCode;
};

TEST_F(EngineTest, CancelIsSeenAfterTheCurrentBlock) {
    const CancelCase cases[] = {
        // The first block is still read and written.
        {"before the first block", 0, 0, "1 3 4* 7", 2},
        {"mid-file", UPD_EVT_PROGRESS, 1, "1 3 4* 7", 2},
        // The next file still starts and writes its first block.
        {"between files", UPD_EVT_FILE_DONE, 0, "1 3 4* 5 1 3 4* 7", 2},
        // The read loop of the last file ended by length; the flag is still honoured.
        {"after the last read loop", UPD_EVT_PROGRESS, 6, "1 3 4* 5 1 3 4* 7", 2},
        // While the last file's completion is reported it is too late: installation follows.
        {"at the last file's end", UPD_EVT_FILE_DONE, 1, "1 3 4* 5 1 3 4* 5 6 8 9", 0},
    };
    for (const CancelCase& c : cases) {
        SCOPED_TRACE(c.what);
        InstallFolder run{"cancel"};
        TestHttpServer local;
        ASSERT_TRUE(local.Start());
        local.Set("/u/a.dat", Generated(40000)); // five blocks
        local.Set("/u/b.dat", Generated(10000)); // two blocks
        NotifyRecorder events;
        CUpdateEngine one;
        ASSERT_TRUE(
            one.Init(&events, local.Url("/u").c_str(), (run / "t").c_str(), run.Path().c_str()));
        one.AddFile("a.dat", nullptr);
        one.AddFile("b.dat", nullptr);
        if (c.atCode == 0)
            one.m_bCancel = TRUE;
        else
            events.ActAt(c.atCode, c.occurrence, [&one] { one.m_bCancel = TRUE; });

        one.m_hThread = CreateThread(nullptr, 0, &WorkerProc, &one, 0, nullptr);
        SetEvent(one.m_hStartEvent);
        ASSERT_EQ(WaitForSingleObject(one.m_hThread, 60000), WAIT_OBJECT_0);
        DWORD code = 0;
        GetExitCodeThread(one.m_hThread, &code);
        EXPECT_EQ(code, c.exitCode);
        EXPECT_EQ(events.Sequence(), c.sequence);
        if (c.exitCode == 2) {
            EXPECT_EQ(one.m_files.GetSize(), 2);
            EXPECT_FALSE(PathFileExistsA((run / "a.dat").c_str()));
        }
    }
    // Before the first block: exactly that block is in the temporary file.
    InstallFolder run{"cancel-first"};
    NotifyRecorder events;
    CUpdateEngine one;
    ASSERT_TRUE(
        one.Init(&events, server.Url("/update").c_str(), (run / "t").c_str(), run.Path().c_str()));
    server.Set("/update/a.dat", Generated(40000));
    one.AddFile("a.dat", nullptr);
    one.m_bCancel = TRUE;
    EXPECT_EQ(one.DownloadAll(), 2);
    EXPECT_EQ(events.Count(UPD_EVT_PROGRESS), 1);
    EXPECT_EQ(ReadWholeFile(run / "t\\a.dat.dtm"), GeneratedContent(8192));
}

std::string Upper(std::string text) {
    std::transform(text.begin(), text.end(), text.begin(),
                   [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
    return text;
}

// The program's own executable is placed beside itself as ".EX_", in any letter case; other
// files replace or create their installed file.
TEST_F(EngineTest, OwnExecutableIsPlacedBesideItselfOthersReplaced) {
    char module[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    const std::string ownName = Upper(PathFindFileNameA(module)); // e.g. ENGINE_TESTS.EXE
    std::string base = ownName;
    base.erase(base.rfind('.'));

    ASSERT_TRUE(WriteWholeFile(folder / "old.dat", "old"));
    server.Set("/update/" + ownName, Body("a new build of the running program"));
    server.Set("/update/old.dat", Body("replacement of the old data file"));
    server.Set("/update/new.dat", Body("a data file that did not exist yet"));
    engine.AddFile(ownName.c_str(), nullptr);
    engine.AddFile("old.dat", nullptr);
    engine.AddFile("new.dat", nullptr);

    EXPECT_EQ(RunWorker(), 0u);
    EXPECT_EQ(ReadWholeFile(folder / (base + ".EX_")), "a new build of the running program");
    EXPECT_FALSE(PathFileExistsA((folder / ownName).c_str()));
    EXPECT_EQ(ReadWholeFile(folder / "old.dat"), "replacement of the old data file");
    EXPECT_EQ(ReadWholeFile(folder / "new.dat"), "a data file that did not exist yet");
}

// A file that stays in use is skipped after a bounded wait; the run still completes.
TEST_F(EngineTest, FileStillInUseIsSkippedAndTheRunCompletes) {
    ASSERT_TRUE(WriteWholeFile(folder / "busy.dat", "busy"));
    server.Set("/update/busy.dat", Body("new content for the busy file"));
    server.Set("/update/free.dat", Body("new content for the free file"));
    engine.AddFile("busy.dat", nullptr);
    engine.AddFile("free.dat", nullptr);
    HANDLE busy = CreateFileA((folder / "busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                              OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);

    EXPECT_EQ(RunWorker(), 0u);
    CloseHandle(busy);
    EXPECT_EQ(recorder.Sequence(), "1 3 4* 5 1 3 4* 5 6 8 9");
    EXPECT_EQ(ReadWholeFile(folder / "busy.dat"), "busy");
    EXPECT_EQ(ReadWholeFile(TempFile("busy.dat")), "new content for the busy file");
    EXPECT_EQ(ReadWholeFile(folder / "free.dat"), "new content for the free file");
}

TEST_F(EngineTest, InitNormalisesTheBaseUrlAndCreatesTheTemporaryFolder) {
    EXPECT_STREQ(engine.m_strBaseUrl, (server.Url("/update") + "/").c_str());
    EXPECT_TRUE(PathIsDirectoryA(TempDir().c_str()));

    CUpdateEngine kept;
    ASSERT_TRUE(
        kept.Init(&recorder, "http://example.com/x/", TempDir().c_str(), folder.Path().c_str()));
    EXPECT_STREQ(kept.m_strBaseUrl, "http://example.com/x/");

    CUpdateEngine refused;
    EXPECT_FALSE(
        refused.Init(nullptr, "http://example.com/", TempDir().c_str(), folder.Path().c_str()));
    EXPECT_EQ(refused.m_pSession, nullptr);
    EXPECT_TRUE(refused.m_strBaseUrl.IsEmpty());

    // With nothing listed only the installation's two events are sent.
    CUpdateEngine empty;
    NotifyRecorder events;
    ASSERT_TRUE(
        empty.Init(&events, "http://example.com/", TempDir().c_str(), folder.Path().c_str()));
    EXPECT_EQ(empty.InstallAll(), 0);
    EXPECT_EQ(events.Sequence(), "8 9");
}

} // namespace
