#include "manifest/file_stamp.h"

namespace {

ULONGLONG Join(DWORD high, DWORD low) {
    return static_cast<ULONGLONG>(high) << 32 | low;
}

} // namespace

bool ReadFileStamp(HANDLE hFile, FileStamp& stamp) {
    BY_HANDLE_FILE_INFORMATION info = {};
    if (!GetFileInformationByHandle(hFile, &info))
        return false;
    stamp.size = Join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.lastWrite = Join(info.ftLastWriteTime.dwHighDateTime, info.ftLastWriteTime.dwLowDateTime);
    stamp.index = Join(info.nFileIndexHigh, info.nFileIndexLow);
    stamp.volume = info.dwVolumeSerialNumber;
    return true;
}

ULONGLONG FileTimeNow() {
    FILETIME now = {};
    GetSystemTimeAsFileTime(&now);
    return Join(now.dwHighDateTime, now.dwLowDateTime);
}
