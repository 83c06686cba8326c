#include "engine/install/installer.h"

#include "engine/install/disk_steps.h"
#include "engine/install/install_recovery.h"
#include "framework/format.h"
#include "framework/program_info.h"
#include "framework/scoped_handle.h"

#include <shlwapi.h>
#include <string.h>

#include <algorithm>
#include <set>

namespace {

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

bool SetAside(const InstallMove& move) {
    // A hard link keeps the old file without a copy and leaves the installed name in place, so
    // that moving the new file over it is as quick as a plain replace.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (KeepSecondName(move.destination, move.aside))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) { // the first of its folder
            const std::string folder = ParentOf(move.aside);
            MakeFolder(ParentOf(folder));
            MakeFolder(folder);
        } else if (error == ERROR_ALREADY_EXISTS) { // left by a clean-up that failed
            RemoveFile(move.aside, false);
        } else {
            break; // no hard links here (or the file is in use): rename it aside instead
        }
    }
    return MoveDurably(move.destination, move.aside);
}

} // namespace

bool CanBeginInstallation(const CString& strTempDir, const CString& strTargetDir, CString& strWhy) {
    if (CInstallJournal(strTempDir).Exists()) {
        strWhy.Format("an earlier installation is unfinished (%s\\install.jnl)",
                      strTempDir.GetString());
        return false;
    }
    char probe[MAX_PATH] = {};
    FormatText(probe, sizeof(probe), "%s\\~write-test-%lu.tmp", strTargetDir.GetString(),
               GetCurrentProcessId());
    const CKernelHandle file(CreateFileA(probe, GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                         FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE,
                                         nullptr));
    if (!file.IsValid()) {
        strWhy.Format("the installation folder %s cannot be written (error %lu)",
                      strTargetDir.GetString(), GetLastError());
        return false;
    }
    return true;
}

CInstallation::CInstallation(const CString& strTempDir, const CString& strTargetDir)
    : m_strTempDir(strTempDir), m_strTargetDir(strTargetDir), m_journal(strTempDir) {
    FormatText(m_szFailure, sizeof(m_szFailure), "%s", "安装更新失败");
}

void CInstallation::Fail(const char* pszName) {
    FormatText(m_szFailure, sizeof(m_szFailure), "安装 %s 文件失败", pszName);
}

// One move per installed path: the same name listed twice is installed once.
bool CInstallation::Plan(const std::vector<InstallItem>& items) {
    std::set<std::string, NoCaseLess> planned;
    for (const InstallItem& item : items) {
        char destination[MAX_PATH] = {};
        char aside[MAX_PATH] = {};
        const unsigned index = static_cast<unsigned>(m_plan.moves.size());
        bool fits = !item.source.IsEmpty();
        if (IsProgramFile(item.localName)) {
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
        if (!planned.insert(destination).second)
            continue;
        // Only a file known to be absent has nothing to keep aside: one that cannot be looked at
        // could not be put back by an undo.
        const bool hadOriginal = GetFileAttributesA(destination) != INVALID_FILE_ATTRIBUTES;
        if (!hadOriginal && GetLastError() != ERROR_FILE_NOT_FOUND &&
            GetLastError() != ERROR_PATH_NOT_FOUND) {
            Fail(item.localName);
            return false;
        }
        PlanFolders(destination);
        m_plan.moves.push_back(InstallMove{item.source.GetString(), destination, aside,
                                           item.md5.GetString(), hadOriginal});
    }
    return true;
}

// The folders of a file in a folder of the release that the installation lacks, outermost
// first: made before the files go in, removed again by an undo.
void CInstallation::PlanFolders(const std::string& destination) {
    std::vector<std::string> missing;
    for (std::string folder = ParentOf(destination);
         folder.size() > static_cast<size_t>(m_strTargetDir.GetLength()) + 1 &&
         GetFileAttributesA(folder.c_str()) == INVALID_FILE_ATTRIBUTES;
         folder = ParentOf(folder))
        missing.insert(missing.begin(), folder);
    for (const std::string& folder : missing)
        if (std::find(m_plan.folders.begin(), m_plan.folders.end(), folder) == m_plan.folders.end())
            m_plan.folders.push_back(folder);
}

// Every download's data is on the disk, with its digest, before the journal names it: after a
// power cut a moved name could otherwise hold nothing but zeros.
bool CInstallation::FlushDownloads() {
    for (InstallMove& move : m_plan.moves) {
        if ((move.md5.empty() && (!DigestOf(move.source, move.md5) || move.md5.empty())) ||
            !FlushFile(move.source)) {
            Fail(PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    return true;
}

bool CInstallation::MoveAll() {
    for (const std::string& folder : m_plan.folders) {
        MakeFolder(folder);
        if (!PathIsDirectoryA(folder.c_str())) {
            Fail(PathFindFileNameA(folder.c_str()));
            return false;
        }
    }
    // Everything that will be replaced is kept aside before the first new file goes in.
    for (const InstallMove& move : m_plan.moves) {
        if (move.hadOriginal && !SetAside(move)) {
            Fail(PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    for (const InstallMove& move : m_plan.moves) {
        if (!MoveDurably(move.source, move.destination)) {
            Fail(PathFindFileNameA(move.destination.c_str()));
            return false;
        }
    }
    return true;
}

bool CInstallation::Place(const std::vector<InstallItem>& items) {
    return Plan(items) && FlushDownloads() && (m_bBegun = m_journal.Begin(m_plan)) && MoveAll();
}

bool CInstallation::Commit() {
    m_bCommitTried = true;
    if (!m_journal.MarkCommitted())
        return false;
    RemoveSetAside(m_plan);
    m_journal.End();
    return true;
}

CInstallation::UndoOutcome CInstallation::Undo() {
    if (!m_bBegun)
        return UndoOutcome::NotNeeded;
    // Marked first: should a commit record that seemed to fail have reached the disk, the undo
    // still counts, also for a next start that finishes it. Without the mark after such a
    // record, nothing is touched: a next start would read the installation as committed.
    if (!m_journal.MarkUndo() && m_bCommitTried)
        return UndoOutcome::LeftToNextStart;
    if (!UndoPlan(m_plan))
        return UndoOutcome::LeftToNextStart;
    RemoveSetAside(m_plan);
    m_journal.End();
    return UndoOutcome::Complete;
}
