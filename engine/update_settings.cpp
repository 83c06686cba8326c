#include "engine/update_settings.h"

#include "framework/program_info.h"
#include "framework/run_log.h"
#include "framework/win_app.h"
#include "manifest/site_url.h"

namespace {

const char kDefaultSite[] = "http://download.quillmarket.example.com/down";
const char kDefaultFailureMessage[] = "更新失败，请到官方网站去下载最新版本";

// A value of the settings file, or the default when the key is missing.
CString Setting(const char* pszSection, const char* pszKey, const char* pszDefault) {
    CWinApp* app = AfxGetApp();
    return app ? app->GetProfileString(pszSection, pszKey, pszDefault) : CString(pszDefault);
}

} // namespace

UpdateSettings ReadUpdateSettings() {
    UpdateSettings settings;
    settings.installDir = ProgramFolder();
    settings.site = Setting("Download", "site1", kDefaultSite);
    settings.baseUrl = UpdateBaseUrl(settings.site);
    settings.tempDir = settings.installDir + Setting("Setup", "TempDir", "Update");
    settings.publicKey = Setting("Download", "PublicKey", "");
    return settings;
}

void LogStart(const UpdateSettings& settings) {
    const CWinApp* app = AfxGetApp();
    const char* iniPath = app && app->m_pszProfileName ? app->m_pszProfileName : "(none)";
    RunLog().Write("start: Updater %s, settings %s: site1=%s, TempDir=%s, PublicKey %s",
                   ProgramVersion().GetString(), iniPath, settings.site.GetString(),
                   settings.tempDir.GetString(), settings.publicKey.IsEmpty() ? "not set" : "set");
}

CString FailureMessage() {
    return Setting("messages", "ErrorMsg", kDefaultFailureMessage);
}
