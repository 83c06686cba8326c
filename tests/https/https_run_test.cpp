// The real Updater.exe over HTTPS, against the nginx servers that https_update_test.sh starts
// (it passes their ports and its work folder in the environment).
#include "tests/app/program_run.h"
#include "tests/support/replies.h"

#include <gtest/gtest.h>

#include <shlwapi.h>
#include <stdlib.h>

#include <memory>
#include <sstream>
#include <string>

using namespace testsupport;

namespace {

const DWORD kRunTimeoutMs = 60000;
enum Server { Trusted, Untrusted, OtherName, Redirecting, Plain, ServerCount };
const char* const kServerNames[ServerCount] = {"trusted", "untrusted", "othername", "redirecting",
                                               "plain"};

std::string Env(const char* name) {
    const char* value = getenv(name);
    return value ? value : "";
}

class HttpsRun : public ::testing::Test {
protected:
    void SetUp() override {
        work = Env("HTTPS_TEST_WORK");
        std::istringstream ports(Env("HTTPS_TEST_PORTS"));
        for (int& port : this->ports)
            ports >> port;
        ASSERT_FALSE(work.empty() || this->ports[Plain] == 0)
            << "run through https_update_test.sh, which starts the servers";
        // Release 2.0: a changed data file and a new updater, every entry fetched.
        const std::string release = work + "\\www\\down\\update\\";
        newUpdater = ReadWholeFile("Z:" UPDATER_EXE_UNIX) + "release 2.0";
        ASSERT_TRUE(WriteWholeFile(release + "a.dat", GeneratedContent(70000)));
        ASSERT_TRUE(WriteWholeFile(release + "Updater.exe", newUpdater));
        ASSERT_TRUE(WriteWholeFile(
            release + "update.xml",
            "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<manifest><filelist>"
            "<file filename=\"a.dat\" filesize=\"70000\" fileversion=\"2.0\" md5=\"\"/>"
            "<file filename=\"Updater.exe\" filesize=\"" +
                std::to_string(newUpdater.size()) +
                "\" fileversion=\"2.0\" md5=\"\"/></filelist></manifest>\n"));
    }

    std::string Site(Server server) const {
        const char* host = server == Plain ? "http://127.0.0.1:" : "https://localhost:";
        return host + std::to_string(ports[server]) + "/down";
    }
    // An installation of release 1.0 whose settings name `site`; the client, then the updater.
    void Launch(const std::string& site) {
        programs.reset();
        folder.reset(new InstallFolder("https"));
        programs.reset(new ProgramRun(*folder));
        ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
        ASSERT_TRUE(
            WriteWholeFile(*folder / "Updater.INI", "[Download]\r\nsite1=" + site + "\r\n"));
        ASSERT_TRUE(programs->StartClient() && programs->StartUpdater());
    }
    std::string Installed(const char* name) const { return ReadWholeFile(*folder / name); }
    std::string AccessLog(Server server) const {
        return ReadWholeFile(work + "\\access-" + kServerNames[server] + ".log");
    }

    std::string work, newUpdater;
    int ports[ServerCount] = {};
    std::unique_ptr<InstallFolder> folder;
    std::unique_ptr<ProgramRun> programs; // ended before its folder is removed
};

// A site on HTTPS, and a site on HTTP that redirects to HTTPS, update as over plain HTTP.
TEST_F(HttpsRun, UpdatesOverHttpsAndAfterARedirectFromHttp) {
    for (Server server : {Trusted, Plain}) {
        SCOPED_TRACE(Site(server));
        Launch(Site(server));
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        ASSERT_TRUE(programs->WaitClientRestarted(15000)) << programs->ClientLog();
        EXPECT_EQ(Installed("a.dat"), GeneratedContent(70000));
        EXPECT_EQ(Installed("Updater.EX_"), newUpdater);
        EXPECT_EQ(programs->CountLogLines("msg close"), 1);
        const std::string restart = "start \"" + (*folder / "Quillmarket.exe") + "\" -noupdate";
        EXPECT_EQ(programs->CountLogLines(restart), 1) << programs->ClientLog();
    }
    EXPECT_NE(AccessLog(Plain).find("GET /down/update/update.xml?"), std::string::npos);
}

// A certificate from a CA the machine does not trust, or for another name: the manifest check
// fails, the client hears "nothing to update", and no request reaches the server.
TEST_F(HttpsRun, RefusedCertificateFailsTheManifestCheck) {
    for (Server server : {Untrusted, OtherName}) {
        SCOPED_TRACE(kServerNames[server]);
        Launch(Site(server));
        EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        EXPECT_EQ(programs->CountLogLines("msg 1126"), 1) << programs->ClientLog();
        EXPECT_EQ(programs->CountLogLines("msg close"), 0);
        EXPECT_EQ(Installed("a.dat"), "installed a");
        EXPECT_EQ(AccessLog(server), "");
    }
}

// The manifest comes from a trusted host but the files are redirected to an untrusted one:
// the update fails with the one message and installs nothing.
TEST_F(HttpsRun, UntrustedFileHostFailsTheUpdate) {
    Launch(Site(Redirecting));
    HWND box = nullptr;
    ASSERT_TRUE(
        WaitUntil([&] { return (box = programs->FindUpdaterWindow("提示")) != nullptr; }, 30000));
    char text[256] = {};
    GetWindowTextA(GetDlgItem(box, 0xFFFF), text, sizeof(text));
    EXPECT_STREQ(text, "更新失败，请到官方网站去下载最新版本");
    SendMessageA(box, WM_COMMAND, IDOK, 0);
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
    EXPECT_EQ(Installed("a.dat"), "installed a");
    EXPECT_FALSE(PathFileExistsA((*folder / "Updater.EX_").c_str()));
    EXPECT_EQ(programs->CountLogLines("start"), 1); // only the client the test started
    EXPECT_NE(AccessLog(Redirecting).find(" 302 "), std::string::npos);
    EXPECT_EQ(AccessLog(Untrusted), "");
}

} // namespace
