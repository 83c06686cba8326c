#include "engine/update_run.h"

#include "app/run_log.h"

namespace {

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

const char* ResultText(int result) {
    return result == 0 ? "installed" : result == 2 ? "cancelled by the user" : "failed";
}

bool IsFinal(RunState state) {
    return state == RunState::Done || state == RunState::Failed || state == RunState::Cancelled;
}

} // namespace

CUpdateRun::CUpdateRun() : m_shared(std::make_shared<Shared>()) {}

CUpdateRun::~CUpdateRun() {
    if (State() == RunState::Downloading)
        Cancel();
    std::lock_guard<std::mutex> hold(m_shared->receiverLock);
    m_shared->receiver = nullptr;
}

BOOL CUpdateRun::Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
                      const char* pszTargetDir) {
    if (!pNotify)
        return FALSE;
    m_shared->receiver = pNotify;
    return m_shared->engine.Init(m_shared.get(), pszBaseUrl, pszTempDir, pszTargetDir);
}

bool CUpdateRun::Start() {
    if (m_thread)
        return false;
    // Set before the thread exists, so that a cancel at once is taken as a download's.
    m_shared->state = RunState::Downloading;
    auto ownedByWorker = std::make_unique<std::shared_ptr<Shared>>(m_shared);
    HANDLE thread = CreateThread(nullptr, 0, &WorkerProc, ownedByWorker.get(), 0, nullptr);
    if (!thread) {
        m_shared->state = RunState::Ready;
        return false;
    }
    ownedByWorker.release();
    m_thread = std::make_unique<CKernelHandle>(thread);
    return true;
}

bool CUpdateRun::Wait(DWORD dwTimeoutMs) {
    return !m_thread || WaitForSingleObject(m_thread->Get(), dwTimeoutMs) != WAIT_TIMEOUT;
}

int CUpdateRun::Result() const {
    return m_shared->result;
}

void CUpdateRun::Shared::OnUpdateEvent(DWORD dwArg1, DWORD dwArg2, int nEvent,
                                       const char* pszText) {
    state = StateAfter(nEvent, state);
    std::lock_guard<std::mutex> hold(receiverLock);
    if (receiver)
        receiver->OnUpdateEvent(dwArg1, dwArg2, nEvent, pszText);
}

int CUpdateRun::Run(Shared& shared) {
    RunLog().Write("run: downloading %u files",
                   static_cast<unsigned>(shared.engine.Files().size()));
    const int downloaded = shared.engine.DownloadAll();
    if (downloaded == 1)
        shared.engine.RemoveTemporaries(); // a failed run leaves nothing behind
    if (downloaded != 0)
        return downloaded;
    const int installed = shared.engine.InstallAll();
    if (installed == 0) {
        RunLog().Write("install: done, %u files placed",
                       static_cast<unsigned>(shared.engine.Files().size()));
        shared.engine.RemoveAll();
    }
    return installed;
}

DWORD WINAPI CUpdateRun::WorkerProc(LPVOID pParam) {
    // The worker's own reference: what it uses lives until it ends.
    const std::unique_ptr<std::shared_ptr<Shared>> hold(
        static_cast<std::shared_ptr<Shared>*>(pParam));
    Shared& shared = **hold;
    int result = 1;
    // Nothing may leave the thread's entry point; an escape ends the run like a failure.
    try {
        result = Run(shared);
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    // Exactly one final event, whatever happened: the window closes only on one.
    if (!IsFinal(shared.state)) {
        result = 1;
        try {
            shared.engine.RemoveTemporaries();
            shared.OnUpdateEvent(0, 0, UPD_EVT_FAILED, "更新失败");
        } catch (CException* e) {
            e->Delete();
        } catch (...) {
        }
    }
    RunLog().Write("run end: %s", ResultText(result));
    shared.result = result;
    return static_cast<DWORD>(result);
}
