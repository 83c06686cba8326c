#include "engine/update_work.h"

#include "engine/install/installer.h"
#include "framework/format.h"
#include "framework/run_log.h"
#include "manifest/installed_digests.h"

#include <shlwapi.h>

namespace {

const UINT kMessageSize = 512;
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
    m_strBaseUrl = pszBaseUrl;
    m_strTempDir = pszTempDir;
    m_strTargetDir = pszTargetDir;
    if (m_strBaseUrl.GetAt(m_strBaseUrl.GetLength() - 1) != '/')
        m_strBaseUrl += '/';
    // Only the last level is created; a missing parent makes the first download fail.
    if (!PathIsDirectoryA(m_strTempDir))
        CreateDirectoryA(m_strTempDir, nullptr);

    m_pSession = std::make_unique<CInternetSession>();
    CNetworkLimits limits;
    limits.hCancel = m_cancelEvent.Get();
    m_pSession->SetLimits(limits);
    m_pDownloader =
        std::make_unique<CDownloader>(*m_pSession, m_strBaseUrl, m_strTempDir, m_bCancel);
    return TRUE;
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

void CUpdateWork::OnFileBytes(const CUpdateFile& file, UINT nCount, DWORD dwFileBytes) {
    m_dwReceived += nCount;
    SendState(UPD_EVT_PROGRESS, dwFileBytes, m_dwReceived, file.szRemoteName);
}

RunResult CUpdateWork::Run() {
    RunLog().Write("run: downloading %u files", static_cast<unsigned>(m_files.size()));
    const RunResult downloaded = DownloadAll();
    if (downloaded == RunResult::Failed)
        RemoveTemporaries(); // a failed run leaves nothing behind
    if (downloaded != RunResult::Running)
        return downloaded;
    const RunResult installed = InstallAll();
    if (installed == RunResult::Installed) {
        RunLog().Write("install: done, %u files placed", static_cast<unsigned>(m_files.size()));
        std::vector<CUpdateFile>().swap(m_files); // size 0 and no capacity
    }
    return installed;
}

RunResult CUpdateWork::DownloadAll() {
    m_dwReceived = 0;
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
            // A partial or unverified file must not be taken for a download later.
            const CString failedTemp = m_pDownloader ? m_pDownloader->TempPathOf(file) : CString();
            if (!failedTemp.IsEmpty())
                DeleteFileA(failedTemp);
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
    } catch (CInternetException* e) {
        // A blocked wait given up on the user's request is a cancel, not a failure.
        const bool cancelled = e->m_dwError == ERROR_INTERNET_OPERATION_CANCELLED;
        if (!cancelled)
            Describe(*e, file, pszMessage, nMessageSize);
        e->Delete();
        if (cancelled)
            return RunResult::Cancelled;
    } catch (CException* e) {
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
        items.push_back(InstallItem{m_pDownloader ? m_pDownloader->TempPathOf(file) : CString(),
                                    file.szLocalName});
    CInstallation installation(m_strTempDir, m_strTargetDir);
    bool placed = false;
    try {
        placed = installation.Place(items);
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    if (placed) {
        // Recorded before the client starts and may write its files again.
        RecordInstalledFiles(m_strTargetDir, m_strTempDir, m_files);
        // Every new file is in place: the client may start. Clearing up the old files after
        // that keeps the wait short; a stop meanwhile leaves the journal, and the next start
        // finishes the clearing.
        Report(UPD_EVT_DONE, 0, 0, nullptr);
        installation.Commit();
        return RunResult::Installed;
    }
    const CInstallation::UndoOutcome undo = installation.Undo();
    if (undo != CInstallation::UndoOutcome::Unrecorded)
        RemoveTemporaries();
    RunLog().Write("install: failed (%s); undo %s", installation.Failure(), UndoText(undo));
    Report(UPD_EVT_FAILED, 0, 0, installation.Failure());
    return RunResult::Failed;
}

void CUpdateWork::RemoveTemporaries() const {
    if (!m_pDownloader)
        return;
    for (const CUpdateFile& file : m_files) {
        const CString path = m_pDownloader->TempPathOf(file);
        if (!path.IsEmpty())
            DeleteFileA(path);
    }
}
