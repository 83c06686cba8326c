// What the worker thread of a run does, and everything it uses: the list, the HTTP session,
// the downloader and the installation, the cancel request, and the run's state as its events
// set it.
#pragma once

#include "engine/download/downloader.h"
#include "engine/update_notify.h"
#include "engine/update_run.h"
#include "framework/scoped_handle.h"

#include <atomic>
#include <memory>
#include <mutex>

class CUpdateWork : private IDownloadSink {
public:
    CUpdateWork();
    BOOL Init(IUpdateNotify* pReceiver, const char* pszBaseUrl, const char* pszTempDir,
              const char* pszTargetDir);
    // Downloads every file, then installs them all; the list is emptied after an installation.
    RunResult Run();
    // Deletes the temporary file of every listed entry.
    void RemoveTemporaries() const;
    void RequestCancel();
    // Records the run's state the event leads to, then passes the event on.
    void Report(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);
    // No event reaches the receiver afterwards; waits for one being passed on.
    void Detach();

    std::vector<CUpdateFile> m_files;
    CString m_strBaseUrl;
    std::atomic<RunState> m_state{RunState::Ready};
    std::atomic<RunResult> m_result{RunResult::Running};
    std::atomic<int> m_lastDownloadEvent{0};

private:
    bool CanInstall();
    // Running when every file is in the temporary folder; else how the run ended.
    RunResult DownloadAll();
    RunResult DownloadOne(const CUpdateFile& file, char* pszMessage, UINT nMessageSize);
    RunResult InstallAll();
    void OnFileAccepted(const CUpdateFile& file, DWORD dwAnnounced) override;
    void OnFileBytes(const CUpdateFile& file, UINT nCount, DWORD dwFileBytes) override;
    // A download event: recorded as the last one, then reported.
    void SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);

    DWORD m_dwReceived = 0;
    std::atomic<BOOL> m_bCancel{FALSE};
    CKernelHandle m_cancelEvent; // set with m_bCancel: wakes a blocked network wait
    CString m_strTempDir;
    CString m_strTargetDir;
    std::unique_ptr<CInternetSession> m_pSession;
    std::unique_ptr<CDownloader> m_pDownloader;
    std::mutex m_receiverLock; // held while an event is passed on, so Detach waits for it
    IUpdateNotify* m_pReceiver = nullptr;
};
