#include "engine/install/install_recovery.h"

#include "engine/install/disk_steps.h"
#include "framework/scoped_handle.h"

#include <windows.h>

namespace {

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool UndoMove(const InstallMove& move) {
    std::string md5;
    if (!RemoveFile(StagingNameOf(move.destination)) || !DigestOf(move.destination, md5))
        return false; // held open: cannot be told or changed now
    const bool newInPlace = md5 == move.md5;
    if (!move.hadOriginal)
        return !newInPlace || RemoveFile(move.destination);
    // The old file is still in place unless the new one took its name or it was renamed aside.
    // Without its copy (never, when every step reached the disk) the file stays as it is.
    if ((newInPlace || md5.empty()) && Exists(move.aside))
        return MoveDurably(move.aside, move.destination);
    return true;
}

// Old copies that an earlier run could not remove: a file held open without delete sharing
// keeps every name of it until it is closed.
void RemoveLeftoverSetAside(const char* pszTempDir) {
    const std::string root = std::string(pszTempDir) + "\\aside";
    WIN32_FIND_DATAA folder;
    CFindHandle folders(FindFirstFileA((root + "\\*").c_str(), &folder));
    if (!folders.IsValid())
        return;
    do {
        if (folder.cFileName[0] == '.')
            continue;
        const std::string path = root + "\\" + folder.cFileName;
        WIN32_FIND_DATAA file;
        CFindHandle files(FindFirstFileA((path + "\\*").c_str(), &file));
        if (files.IsValid()) {
            do {
                if (file.cFileName[0] != '.')
                    DeleteFileA((path + "\\" + file.cFileName).c_str());
            } while (FindNextFileA(files.Get(), &file));
        }
        RemoveDirectoryA(path.c_str());
    } while (FindNextFileA(folders.Get(), &folder));
    RemoveDirectoryA(root.c_str());
}

} // namespace

bool UndoPlan(const InstallPlan& plan) {
    bool restored = true;
    for (auto move = plan.moves.rbegin(); move != plan.moves.rend(); ++move)
        restored = UndoMove(*move) && restored;
    // The folders the release brought, innermost first; one that holds something else stays.
    if (restored)
        for (auto folder = plan.folders.rbegin(); folder != plan.folders.rend(); ++folder)
            RemoveFolder(*folder);
    return restored;
}

void RemoveSetAside(const InstallPlan& plan) {
    // Also after an undo: putting a hard link back over its other name may leave both names.
    std::string folder;
    for (const InstallMove& move : plan.moves) {
        if (move.hadOriginal)
            RemoveFile(move.aside, false);
        if (ParentOf(move.aside) != folder) {
            if (!folder.empty())
                RemoveFolder(folder);
            folder = ParentOf(move.aside);
        }
    }
    if (!folder.empty()) {
        RemoveFolder(folder);
        RemoveFolder(ParentOf(folder));
    }
}

JournalState FindUnfinishedInstallation(const char* pszTempDir) {
    InstallPlan plan;
    return CInstallJournal(pszTempDir).Read(plan);
}

Recovery CompleteUnfinishedInstallation(const char* pszTempDir) {
    CInstallJournal journal(pszTempDir);
    if (!journal.Exists()) {
        RemoveLeftoverSetAside(pszTempDir);
        return Recovery::None;
    }
    InstallPlan plan;
    const JournalState state = journal.Read(plan);
    if (state == JournalState::Unreadable)
        return Recovery::Kept;
    if (state == JournalState::Planned || state == JournalState::Undoing) {
        if ((state == JournalState::Planned && !journal.MarkUndo()) || !UndoPlan(plan))
            return Recovery::Kept;
        for (const InstallMove& move : plan.moves)
            RemoveFile(move.source, false); // downloads of the release undone
    }
    RemoveSetAside(plan);
    journal.End();
    return state == JournalState::Committed ? Recovery::Forward : Recovery::Undone;
}
