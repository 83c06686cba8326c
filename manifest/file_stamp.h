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

// The serial number of the volume that holds the folder (or file) pszFolder, as
// GetFileInformationByHandle tells it; 0 when it cannot be told. Taken once for all the files
// of a folder: under Wine asking it costs a round trip to another process, up to a millisecond.
DWORD VolumeSerialOf(const char* pszFolder);
// The stamp of an open file on the volume `volume`; false when the system cannot tell it.
bool ReadFileStamp(HANDLE hFile, DWORD volume, FileStamp& stamp);
// The system time now, in the units of FileStamp::lastWrite.
ULONGLONG FileTimeNow();
