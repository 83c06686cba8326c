// The real Updater.exe against the test server and the stand-in client, in fresh folders.
#include "tests/app/program_run.h"
#include "framework/scoped_handle.h"
#include "manifest/manifest_signature.h"
#include "tests/support/replies.h"
#include "tools/mkmanifest/manifest_signer.h"

#include <gtest/gtest.h>

#include <commctrl.h>
#include <shlwapi.h>

#include <algorithm>
#include <memory>
#include <regex>
#include <string>
#include <vector>

using namespace testsupport;

namespace {

const DWORD kRunTimeoutMs = 60000;

// Entries of name and size; the updater's test runs leave the digest out.
HttpReply Manifest(const std::vector<std::pair<std::string, unsigned long>>& entries) {
    std::string xml = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest><filelist>";
    for (const auto& e : entries)
        xml += "<file filename=\"" + e.first + "\" filesize=\"" + std::to_string(e.second) +
               "\" fileversion=\"1.0.0.1\" md5=\"\"/>";
    return Body(xml + "</filelist></manifest>\n");
}

// The value of an environment variable, and whether it is set.
std::pair<bool, std::string> Variable(const char* name) {
    char value[MAX_PATH] = {};
    const DWORD length = GetEnvironmentVariableA(name, value, sizeof(value));
    return {length > 0 && length < sizeof(value), value};
}

std::string ControlText(HWND dialog, int id) {
    char text[256] = {};
    GetWindowTextA(GetDlgItem(dialog, id), text, sizeof(text));
    return text;
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

class UpdaterRun : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(server.Start()); }

    // A fresh installation named `name` with the programs, an Updater.INI naming the server's
    // "/down" site (plus `extraIni`), and the manifest reply.
    void Prepare(const char* name, HttpReply manifest, const std::string& extraIni = "") {
        programs.reset(); // the previous run ends first
        folder.reset(new InstallFolder(name));
        programs.reset(new ProgramRun(*folder));
        ASSERT_TRUE(
            WriteWholeFile(*folder / "Updater.INI",
                           "[Download]\r\nsite1=" + server.Url("/down") + "\r\n" + extraIni));
        server.SetPrefix("/down/update/update.xml?", manifest);
    }
    std::string Installed(const char* name) const { return ReadWholeFile(*folder / name); }
    // Starts the client, then the updater, whose %TEMP% (where its run log goes) is the
    // installation's "temp" folder.
    bool Launch() {
        const std::string temp = *folder / "temp";
        CreateDirectoryA(temp.c_str(), nullptr);
        const auto tmp = Variable("TMP"), temps = Variable("TEMP");
        SetEnvironmentVariableA("TMP", temp.c_str());
        SetEnvironmentVariableA("TEMP", temp.c_str());
        const bool started = programs->StartClient() && programs->StartUpdater();
        SetEnvironmentVariableA("TMP", tmp.first ? tmp.second.c_str() : nullptr);
        SetEnvironmentVariableA("TEMP", temps.first ? temps.second.c_str() : nullptr);
        return started;
    }
    std::string RunLog() const { return ReadWholeFile(*folder / "temp\\Quillmarket-Updater.log"); }
    void ExpectLogged(const std::string& text) const {
        EXPECT_NE(RunLog().find(text), std::string::npos) << text << " in\n" << RunLog();
    }
    HWND WaitWindow(const char* caption, DWORD timeoutMs) {
        HWND found = nullptr;
        WaitUntil([&] { return (found = programs->FindUpdaterWindow(caption)) != nullptr; },
                  timeoutMs);
        return found;
    }

    TestHttpServer server;
    std::unique_ptr<InstallFolder> folder;
    std::unique_ptr<ProgramRun> programs; // ended before its folder is removed
};

// Nothing to fetch or a failed manifest (also one never answered, or trickled past the whole
// check's limit, or with a refused name): the client hears "nothing to update" once, only the
// manifest is fetched (with a cache-busting number), and the updater ends on its own. The run
// log names the cause.
TEST_F(UpdaterRun, NothingToUpdateOrManifestFailureTellsTheClientOnce) {
    // Inherited by the updater: 1 s of silence or 3 s for the whole manifest fail here.
    SetEnvironmentVariableA("UPDATER_TEST_ONLY_IDLE_LIMIT_MS", "1000");
    SetEnvironmentVariableA("UPDATER_TEST_ONLY_CHECK_LIMIT_MS", "3000");
    const std::string wanted = Manifest({{"a.dat", 100}}).body;
    const std::string timeout =
        "manifest check failed: WinInet error 12002"; // ERROR_INTERNET_TIMEOUT
    const struct {
        HttpReply manifest;
        std::string logged;
    } cases[] = {
        {Manifest({}), "manifest check: up to date"},
        {Body(wanted, 404), "manifest check failed: manifest: HTTP status 404"},
        {Body("this is not a manifest at all"), "manifest check failed"},
        {Silent(), timeout},
        {Trickle(wanted, 1, 100), timeout},
        {Manifest({{"nul.txt", 5}, {"a.dat", 100}}), "file nul.txt: refused"},
    };
    for (const auto& c : cases) {
        const HttpReply& manifest = c.manifest;
        SCOPED_TRACE(std::to_string(manifest.status) + " " + manifest.body);
        Prepare("none", manifest);
        const size_t before = server.Requests().size();
        ASSERT_TRUE(Launch());
        EXPECT_EQ(programs->WaitUpdater(10000), 0);
        EXPECT_EQ(programs->CountLogLines("msg 1126"), 1);
        EXPECT_EQ(programs->CountLogLines("msg close"), 0);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_TRUE(
            std::regex_match(requests.back(), std::regex("GET /down/update/update\\.xml\\?"
                                                         "([1-9][0-9]{0,5}|1000000) HTTP/1\\.1")))
            << requests.back();
        EXPECT_FALSE(PathFileExistsA((*folder / "a.dat").c_str()));
        ExpectLogged(c.logged);
        ExpectLogged("run end: nothing to update");
    }
}

// The settings file is named after the executable (last extension only, ".INI", ahead of the
// Updater.INI beside it); the site works with or without its scheme.
TEST_F(UpdaterRun, SettingsFileNameAndSiteForms) {
    const std::string host = "127.0.0.1:" + std::to_string(server.Port());
    const struct {
        const char* exe;
        std::string site, expectedPath;
    } cases[] = {
        {"a.b.exe", "http://" + host + "/dotted", "/dotted/update/update.xml?"},
        {"Updater.exe", host + "/bare", "/bare/update/update.xml?"},
        {"Updater.exe", "http://" + host + "/slash/", "/slash//update/update.xml?"},
        {"Updater.exe", "HTTP://" + host + "/caps", "/caps/update/update.xml?"},
    };
    server.SetDefault(Manifest({}));
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.exe) + " " + c.site);
        Prepare("ini", Manifest({}));
        const std::string base = std::string(c.exe).substr(0, std::string(c.exe).rfind('.'));
        ASSERT_TRUE(
            WriteWholeFile(*folder / (base + ".INI"), "[download]\r\nSITE1=" + c.site + "\r\n"));
        const size_t before = server.Requests().size();
        ASSERT_TRUE(programs->StartUpdater(c.exe));
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        const std::vector<std::string> requests = server.Requests();
        ASSERT_EQ(requests.size(), before + 1);
        EXPECT_EQ(requests.back().rfind("GET " + c.expectedPath, 0), 0u) << requests.back();
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
    HWND dialog = WaitWindow("", 10000);
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
    EXPECT_LE(std::abs((window.left + window.right) - (work.left + work.right)), 1);
    EXPECT_LE(std::abs((window.top + window.bottom) - (work.top + work.bottom)), 1);
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
    EXPECT_EQ(programs->CountLogLines("msg close"), 1);
    EXPECT_EQ(programs->CountLogLines("msg 1126"), 0);
    const std::string restart = "start \"" + (*folder / "Quillmarket.exe") + "\" -noupdate";
    EXPECT_EQ(programs->CountLogLines(restart), 1) << programs->ClientLog();
    for (const char* logged :
         {"start: Updater 1.0.0.0, settings ", "TempDir=", "PublicKey not set",
          "file a.dat: to fetch, missing, 20000 bytes", "file b.dat: to fetch, differs",
          "download a.dat: 20000 bytes in ", "download b.dat: 50000 bytes in ",
          "install: begin, 2 files", "install: done, 2 files placed", "run end: installed"})
        ExpectLogged(logged);
}

// A failed download, or an installed file held open for the whole run, shows one message
// (configured or default), leaves every installed file as it was and no temporary file, and
// does not restart the client.
TEST_F(UpdaterRun, DownloadOrInstallFailureShowsOneMessageAndChangesNothing) {
    const struct {
        const char *ini, *expected;
        bool held; // every file arrives, but a.dat is held open
        const char* logged;
    } cases[] = {{"[messages]\r\nErrorMsg=更新没有成功\r\n", "更新没有成功", false,
                  "download missing.dat: HTTP status 404"},
                 {"", "更新失败，请到官方网站去下载最新版本", false,
                  "download missing.dat: HTTP status 404"},
                 {"", "更新失败，请到官方网站去下载最新版本", true, "install: failed"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.expected);
        Prepare("fail", Manifest({{"a.dat", 30000}, {"missing.dat", 100}}), c.ini);
        ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
        server.Set("/down/update/a.dat", Generated(30000));
        if (c.held)
            server.Set("/down/update/missing.dat", Body("a new file that the release adds"));
        CKernelHandle held(c.held ? CreateFileA((*folder / "a.dat").c_str(), GENERIC_READ,
                                                FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr)
                                  : INVALID_HANDLE_VALUE);
        ASSERT_TRUE(Launch());
        HWND box = WaitWindow("提示", 30000);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(ControlText(box, 0xFFFF), c.expected);
        SendMessageA(box, WM_COMMAND, IDOK, 0);
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        EXPECT_EQ(Installed("a.dat"), "installed a");
        EXPECT_FALSE(PathFileExistsA((*folder / "missing.dat").c_str()));
        EXPECT_FALSE(PathFileExistsA((*folder / "Update\\a.dat.dtm").c_str()));
        EXPECT_EQ(programs->CountLogLines("start"), 1); // only the client the test started
        ExpectLogged(c.logged);
        ExpectLogged("run end: failed");
    }
}

// With PublicKey in the INI only a release signed with its key installs: a manifest changed
// after signing, one signed with another key, one without its signature (as an unsigned
// release is) change nothing and fetch no file; a file whose bytes do not match its sha256
// fails as a download error does. Without the key a signed release installs as any other.
TEST_F(UpdaterRun, OnlyAReleaseSignedWithTheConfiguredKeyInstalls) {
    std::string keys[2][2]; // private blob, public text
    for (auto& key : keys) {
        std::string error;
        ASSERT_TRUE(MakeSigningKey(key[0], key[1], error)) << error;
    }
    const auto sign = [&](int key, const std::string& bytes) {
        std::string signature, error;
        EXPECT_TRUE(SignBytes(keys[key][0], bytes, signature, error)) << error;
        return Body(signature);
    };
    const std::string content = "the new content of a.dat, signed";
    std::string sha256;
    {
        InstallFolder release{"release"};
        ASSERT_TRUE(WriteWholeFile(release / "a.dat", content));
        ASSERT_TRUE(FileSha256((release / "a.dat").c_str(), sha256));
    }
    const std::string entry = "<file filename=\"a.dat\" filesize=\"" +
                              std::to_string(content.size()) +
                              "\" fileversion=\"1.0.0.1\" md5=\"\" sha256=\"" + sha256 + "\"/>";
    const std::string head = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest><filelist>";
    const std::string signedXml = head + entry + "</filelist></manifest>\n";
    std::string changed = signedXml;
    changed.back() = ' '; // one byte: the last line end
    const std::string unsignedXml =
        Manifest({{"a.dat", static_cast<unsigned long>(content.size())}}).body;
    const std::string withKey = "PublicKey=" + keys[0][1] + "\r\n";
    const struct {
        const char* what;
        std::string xml, ini;
        HttpReply signature, file;
        const char* outcome; // "installed", "none" (nothing to update) or "failed"
        const char* logged;
    } cases[] = {
        {"signed", signedXml, withKey, sign(0, signedXml), Body(content), "installed",
         "signature: verified"},
        {"one byte changed", changed, withKey, sign(0, signedXml), Body(content), "none",
         "signature: not PublicKey's signature"},
        {"another key", signedXml, withKey, sign(1, signedXml), Body(content), "none",
         "signature: not PublicKey's signature"},
        {"no signature", signedXml, withKey, Body("not found", 404), Body(content), "none",
         "signature: HTTP status 404"},
        {"unsigned release", unsignedXml, withKey, Body("not found", 404), Body(content), "none",
         "signature: HTTP status 404"},
        {"bytes not matching the sha256", signedXml, withKey, sign(0, signedXml),
         Body(std::string(content).replace(0, 3, "THE")), "failed",
         "download a.dat: content does not match its sha256"},
        {"no key", signedXml, "", Body("not found", 404), Body(content), "installed",
         "PublicKey not set"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Prepare("signed", Body(c.xml), c.ini);
        ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
        server.SetPrefix("/down/update/update.xml.sig?", c.signature);
        server.Set("/down/update/a.dat", c.file);
        const size_t before = server.Requests().size();
        ASSERT_TRUE(Launch());
        const std::string outcome = c.outcome;
        if (outcome == "failed") {
            HWND box = WaitWindow("提示", 30000);
            ASSERT_NE(box, nullptr);
            SendMessageA(box, WM_COMMAND, IDOK, 0);
        }
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        EXPECT_EQ(Installed("a.dat"), outcome == "installed" ? content : "installed a");
        EXPECT_FALSE(PathFileExistsA((*folder / "Update\\a.dat.dtm").c_str()));
        EXPECT_EQ(programs->CountLogLines("msg 1126"), outcome == "none" ? 1 : 0);
        const std::vector<std::string> requests = server.Requests();
        const size_t fetched =
            std::count_if(requests.begin() + before, requests.end(), [](const std::string& r) {
                return r.rfind("GET /down/update/a.dat ", 0) == 0;
            });
        EXPECT_EQ(fetched, outcome == "none" ? 0u : 1u);
        if (outcome == "installed") {
            EXPECT_TRUE(programs->WaitClientRestarted(15000));
        }
        ExpectLogged(c.logged);
    }
}

// The updater stopped at a step of a 13-file installation, as by a crash: the next start
// completes it before its own run, undone while a new file was missing, committed once all
// were in place. Never a mix, and nothing of the transaction is left.
TEST_F(UpdaterRun, AStopMidInstallationIsCompletedByTheNextStart) {
    std::vector<std::pair<std::string, unsigned long>> listed = {{"Updater.exe", 100}};
    for (int i = 0; i < 12; ++i)
        listed.push_back({"f" + std::to_string(i) + ".dat", 100});
    // Eleven files exist (f10 and f11 are added): steps 1-11 set aside, 12-24 move in, 25
    // cleans up.
    const struct {
        int step;
        bool committed;
    } cases[] = {{6, false}, {18, false}, {25, true}};
    const auto added = [](const std::string& name) {
        return name == "f10.dat" || name == "f11.dat";
    };
    std::string stops = "Z:" UPDATER_STOPS_EXE_UNIX;
    std::replace(stops.begin(), stops.end(), '/', '\\');
    for (const auto& c : cases) {
        SCOPED_TRACE(c.step);
        Prepare("stop", Manifest(listed));
        const std::string updater = *folder / "Updater.exe";
        const std::string shipped = *folder / "Updater.shipped";
        ASSERT_TRUE(CopyFileA(updater.c_str(), shipped.c_str(), FALSE));
        ASSERT_TRUE(CopyFileA(stops.c_str(), updater.c_str(), FALSE));
        ASSERT_TRUE(WriteWholeFile(*folder / "Updater.EX_", "old Updater.EX_"));
        for (const auto& entry : listed) {
            server.Set("/down/update/" + entry.first, Body("the new content of " + entry.first));
            if (!added(entry.first) && entry.first != "Updater.exe") {
                ASSERT_TRUE(WriteWholeFile(*folder / entry.first, "old " + entry.first));
            }
        }
        SetEnvironmentVariableA("UPDATER_TEST_STOP_AT_STEP", std::to_string(c.step).c_str());
        ASSERT_TRUE(Launch());
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 99);
        SetEnvironmentVariableA("UPDATER_TEST_STOP_AT_STEP", nullptr);

        server.SetPrefix("/down/update/update.xml?", Manifest({}));
        ASSERT_TRUE(MoveFileExA(shipped.c_str(), updater.c_str(), MOVEFILE_REPLACE_EXISTING));
        ASSERT_TRUE(programs->StartUpdater());
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        for (const auto& entry : listed) {
            const std::string name = entry.first == "Updater.exe" ? "Updater.EX_" : entry.first;
            const std::string expected = c.committed          ? "the new content of " + entry.first
                                         : added(entry.first) ? ""
                                                              : "old " + name;
            EXPECT_EQ(Installed(name.c_str()), expected) << name;
        }
        EXPECT_FALSE(PathFileExistsA((*folder / "Update\\aside").c_str()));
        EXPECT_FALSE(PathFileExistsA((*folder / "Update\\install.jnl").c_str()));
    }
}

// Cancel while the download is blocked on a silent server ends the updater within 2 s: nothing
// installed, the partial file left in the configured temporary folder, no restart.
TEST_F(UpdaterRun, CancelMidDownloadInstallsNothing) {
    Prepare("cancel", Manifest({{"a.dat", 40000}}), "[Setup]\r\nTempDir=Temp Files\r\n");
    ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
    server.Set("/down/update/a.dat", Generated(40000, 8192));
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(server.WaitStalled(kRunTimeoutMs));
    HWND dialog = WaitWindow("", 10000);
    ASSERT_NE(dialog, nullptr);

    // The server sends nothing more: the worker is blocked in a read when Cancel is clicked.
    HWND cancel = GetDlgItem(dialog, IDCANCEL);
    const DWORD clicked = GetTickCount();
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED),
                 reinterpret_cast<LPARAM>(cancel));
    EXPECT_FALSE(IsWindowEnabled(cancel));
    EXPECT_EQ(programs->WaitUpdater(2000), 0);
    EXPECT_LT(GetTickCount() - clicked, 2000u);
    EXPECT_EQ(Installed("a.dat"), "installed a");
    EXPECT_TRUE(PathFileExistsA((*folder / "Temp Files\\a.dat.dtm").c_str()));
    EXPECT_EQ(programs->CountLogLines("start"), 1);
}

// Cancel during the failure message or while files are moved closes the window at once; an
// installation under way still finishes (waiting for a file briefly in use), then the restart.
TEST_F(UpdaterRun, CancelAfterFailureOrDuringInstallationClosesAtOnce) {
    Prepare("cancel32", Manifest({{"gone.dat", 100}}));
    ASSERT_TRUE(Launch());
    HWND box = WaitWindow("提示", 30000);
    ASSERT_NE(box, nullptr);
    HWND dialog = GetWindow(box, GW_OWNER);
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
    HANDLE busy = CreateFileA((*folder / "busy.dat").c_str(), GENERIC_READ, FILE_SHARE_READ,
                              nullptr, OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(busy, INVALID_HANDLE_VALUE);
    ASSERT_TRUE(Launch());
    ASSERT_TRUE(WaitUntil(
        [&] {
            dialog = programs->FindUpdaterWindow("");
            return dialog && !IsWindowEnabled(GetDlgItem(dialog, IDCANCEL));
        },
        30000));
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    EXPECT_TRUE(WaitUntil([&] { return !IsWindow(dialog); }, 10000));
    CloseHandle(busy);
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
    EXPECT_EQ(Installed("busy.dat"), GeneratedContent(12000));
    EXPECT_TRUE(programs->WaitClientRestarted(15000));
}

} // namespace
