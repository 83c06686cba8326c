#include "engine/update_work.h"

#include "engine/client_process.h"
#include "engine/download/partial_download.h"
#include "engine/install/installer.h"
#include "framework/format.h"
#include "framework/run_log.h"
#include "manifest/installed_digests.h"

#include <shlwapi.h>

namespace {

const UINT kMessageSize = 512;
// A client that saves its state on closing may take seconds; one that never ends is given up on
// after this, and the installation then fails on its files as any busy file fails it.
const char kDownloadFailed[] = "下载 %s 文件失败";

// The run's state follows the events that change it; the others leave it as it is.
RunState StateAfter(int nEvent, RunState current) {
    switch (nEvent) {
    case UPD_EVT_DOWNLOADED:
        return RunState::Downloaded;
    case UPD_EVT_INSTALLING:
        return RunState::Installing;
    case UPD_EVT_DONE:
        return RunState::Done;
    case UPD_EVT_FAILED:
        return RunState::Failed;
    case UPD_EVT_CLOSE:
        return RunState::Cancelled;
    default:
        return current;
    }
}

// The platform's text for the failure, or ours where it has none.
void Describe(const CException& e, const CUpdateFile& file, char* pszMessage, UINT nSize) {
    if (!e.GetErrorMessage(pszMessage, nSize))
        FormatText(pszMessage, nSize, kDownloadFailed, file.szRemoteName);
}

const char* UndoText(CInstallation::UndoOutcome outcome) {
    switch (outcome) {
    case CInstallation::UndoOutcome::NotNeeded:
        return "not needed";
    case CInstallation::UndoOutcome::Complete:
        return "complete";
    default:
        return "left to the next start";
    }
}

} // namespace

CUpdateWork::CUpdateWork() : m_cancelEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

BOOL CUpdateWork::Init(IUpdateNotify* pReceiver, const char* pszBaseUrl, const char* pszTempDir,
                       const char* pszTargetDir) {
    if (!pReceiver)
        return FALSE;
    m_pReceiver = pReceiver;
    m_strTempDir = pszTempDir;
    m_strTargetDir = pszTargetDir;
    SetSites({CString(pszBaseUrl)}, 0);
    // Only the last level is created; a missing parent makes the first download fail.
    if (!PathIsDirectoryA(m_strTempDir))
        CreateDirectoryA(m_strTempDir, nullptr);

    m_pSession = std::make_unique<CInternetSession>();
    CNetworkLimits limits;
    limits.hCancel = m_cancelEvent.Get();
    m_pSession->SetLimits(limits);
    return TRUE;
}

void CUpdateWork::SetSites(const std::vector<CString>& baseUrls, size_t nFirst) {
    if (baseUrls.empty())
        return;
    m_baseUrls = baseUrls;
    for (CString& url : m_baseUrls)
        if (url.GetAt(url.GetLength() - 1) != '/')
            url += '/';
    m_nFirstSite = nFirst < m_baseUrls.size() ? nFirst : 0;
}

void CUpdateWork::RequestCancel() {
    m_bCancel = TRUE;
    if (m_cancelEvent.IsValid())
        SetEvent(m_cancelEvent.Get());
}

void CUpdateWork::Report(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    m_state = StateAfter(nEvent, m_state);
    std::lock_guard<std::mutex> hold(m_receiverLock);
    if (m_pReceiver)
        m_pReceiver->OnUpdateEvent(dwArg1, dwArg2, nEvent, pszText);
}

void CUpdateWork::Detach() {
    std::lock_guard<std::mutex> hold(m_receiverLock);
    m_pReceiver = nullptr;
}

void CUpdateWork::SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    m_lastDownloadEvent = nEvent;
    Report(nEvent, dwArg1, dwArg2, pszText);
}

void CUpdateWork::OnFileAccepted(const CUpdateFile& file, DWORD dwAnnounced) {
    SendState(UPD_EVT_FILE_SIZE, 0, dwAnnounced, file.szRemoteName);
}

void CUpdateWork::OnFileProgress(const CUpdateFile& file, DWORD dwFileBytes) {
    m_dwReceived = m_dwDone + dwFileBytes;
    SendState(UPD_EVT_PROGRESS, dwFileBytes, m_dwReceived, file.szRemoteName);
}

RunResult CUpdateWork::Run() {
    if (!CanInstall())
        return RunResult::Failed;
    RunLog().Write("run: downloading %u files", static_cast<unsigned>(m_files.size()));
    if (m_pSession)
        m_pDownloader =
            std::make_unique<CDownloader>(*m_pSession, m_baseUrls, m_nFirstSite, m_strTempDir,
                                          m_strTargetDir, m_bCancel, m_cancelEvent.Get());
    // What a failed or cancelled run received stays for the next run, which checks it by its
    // digest; what no digest can check is worth nothing to it.
    const RunResult downloaded = DownloadAll();
    if (downloaded == RunResult::Failed)
        RemoveTemporaries(false);
    if (downloaded != RunResult::Running)
        return downloaded;
    WaitForClient();
    const RunResult installed = InstallAll();
    if (installed == RunResult::Installed) {
        RunLog().Write("install: done, %u files placed", static_cast<unsigned>(m_files.size()));
        std::vector<CUpdateFile>().swap(m_files); // size 0 and no capacity
    }
    return installed;
}

RunResult CUpdateWork::DownloadAll() {
    m_dwReceived = m_dwDone = 0;
    for (const CUpdateFile& file : m_files) {
        char message[kMessageSize] = {};
        const DWORD started = GetTickCount(), receivedBefore = m_dwReceived;
        SendState(UPD_EVT_CONNECTING, 0, 0, nullptr);
        const RunResult outcome = DownloadOne(file, message, kMessageSize);
        if (outcome == RunResult::Cancelled) {
            SendState(UPD_EVT_CLOSE, 0, 0, nullptr);
            return outcome;
        }
        if (outcome == RunResult::Failed) {
            RunLog().Write("download %s failed after %lu bytes in %lu ms: %s", file.szRemoteName,
                           m_dwReceived - receivedBefore, GetTickCount() - started, message);
            SendState(UPD_EVT_FAILED, 0, 0, message);
            return outcome;
        }
        RunLog().Write("download %s: %lu bytes in %lu ms, %s", file.szRemoteName,
                       m_dwReceived - receivedBefore, GetTickCount() - started,
                       file.szSha256[0] ? "sha256 matches"
                       : file.szMd5[0]  ? "md5 matches"
                                        : "not checked");
        m_dwDone = m_dwReceived;
        SendState(UPD_EVT_FILE_DONE, 0, 0, file.szRemoteName);
    }
    SendState(UPD_EVT_DOWNLOADED, 0, 0, nullptr);
    return RunResult::Running;
}

// Running when the file is in; a failure's message is filled.
RunResult CUpdateWork::DownloadOne(const CUpdateFile& file, char* pszMessage, UINT nMessageSize) {
    try {
        if (!m_pDownloader)
            throw new CDownloadRejected;
        return m_pDownloader->Fetch(file, *this) == CDownloader::Outcome::Received
                   ? RunResult::Running
                   : RunResult::Cancelled;
    } catch (CException* e) { // a cancel in a network wait comes back as Cancelled, not this
        Describe(*e, file, pszMessage, nMessageSize);
        e->Delete();
    } catch (...) {
        FormatText(pszMessage, nMessageSize, kDownloadFailed, file.szRemoteName);
    }
    return RunResult::Failed;
}

RunResult CUpdateWork::InstallAll() {
    Report(UPD_EVT_INSTALLING, 0, 0, "开始安装更新，请稍候...");
    RunLog().Write("install: begin, %u files", static_cast<unsigned>(m_files.size()));
    std::vector<InstallItem> items;
    for (const CUpdateFile& file : m_files)
        items.push_back(InstallItem{TempPathOf(m_strTempDir, file), file.szLocalName, file.szMd5});
    CInstallation installation(m_strTempDir, m_strTargetDir);
    bool placed = false;
    try {
        placed = installation.Place(items) && installation.Commit();
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    if (placed) {
        // Recorded before the client starts and may write its files again.
        RecordInstalledFiles(m_strTargetDir, m_strTempDir, m_files);
        // Only once the commit is on the disk and the journal gone: the client may then start,
        // and change its files (apply the new updater), without a later start undoing anything.
        Report(UPD_EVT_DONE, 0, 0, nullptr);
        return RunResult::Installed;
    }
    const CInstallation::UndoOutcome undo = installation.Undo();
    RemoveTemporaries();
    RunLog().Write("install: failed (%s); undo %s", installation.Failure(), UndoText(undo));
    Report(UPD_EVT_FAILED, 0, 0, installation.Failure());
    return RunResult::Failed;
}

// Checked before anything is downloaded: a run whose installation could not begin fails at once,
// as a download failure does, and leaves an unfinished installation's journal alone.
bool CUpdateWork::CanInstall() {
    CString why;
    if (CanBeginInstallation(m_strTempDir, m_strTargetDir, why))
        return true;
    RunLog().Write("run: no installation can begin: %s", why.GetString());
    SendState(UPD_EVT_FAILED, 0, 0, "安装更新失败");
    return false;
}

void CUpdateWork::RemoveTemporaries(bool bVerifiable) const {
    for (const CUpdateFile& file : m_files) {
        const CString path = TempPathOf(m_strTempDir, file);
        if (!path.IsEmpty() && (bVerifiable || (!file.szMd5[0] && !file.szSha256[0]))) {
            DeleteFileA(path);
            DeleteFileA(ResumeRecordPath(path));
        }
    }
}

void CUpdateWork::WaitForClient() {
    if (!m_clientProcess.IsValid() ||
        WaitForSingleObject(m_clientProcess.Get(), 0) == WAIT_OBJECT_0)
        return;
    RunLog().Write("install: waiting for the client's process to end");
    const DWORD started = GetTickCount();
    const bool ended =
        WaitForSingleObject(m_clientProcess.Get(), kClientExitWaitMs) == WAIT_OBJECT_0;
    RunLog().Write(ended ? "install: the client ended after %lu ms"
                         : "install: the client still runs after %lu ms; installing all the same",
                   GetTickCount() - started);
}
