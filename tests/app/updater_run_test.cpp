// The real Updater.exe against the test server and the stand-in client, in fresh folders.
#include "tests/app/program_run.h"
#include "engine/update_controller.h"
#include "manifest/digest_cache.h"
#include "tests/support/manifests.h"
#include "tests/support/replies.h"

#include <gtest/gtest.h>

#include <commctrl.h>

#include <algorithm>
#include <iostream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const DWORD kRunTimeoutMs = 60000;
const char* const kDefaultError = "更新失败，请到官方网站去下载最新版本";

// Entries of name and size, with the md5 empty (or given), an optional sha256, root attributes.
HttpReply Manifest(const std::vector<std::pair<std::string, unsigned long>>& entries,
                   const std::string& sha256 = "", const std::string& rootAttributes = "",
                   const std::string& md5 = "") {
    std::string xml;
    for (const auto& e : entries)
        xml += ManifestEntry(e.first, std::to_string(e.second), md5, sha256);
    return Body(ManifestXml(xml, rootAttributes));
}

// "left,top widthxheight;" for each control, in its dialog's client coordinates.
std::string Placements(HWND dialog, std::initializer_list<int> ids) {
    std::string out;
    for (int id : ids) {
        RECT rc = {};
        GetWindowRect(GetDlgItem(dialog, id), &rc);
        MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&rc), 2);
        out += std::to_string(rc.left) + "," + std::to_string(rc.top) + " " +
               std::to_string(rc.right - rc.left) + "x" + std::to_string(rc.bottom - rc.top) + ";";
    }
    return out;
}

// A folder in which nothing can be created while this lives, even by root: the file system's
// immutable flag, set by chattr (Wine runs a Unix program named by its path, but its process
// handle does not tell when it ended: the folder itself is watched).
class CWriteProtected {
public:
    explicit CWriteProtected(const std::string& folder) : m_folder(folder) { Set(true); }
    ~CWriteProtected() { Set(false); }
    bool Holds() const {
        CKernelHandle probe(CreateFileA((m_folder + "probe").c_str(), GENERIC_WRITE, 0, nullptr,
                                        CREATE_NEW, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
        return !probe.IsValid();
    }

private:
    void Set(bool on) const {
        using ToUnix = char*(CDECL*)(const WCHAR*);
        const auto toUnix = reinterpret_cast<ToUnix>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("kernel32"), "wine_get_unix_file_name")));
        WCHAR wide[MAX_PATH] = {};
        MultiByteToWideChar(CP_ACP, 0, m_folder.c_str(), -1, wide, MAX_PATH);
        char* unixPath = toUnix ? toUnix(wide) : nullptr;
        if (!unixPath)
            return;
        const std::string line =
            std::string("Z:\\usr\\bin\\chattr ") + (on ? "+i \"" : "-i \"") + unixPath + "\"";
        HeapFree(GetProcessHeap(), 0, unixPath);
        PROCESS_INFORMATION info = {};
        if (StartProgram(line, info)) {
            CloseHandle(info.hProcess);
            CloseHandle(info.hThread);
        }
        WaitUntil([&] { return Holds() == on; }, 10000);
    }

    const std::string m_folder;
};

class UpdaterRun : public ::testing::Test {
protected:
    void SetUp() override {
        char temp[MAX_PATH + 1] = {};
        GetTempPathA(sizeof(temp), temp);
        runLog = std::string(temp) + "Quillmarket-Updater.log"; // in the %TEMP% it inherits
        ASSERT_TRUE(server.Start());
    }

    // A fresh installation named `name` with the programs, an Updater.INI naming the server's
    // "/down" site (plus `extraIni`), the manifest reply, and no run log yet.
    void Prepare(const char* name, HttpReply manifest, const std::string& extraIni = "") {
        programs.reset(); // the previous run ends first
        folder.reset(new InstallFolder(name));
        programs.reset(new ProgramRun(*folder));
        ASSERT_TRUE(
            WriteWholeFile(*folder / "Updater.INI",
                           "[Download]\r\nsite1=" + server.Url("/down") + "\r\n" + extraIni));
        server.SetPrefix("/down/update/update.xml?", manifest);
        DeleteFileA(runLog.c_str()); // the tests run one at a time
    }
    std::string Installed(const char* name) const { return ReadWholeFile(*folder / name); }
    bool Exists(const char* name) const { return testsupport::Exists(*folder / name); }
    bool Launch() { return programs->StartClient() && programs->StartUpdater(); }
    void ExpectLogged(std::initializer_list<std::string> texts) const {
        const std::string log = ReadWholeFile(runLog);
        for (const std::string& text : texts)
            EXPECT_NE(log.find(text), std::string::npos) << text << " in\n" << log;
    }

    std::string runLog;
    TestHttpServer server;
    std::unique_ptr<InstallFolder> folder;
    std::unique_ptr<ProgramRun> programs; // ended before its folder is removed
};

// The settings file is named after the executable (last extension only, ".INI", ahead of the
// Updater.INI beside it); the site works with or without its scheme.
TEST_F(UpdaterRun, SettingsFileNameAndSiteForms) {
    const std::string host = server.Url("").substr(7); // without "http://"
    const struct {
        const char *exe, *base;
        std::string site;
        const char* path;
    } cases[] = {
        {"a.b.exe", "a.b", "http://" + host + "/dotted", "/dotted/"},
        {"Updater.exe", "Updater", host + "/bare", "/bare/"},
        {"Updater.exe", "Updater", "http://" + host + "/slash/", "/slash//"},
        {"Updater.exe", "Updater", "HTTP://" + host + "/caps", "/caps/"},
    };
    server.SetPrefix("/", Manifest({}));
    for (const auto& c : cases) {
        SCOPED_TRACE(c.site);
        Prepare("ini", Manifest({}));
        ASSERT_TRUE(WriteWholeFile(*folder / (std::string(c.base) + ".INI"),
                                   "[download]\r\nSITE1=" + c.site + "\r\n"));
        const size_t before = server.Requests().size();
        ASSERT_TRUE(programs->StartUpdater(c.exe));
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().rfind(std::string("GET ") + c.path + "update/update.xml?", 0), 0u)
            << requests.back();
    }
}

// The second of two files stalls: the client is closed before the window shows, laid out as
// designed; then both are installed and the client restarted (quoted path with blanks).
TEST_F(UpdaterRun, TwoFilesAreShownInstalledAndTheClientRestarted) {
    Prepare("install dir with blanks", Manifest({{"a.dat", 20000}, {"b.dat", 50000}}));
    ASSERT_TRUE(WriteWholeFile(*folder / "b.dat", "the old content of b, long enough to matter"));
    server.Set("/down/update/a.dat", Generated(20000));
    server.Set("/down/update/b.dat", Generated(50000, 16384));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(server.WaitStalled(kRunTimeoutMs));
    HWND dialog = programs->WaitUpdaterWindow("", 10000);
    ASSERT_NE(dialog, nullptr);
    ASSERT_TRUE(
        WaitUntil([&] { return ControlText(dialog, 1004) == "大小 48 KB  已下载 16 KB"; }, 10000))
        << ControlText(dialog, 1004);
    EXPECT_EQ(ControlText(dialog, 1001), "正在下载 b.dat ");

    RECT window = {}, work = {};
    GetWindowRect(dialog, &window);
    SystemParametersInfoA(SPI_GETWORKAREA, 0, &work, 0);
    EXPECT_EQ(window.right - window.left, 512);
    EXPECT_EQ(window.bottom - window.top, 133);
    EXPECT_LE(std::max(std::abs(window.left + window.right - work.left - work.right),
                       std::abs(window.top + window.bottom - work.top - work.bottom)),
              1); // centred in the work area
    EXPECT_EQ(Placements(dialog, {1000, 1003, 1001, 1004, IDCANCEL}),
              "7,50 492x15;7,70 492x15;10,90 300x16;10,110 548x15;480,10 16x17;");
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1003, PBM_GETRANGE, FALSE, 0), (20000 + 50000) >> 10);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1003, PBM_GETPOS, 0, 0), (20000 + 16384) >> 10);
    EXPECT_EQ(SendDlgItemMessageA(dialog, 1000, PBM_GETRANGE, FALSE, 0), 50000 >> 10);
    EXPECT_TRUE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));

    server.Release();
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
    ASSERT_TRUE(programs->WaitClientRestarted(15000));
    EXPECT_EQ(Installed("a.dat"), GeneratedContent(20000));
    EXPECT_EQ(Installed("b.dat"), GeneratedContent(50000));
    EXPECT_EQ(programs->CountLogLines("msg close visible-dialogs=0"), 1);
    const std::string restart = "start \"" + (*folder / "Quillmarket.exe") + "\" -noupdate";
    EXPECT_EQ(programs->CountLogLines(restart), 1) << programs->ClientLog();
    ExpectLogged({"start: Updater 1.0.0.0, settings ", "file a.dat: to fetch, missing, 20000 bytes",
                  "file b.dat: to fetch, differs", "download b.dat: 50000 bytes in ",
                  "install: begin, 2 files", "install: done, 2 files placed",
                  "run end: installed"});
}

// Each outcome as the client, the server and the run log see it. Nothing to fetch or a failed
// check (also a refused name, an older or expired release): the client hears "nothing to update"
// once, nothing but the manifest (and signature) is fetched. A failed download or installation (a
// file held open, a folder nothing can be written in, a wrong sha256): one message, configured
// or default, every installed file as it was, no temporary file, no restart.
TEST_F(UpdaterRun, EachOutcomeIsToldToTheClientAndLogged) {
    SetEnvironmentVariableA("UPDATER_TEST_ONLY_IDLE_LIMIT_MS", "1000"); // inherited
    const std::string content = "the new content of a.dat, signed";
    const unsigned long size = static_cast<unsigned long>(content.size());
    const char* const sha256 = "278a90192af69c6093bb32d594d6bf617d32dfabd1542d8c83b30246f046850b";
    const char* const md5 = "9fcbc14fc67bb27b1ac6f7b7303bf93d";
    const auto signedXml = [&](const std::string& rootAttributes) {
        return Manifest({{"a.dat", size}}, sha256, rootAttributes).body;
    };
    const std::string serial2 = signedXml(" serial=\"2\""), serial1 = signedXml(" serial=\"1\""),
                      expired = signedXml(" serial=\"3\" expires=\"1\"");
    std::string publicKey;
    Sign("", &publicKey);
    const std::string withKey = "PublicKey=" + publicKey + "\r\n";
    const HttpReply twoFiles = Manifest({{"a.dat", size}, {"missing.dat", 100}});
    struct Case {
        HttpReply manifest;
        const char* outcome; // "none" (nothing to update), "installed" or the message shown
        const char* logged;
        std::string ini = "";
        std::string signature = "";         // served as update.xml.sig; "": 404
        bool held = false, corrupt = false; // a.dat held open or served corrupt
        std::string serial = "";            // remembered before the run, and after it
        bool locked = false;                // nothing can be written in the installation folder
        bool busy = false;                  // another updater holds the installation
    };
    const Case cases[] = {
        {Manifest({}), "none", "manifest check: up to date"},
        {Body(twoFiles.body, 404), "none", "manifest check failed: manifest: HTTP status 404"},
        {Silent(), "none", "manifest check failed: WinInet error 12002"}, // a time-out
        {Manifest({{"nul.txt", 5}, {"a.dat", size}}), "none", "file nul.txt: refused"},
        {twoFiles, "更新没有成功", "download missing.dat: HTTP status 404",
         "[messages]\r\nErrorMsg=更新没有成功\r\n"},
        {twoFiles, kDefaultError, "install: failed", "", "", true},
        {twoFiles, kDefaultError, "run end: failed", "", "", false, false, "", true},
        {Body(serial2), "installed", "release: serial 2, no expiry", withKey, Sign(serial2)},
        {Body(serial1), "none", "release refused: serial 1, older than serial 2", withKey,
         Sign(serial1), false, false, "2\r\n"},
        {Body(serial2), "installed", "signature: verified", withKey, Sign(serial2), false, false,
         "2\r\n"},
        {Body(expired), "none", "release expired at 1970-01-01 00:00:01 UTC", withKey,
         Sign(expired)},
        {Body(serial2), kDefaultError, "download a.dat: content does not match its sha256", withKey,
         Sign(serial2), false, true},
        {Manifest({{"a.dat", size}}, sha256, " serial=\"1\"", md5), "installed",
         "PublicKey not set", "", "", false, false, "2\r\n"},
        {twoFiles, "none", "another updater is at work on this installation", "", "", false, false,
         "", false, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.logged);
        const std::string outcome = c.outcome;
        const bool none = outcome == "none", installed = outcome == "installed";
        Prepare("run", c.manifest, c.ini);
        // The test build, which takes the shortened limit; the shipped one reads no variable.
        ASSERT_TRUE(CopyFileA(WinePath(UPDATER_TEST_EXE_UNIX).c_str(),
                              (*folder / "Updater.exe").c_str(), FALSE));
        ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
        if (!c.serial.empty()) {
            ASSERT_TRUE(CreateDirectoryA((*folder / "Update").c_str(), nullptr));
            ASSERT_TRUE(WriteWholeFile(*folder / "Update\\release.serial", c.serial));
        }
        server.SetPrefix("/down/update/update.xml.sig?",
                         c.signature.empty() ? Body("not found", 404) : Body(c.signature));
        server.Set("/down/update/a.dat", Body(c.corrupt ? "THE" + content.substr(3) : content));
        server.Set("/down/update/missing.dat",
                   c.held ? Body("a file the release adds") : Body("not found", 404));
        const CKernelHandle held = c.held ? HoldOpen(*folder / "a.dat") : CKernelHandle();
        // The client's log is there before: its lines are appended.
        ASSERT_TRUE(WriteWholeFile(*folder / "client.log", ""));
        const std::unique_ptr<CWriteProtected> locked(c.locked ? new CWriteProtected(folder->Path())
                                                               : nullptr);
        if (locked && !locked->Holds()) {
            std::cout << "not run: the folder could not be write-protected here\n";
            continue;
        }
        const CKernelHandle busy(
            c.busy
                ? CreateMutexA(nullptr, FALSE, InstallationLockName((*folder / "Update").c_str()))
                : nullptr);
        const size_t before = server.Requests().size();
        ASSERT_TRUE(Launch());
        if (!none && !installed) {
            EXPECT_EQ(programs->ConfirmFailure(), outcome);
        }
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        EXPECT_EQ(programs->CountLogLines("msg 1126"), none ? 1 : 0);
        EXPECT_EQ(programs->CountLogLines("msg close"), none ? 0 : 1);
        if (installed) {
            EXPECT_TRUE(programs->WaitClientRestarted(15000));
            // The old a.dat was hashed; the digest cache takes the new one's md5 only when its
            // download was checked against one, else the old file's record stays.
            ExpectLogged({"local files: 0 taken from the digest cache, 1 hashed"});
            CDigestCache cache((*folder / "Update").c_str());
            ASSERT_EQ(cache.Load(), CDigestCache::Loaded::Whole);
            const DigestRecord* record = cache.Find("a.dat");
            ASSERT_NE(record, nullptr);
            const bool checked = c.manifest.body.find(md5) != std::string::npos;
            EXPECT_STREQ(record->md5, checked ? md5 : Md5Of("installed a").c_str());
        } else {
            EXPECT_EQ(programs->CountLogLines("start"), 1); // only the client the test started
        }
        EXPECT_EQ(Installed("a.dat"), installed ? content : "installed a");
        EXPECT_FALSE(Exists("missing.dat"));
        EXPECT_FALSE(Exists("Update\\a.dat.dtm"));
        // Serial 2 is remembered once verified, whatever comes after.
        const bool remembers = !c.signature.empty() && c.manifest.body == serial2;
        EXPECT_EQ(Installed("Update\\release.serial"), remembers ? "2\r\n" : c.serial);
        const std::vector<std::string> requests = server.Requests();
        if (c.busy) { // it fetched nothing and touched nothing
            EXPECT_EQ(requests.size(), before);
            ExpectLogged({c.logged, "run end: nothing to update"});
            continue;
        }
        ASSERT_GT(requests.size(), before);
        EXPECT_TRUE(std::regex_match(requests[before],
                                     std::regex("GET /down/update/update\\.xml\\?"
                                                "([1-9][0-9]{0,5}|1000000) HTTP/1\\.1")))
            << requests[before]; // with a cache-busting number
        if (none || c.locked) {
            EXPECT_EQ(requests.size() - before, c.ini == withKey ? 2u : 1u);
        } else { // a wrong digest is fetched once more before the run gives up
            EXPECT_EQ(std::count(requests.begin() + before, requests.end(),
                                 "GET /down/update/a.dat HTTP/1.1"),
                      c.corrupt ? 2 : 1);
        }
        if (c.locked) { // a standard user's Program Files: no prompt, the folder named
            ExpectLogged({"the installation folder " + folder->Path() + " cannot be written"});
        }
        ExpectLogged({c.logged, none        ? "run end: nothing to update"
                                : installed ? "run end: installed"
                                            : "run end: failed"});
    }
}

// site1 refuses connections, so the manifest and the file come from site2. The client takes 6 s
// to exit once asked to close, holding its own executable, which the release replaces: the
// installation waits for its process, and the new client starts.
TEST_F(UpdaterRun, AnUnreachableSiteAndASlowClientStillGetTheUpdate) {
    TestHttpServer closed;
    ASSERT_TRUE(closed.Start());
    const std::string refused = closed.Url("/down");
    closed.Stop();
    const std::string client = ReadWholeFile(WinePath(CLIENT_EXE_UNIX));
    const std::string release = client + "appended: the new release still runs";
    Prepare("sites", Manifest({{"Quillmarket.exe", static_cast<unsigned long>(release.size())}}));
    ASSERT_TRUE(WriteWholeFile(*folder / "Updater.INI", "[Download]\r\nsite1=" + refused +
                                                            "\r\nsite2=" + server.Url("/down")));
    server.Set("/down/update/Quillmarket.exe", Body(release));
    SetEnvironmentVariableA("QUILLMARKET_CLOSE_DELAY_MS", "6000");
    ASSERT_TRUE(programs->StartClient());
    SetEnvironmentVariableA("QUILLMARKET_CLOSE_DELAY_MS", nullptr); // not for the new client
    ASSERT_TRUE(programs->StartUpdater());
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
    ASSERT_TRUE(programs->WaitClientRestarted(15000));
    EXPECT_EQ(Installed("Quillmarket.exe"), release);
    ExpectLogged({"manifest: site1 failed", "site2", "install: waiting for the client's process",
                  "install: the client ended after", "run end: installed"});
}

// The updater stopped, as by a crash, in an installation, in the next start's recovery, or once
// done: the next start finishes it, every file all old or all new, nothing of it left. Putting
// files back waits for the client (it holds the new Quillmarket.exe) and starts it again; a
// committed one is finished without closing the client; one done is never undone.
TEST_F(UpdaterRun, AStopMidInstallationIsCompletedByTheNextStart) {
    const std::string client = ReadWholeFile(WinePath(CLIENT_EXE_UNIX));
    // Each file of the release, where it is installed, what it holds there before and after.
    const struct {
        const char *name, *installed;
        std::string old, fresh;
    } release[] = {{"Quillmarket.exe", "Quillmarket.exe", client, client + "the new client"},
                   {"a.dat", "a.dat", "old a", "the new content of a.dat"},
                   {"added.dat", "added.dat", "", "the new content of added.dat"},
                   {"Updater.exe", "Updater.EX_", "old updater", "the new content of Updater.exe"}};
    std::vector<std::pair<std::string, unsigned long>> listed;
    for (const auto& file : release)
        listed.push_back({file.name, static_cast<unsigned long>(file.fresh.size())});
    // Steps: the four downloads flushed, the journal written and flushed (5, 6), the old copies'
    // folders (7, 8), the three old files kept (9-11), the four moved in (12-15), the commit
    // written and flushed (16, 17), the clearing up. Recovering, the undo is marked (1, 2), then
    // a.dat is put back (3), then Quillmarket.exe.
    const struct {
        const char* what;
        int stop, recoveryStop; // 0: none
        bool installed;
    } cases[] = {{"two files moved in", 13, 0, false},
                 {"and the recovery stopped after a.dat", 13, 3, false},
                 {"committed", 17, 0, true},
                 {"done, then Updater.EX_ applied by the client", 0, 0, true}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare("stop", Manifest(listed));
        ASSERT_TRUE(CopyFileA(WinePath(UPDATER_TEST_EXE_UNIX).c_str(),
                              (*folder / "Updater.exe").c_str(), FALSE));
        for (const auto& file : release) {
            ASSERT_TRUE(file.old.empty() || WriteWholeFile(*folder / file.installed, file.old));
            server.Set("/down/update/" + std::string(file.name), Body(file.fresh));
        }
        const auto startUpdater = [&](int stop) {
            SetEnvironmentVariableA("UPDATER_TEST_STOP_AT_STEP",
                                    stop ? std::to_string(stop).c_str() : nullptr);
            EXPECT_TRUE(programs->StartUpdater());
            EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), stop ? 99 : 0);
        };
        ASSERT_TRUE(programs->StartClient());
        startUpdater(c.stop);
        if (!c.stop) {
            ASSERT_TRUE(programs->WaitClientRestarted(15000));
            ASSERT_TRUE(MoveFileA((*folder / "Updater.EX_").c_str(),
                                  (*folder / "Updater.applied").c_str()));
        } else {
            ASSERT_TRUE(programs->StartClient());
        }
        server.SetPrefix("/down/update/update.xml?", Manifest({}));
        const int closed = programs->CountLogLines("msg close");
        const int told = programs->CountLogLines("msg 1126");
        if (c.recoveryStop) {
            startUpdater(c.recoveryStop);
            ASSERT_TRUE(programs->StartClient());
        }
        startUpdater(0);

        for (const auto& file : release) {
            const bool applied =
                c.installed && !c.stop && file.installed == std::string("Updater.EX_");
            // Whole files compared, not shown: one is a program.
            EXPECT_TRUE(Installed(file.installed) == (applied       ? ""
                                                      : c.installed ? file.fresh
                                                                    : file.old))
                << file.name << (c.installed ? " is not new" : " is not old");
        }
        EXPECT_EQ(programs->CountLogLines("msg close") - closed, c.installed      ? 0
                                                                 : c.recoveryStop ? 2
                                                                                  : 1);
        EXPECT_EQ(programs->CountLogLines("msg 1126") - told, c.installed ? 1 : 0);
        if (!c.installed) {
            EXPECT_TRUE(programs->WaitClientRestarted(15000));
        }
        EXPECT_FALSE(Exists("Update\\aside"));
        EXPECT_FALSE(Exists("Update\\install.jnl"));
    }
}

// Cancel while the download is blocked on a silent server ends the updater within 2 s: nothing
// installed, the partial file left in the configured temporary folder, no restart.
TEST_F(UpdaterRun, CancelStopsADownloadOrClosesAtOnce) {
    Prepare("cancel", Manifest({{"a.dat", 40000}}), "[Setup]\r\nTempDir=Temp Files\r\n");
    ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
    server.Set("/down/update/a.dat", Generated(40000, 8192));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(server.WaitStalled(kRunTimeoutMs));
    HWND dialog = programs->WaitUpdaterWindow("", 10000);
    ASSERT_NE(dialog, nullptr);
    const DWORD clicked = GetTickCount();
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(dialog, IDCANCEL)));
    EXPECT_EQ(programs->WaitUpdater(2000), 0);
    EXPECT_LT(GetTickCount() - clicked, 2000u);
    EXPECT_EQ(Installed("a.dat"), "installed a");
    EXPECT_TRUE(Exists("Temp Files\\a.dat.dtm"));
    EXPECT_EQ(programs->CountLogLines("start"), 1);

    // During the failure message or the installation Cancel closes the window at once; files
    // being moved are still all placed (waiting for one briefly in use), then the restart.
    Prepare("cancel32", Manifest({{"gone.dat", 100}}));
    ASSERT_TRUE(Launch());
    HWND box = programs->WaitUpdaterWindow("提示", 30000);
    ASSERT_NE(box, nullptr);
    dialog = GetWindow(box, GW_OWNER);
    ASSERT_NE(dialog, nullptr);
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));
    if (IsWindow(box))
        SendMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);

    Prepare("cancel6", Manifest({{"busy.dat", 12000}}));
    ASSERT_TRUE(WriteWholeFile(*folder / "busy.dat", "old busy"));
    server.Set("/down/update/busy.dat", Generated(12000));
    // The installed file is held open without delete sharing, as a slow client would.
    std::unique_ptr<CKernelHandle> busy(new CKernelHandle(HoldOpen(*folder / "busy.dat")));
    ASSERT_TRUE(busy->IsValid());
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitUntil(
        [&] {
            dialog = programs->FindUpdaterWindow("");
            return dialog && !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
        },
        30000));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));
    busy.reset();
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
    EXPECT_EQ(Installed("busy.dat"), GeneratedContent(12000));
    EXPECT_TRUE(programs->WaitClientRestarted(15000));
}

} // namespace
