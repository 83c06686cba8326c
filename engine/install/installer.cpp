#include "engine/install/installer.h"

#include "engine/install/file_retry.h"
#include "framework/format.h"
#include "framework/program_info.h"

#include <shlwapi.h>
#include <string.h>

#include <set>

namespace {

const DWORD kMoveInFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
// Set-aside names live in small folders of the temporary folder: looking up a name that does
// not exist yet costs a scan of its folder under Wine.
const unsigned kAsideFolderSize = 64;

bool Fits(int nLength) {
    return nLength >= 0 && nLength < MAX_PATH;
}

// Windows compares file names without regard to letter case.
struct NoCaseLess {
    bool operator()(const std::string& a, const std::string& b) const {
        return _stricmp(a.c_str(), b.c_str()) < 0;
    }
};

} // namespace

CInstallation::CInstallation(const CString& strTempDir, const CString& strTargetDir)
    : m_strTempDir(strTempDir), m_strTargetDir(strTargetDir), m_journal(strTempDir) {
    FormatText(m_szFailure, sizeof(m_szFailure), "%s", "安装更新失败");
}

void CInstallation::Fail(const char* pszName) {
    FormatText(m_szFailure, sizeof(m_szFailure), "安装 %s 文件失败", pszName);
}

// One move per installed path: the same name listed twice is installed once.
bool CInstallation::Plan(const std::vector<InstallItem>& items) {
    const CString modulePath = ProgramPath();
    const char* ownName = PathFindFileNameA(modulePath);
    std::set<std::string, NoCaseLess> planned;
    for (const InstallItem& item : items) {
        char destination[MAX_PATH] = {};
        char aside[MAX_PATH] = {};
        const unsigned index = static_cast<unsigned>(m_moves.size());
        bool fits = !item.source.IsEmpty();
        if (_stricmp(item.localName, ownName) == 0) {
            char baseName[MAX_PATH] = {};
            lstrcpynA(baseName, item.localName, MAX_PATH);
            PathRemoveExtensionA(baseName);
            fits = fits && Fits(FormatText(destination, sizeof(destination), "%s\\%s.EX_",
                                           m_strTargetDir.GetString(), baseName));
        } else {
            fits = fits && Fits(FormatText(destination, sizeof(destination), "%s\\%s",
                                           m_strTargetDir.GetString(), item.localName.GetString()));
        }
        fits = fits &&
               Fits(FormatText(aside, sizeof(aside), "%s\\aside\\%u\\%u", m_strTempDir.GetString(),
                               index / kAsideFolderSize, index % kAsideFolderSize));
        if (!fits) {
            Fail(item.localName);
            return false;
        }
        if (planned.insert(destination).second)
            m_moves.push_back(
                InstallMove{item.source.GetString(), destination, aside,
                            GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES});
    }
    return true;
}

bool CInstallation::MoveAll() {
    int step = 0;
    // Everything that will be replaced is kept aside before the first new file goes in.
    for (const InstallMove& move : m_moves) {
        if (!move.hadOriginal)
            continue;
        OnInstallStep(++step);
        if (!SetAside(move)) {
            Fail(PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    for (const InstallMove& move : m_moves) {
        OnInstallStep(++step);
        if (!MoveFileWithRetry(move.source.c_str(), move.destination.c_str(), kMoveInFlags)) {
            Fail(PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    OnInstallStep(++step);
    return true;
}

bool CInstallation::Place(const std::vector<InstallItem>& items) {
    return Plan(items) && (m_bBegun = m_journal.Begin(m_moves)) && MoveAll();
}

void CInstallation::Commit() {
    RemoveSetAside(m_moves);
    m_journal.End();
}

CInstallation::UndoOutcome CInstallation::Undo() {
    if (!m_bBegun)
        return UndoOutcome::NotNeeded;
    // Marked first, so that a stop during the undo is never taken for a finished commit.
    const bool marked = m_journal.MarkUndo();
    if (UndoMoves(m_moves)) {
        RemoveSetAside(m_moves);
        m_journal.End();
        return UndoOutcome::Complete;
    }
    return marked ? UndoOutcome::LeftToNextStart : UndoOutcome::Unrecorded;
}
