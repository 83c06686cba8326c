#include "engine/update_controller.h"

#include "engine/client_process.h"
#include "engine/download/kept_downloads.h"
#include "engine/install/install_journal.h"
#include "digest/file_digest.h"
#include "engine/install/install_recovery.h"
#include "framework/run_log.h"
#include "manifest/manifest_check.h"
#include "protocol/client_protocol.h"

#include <shlwapi.h>
#include <stdlib.h>
#include <time.h>

#include <string>

namespace {

// A download stuck in a network read is given this long to notice the cancel request.
const DWORD kStopWaitMs = 10000;
// An installation ends by itself (a busy file is given up after about three seconds); this
// only keeps a hang from holding the process.
const DWORD kInstallWaitMs = 300000;

const char* RecoveryText(Recovery recovery) {
    return recovery == Recovery::Forward  ? "completed"
           : recovery == Recovery::Undone ? "undone"
                                          : "not finished, kept for the next start";
}

// Finishes an installation that an earlier run left unfinished. Putting installed files back
// waits until the client has ended: its files cannot be replaced while it runs. True when the
// client was closed for it.
bool CompleteEarlierInstallation(const CString& tempDir, const CClientProcess& client) {
    const JournalState state = FindUnfinishedInstallation(tempDir);
    const bool undo = state == JournalState::Planned || state == JournalState::Undoing;
    if (undo && client.Window()) {
        RunLog().Write("an unfinished installation is undone once the client has closed");
        client.AskToClose();
        if (!client.WaitForExit(kClientExitWaitMs)) {
            RunLog().Write("the client did not end; the unfinished installation is kept");
            return false;
        }
    }
    const Recovery recovery = CompleteUnfinishedInstallation(tempDir);
    if (recovery != Recovery::None)
        RunLog().Write("the installation an earlier run left unfinished: %s",
                       RecoveryText(recovery));
    return undo && client.Window();
}

// Tells the client there is nothing to update, or asks it to close.
void HandShake(const CClientProcess& client, bool bUpdate) {
    if (bUpdate) {
        RunLog().Write("the client is asked to close; the update window shows");
        client.AskToClose();
    } else {
        RunLog().Write("run end: nothing to update, the client is told so");
        client.TellNothingToUpdate();
    }
}

} // namespace

CString InstallationLockName(const CString& strTempDir) {
    // Named after the folder in one case: Windows names it in any.
    std::string folder(strTempDir.GetString());
    CharUpperBuffA(&folder[0], static_cast<DWORD>(folder.size()));
    CFileDigest md5;
    md5.Update(reinterpret_cast<const BYTE*>(folder.data()), static_cast<DWORD>(folder.size()));
    return "Local\\Quillmarket-Updater-" + md5.Final();
}

bool CUpdateController::Check() {
    m_settings = ReadUpdateSettings();
    LogStart(m_settings);
    // A client started again while an update runs starts a second updater: it must not undo or
    // begin an installation under the first one.
    *m_lock.Receive() = CreateMutexA(nullptr, FALSE, InstallationLockName(m_settings.tempDir));
    if (m_lock.IsValid() && GetLastError() == ERROR_ALREADY_EXISTS) {
        RunLog().Write("another updater is at work on this installation");
        HandShake(m_client, false);
        return false;
    }
    const bool clientClosed = CompleteEarlierInstallation(m_settings.tempDir, m_client);
    // The check keeps what it learns for the next start in the temporary folder.
    if (!PathIsDirectoryA(m_settings.tempDir))
        CreateDirectoryA(m_settings.tempDir, nullptr);
    m_check = CheckManifest(ManifestCheckRequest{m_settings.installDir, m_settings.tempDir,
                                                 ManifestUrls(), m_settings.publicKey});
    // An unfinished installation may still need its downloads.
    if (!CInstallJournal(m_settings.tempDir).Exists())
        RemoveStaleDownloads(m_settings.tempDir, m_check.files);
    const bool update = !m_check.files.empty();
    if (clientClosed && !update) {
        RunLog().Write("run end: nothing to update; the client closed for the recovery restarts");
        RestartClient();
    } else {
        HandShake(m_client, update);
    }
    return update;
}

void CUpdateController::Start(IUpdateView& view) {
    m_run.Init(&view, m_settings.baseUrls[0], m_settings.tempDir, m_settings.installDir);
    const DWORD total = TotalSize(m_check.files);
    m_run.SetFiles(std::move(m_check.files));
    m_run.SetSites(m_settings.baseUrls, m_check.site);
    m_run.SetClientProcess(m_client.DuplicateProcessHandle());
    view.ShowProgress(total);
    m_run.Start();
}

// A new number at every start keeps caches on the way from answering (the signature is asked
// for with the same number, and so is every site).
std::vector<CString> CUpdateController::ManifestUrls() const {
    srand(static_cast<unsigned>(time(nullptr)));
    const int query = rand() % 1000000 + 1;
    std::vector<CString> urls;
    for (const CString& base : m_settings.baseUrls) {
        CString url;
        url.Format("%supdate.xml?%d", base.GetString(), query);
        urls.push_back(url);
    }
    return urls;
}

void CUpdateController::StopDownload() {
    if (m_run.State() == RunState::Downloading)
        m_run.Cancel();
}

// The client's path is quoted: a folder with blanks must not start another program.
void CUpdateController::RestartClient() {
    if (m_bClientRestarted)
        return;
    m_bClientRestarted = true;
    const CString commandLine =
        "\"" + m_settings.installDir + kClientExeName + "\" " + kClientNoUpdateSwitch;
    WinExec(commandLine, SW_SHOWDEFAULT);
}

void CUpdateController::Finish() {
    // A download was asked to stop when the window closed; an installation, also one that a
    // late cancel did not prevent, is let finish so that the client is restarted.
    if (!m_run.Wait(kStopWaitMs)) {
        const RunState state = m_run.State();
        if (state == RunState::Downloaded || state == RunState::Installing)
            m_run.Wait(kInstallWaitMs);
    }
    if (m_run.State() == RunState::Done)
        RestartClient();
}
