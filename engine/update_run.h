// One update run: the list of files to fetch, the worker thread that downloads and installs
// them, the cancel request and the run's state. No window is involved; events go to one
// IUpdateNotify on the worker thread.
#pragma once

#include "engine/update_notify.h"
#include "framework/cstring.h"
#include "framework/scoped_handle.h"
#include "manifest/update_file.h"

#include <memory>
#include <vector>
#include <windows.h>

enum class RunState {
    Ready,       // not started
    Downloading, // from Start until every file is in the temporary folder
    Downloaded,  // UPD_EVT_DOWNLOADED reported
    Installing,  // UPD_EVT_INSTALLING reported
    Done,        // UPD_EVT_DONE reported
    Failed,      // UPD_EVT_FAILED reported
    Cancelled,   // UPD_EVT_CLOSE reported
};

enum class RunResult {
    Running = -1, // not ended (or not started)
    Installed = 0,
    Failed = 1,
    Cancelled = 2,
};

class CUpdateWork;

class CUpdateRun {
public:
    CUpdateRun();
    // Does not wait: a download still under way is asked to stop, the receiver is detached (no
    // event reaches it afterwards), and a worker still running frees what it uses when it ends.
    ~CUpdateRun();
    CUpdateRun(const CUpdateRun&) = delete;
    CUpdateRun& operator=(const CUpdateRun&) = delete;

    // pNotify receives every event on the worker thread and must not block. The base URL gets
    // its final "/" when it lacks one; the temporary folder's last level is created.
    BOOL Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
              const char* pszTargetDir);
    // The list, filled before Start; the worker alone uses it afterwards. AddFile refuses (FALSE,
    // nothing added) what MakeUpdateFile refuses.
    BOOL AddFile(const char* pszRemoteName, const char* pszLocalName, const char* pszMd5 = nullptr,
                 const char* pszSha256 = nullptr);
    void SetFiles(std::vector<CUpdateFile> files);
    // Every site's base URL, in order, when there are more than the one Init named; the files are
    // fetched from site nFirst on, and a site that fails hands over to the next.
    void SetSites(const std::vector<CString>& baseUrls, size_t nFirst);
    // The client's process (the run owns the handle): the installation waits for it to end.
    void SetClientProcess(HANDLE hProcess);
    const std::vector<CUpdateFile>& Files() const;

    // The worker ends with exactly one of UPD_EVT_DONE, UPD_EVT_FAILED or UPD_EVT_CLOSE; anything
    // thrown inside it becomes UPD_EVT_FAILED.
    bool Start();
    // Stops a download after its current block, or within a short grace when a network wait
    // is blocked; an installation under way is not stopped. Any thread may call it.
    void Cancel();
    // True once the worker has ended (or never started); false after dwTimeoutMs.
    bool Wait(DWORD dwTimeoutMs);
    RunState State() const;
    RunResult Result() const;
    // The code of the last download event (0 before any); the installation leaves it alone.
    int LastDownloadEvent() const;

private:
    static DWORD WINAPI WorkerProc(LPVOID pParam);

    // Shared with the worker, so that what it uses outlives a run abandoned at shutdown.
    std::shared_ptr<CUpdateWork> m_work;
    std::unique_ptr<CKernelHandle> m_thread;
};
