// Putting an installation back, and finishing one that an earlier run left unfinished. Whether
// a new file is in place is told by its digest, never by a name existing: after a power cut a
// name can be on the disk before its data.
#pragma once

#include "engine/install/install_journal.h"

// Puts back every installed file the plan replaced and removes every file it added, last first;
// false when something could not be put back (the journal must then stay for the next start).
bool UndoPlan(const InstallPlan& plan);
// Removes the old copies and their folders once the transaction is over (a copy whose file is
// held open stays, and goes at a later start).
void RemoveSetAside(const InstallPlan& plan);

// What the journal in pszTempDir leaves to this start: Planned and Undoing put installed files
// back, so the client must have closed first; Committed only removes old copies.
JournalState FindUnfinishedInstallation(const char* pszTempDir);

enum class Recovery {
    None,    // no journal
    Forward, // committed: the old copies removed
    Undone,  // every file as before that installation (or nothing of it was touched)
    Kept,    // something could not be put back: the journal stays for the next start
};
// Finishes what the journal asks; without a journal, removes old copies that an earlier run
// could not.
Recovery CompleteUnfinishedInstallation(const char* pszTempDir);
