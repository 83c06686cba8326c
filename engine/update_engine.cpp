#include "engine/update_engine.h"

#include "engine/file_name_rules.h"

#include <shlwapi.h>
#include <string.h>

CRITICAL_SECTION g_csFiles;

CUpdateEngine::CUpdateEngine() {
    InitializeCriticalSection(&g_csFiles);
}

CUpdateEngine::~CUpdateEngine() {
    RemoveAll();
    if (m_hThread) {
        CloseHandle(m_hThread);
        m_hThread = nullptr;
    }
    if (m_hStartEvent) {
        CloseHandle(m_hStartEvent);
        m_hStartEvent = nullptr;
    }
    delete m_pSession;
    m_pSession = nullptr;
    DeleteCriticalSection(&g_csFiles);
}

BOOL CUpdateEngine::Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
                         const char* pszTargetDir) {
    if (!pNotify)
        return FALSE;
    m_pNotify = pNotify;
    m_strBaseUrl = pszBaseUrl;
    m_strTempDir = pszTempDir;
    m_strTargetDir = pszTargetDir;

    if (m_strBaseUrl.GetAt(m_strBaseUrl.GetLength() - 1) != '/')
        m_strBaseUrl += '/';

    // Only the last level is created; a missing parent makes the first download fail.
    if (!PathIsDirectoryA(m_strTempDir))
        CreateDirectoryA(m_strTempDir, nullptr);

    m_pSession =
        new CInternetSession(nullptr, 1, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0);
    m_hStartEvent = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    return m_hStartEvent != nullptr;
}

BOOL CUpdateEngine::AddFile(const char* pszRemoteName, const char* pszLocalName) {
    if (!pszRemoteName)
        return FALSE;
    const char* local = pszLocalName ? pszLocalName : pszRemoteName;
    // Names come from the network: they must fit the record and stay inside our folders.
    if (!IsAcceptableFileName(pszRemoteName) || !IsAcceptableFileName(local))
        return FALSE;

    CUpdateFile* file = new CUpdateFile();
    memset(file, 0, sizeof(*file));
    strcpy(file->szRemoteName, pszRemoteName); // lengths checked above
    strcpy(file->szLocalName, local);

    EnterCriticalSection(&g_csFiles);
    const int slot = m_files.GetSize();
    m_files.SetSize(slot + 1);
    m_files[slot] = file;
    LeaveCriticalSection(&g_csFiles);
    return TRUE;
}

void CUpdateEngine::RemoveAll() {
    EnterCriticalSection(&g_csFiles);
    for (int i = 0; i < m_files.GetSize(); ++i)
        delete m_files[i];
    m_files.RemoveAll();
    LeaveCriticalSection(&g_csFiles);
}

void CUpdateEngine::SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    m_nState = nEvent;
    Notify(nEvent, dwArg1, dwArg2, pszText);
}

void CUpdateEngine::Notify(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    if (m_pNotify)
        m_pNotify->OnUpdateEvent(dwArg1, dwArg2, nEvent, pszText);
}

DWORD WINAPI WorkerProc(LPVOID pParam) {
    CUpdateEngine* engine = static_cast<CUpdateEngine*>(pParam);
    // Nothing may leave the thread's entry point; an escape ends the run like a failure.
    try {
        WaitForSingleObject(engine->m_hStartEvent, INFINITE);
        const int downloaded = engine->DownloadAll();
        if (downloaded != 0)
            return static_cast<DWORD>(downloaded);
        const int installed = engine->InstallAll();
        if (installed == 0)
            engine->RemoveAll();
        return static_cast<DWORD>(installed);
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    return 1;
}
