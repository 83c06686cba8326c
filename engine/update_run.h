// One update run: the engine, the worker thread that drives it, the cancel request and the
// run's state. No window is involved; events go to one IUpdateNotify on the worker thread.
#pragma once

#include "engine/update_engine.h"
#include "engine/update_notify.h"
#include "framework/scoped_handle.h"

#include <atomic>
#include <memory>
#include <mutex>
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

class CUpdateRun {
public:
    CUpdateRun();
    // Does not wait: a download still under way is asked to stop, the receiver is detached (no
    // event reaches it afterwards), and a worker still running frees what it uses when it ends.
    ~CUpdateRun(); // not copyable: it owns its thread

    // pNotify receives every event on the worker thread and must not block.
    BOOL Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
              const char* pszTargetDir);
    // The engine, to be filled before Start; the worker alone uses it afterwards.
    CUpdateEngine& Engine() { return m_shared->engine; }
    // The worker ends with exactly one of UPD_EVT_DONE, UPD_EVT_FAILED or UPD_EVT_CLOSE; anything
    // thrown inside it becomes UPD_EVT_FAILED.
    bool Start();
    // Stops a download after its current block; an installation under way is not stopped.
    void Cancel() { m_shared->engine.RequestCancel(); }
    // True once the worker has ended (or never started); false after dwTimeoutMs.
    bool Wait(DWORD dwTimeoutMs);
    RunState State() const { return m_shared->state; }
    // The worker's result: 0 installed, 1 failed, 2 cancelled; -1 while it runs.
    int Result() const;

private:
    // What the worker uses, shared with it so that it outlives a run abandoned at shutdown.
    struct Shared : IUpdateNotify {
        void OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent, const char* pszText) override;
        CUpdateEngine engine;
        std::atomic<RunState> state{RunState::Ready};
        std::atomic<int> result{-1};
        std::mutex receiverLock; // held while an event is passed on, so Detach waits for it
        IUpdateNotify* receiver = nullptr;
    };
    static DWORD WINAPI WorkerProc(LPVOID pParam);
    static int Run(Shared& shared);

    std::shared_ptr<Shared> m_shared;
    std::unique_ptr<CKernelHandle> m_thread;
};
