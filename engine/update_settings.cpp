#include "engine/update_settings.h"

#include "framework/format.h"
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
    settings.sites.push_back(Setting("Download", "site1", kDefaultSite));
    // More sites, numbered on without a gap, are tried in order when one fails.
    for (int n = 2;; ++n) {
        char key[16];
        FormatText(key, sizeof(key), "site%d", n);
        const CString site = Setting("Download", key, "");
        if (site.IsEmpty())
            break;
        settings.sites.push_back(site);
    }
    for (const CString& site : settings.sites)
        settings.baseUrls.push_back(UpdateBaseUrl(site));
    settings.tempDir = settings.installDir + Setting("Setup", "TempDir", "Update");
    settings.publicKey = Setting("Download", "PublicKey", "");
    return settings;
}

void LogStart(const UpdateSettings& settings) {
    const CWinApp* app = AfxGetApp();
    const char* iniPath = app && app->m_pszProfileName ? app->m_pszProfileName : "(none)";
    CString sites;
    for (size_t i = 0; i < settings.sites.size(); ++i) {
        CString site;
        site.Format("site%u=%s, ", static_cast<unsigned>(i + 1), settings.sites[i].GetString());
        sites += site;
    }
    RunLog().Write("start: Updater %s, settings %s: %sTempDir=%s, PublicKey %s",
                   ProgramVersion().GetString(), iniPath, sites.GetString(),
                   settings.tempDir.GetString(), settings.publicKey.IsEmpty() ? "not set" : "set");
}

CString FailureMessage() {
    return Setting("messages", "ErrorMsg", kDefaultFailureMessage);
}
