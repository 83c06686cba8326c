// Installs the downloaded files as one transaction: every installed file that will be replaced
// is first kept aside, then the new files are moved in; if any step fails everything is put
// back. The updater's own executable is placed beside itself as ".EX_", since a running program
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
};

class CInstallation {
public:
    // strTempDir holds the journal and the kept copies; strTargetDir is the installation folder.
    CInstallation(const CString& strTempDir, const CString& strTargetDir);

    // Journals, sets aside and moves in every item (the same installed name listed twice is
    // installed once). False at the first step that failed after its retries; Failure() then
    // says which file.
    bool Place(const std::vector<InstallItem>& items);
    // After Place: removes the kept copies and the journal.
    void Commit();

    enum class UndoOutcome {
        NotNeeded,       // nothing was touched
        Complete,        // every file is as it was
        LeftToNextStart, // journaled as an undo: the next start finishes it
        Unrecorded,      // neither: the downloads must stay for the next start's undo
    };
    // After a failed Place: puts every file back as it was and removes what the release added.
    UndoOutcome Undo();
    const char* Failure() const { return m_szFailure; }

private:
    bool Plan(const std::vector<InstallItem>& items);
    bool MoveAll();
    void Fail(const char* pszName);

    const CString m_strTempDir;
    const CString m_strTargetDir;
    CInstallJournal m_journal;
    std::vector<InstallMove> m_moves;
    bool m_bBegun = false;
    char m_szFailure[MAX_PATH];
};
