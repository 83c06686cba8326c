#include "manifest/path_stamps.h"

#include "framework/scoped_handle.h"

#include <shlwapi.h>
#include <stdlib.h>
#include <string.h>
#include <winternl.h>

extern "C" NTSTATUS NTAPI NtQueryDirectoryFile(HANDLE, HANDLE, PIO_APC_ROUTINE, PVOID,
                                               PIO_STATUS_BLOCK, PVOID, ULONG,
                                               FILE_INFORMATION_CLASS, BOOLEAN, PUNICODE_STRING,
                                               BOOLEAN);

namespace {

const ULONG kListBlock = 64 * 1024;

int ByName(const void* a, const void* b) {
    return strcmp(static_cast<const DigestRecord*>(a)->name,
                  static_cast<const DigestRecord*>(b)->name);
}

// Adds the files of one block of the listing; a name the ANSI code page cannot hold is left out.
void AddFiles(const BYTE* p, const BYTE* end, std::vector<DigestRecord>& files) {
    while (p + sizeof(FILE_ID_BOTH_DIR_INFORMATION) <= end) {
        const auto& entry = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFORMATION*>(p);
        if (reinterpret_cast<const BYTE*>(entry.FileName) + entry.FileNameLength > end)
            break;
        DigestRecord file = {};
        BOOL lossy = FALSE;
        const int length = WideCharToMultiByte(
            CP_ACP, 0, entry.FileName, static_cast<int>(entry.FileNameLength / sizeof(WCHAR)),
            file.name, MAX_PATH - 1, nullptr, &lossy);
        if (length > 0 && !lossy && !(entry.FileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            file.name[length] = 0;
            file.stamp.index = static_cast<ULONGLONG>(entry.FileId.QuadPart);
            files.push_back(file);
        }
        if (!entry.NextEntryOffset)
            break;
        p += entry.NextEntryOffset;
    }
}

} // namespace

void CPathStamps::List(const CString& folder) {
    m_listed = true;
    m_folder = folder;
    m_files.clear();
    CKernelHandle handle(CreateFileA(folder, FILE_LIST_DIRECTORY,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    std::vector<BYTE> block(kListBlock);
    IO_STATUS_BLOCK io = {};
    for (BOOLEAN first = TRUE;
         handle.IsValid() &&
         NT_SUCCESS(NtQueryDirectoryFile(handle.Get(), nullptr, nullptr, nullptr, &io, block.data(),
                                         kListBlock, FileIdBothDirectoryInformation, FALSE, nullptr,
                                         first));
         first = FALSE)
        AddFiles(block.data(), block.data() + (io.Information < kListBlock ? io.Information : 0),
                 m_files);
    qsort(m_files.data(), m_files.size(), sizeof(DigestRecord), ByName);
}

bool CPathStamps::Read(const char* pszPath, FileStamp& stamp) {
    const char* name = PathFindFileNameA(pszPath);
    const CString folder(pszPath, static_cast<int>(name - pszPath));
    if (!m_listed || folder != m_folder)
        List(folder);
    DigestRecord key;
    lstrcpynA(key.name, name, MAX_PATH);
    const auto* listed = static_cast<const DigestRecord*>(
        bsearch(&key, m_files.data(), m_files.size(), sizeof(DigestRecord), ByName));
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!listed || !GetFileAttributesExA(pszPath, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp.size = static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp.lastWrite = static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                      data.ftLastWriteTime.dwLowDateTime;
    stamp.index = listed->stamp.index;
    stamp.volume = m_volume;
    return true;
}
