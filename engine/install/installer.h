// Installs the downloaded files as one transaction: every download is flushed and journaled,
// every installed file that will be replaced is first kept aside, then the new files are moved
// in, and a flushed commit record makes them stay; if any step fails everything is put back.
// The updater's own executable is placed beside itself as ".EX_", since a running program
// cannot be replaced.
#pragma once

#include "engine/install/install_journal.h"
#include "framework/cstring.h"

#include <windows.h>

#include <vector>

// One downloaded file and the name it is installed under, relative to the installation folder.
struct InstallItem {
    CString source;
    CString localName;
    CString md5; // of the download in lower case, when it was checked against it; else computed
};

// Before anything is downloaded: false, with the reason for the run log, when no installation
// can begin. An earlier one is still unfinished (its journal must stay until it is), or the
// installation folder cannot be written (a standard user's Program Files: the updater never
// asks for elevation).
bool CanBeginInstallation(const CString& strTempDir, const CString& strTargetDir, CString& strWhy);

class CInstallation {
public:
    // strTempDir holds the journal and the kept copies; strTargetDir is the installation folder.
    CInstallation(const CString& strTempDir, const CString& strTargetDir);

    // Flushes every download, journals, sets aside and moves in every item (the same installed
    // name listed twice is installed once). False at the first step that failed after its
    // retries; Failure() then says which file.
    bool Place(const std::vector<InstallItem>& items);
    // After Place: the commit record, flushed, then the old copies and the journal removed.
    // False when the record could not be written: the installation must be undone.
    bool Commit();

    enum class UndoOutcome {
        NotNeeded,       // nothing was touched
        Complete,        // every file is as it was
        LeftToNextStart, // the journal stays: the next start finishes the undo
    };
    // After a failed Place or Commit: puts every file back as it was and removes what the
    // release added.
    UndoOutcome Undo();
    const char* Failure() const { return m_szFailure; }

private:
    bool Plan(const std::vector<InstallItem>& items);
    void PlanFolders(const std::string& destination);
    bool FlushDownloads();
    bool MoveAll();
    void Fail(const char* pszName);

    const CString m_strTempDir;
    const CString m_strTargetDir;
    CInstallJournal m_journal;
    InstallPlan m_plan;
    bool m_bBegun = false;
    bool m_bCommitTried = false; // a commit record may be on the disk
    char m_szFailure[MAX_PATH];
};
