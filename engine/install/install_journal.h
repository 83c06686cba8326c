// The installation as one transaction that survives a crash: what it is about to do is written
// to a journal in the temporary folder and flushed before the first installed file is touched,
// so that the next start can finish it (every new file already in place) or undo it.
#pragma once

#include <string>
#include <vector>

// One file of the transaction. An installed file that exists is first given a second name,
// `aside`, in the temporary folder (a hard link: same volume, no copy; renamed there where the
// file system has no hard links), and only then is `source` moved over `destination`.
struct InstallMove {
    std::string source;      // the downloaded temporary file
    std::string destination; // the installed file (or the updater's ".EX_" copy)
    std::string aside;       // where the installed file is kept until the end
    bool hadOriginal;        // whether `destination` existed when the journal was written
};

class CInstallJournal {
public:
    // The journal of the temporary folder `pszTempDir` (without a trailing separator).
    explicit CInstallJournal(const char* pszTempDir);
    // Writes every move and flushes it to the disk; false when it could not.
    bool Begin(const std::vector<InstallMove>& moves);
    // Records that the transaction is being undone, so that a crash during the undo is never
    // mistaken for a finished commit.
    bool MarkUndo();
    // The transaction is over: no journal is left.
    void End();
    // Reads the journal; false when there is none or it was not written to its end.
    bool Read(std::vector<InstallMove>& moves, bool& bUndo) const;
    const std::string& Path() const { return m_path; }
    bool Exists() const;

private:
    std::string m_path;
};

// Keeps the installed file of `move` under its `aside` name; false when it could not.
bool SetAside(const InstallMove& move);
// Puts every set-aside file back and removes what the release added, last move first; false
// when something could not be restored (the journal must then stay for the next start).
bool UndoMoves(const std::vector<InstallMove>& moves);
// Removes the set-aside names and their folders once the transaction is over.
void RemoveSetAside(const std::vector<InstallMove>& moves);
// Start-up: completes a transaction that an earlier run left unfinished (commit when every new
// file is in place, else undo, removing its temporaries). True when there was one. Without
// one, removes set-aside names that an earlier run could not.
bool CompleteUnfinishedInstallation(const char* pszTempDir);

// Called before each numbered step of an installation (each rename, then the clean-up) with
// the step's number from 1. Null by default; test builds set it to stop the process there.
using InstallStepHook = void (*)(int nStep);
void SetInstallStepHook(InstallStepHook pfnHook);
void OnInstallStep(int nStep);
