#include "engine/install/install_journal.h"

#include "digest/bytes_digest.h"
#include "engine/install/disk_steps.h"
#include "framework/scoped_handle.h"

#include <windows.h>

namespace {

const char kJournalName[] = "install.jnl";
const char kHeader[] = "install-journal 2";
const char kFile[] = "file";
const char kFolder[] = "folder";
const char kPlanned[] = "planned";
const char kCommitted[] = "committed";
const char kUndo[] = "undo";
const char kLineEnd[] = "\r\n";

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

// One record of the plan; false when it is none.
bool ReadPlanRecord(const std::vector<std::string>& fields, InstallPlan& plan) {
    if (fields.size() == 2 && fields[0] == kFolder && !fields[1].empty()) {
        plan.folders.push_back(fields[1]);
        return true;
    }
    if (fields.size() == 6 && fields[0] == kFile && (fields[1] == "+" || fields[1] == "-") &&
        IsDigestText(fields[2], 32)) {
        plan.moves.push_back(
            InstallMove{fields[3], fields[4], fields[5], fields[2], fields[1] == "+"});
        return true;
    }
    return false;
}

enum class ReadResult { Read, Missing, Unreadable };

// The whole lines of the file: a last line without its line end was cut short. A file that is
// there but cannot be read whole is not taken for an empty one.
ReadResult ReadLines(const std::string& path, std::vector<std::string>& lines) {
    CKernelHandle file(CreateFileA(path.c_str(), GENERIC_READ,
                                   FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid())
        return GetLastError() == ERROR_FILE_NOT_FOUND || GetLastError() == ERROR_PATH_NOT_FOUND
                   ? ReadResult::Missing
                   : ReadResult::Unreadable;
    std::string text;
    char block[4096];
    DWORD count = 0;
    BOOL ok;
    while ((ok = ReadFile(file.Get(), block, sizeof(block), &count, nullptr)) && count > 0)
        text.append(block, count);
    if (!ok)
        return ReadResult::Unreadable;
    lines.clear();
    for (size_t start = 0, end; (end = text.find(kLineEnd, start)) != std::string::npos;
         start = end + 2)
        lines.push_back(text.substr(start, end - start));
    return ReadResult::Read;
}

} // namespace

CInstallJournal::CInstallJournal(const char* pszTempDir)
    : m_path(std::string(pszTempDir) + "\\" + kJournalName) {}

bool CInstallJournal::Begin(const InstallPlan& plan) {
    std::string text = std::string(kHeader) + kLineEnd;
    for (const std::string& folder : plan.folders)
        text += std::string(kFolder) + "\t" + folder + kLineEnd;
    for (const InstallMove& move : plan.moves)
        text += std::string(kFile) + (move.hadOriginal ? "\t+\t" : "\t-\t") + move.md5 + "\t" +
                move.source + "\t" + move.destination + "\t" + move.aside + kLineEnd;
    return WriteDurably(m_path, text + kPlanned + kLineEnd, false);
}

bool CInstallJournal::MarkCommitted() {
    return WriteDurably(m_path, std::string(kCommitted) + kLineEnd, true);
}

bool CInstallJournal::MarkUndo() {
    return WriteDurably(m_path, std::string(kUndo) + kLineEnd, true);
}

void CInstallJournal::End() {
    RemoveFile(m_path);
}

bool CInstallJournal::Exists() const {
    return GetFileAttributesA(m_path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

JournalState CInstallJournal::Read(InstallPlan& plan) const {
    plan = InstallPlan();
    std::vector<std::string> lines;
    const ReadResult read = ReadLines(m_path, lines);
    if (read == ReadResult::Unreadable)
        return JournalState::Unreadable;
    if (read == ReadResult::Missing || lines.empty() || lines[0] != kHeader)
        return JournalState::None;
    JournalState state = JournalState::None;
    for (size_t i = 1; i < lines.size(); ++i) {
        if (state == JournalState::None) {
            if (lines[i] == kPlanned)
                state = JournalState::Planned;
            else if (!ReadPlanRecord(Split(lines[i], '\t'), plan))
                break;
        } else if (lines[i] == kCommitted || lines[i] == kUndo) {
            state = lines[i] == kCommitted ? JournalState::Committed : JournalState::Undoing;
        } else {
            break; // a record cut short: the step after it never began
        }
    }
    if (state == JournalState::None)
        plan = InstallPlan(); // written before any file was touched
    return state;
}
