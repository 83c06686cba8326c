#include "manifest/file_stamp.h"

#include <winternl.h>

DWORD VolumeSerialOf(const char* pszFolder) {
    char root[MAX_PATH] = {};
    DWORD serial = 0;
    if (!GetVolumePathNameA(pszFolder, root, MAX_PATH) ||
        !GetVolumeInformationA(root, nullptr, 0, &serial, nullptr, nullptr, nullptr, 0))
        return 0;
    return serial;
}

// The size, last-write time and file index, as GetFileInformationByHandle reports them.
bool ReadFileStamp(HANDLE hFile, DWORD volume, FileStamp& stamp) {
    IO_STATUS_BLOCK io = {};
    FILE_NETWORK_OPEN_INFORMATION open = {};
    FILE_INTERNAL_INFORMATION internal = {};
    if (!NT_SUCCESS(
            NtQueryInformationFile(hFile, &io, &open, sizeof(open), FileNetworkOpenInformation)) ||
        !NT_SUCCESS(NtQueryInformationFile(hFile, &io, &internal, sizeof(internal),
                                           FileInternalInformation)))
        return false;
    stamp.size = static_cast<ULONGLONG>(open.EndOfFile.QuadPart);
    stamp.lastWrite = static_cast<ULONGLONG>(open.LastWriteTime.QuadPart);
    stamp.index = static_cast<ULONGLONG>(internal.IndexNumber.QuadPart);
    stamp.volume = volume;
    return true;
}

ULONGLONG FileTimeNow() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}
