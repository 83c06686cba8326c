#include "engine/install/disk_steps.h"

#include "digest/file_digest.h"
#include "engine/install/file_retry.h"
#include "framework/scoped_handle.h"

namespace {

IDiskObserver* g_pObserver = nullptr;

// A name change is on the disk when the call returns.
const DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH;

void Report(DiskStep::Kind kind, const std::string& path, const char* pszTo = nullptr,
            DWORD dwFlags = 0, DWORD dwFrom = 0) {
    if (g_pObserver)
        g_pObserver->OnDiskStep(DiskStep{kind, path.c_str(), pszTo, dwFlags, dwFrom});
}

bool Rename(const std::string& from, const std::string& to) {
    if (!MoveFileWithRetry(from.c_str(), to.c_str(), kMoveFlags))
        return false;
    Report(DiskStep::Move, from, to.c_str(), kMoveFlags);
    return true;
}

// A copy whose data is on the disk.
bool CopyFlushed(const std::string& from, const std::string& to) {
    if (!CopyFileA(from.c_str(), to.c_str(), FALSE))
        return false;
    Report(DiskStep::Copy, from, to.c_str());
    return FlushFile(to);
}

} // namespace

void SetDiskObserver(IDiskObserver* pObserver) {
    g_pObserver = pObserver;
}

bool WriteDurably(const std::string& path, const std::string& text, bool bAppend) {
    CKernelHandle file(CreateFileA(path.c_str(), bAppend ? FILE_APPEND_DATA : GENERIC_WRITE, 0,
                                   nullptr, bAppend ? OPEN_EXISTING : CREATE_NEW,
                                   FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
    if (!file.IsValid())
        return false;
    const DWORD from = bAppend ? GetFileSize(file.Get(), nullptr) : 0;
    DWORD written = 0;
    if (!WriteFile(file.Get(), text.data(), static_cast<DWORD>(text.size()), &written, nullptr))
        return false;
    Report(DiskStep::Write, path, nullptr, 0, from);
    if (written != text.size() || !FlushFileBuffers(file.Get()))
        return false;
    Report(DiskStep::Flush, path);
    return true;
}

bool FlushFile(const std::string& path) {
    CKernelHandle file;
    if (!RetryWhileInUse([&] {
            *file.Receive() = CreateFileA(path.c_str(), GENERIC_WRITE,
                                          FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                          nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
            return file.IsValid();
        }) ||
        !FlushFileBuffers(file.Get()))
        return false;
    Report(DiskStep::Flush, path);
    return true;
}

std::string StagingNameOf(const std::string& destination) {
    return destination + ".~new";
}

bool MoveDurably(const std::string& from, const std::string& to) {
    if (Rename(from, to))
        return true;
    if (GetLastError() != ERROR_NOT_SAME_DEVICE)
        return false;
    const std::string staging = StagingNameOf(to);
    if (!CopyFlushed(from, staging) || !Rename(staging, to)) {
        RemoveFile(staging);
        return false;
    }
    return RemoveFile(from);
}

bool KeepSecondName(const std::string& existing, const std::string& aside) {
    if (CreateHardLinkA(aside.c_str(), existing.c_str(), nullptr)) {
        Report(DiskStep::Link, existing, aside.c_str());
        return true;
    }
    return GetLastError() == ERROR_NOT_SAME_DEVICE && CopyFlushed(existing, aside);
}

bool RemoveFile(const std::string& path, bool bRetry) {
    bool removed = false;
    const auto remove = [&] {
        removed = DeleteFileA(path.c_str()) != FALSE;
        // A name too long for these calls cannot have been made by them either.
        return removed || GetLastError() == ERROR_FILE_NOT_FOUND ||
               GetLastError() == ERROR_PATH_NOT_FOUND ||
               GetLastError() == ERROR_FILENAME_EXCED_RANGE;
    };
    const bool gone = bRetry ? RetryWhileInUse(remove) : remove();
    if (removed)
        Report(DiskStep::Delete, path);
    return gone;
}

bool DigestOf(const std::string& path, std::string& md5) {
    md5.clear();
    if (GetFileAttributesA(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        return true;
    try {
        md5 = CFileDigest::DigestFile(path.c_str()).GetString();
        return true;
    } catch (CFileException* e) {
        e->Delete();
        return false;
    }
}

std::string ParentOf(const std::string& path) {
    const size_t slash = path.find_last_of('\\');
    return slash == std::string::npos ? std::string() : path.substr(0, slash);
}

void MakeFolder(const std::string& path) {
    if (CreateDirectoryA(path.c_str(), nullptr))
        Report(DiskStep::Folder, path);
}

void RemoveFolder(const std::string& path) {
    if (RemoveDirectoryA(path.c_str()))
        Report(DiskStep::Delete, path);
}
