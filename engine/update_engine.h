// Holds the files to fetch and the HTTP session, downloads and installs them, and reports every
// step to one IUpdateNotify. It has no thread of its own: CUpdateRun runs it on a worker.
#pragma once

#include "digest/file_digest.h"
#include "engine/install_journal.h"
#include "engine/update_file.h"
#include "engine/update_notify.h"
#include "framework/cstring.h"
#include "framework/file.h"
#include "framework/internet.h"
#include "framework/scoped_handle.h"

#include <atomic>
#include <memory>
#include <vector>
#include <windows.h>

class CUpdateEngine {
public:
    CUpdateEngine();
    ~CUpdateEngine();
    CUpdateEngine(const CUpdateEngine&) = delete;
    CUpdateEngine& operator=(const CUpdateEngine&) = delete;

    BOOL Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
              const char* pszTargetDir);
    // Refuses (FALSE, nothing added) a null name and any name that does not fit its field or
    // would leave the folder it is joined to. A well-formed digest (32 hexadecimal digits, either
    // case) is what the download must match; any other text (a placeholder) accepts anything.
    // A SHA-256 (null or "": none) must be in the signed manifest's form, else the file is
    // refused: the download must then match it too.
    BOOL AddFile(const char* pszRemoteName, const char* pszLocalName, const char* pszMd5 = nullptr,
                 const char* pszSha256 = nullptr);
    void RemoveAll();

    // 0: every file stored in the temporary folder; 1: a file failed; 2: cancelled.
    virtual int DownloadAll();
    // Moves every downloaded file into place, all or nothing: 0 installed (after
    // UPD_EVT_DONE); 1 when a file could not be placed, everything undone and the temporary
    // files removed (after UPD_EVT_FAILED).
    virtual int InstallAll();
    // Deletes the temporary file of every listed entry.
    void RemoveTemporaries() const;

    // Seen after the current block, or within a short grace when a network wait is blocked;
    // may be called from any thread.
    void RequestCancel();
    // The code of the last event DownloadAll sent (0 before any).
    int LastEvent() const { return m_nState; }
    // The list is filled before the worker starts and touched only by the worker afterwards,
    // so it needs no lock.
    const std::vector<CUpdateFile>& Files() const { return m_files; }
    DWORD Received() const { return m_dwReceived; }
    const CString& BaseUrl() const { return m_strBaseUrl; }
    bool HasSession() const { return m_pSession != nullptr; }

private:
    enum FileOutcome { FileReceived, FileCancelled };
    FileOutcome DownloadFile(const CUpdateFile& file, BYTE* pBlock, UINT nBlockSize);
    // The entry's temporary file ("" when the path does not fit).
    CString TempPathOf(const CUpdateFile& file) const;
    // The transaction's moves; false (with the failure text) when a path does not fit.
    bool PlanMoves(std::vector<InstallMove>& moves, char (&failure)[MAX_PATH]) const;
    // Sets aside, then moves in; false at the first step that failed after its retries.
    bool MoveAll(const std::vector<InstallMove>& moves, char (&failure)[MAX_PATH]) const;
    void OpenTempFile(CFile& tempFile, const CUpdateFile& file);
    // Adds a block to the file's MD5 (unless null) and reports the file's and the run's bytes.
    void TakeBlock(CFileDigest* pMd5, const BYTE* pBlock, UINT nCount, DWORD& dwFileBytes,
                   const char* pszName);
    // Records the code as the engine's state, then reports it.
    void SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);
    void Notify(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText);

    DWORD m_dwReceived = 0;
    std::atomic<int> m_nState{0};
    std::vector<CUpdateFile> m_files;
    std::atomic<BOOL> m_bCancel{FALSE};
    CKernelHandle m_cancelEvent; // set with m_bCancel: wakes a blocked network wait
    IUpdateNotify* m_pNotify = nullptr;
    CString m_strBaseUrl;
    CString m_strTempDir;
    CString m_strTargetDir;
    std::unique_ptr<CInternetSession> m_pSession;
};
