#include "engine/update_run.h"

#include "engine/update_work.h"
#include "framework/run_log.h"

#include <utility>

namespace {

const char* ResultText(RunResult result) {
    return result == RunResult::Installed   ? "installed"
           : result == RunResult::Cancelled ? "cancelled by the user"
                                            : "failed";
}

bool IsFinal(RunState state) {
    return state == RunState::Done || state == RunState::Failed || state == RunState::Cancelled;
}

// The worker's whole run. Nothing may leave the thread's entry point: anything thrown ends the
// run like a failure, and exactly one final event is reported whatever happened, since the
// window closes only on one.
RunResult RunToTheEnd(CUpdateWork& work) {
    RunResult result = RunResult::Failed;
    try {
        result = work.Run();
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    if (!IsFinal(work.m_state)) {
        result = RunResult::Failed;
        try {
            work.RemoveTemporaries();
            work.Report(UPD_EVT_FAILED, 0, 0, "更新失败");
        } catch (CException* e) {
            e->Delete();
        } catch (...) {
        }
    }
    return result;
}

} // namespace

CUpdateRun::CUpdateRun() : m_work(std::make_shared<CUpdateWork>()) {}

CUpdateRun::~CUpdateRun() {
    if (State() == RunState::Downloading)
        Cancel();
    m_work->Detach();
}

BOOL CUpdateRun::Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
                      const char* pszTargetDir) {
    return m_work->Init(pNotify, pszBaseUrl, pszTempDir, pszTargetDir);
}

BOOL CUpdateRun::AddFile(const char* pszRemoteName, const char* pszLocalName, const char* pszMd5,
                         const char* pszSha256) {
    CUpdateFile file;
    if (!MakeUpdateFile(pszRemoteName, pszLocalName, pszMd5, pszSha256, 0, file))
        return FALSE;
    m_work->m_files.push_back(file);
    return TRUE;
}

void CUpdateRun::SetFiles(std::vector<CUpdateFile> files) {
    m_work->m_files = std::move(files);
}

void CUpdateRun::SetSites(const std::vector<CString>& baseUrls, size_t nFirst) {
    m_work->SetSites(baseUrls, nFirst);
}

void CUpdateRun::SetClientProcess(HANDLE hProcess) {
    CKernelHandle owned(hProcess);
    if (owned.IsValid())
        std::swap(*m_work->m_clientProcess.Receive(), *owned.Receive());
}

const std::vector<CUpdateFile>& CUpdateRun::Files() const {
    return m_work->m_files;
}

bool CUpdateRun::Start() {
    if (m_thread)
        return false;
    // Set before the thread exists, so that a cancel at once is taken as a download's.
    m_work->m_state = RunState::Downloading;
    auto ownedByWorker = std::make_unique<std::shared_ptr<CUpdateWork>>(m_work);
    HANDLE thread = CreateThread(nullptr, 0, &WorkerProc, ownedByWorker.get(), 0, nullptr);
    if (!thread) {
        m_work->m_state = RunState::Ready;
        return false;
    }
    ownedByWorker.release();
    m_thread = std::make_unique<CKernelHandle>(thread);
    return true;
}

void CUpdateRun::Cancel() {
    m_work->RequestCancel();
}

bool CUpdateRun::Wait(DWORD dwTimeoutMs) {
    return !m_thread || WaitForSingleObject(m_thread->Get(), dwTimeoutMs) != WAIT_TIMEOUT;
}

RunState CUpdateRun::State() const {
    return m_work->m_state;
}

RunResult CUpdateRun::Result() const {
    return m_work->m_result;
}

int CUpdateRun::LastDownloadEvent() const {
    return m_work->m_lastDownloadEvent;
}

DWORD WINAPI CUpdateRun::WorkerProc(LPVOID pParam) {
    // The worker's own reference: what it uses lives until it ends.
    const std::unique_ptr<std::shared_ptr<CUpdateWork>> hold(
        static_cast<std::shared_ptr<CUpdateWork>*>(pParam));
    CUpdateWork& work = **hold;
    const RunResult result = RunToTheEnd(work);
    RunLog().Write("run end: %s", ResultText(result));
    work.m_result = result;
    return static_cast<DWORD>(result);
}
