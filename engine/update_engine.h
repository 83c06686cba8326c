// Holds the files to fetch, owns the HTTP session, and runs download and installation on a
// worker thread, reporting every step to one IUpdateNotify.
#pragma once

#include "engine/update_file.h"
#include "engine/update_notify.h"
#include "framework/carray.h"
#include "framework/cstring.h"
#include "framework/internet.h"

#include <atomic>
#include <windows.h>

// Guards the engine's file list; only ever one engine exists.
extern CRITICAL_SECTION g_csFiles;

class CUpdateEngine {
public:
    CUpdateEngine();
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    BOOL Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
              const char* pszTargetDir);
    // Refuses (FALSE, nothing added) a null name and any name that does not fit its field or
    // would leave the folder it is joined to.
    BOOL AddFile(const char* pszRemoteName, const char* pszLocalName);
    void RemoveAll();

    // 0: every file stored in the temporary folder; 1: a file failed; 2: cancelled.
    virtual int DownloadAll();
    // Moves every downloaded file into place; always 0.
    virtual int InstallAll();

    DWORD m_dwReceived = 0;
    std::atomic<int> m_nState{0};
    CArray<CUpdateFile*> m_files;
    HANDLE m_hThread = nullptr;
    HANDLE m_hStartEvent = nullptr;
    std::atomic<BOOL> m_bCancel{FALSE};
    IUpdateNotify* m_pNotify = nullptr;
    CString m_strBaseUrl;
    CString m_strTempDir;
    CString m_strTargetDir;
    CInternetSession* m_pSession = nullptr;

private:
    enum FileOutcome { FileReceived, FileCancelled };
    FileOutcome DownloadFile(const CUpdateFile& file, BYTE* pBlock, UINT nBlockSize);
    // Records the code as the engine's state, then reports it.
    void SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);
    void Notify(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);
};

// The worker thread's routine; its argument is the engine. Waits for m_hStartEvent, downloads,
// and installs only when every file arrived.
DWORD WINAPI WorkerProc(LPVOID pParam);
