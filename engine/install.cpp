// Installs the downloaded files as one transaction: every installed file that will be replaced
// is first renamed aside in its own folder, then the new files are moved in; if any step fails
// everything is put back. The updater's own executable is placed beside itself as ".EX_",
// since a running program cannot be replaced.
#include "engine/update_engine.h"

#include "app/run_log.h"
#include "engine/install_journal.h"
#include "engine/program_path.h"
#include "framework/format.h"

#include <shlwapi.h>
#include <string.h>

#include <set>

namespace {

const DWORD kMoveInFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
// Set-aside names live in small folders of the temporary folder: looking up a name that does
// not exist yet costs a scan of its folder under Wine.
const unsigned kAsideFolderSize = 64;

bool FormatPath(char (&buffer)[MAX_PATH], const char* pszFormat, const char* pszDir,
                const char* pszName) {
    const int length = FormatText(buffer, sizeof(buffer), pszFormat, pszDir, pszName);
    return length >= 0 && length < static_cast<int>(sizeof(buffer));
}

// Windows compares file names without regard to letter case.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    }
};

void FormatFailure(char (&message)[MAX_PATH], const char* pszName) {
    FormatText(message, sizeof(message), "安装 %s 文件失败", pszName);
}

} // namespace

// One move per installed path: the same name listed twice is installed once.
bool CUpdateEngine::PlanMoves(std::vector<InstallMove>& moves, char (&failure)[MAX_PATH]) const {
    const CString modulePath = ProgramPath();
    const char* ownName = PathFindFileNameA(modulePath);
    std::set<std::string, NoCaseLess> planned;
    for (const CUpdateFile& file : m_files) {
        const CString source = TempPathOf(file);
        char destination[MAX_PATH] = {};
        char aside[MAX_PATH] = {};
        const unsigned index = static_cast<unsigned>(moves.size());
        bool fits = !source.IsEmpty();
        if (_stricmp(file.szLocalName, ownName) == 0) {
            char baseName[UPDATE_NAME_SIZE] = {};
            memcpy(baseName, file.szLocalName, sizeof(baseName) - 1);
            PathRemoveExtensionA(baseName);
            fits = fits && FormatPath(destination, "%s\\%s.EX_", m_strTargetDir, baseName);
        } else {
            fits = fits && FormatPath(destination, "%s\\%s", m_strTargetDir, file.szLocalName);
        }
        const int asideLength =
            FormatText(aside, sizeof(aside), "%s\\aside\\%u\\%u", m_strTempDir.GetString(),
                       index / kAsideFolderSize, index % kAsideFolderSize);
        if (!fits || asideLength < 0 || asideLength >= static_cast<int>(sizeof(aside))) {
            FormatFailure(failure, file.szLocalName);
            return false;
        }
        if (planned.insert(destination).second)
            moves.push_back(
                InstallMove{source.GetString(), destination, aside,
                            GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES});
    }
    return true;
}

bool CUpdateEngine::MoveAll(const std::vector<InstallMove>& moves,
                            char (&failure)[MAX_PATH]) const {
    int step = 0;
    // Everything that will be replaced is kept aside before the first new file goes in.
    for (const InstallMove& move : moves) {
        if (!move.hadOriginal)
            continue;
        OnInstallStep(++step);
        if (!SetAside(move)) {
            FormatFailure(failure, PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    for (const InstallMove& move : moves) {
        OnInstallStep(++step);
        if (!MoveFileWithRetry(move.source.c_str(), move.destination.c_str(), kMoveInFlags)) {
            FormatFailure(failure, PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    OnInstallStep(++step);
    return true;
}

int CUpdateEngine::InstallAll() {
    Notify(UPD_EVT_INSTALLING, 0, 0, "开始安装更新，请稍候...");
    RunLog().Write("install: begin, %u files", static_cast<unsigned>(m_files.size()));

    CInstallJournal journal(m_strTempDir);
    std::vector<InstallMove> moves;
    char failure[MAX_PATH] = "安装更新失败";
    bool begun = false;
    bool placed = false;
    try {
        placed =
            PlanMoves(moves, failure) && (begun = journal.Begin(moves)) && MoveAll(moves, failure);
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    if (placed) {
        // Every new file is in place: the client may start. Clearing up the old files after
        // that keeps the wait short; a stop meanwhile leaves the journal, and the next start
        // finishes the clearing.
        Notify(UPD_EVT_DONE, 0, 0, nullptr);
        RemoveSetAside(moves);
        journal.End();
        return 0;
    }
    // A journal that cannot be closed now stays, and the next start completes the undo.
    bool settled = true;
    if (begun) {
        const bool marked = journal.MarkUndo();
        settled = UndoMoves(moves);
        if (settled) {
            RemoveSetAside(moves);
            journal.End();
        }
        settled = settled || marked;
    }
    if (settled)
        RemoveTemporaries();
    RunLog().Write("install: failed (%s); undo %s", failure,
                   !begun    ? "not needed"
                   : settled ? "complete"
                             : "left to the next start");
    Notify(UPD_EVT_FAILED, 0, 0, failure);
    return 1;
}

void CUpdateEngine::RemoveTemporaries() const {
    for (const CUpdateFile& file : m_files) {
        const CString path = TempPathOf(file);
        if (!path.IsEmpty())
            DeleteFileA(path);
    }
}
