// The start of the run log: what support needs to know about the program and its settings.
#include "ui/updater_dlg.h"

#include "app/run_log.h"
#include "engine/install_journal.h"
#include "framework/win_app.h"

#include <string.h>

namespace {

// The file version from the program's version block, read without version.dll: the fixed
// part of the block starts with its signature on a 4-byte boundary.
CString ProgramVersion() {
    const HMODULE module = AfxGetInstanceHandle();
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(module, found) : 0;
    for (DWORD at = 0; data && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, data + at, sizeof(info));
        if (info.dwSignature != VS_FFI_SIGNATURE)
            continue;
        CString version;
        version.Format("%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                       HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
        return version;
    }
    return "unknown";
}

} // namespace

void CUpdaterDlg::LogStart(const Settings& settings) {
    const CWinApp* app = AfxGetApp();
    const char* iniPath = app && app->m_pszProfileName ? app->m_pszProfileName : "(none)";
    RunLog().Write("start: Updater %s, settings %s: site1=%s, TempDir=%s, PublicKey %s",
                   ProgramVersion().GetString(), iniPath, settings.site.GetString(),
                   settings.tempDir.GetString(), settings.publicKey.IsEmpty() ? "not set" : "set");
}

void CUpdaterDlg::CompleteEarlierInstallation(const CString& tempDir) {
    if (CompleteUnfinishedInstallation(tempDir))
        RunLog().Write("an installation left unfinished by an earlier run was completed or undone");
}
