// The installation as one transaction that survives a crash or a power cut: what it is about to
// do is written to a journal in the temporary folder and flushed before the first installed file
// is touched; a flushed "committed" record follows the last move. The next start reads it to
// finish the transaction: forward when committed, else back.
//
// The journal is text, one record a line, its kind first and its fields separated by tabs (tabs
// and line ends cannot occur in Windows paths):
//   install-journal 2
//   folder <path>                                     one per folder it makes, outermost first
//   file <+|-> <md5> <source> <destination> <aside>   one per file, + when it replaces one
//   planned                                           the plan is whole
//   committed | undo                                  appended later; the last one counts
// A new kind of change becomes a new record kind in the plan.
#pragma once

#include <string>
#include <vector>

// One file of the transaction. An installed file that exists is first given a second name,
// `aside`, in the temporary folder (a hard link: same volume, no copy; renamed there where the
// file system has no hard links; a flushed copy where the temporary folder is on another
// volume), and only then is `source` moved over `destination`.
struct InstallMove {
    std::string source;      // the downloaded temporary file
    std::string destination; // the installed file (or the updater's ".EX_" copy)
    std::string aside;       // where the installed file is kept until the end
    std::string md5;         // of the new file: it is in place when `destination` has it
    bool hadOriginal;        // whether `destination` existed when the journal was written
};

// Everything one installation changes.
struct InstallPlan {
    std::vector<std::string> folders; // made for the release's files, outermost first
    std::vector<InstallMove> moves;
};

enum class JournalState {
    None,       // no journal, or one never written whole: nothing it lists was touched
    Planned,    // files may have been moved since, and none stays: undone at the next start
    Committed,  // every new file is in place and stays; only the old copies are left to remove
    Undoing,    // being put back
    Unreadable, // there, but not to be read now (held open, a read error): kept as it is
};

class CInstallJournal {
public:
    // The journal of the temporary folder `pszTempDir` (without a trailing separator).
    explicit CInstallJournal(const char* pszTempDir);
    // Writes the plan and flushes it; false when it could not, or when a journal is there
    // already (an earlier installation is unfinished, and its record must stay).
    bool Begin(const InstallPlan& plan);
    // Appends a record, flushed: every new file stays, or the transaction is being undone.
    bool MarkCommitted();
    bool MarkUndo();
    // The transaction is over: no journal is left.
    void End();
    bool Exists() const;
    // The plan and how far it got; a record cut short by a stop, and what follows it, count
    // as not written.
    JournalState Read(InstallPlan& plan) const;
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};
