#include "manifest/file_stamp.h"

#include "framework/scoped_handle.h"

#include <winternl.h>

DWORD VolumeSerialOf(const char* pszFolder) {
    CKernelHandle folder(CreateFileA(pszFolder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    return folder.IsValid() && GetFileInformationByHandle(folder.Get(), &info)
               ? info.dwVolumeSerialNumber
               : 0;
}

// The size, last-write time and file index, as GetFileInformationByHandle reports them, in one
// query that costs next to nothing beside reading the file. The name that follows them need not
// fit.
bool ReadFileStamp(HANDLE hFile, DWORD volume, FileStamp& stamp) {
    union {
        FILE_ALL_INFORMATION all;
        BYTE room[sizeof(FILE_ALL_INFORMATION) + MAX_PATH * sizeof(WCHAR)];
    } info = {};
    IO_STATUS_BLOCK io = {};
    const NTSTATUS status =
        NtQueryInformationFile(hFile, &io, &info, sizeof(info), FileAllInformation);
    const NTSTATUS kNameCut = static_cast<NTSTATUS>(0x80000005); // STATUS_BUFFER_OVERFLOW
    if (!NT_SUCCESS(status) && status != kNameCut)
        return false;
    stamp.size = static_cast<ULONGLONG>(info.all.StandardInformation.EndOfFile.QuadPart);
    stamp.lastWrite = static_cast<ULONGLONG>(info.all.BasicInformation.LastWriteTime.QuadPart);
    stamp.index = static_cast<ULONGLONG>(info.all.InternalInformation.IndexNumber.QuadPart);
    stamp.volume = volume;
    return true;
}

ULONGLONG FileTimeNow() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}
