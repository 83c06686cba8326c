// What a file's metadata says about it: enough to tell, without reading it, that a file is the
// one a digest was taken of.
#pragma once

#include <windows.h>

struct FileStamp {
    ULONGLONG size;
    ULONGLONG lastWrite; // UTC, in 100 ns units since 1601 (FILETIME)
    ULONGLONG index;     // the file's identity on its volume
    DWORD volume;        // the volume's serial number

    bool operator==(const FileStamp& o) const {
        return size == o.size && lastWrite == o.lastWrite && index == o.index && volume == o.volume;
    }
};

// The stamp of an open file; false when the system cannot tell it.
bool ReadFileStamp(HANDLE hFile, FileStamp& stamp);
// The system time now, in the units of FileStamp::lastWrite.
ULONGLONG FileTimeNow();
