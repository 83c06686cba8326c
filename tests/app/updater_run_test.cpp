// The real Updater.exe against the test server and the stand-in client, one fresh
// installation folder per case.
#include "tests/app/program_run.h"
#include "tests/support/replies.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlwapi.h>
#include <windows.h>

#include <regex>

using namespace testsupport;

namespace {

const DWORD kRunTimeoutMs = 60000;

struct ManifestEntry {
    std::string name;
    unsigned long size;
};

std::string Manifest(const std::vector<ManifestEntry>& entries) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest><filelist>";
    for (const ManifestEntry& e : entries)
        xml += "<file filename=\"" + e.name + "\" filesize=\"" + std::to_string(e.size) +
               "\" fileversion=\"1.0.0.1\" md5=\"\"/>";
    return xml + "</filelist></manifest>\n";
}

std::string ControlText(HWND dialog, int id) {
    char text[256] = {};
    GetWindowTextA(GetDlgItem(dialog, id), text, sizeof(text));
    return text;
}

RECT ClientRectOf(HWND dialog, int id) {
    RECT rc = {};
    HWND control = GetDlgItem(dialog, id);
    GetWindowRect(control, &rc);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
    return rc;
}

std::string Describe(const RECT& rc) {
    return std::to_string(rc.left) + "," + std::to_string(rc.top) + " " +
           std::to_string(rc.right - rc.left) + "x" + std::to_string(rc.bottom - rc.top);
}

class UpdaterRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()); }

    void WriteIni(const std::string& exeBase, const std::string& body) {
        ASSERT_TRUE(WriteWholeFile(folder / (exeBase + ".INI"), body));
    }
    std::string SiteIni(const std::string& extra = "") {
        return "[Download]\r\nsite1=" + server.Url("/down") + "\r\n" + extra;
    }

    TestHttpServer server;
    InstallFolder folder{"run"};
};

// Nothing to fetch and a manifest that fails end the same way: the client hears "nothing to
// update" once, only the manifest is asked for, and the updater ends on its own.
TEST_F(UpdaterRun, NothingToUpdateOrManifestFailureTellsTheClientOnce) {
    struct Case {
        const char* what;
        HttpReply manifest;
    } cases[] = {{"empty list", Body(Manifest({}))},
                 {"404", Body(Manifest({{"a.dat", 100}}), 404)},
                 {"not xml", Body("this is not a manifest at all")}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        InstallFolder run{"none"};
        ProgramRun programs(run);
        ASSERT_TRUE(WriteWholeFile(run / "Updater.INI", SiteIni()));
        const size_t before = server.Requests().size();
        server.SetPrefix("/down/update/update.xml?", c.manifest);
        ASSERT_TRUE(programs.StartClient());
        ASSERT_TRUE(programs.StartUpdater());
        EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);
        EXPECT_EQ(programs.CountLogLines("msg 1126"), 1);
        EXPECT_EQ(programs.CountLogLines("msg close"), 0);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        std::smatch m;
        ASSERT_TRUE(std::regex_match(
            requests.back(), m, std::regex("GET /down/update/update\\.xml\\?([0-9]+) HTTP/1\\.1")))
            << requests.back();
        const long n = std::stol(m[1]);
        EXPECT_GE(n, 1);
        EXPECT_LE(n, 1000000);
        EXPECT_FALSE(PathFileExistsA((run / "a.dat").c_str()));
    }
}

// The settings file is named after the executable (last extension only, written ".INI"), and
// the site is used with or without its scheme.
TEST_F(UpdaterRun, SettingsFileNameAndSiteForms) {
    const std::string port = std::to_string(server.Port());
    struct Case {
        const char* exe;
        std::string site;
        std::string expectedPath;
    } cases[] = {
        {"a.b.exe", "http://127.0.0.1:" + port + "/down", "/down/update/update.xml?"},
        {"Updater.exe", "127.0.0.1:" + port + "/bare", "/bare/update/update.xml?"},
        {"Updater.exe", "http://127.0.0.1:" + port + "/slash/", "/slash//update/update.xml?"},
        {"Updater.exe", "HTTP://127.0.0.1:" + port + "/caps", "/caps/update/update.xml?"},
    };
    server.SetDefault(Body(Manifest({})));
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.exe) + " " + c.site);
        InstallFolder run{"ini"};
        ProgramRun programs(run);
        std::string base = c.exe;
        base.erase(base.rfind('.'));
        ASSERT_TRUE(
            WriteWholeFile(run / (base + ".INI"), "[download]\r\nSITE1=" + c.site + "\r\n"));
        const size_t before = server.Requests().size();
        ASSERT_TRUE(programs.StartUpdater(c.exe));
        EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().rfind("GET " + c.expectedPath, 0), 0u) << requests.back();
    }
}

// Two files, the second stalling half-way: the client is asked to close before the window
// shows, the window is laid out as designed and reports the stalled file, and afterwards both
// files are installed and the client comes back with -noupdate (its quoted path has blanks).
TEST_F(UpdaterRun, TwoFilesAreShownInstalledAndTheClientRestarted) {
    InstallFolder run{"install dir with blanks"};
    ProgramRun programs(run);
    ASSERT_TRUE(WriteWholeFile(run / "Updater.INI", SiteIni()));
    ASSERT_TRUE(WriteWholeFile(run / "b.dat", "the old content of b, long enough to matter"));
    server.SetPrefix("/down/update/update.xml?",
                     Body(Manifest({{"a.dat", 20000}, {"b.dat", 50000}})));
    server.Set("/down/update/a.dat", Generated(20000));
    server.Set("/down/update/b.dat", Generated(50000, 16384));

    ASSERT_TRUE(programs.StartClient());
    ASSERT_TRUE(programs.StartUpdater());
    ASSERT_TRUE(server.WaitStalled(kRunTimeoutMs));

    HWND dialog = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (dialog = programs.FindUpdaterWindow("")) != nullptr; }, 10000));
    ASSERT_TRUE(
        WaitUntil([&] { return ControlText(dialog, 1004) == "大小 48 KB  已下载 16 KB"; }, 10000))
        << ControlText(dialog, 1004);
    EXPECT_EQ(ControlText(dialog, 1001), "正在下载 b.dat ");

    RECT window = {};
    GetWindowRect(dialog, &window);
    EXPECT_EQ(window.right - window.left, 512);
    EXPECT_EQ(window.bottom - window.top, 133);
    RECT work = {};
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_LE(std::abs((window.left + window.right) - (work.left + work.right)), 1);
    EXPECT_LE(std::abs((window.top + window.bottom) - (work.top + work.bottom)), 1);
    EXPECT_EQ(Describe(ClientRectOf(dialog, 1000)), "7,50 492x15");
    EXPECT_EQ(Describe(ClientRectOf(dialog, 1003)), "7,70 492x15");
    EXPECT_EQ(Describe(ClientRectOf(dialog, 1001)), "10,90 300x16");
    EXPECT_EQ(Describe(ClientRectOf(dialog, 1004)), "10,110 548x15");
    EXPECT_EQ(Describe(ClientRectOf(dialog, IDCANCEL)), "480,10 16x17");
    HWND total = GetDlgItem(dialog, 1003);
    EXPECT_EQ(SendMessageA(total, PBM_GETRANGE, FALSE, 0), (20000 + 50000) >> 10);
    EXPECT_EQ(SendMessageA(total, PBM_GETPOS, 0, 0), (20000 + 16384) >> 10);
    EXPECT_EQ(SendMessageA(GetDlgItem(dialog, 1000), PBM_GETRANGE, FALSE, 0), 50000 >> 10);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));

    server.Release();
    EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);
    ASSERT_TRUE(programs.WaitClientRestarted(15000));

    EXPECT_EQ(ReadWholeFile(run / "a.dat"), GeneratedContent(20000));
    EXPECT_EQ(ReadWholeFile(run / "b.dat"), GeneratedContent(50000));
    const std::vector<std::string> log = programs.ClientLog();
    ASSERT_GE(log.size(), 3u);
    EXPECT_EQ(programs.CountLogLines("msg close visible-dialogs=0"), 1);
    EXPECT_EQ(programs.CountLogLines("msg close"), 1);
    EXPECT_EQ(programs.CountLogLines("msg 1126"), 0);
    const std::string restart = "start \"" + (run / "Quillmarket.exe") + "\" -noupdate";
    EXPECT_EQ(programs.CountLogLines(restart), 1) << "log:\n" << log.back();
}

// A failed download shows one message box with the configured text (or the default one),
// changes no installed file and does not restart the client.
TEST_F(UpdaterRun, DownloadFailureShowsOneMessageAndChangesNothing) {
    struct Case {
        const char* ini;
        const char* expected;
    } cases[] = {{"[messages]\r\nErrorMsg=更新没有成功\r\n", "更新没有成功"},
                 {"", "更新失败，请到官方网站去下载最新版本"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.expected);
        InstallFolder run{"fail"};
        ProgramRun programs(run);
        ASSERT_TRUE(WriteWholeFile(run / "Updater.INI", SiteIni(c.ini)));
        ASSERT_TRUE(WriteWholeFile(run / "a.dat", "installed a"));
        server.SetPrefix("/down/update/update.xml?",
                         Body(Manifest({{"a.dat", 30000}, {"missing.dat", 100}})));
        server.Set("/down/update/a.dat", Generated(30000));
        ASSERT_TRUE(programs.StartClient());
        ASSERT_TRUE(programs.StartUpdater());

        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = programs.FindUpdaterWindow("提示")) != nullptr; },
                              30000));
        char text[256] = {};
        GetDlgItemTextA(box, 0xFFFF, text, sizeof(text));
        EXPECT_STREQ(text, c.expected);
        SendMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);

        EXPECT_EQ(ReadWholeFile(run / "a.dat"), "installed a");
        EXPECT_EQ(programs.CountLogLines("start"), 1); // only the client the test started
    }
}

// Cancel during a download stops after the current block: nothing is installed, the partial
// file stays in the configured temporary folder, and the client is not restarted.
TEST_F(UpdaterRun, CancelMidDownloadInstallsNothing) {
    ASSERT_TRUE(
        WriteWholeFile(folder / "Updater.INI", SiteIni("[Setup]\r\nTempDir=Temp Files\r\n")));
    ASSERT_TRUE(WriteWholeFile(folder / "a.dat", "installed a"));
    ProgramRun programs(folder);
    server.SetPrefix("/down/update/update.xml?", Body(Manifest({{"a.dat", 40000}})));
    server.Set("/down/update/a.dat", Generated(40000, 8192));
    ASSERT_TRUE(programs.StartClient());
    ASSERT_TRUE(programs.StartUpdater());
    ASSERT_TRUE(server.WaitStalled(kRunTimeoutMs));
    HWND dialog = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (dialog = programs.FindUpdaterWindow("")) != nullptr; }, 10000));

    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(cancel));
    EXPECT_FALSE(IsWindowEnabled(cancel));
    EXPECT_TRUE(IsWindow(dialog)); // it waits for the worker's close event
    server.Release();

    EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);
    EXPECT_EQ(ReadWholeFile(folder / "a.dat"), "installed a");
    EXPECT_TRUE(PathFileExistsA((folder / "Temp Files\\a.dat.dtm").c_str()));
    EXPECT_EQ(programs.CountLogLines("start"), 1);
}

// Cancel while the failure message is up, and while the files are being moved, closes the
// window at once; an installation under way still finishes (the move waits for a file that
// is briefly in use) and the client comes back.
TEST_F(UpdaterRun, CancelAfterFailureOrDuringInstallationClosesAtOnce) {
    {
        InstallFolder run{"cancel32"};
        ProgramRun programs(run);
        ASSERT_TRUE(WriteWholeFile(run / "Updater.INI", SiteIni()));
        server.SetPrefix("/down/update/update.xml?", Body(Manifest({{"gone.dat", 100}})));
        ASSERT_TRUE(programs.StartClient());
        ASSERT_TRUE(programs.StartUpdater());
        HWND box = nullptr;
        ASSERT_TRUE(WaitUntil([&] { return (box = programs.FindUpdaterWindow("提示")) != nullptr; },
                              30000));
        HWND dialog = GetWindow(box, GW_OWNER);
        ASSERT_NE(dialog, nullptr);
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));
        if (IsWindow(box))
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);
    }
    {
        InstallFolder run{"cancel6"};
        ProgramRun programs(run);
        ASSERT_TRUE(WriteWholeFile(run / "Updater.INI", SiteIni()));
        ASSERT_TRUE(WriteWholeFile(run / "busy.dat", "old busy"));
        server.SetPrefix("/down/update/update.xml?", Body(Manifest({{"busy.dat", 12000}})));
        server.Set("/down/update/busy.dat", Generated(12000));
        // The installed file is held open without delete sharing, as a slow client would.
        HANDLE busy = CreateFileA((run / "busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(busy, INVALID_HANDLE_VALUE);
        ASSERT_TRUE(programs.StartClient());
        ASSERT_TRUE(programs.StartUpdater());
        HWND dialog = nullptr;
        ASSERT_TRUE(WaitUntil(
            [&] {
                dialog = programs.FindUpdaterWindow("");
                return dialog && !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
            },
            30000));
        PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));
        CloseHandle(busy);
        EXPECT_EQ(programs.WaitUpdater(kRunTimeoutMs), 0);
        EXPECT_EQ(ReadWholeFile(run / "busy.dat"), GeneratedContent(12000));
        EXPECT_TRUE(programs.WaitClientRestarted(15000));
    }
}

} // namespace
