// The application's controller: the start-up sequence that decides the run (settings, an
// installation an earlier run left unfinished, the manifest check, the hand-shake with the
// running client), the run itself, the client's restart and the end of the process. It has no
// window of its own: it tells the update window what to show through IUpdateView.
#pragma once

#include "engine/client_process.h"
#include "engine/update_notify.h"
#include "engine/update_run.h"
#include "engine/update_settings.h"
#include "framework/scoped_handle.h"
#include "manifest/manifest_check.h"

// The update window as the controller sees it. It also receives the run's events, on the
// worker thread.
class IUpdateView : public IUpdateNotify {
public:
    // Files are to be fetched: lay out and show the progress, the overall bar ranging over
    // dwTotalBytes. The run starts right after.
    virtual void ShowProgress(DWORD dwTotalBytes) = 0;

protected:
    ~IUpdateView() = default;
};

// The name of the lock that one updater at a time holds on the installation whose temporary
// folder is strTempDir.
CString InstallationLockName(const CString& strTempDir);

class CUpdateController {
public:
    CUpdateController() = default;
    CUpdateController(const CUpdateController&) = delete;
    CUpdateController& operator=(const CUpdateController&) = delete;

    // The start-up sequence, in this order: the client's window found (when the controller is
    // made), the settings read and logged, an unfinished earlier installation completed, the
    // manifest checked, and the client told "nothing to update" or asked to close. True when
    // files are to be fetched; no window is needed until then.
    bool Check();
    // Then, with files to fetch: the progress shown and the run started.
    void Start(IUpdateView& view);

    RunState State() const { return m_run.State(); }
    // Asks a download under way to stop; an installation is let finish.
    void StopDownload();
    // Starts the client again with "-noupdate"; only once however often it is asked.
    void RestartClient();
    // At shutdown, once the window is gone: waits a bounded time for the worker, then restarts
    // the client when the installation ended meanwhile.
    void Finish();

private:
    std::vector<CString> ManifestUrls() const;

    const CClientProcess m_client;
    CKernelHandle m_lock; // held for the life of the process
    UpdateSettings m_settings;
    ManifestCheckResult m_check;
    CUpdateRun m_run;
    bool m_bClientRestarted = false;
};
