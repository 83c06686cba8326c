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
    // Every site's base URL, in order; the files are fetched from nFirst on.
    void SetSites(const std::vector<CString>& baseUrls, size_t nFirst);
    // Downloads every file, then installs them all; the list is emptied after an installation.
    RunResult Run();
    // Deletes the temporary file (and resume record) of every listed entry, or only of those
    // that no digest could check when bVerifiable is false.
    void RemoveTemporaries(bool bVerifiable = true) const;
    void RequestCancel();
    // Records the run's state the event leads to, then passes the event on.
    void Report(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);
    // No event reaches the receiver afterwards; waits for one being passed on.
    void Detach();

    std::vector<CUpdateFile> m_files;
    CKernelHandle m_clientProcess; // waited for before the installation; null: none
    std::atomic<RunState> m_state{RunState::Ready};
    std::atomic<RunResult> m_result{RunResult::Running};
    std::atomic<int> m_lastDownloadEvent{0};

private:
    bool CanInstall();
    // Running when every file is in the temporary folder; else how the run ended.
    RunResult DownloadAll();
    RunResult DownloadOne(const CUpdateFile& file, char* pszMessage, UINT nMessageSize);
    RunResult InstallAll();
    // The client was asked to close; its files are free only once its process has ended.
    void WaitForClient();
    void OnFileAccepted(const CUpdateFile& file, DWORD dwAnnounced) override;
    void OnFileProgress(const CUpdateFile& file, DWORD dwFileBytes) override;
    // A download event: recorded as the last one, then reported.
    void SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);

    DWORD m_dwReceived = 0; // by the whole run
    DWORD m_dwDone = 0;     // by the files done
    std::atomic<BOOL> m_bCancel{FALSE};
    CKernelHandle m_cancelEvent; // set with m_bCancel: wakes a blocked network wait
    CString m_strTempDir;
    CString m_strTargetDir;
    std::vector<CString> m_baseUrls;
    size_t m_nFirstSite = 0;
    std::unique_ptr<CInternetSession> m_pSession;
    std::unique_ptr<CDownloader> m_pDownloader;
    std::mutex m_receiverLock; // held while an event is passed on, so Detach waits for it
    IUpdateNotify* m_pReceiver = nullptr;
};
