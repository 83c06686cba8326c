// The real Updater.exe over HTTPS, against the servers and the release (a.dat changed, b.dat
// unchanged, c.dat new, a new updater) that https_update_test.sh makes and passes in variables.
#include "tests/app/program_run.h"

#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>

using namespace testsupport;

namespace {

const DWORD kRunTimeoutMs = 60000;
enum Server { Trusted, Untrusted, OtherName, Redirecting, Plain, ServerCount };
const char* const kServerNames[ServerCount] = {"trusted", "untrusted", "othername", "redirecting",
                                               "plain"};

class HttpsRun : public ::testing::Test {
protected:
    void SetUp() override {
        const char* value = getenv("HTTPS_TEST_WORK");
        work = value ? value : "";
        std::istringstream ports(getenv("HTTPS_TEST_PORTS") ? getenv("HTTPS_TEST_PORTS") : "");
        for (int& port : this->ports)
            ports >> port;
        ASSERT_FALSE(work.empty() || this->ports[Plain] == 0)
            << "run through https_update_test.sh, which starts the servers";
    }

    std::string Site(Server server) const {
        const char* host = server == Plain ? "http://127.0.0.1:" : "https://localhost:";
        return host + std::to_string(ports[server]) + "/down";
    }
    // An installation of release 1.0 whose settings name `site`; the client, then the updater
    // (or the client alone, which then starts the updater itself).
    void Launch(const std::string& site, bool clientStartsUpdater = false) {
        programs.reset();
        folder.reset(new InstallFolder("https"));
        programs.reset(new ProgramRun(*folder));
        ASSERT_TRUE(WriteWholeFile(*folder / "a.dat", "installed a"));
        ASSERT_TRUE(WriteWholeFile(*folder / "b.dat", Released("b.dat")));
        ASSERT_TRUE(
            WriteWholeFile(*folder / "Updater.INI", "[Download]\r\nsite1=" + site + "\r\n"));
        ASSERT_TRUE(clientStartsUpdater ? programs->StartClient("")
                                        : programs->StartClient() && programs->StartUpdater());
    }
    std::string Installed(const char* name) const { return ReadWholeFile(*folder / name); }
    std::string Released(const char* name) const {
        return ReadWholeFile(work + "\\www\\down\\update\\" + name);
    }
    std::string AccessLog(Server server) const {
        return ReadWholeFile(work + "\\access-" + kServerNames[server] + ".log");
    }

    std::string work;
    int ports[ServerCount] = {};
    std::unique_ptr<InstallFolder> folder;
    std::unique_ptr<ProgramRun> programs; // ended before its folder is removed
};

// A site on HTTPS, and a site on HTTP that redirects to HTTPS (there the client starts the
// updater itself), update as over plain HTTP: byte for byte, only the changed files fetched,
// the new updater beside the running one, the client closed once and restarted once.
TEST_F(HttpsRun, UpdatesOverHttpsAndAfterARedirectFromHttp) {
    const std::string updater = ReadWholeFile("Z:" UPDATER_EXE_UNIX);
    for (Server server : {Trusted, Plain}) {
        SCOPED_TRACE(Site(server));
        Launch(Site(server), server == Plain);
        if (server == Trusted) {
            EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
        }
        ASSERT_TRUE(programs->WaitClientRestarted(15000)) << programs->ClientLog();
        for (const char* name : {"a.dat", "b.dat", "c.dat"})
            EXPECT_EQ(Installed(name), Released(name)) << name;
        EXPECT_EQ(Installed("Updater.EX_"), Released("Updater.exe"));
        EXPECT_EQ(Installed("Updater.exe"), updater);
        EXPECT_EQ(programs->CountLogLines("msg close"), 1);
        const std::string restart = "start \"" + (*folder / "Quillmarket.exe") + "\" -noupdate";
        EXPECT_EQ(programs->CountLogLines(restart), 1) << programs->ClientLog();
    }
    // Four requests, b.dat not among them: the manifest, a.dat, c.dat and the new updater.
    const std::string plain = AccessLog(Plain);
    EXPECT_EQ(std::count(plain.begin(), plain.end(), '\n'), 4) << plain;
    EXPECT_EQ(plain.find("/b.dat"), std::string::npos) << plain;
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
    EXPECT_EQ(programs->ConfirmFailure(), "更新失败，请到官方网站去下载最新版本");
    EXPECT_EQ(programs->WaitUpdater(kRunTimeoutMs), 0);
    EXPECT_EQ(Installed("a.dat"), "installed a");
    EXPECT_FALSE(Exists(*folder / "Updater.EX_"));
    EXPECT_EQ(programs->CountLogLines("start"), 1); // only the client the test started
    EXPECT_NE(AccessLog(Redirecting).find(" 302 "), std::string::npos);
    EXPECT_EQ(AccessLog(Untrusted), "");
}

} // namespace
