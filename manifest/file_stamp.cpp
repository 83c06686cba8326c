#include "manifest/file_stamp.h"

#include "framework/scoped_handle.h"

DWORD VolumeSerialOf(const char* pszFolder) {
    CKernelHandle folder(CreateFileA(pszFolder, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    BY_HANDLE_FILE_INFORMATION info = {};
    return folder.IsValid() && GetFileInformationByHandle(folder.Get(), &info)
               ? info.dwVolumeSerialNumber
               : 0;
}

ULONGLONG FileTimeNow() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return static_cast<ULONGLONG>(now.dwHighDateTime) << 32 | now.dwLowDateTime;
}
