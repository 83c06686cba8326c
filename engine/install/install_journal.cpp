#include "engine/install/install_journal.h"

#include "engine/install/file_retry.h"
#include "framework/scoped_handle.h"

#include <windows.h>

namespace {

const char kJournalName[] = "install.jnl";
const char kHeader[] = "install-journal 1";
const char kEnd[] = "end";
const char kUndo[] = "undo";

InstallStepHook g_pfnInstallStep = nullptr;

bool Exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Written through and flushed: the journal must be on the disk before what it describes.
bool WriteFlushed(const std::string& path, const std::string& text, bool bAppend) {
    CKernelHandle file(CreateFileA(path.c_str(), bAppend ? FILE_APPEND_DATA : GENERIC_WRITE, 0,
                                   nullptr, bAppend ? OPEN_EXISTING : CREATE_ALWAYS,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file.IsValid())
        return false;
    DWORD written = 0;
    return WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr) &&
           written == text.size() && FlushFileBuffers(file.Get());
}

// The pieces between separators; a text that ends with the separator has no empty last piece.
// (String streams would do, but they pull the C++ library's locale machinery into the program.)
std::vector<std::string> Split(const std::string& text, char separator) {
    std::vector<std::string> pieces;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find(separator, start);
        if (end == std::string::npos)
            end = text.size();
        pieces.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return pieces;
}

bool EveryNewFileInPlace(const std::vector<InstallMove>& moves) {
    for (const InstallMove& move : moves)
        if (Exists(move.source) || !Exists(move.destination))
            return false;
    return true;
}

} // namespace

CInstallJournal::CInstallJournal(const char* pszTempDir)
    : m_path(std::string(pszTempDir) + "\\" + kJournalName) {}

bool CInstallJournal::Begin(const std::vector<InstallMove>& moves) {
    // Tabs and line ends cannot occur in Windows paths, so they separate the fields.
    std::string text = std::string(kHeader) + "\r\n";
    for (const InstallMove& move : moves)
        text += (move.hadOriginal ? "+\t" : "-\t") + move.source + "\t" + move.destination + "\t" +
                move.aside + "\r\n";
    text += std::string(kEnd) + "\r\n";
    return WriteFlushed(m_path, text, false);
}

bool CInstallJournal::Exists() const {
    return ::Exists(m_path);
}

bool CInstallJournal::MarkUndo() {
    return WriteFlushed(m_path, std::string(kUndo) + "\r\n", true);
}

void CInstallJournal::End() {
    DeleteFileWithRetry(m_path.c_str());
}

bool CInstallJournal::Read(std::vector<InstallMove>& moves, bool& bUndo) const {
    moves.clear();
    bUndo = false;
    CKernelHandle file(CreateFileA(m_path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return false;
    std::string text;
    char block[4096];
    DWORD count = 0;
    while (ReadFile(file.Get(), block, sizeof(block), &count, nullptr) && count > 0)
        text.append(block, count);

    bool ended = false;
    bool first = true;
    for (std::string line : Split(text, '\n')) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (first) {
            if (line != kHeader)
                return false;
            first = false;
        } else if (line == kEnd) {
            ended = true;
        } else if (line == kUndo && ended) {
            bUndo = true;
        } else if (!ended && line.size() > 2 && (line[0] == '+' || line[0] == '-')) {
            const std::vector<std::string> fields = Split(line.substr(2), '\t');
            if (fields.size() != 3)
                return false;
            moves.push_back(InstallMove{fields[0], fields[1], fields[2], line[0] == '+'});
        } else {
            return false;
        }
    }
    return ended; // a journal cut short was written before any file was touched
}

// The folder part of a path.
std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

bool SetAside(const InstallMove& move) {
    // A hard link keeps the old file without a copy and leaves the installed name in place, so
    // that moving the new file over it is as quick as a plain replace.
    for (int attempt = 0; attempt < 3; ++attempt) {
        if (CreateHardLinkA(move.aside.c_str(), move.destination.c_str(), nullptr))
            return true;
        const DWORD error = GetLastError();
        if (error == ERROR_PATH_NOT_FOUND) { // the first of its folder
            const std::string folder = ParentOf(move.aside);
            CreateDirectoryA(ParentOf(folder).c_str(), nullptr);
            CreateDirectoryA(folder.c_str(), nullptr);
        } else if (error == ERROR_ALREADY_EXISTS) { // left by a clean-up that failed
            DeleteFileA(move.aside.c_str());
        } else {
            break; // no hard links here (or the file is in use): rename it aside instead
        }
    }
    return MoveFileWithRetry(move.destination.c_str(), move.aside.c_str(),
                             MOVEFILE_REPLACE_EXISTING);
}

bool UndoMoves(const std::vector<InstallMove>& moves) {
    bool restored = true;
    for (auto move = moves.rbegin(); move != moves.rend(); ++move) {
        if (move->hadOriginal) {
            // The old file needs putting back only where the new one took its place or it was
            // renamed aside; not set aside yet, or kept by a second name only, it is still there.
            if (Exists(move->aside) && (!Exists(move->source) || !Exists(move->destination)) &&
                !MoveFileWithRetry(move->aside.c_str(), move->destination.c_str(),
                                   MOVEFILE_REPLACE_EXISTING))
                restored = false;
        } else if (!DeleteFileWithRetry(move->destination.c_str())) {
            restored = false;
        }
    }
    return restored;
}

void RemoveSetAside(const std::vector<InstallMove>& moves) {
    // Also after an undo: putting a hard link back over its other name leaves both names.
    std::string folder;
    for (const InstallMove& move : moves) {
        DeleteFileA(move.aside.c_str());
        if (ParentOf(move.aside) != folder) {
            if (!folder.empty())
                RemoveDirectoryA(folder.c_str());
            folder = ParentOf(move.aside);
        }
    }
    if (!folder.empty()) {
        RemoveDirectoryA(folder.c_str());
        RemoveDirectoryA(ParentOf(folder).c_str());
    }
}

// Second names that an earlier run could not remove: a file held open without delete sharing
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

bool CompleteUnfinishedInstallation(const char* pszTempDir) {
    CInstallJournal journal(pszTempDir);
    if (GetFileAttributesA(journal.Path().c_str()) == INVALID_FILE_ATTRIBUTES) {
        RemoveLeftoverSetAside(pszTempDir);
        return false;
    }
    std::vector<InstallMove> moves;
    bool undo = false;
    if (journal.Read(moves, undo)) {
        if (undo || !EveryNewFileInPlace(moves)) {
            if (!journal.MarkUndo() || !UndoMoves(moves))
                return true; // kept: the next start tries again
            for (const InstallMove& move : moves)
                DeleteFileA(move.source.c_str());
        }
        RemoveSetAside(moves);
    }
    journal.End();
    return true;
}

void SetInstallStepHook(InstallStepHook pfnHook) {
    g_pfnInstallStep = pfnHook;
}

void OnInstallStep(int nStep) {
    if (g_pfnInstallStep)
        g_pfnInstallStep(nStep);
}
