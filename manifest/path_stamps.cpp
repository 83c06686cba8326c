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

// Every file of the folder with its index, sorted by name; none when it cannot be listed.
void List(const CString& folder, std::vector<DigestRecord>& files) {
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
        AddFiles(block.data(), block.data() + (io.Information <= kListBlock ? io.Information : 0),
                 files);
    qsort(files.data(), files.size(), sizeof(DigestRecord), ByName);
}

} // namespace

CPathStamps::CPathStamps(const CString& installDir, const std::vector<CString>& names, DWORD volume)
    : m_volume(volume) {
    for (const CString& name : names) {
        const CString folder =
            installDir + CString(name, static_cast<int>(PathFindFileNameA(name) - name));
        if (!Find(folder)) {
            m_folders.push_back(Folder{folder, {}});
            List(folder, m_folders.back().files);
        }
    }
}

const CPathStamps::Folder* CPathStamps::Find(const CString& path) const {
    for (const Folder& folder : m_folders)
        if (folder.path == path)
            return &folder;
    return nullptr;
}

bool CPathStamps::Read(const CString& installDir, const char* pszName, FileStamp& stamp) const {
    const char* name = PathFindFileNameA(pszName);
    const Folder* folder = Find(installDir + CString(pszName, static_cast<int>(name - pszName)));
    DigestRecord key;
    lstrcpynA(key.name, name, MAX_PATH);
    const auto* listed = folder ? static_cast<const DigestRecord*>(
                                      bsearch(&key, folder->files.data(), folder->files.size(),
                                              sizeof(DigestRecord), ByName))
                                : nullptr;
    WIN32_FILE_ATTRIBUTE_DATA data = {};
    if (!listed || !GetFileAttributesExA(installDir + pszName, GetFileExInfoStandard, &data) ||
        (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp.size = static_cast<ULONGLONG>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp.lastWrite = static_cast<ULONGLONG>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                      data.ftLastWriteTime.dwLowDateTime;
    stamp.index = listed->stamp.index;
    stamp.volume = m_volume;
    return true;
}
