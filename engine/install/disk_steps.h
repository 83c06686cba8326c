// The installation's operations on the disk, each done so that the disk keeps it before the
// next one relies on it (data flushed, names changed write-through), and each reported to an
// observer: test builds stop the process at a chosen step, or model what a power cut there
// would leave.
#pragma once

#include <windows.h>

#include <string>

struct DiskStep {
    enum Kind {
        Write,  // bytes written to pszPath from dwFrom on (not yet flushed)
        Flush,  // pszPath's data is on the disk
        Move,   // pszPath renamed to pszTo, with the MoveFileEx flags dwFlags
        Link,   // pszTo made a second name of pszPath
        Copy,   // pszPath copied to pszTo (not yet flushed)
        Delete, // the file or empty folder pszPath removed
        Folder, // the folder pszPath made
    };
    Kind kind;
    const char* pszPath;
    const char* pszTo;
    DWORD dwFlags;
    DWORD dwFrom;
};

class IDiskObserver {
public:
    // After each step that changed the disk.
    virtual void OnDiskStep(const DiskStep& step) = 0;

protected:
    ~IDiskObserver() = default;
};

// None by default; test builds set one.
void SetDiskObserver(IDiskObserver* pObserver);

// Writes text to a new file (false when the file exists) or at the end of an existing one,
// written through and flushed.
bool WriteDurably(const std::string& path, const std::string& text, bool bAppend);
// Flushes what is written to the file to the disk (retried while the file is in use).
bool FlushFile(const std::string& path);
// Renames from over to, written through. Across volumes (a temporary folder elsewhere, through
// a junction) it copies to a second name beside `to`, flushes it and renames that over `to`, so
// that `to` is always either its old or its new file, then removes the source.
bool MoveDurably(const std::string& from, const std::string& to);
// Keeps `existing` under the second name `aside` too: a hard link, else a flushed copy when
// `aside` is on another volume. False when neither works (no hard links on this disk).
bool KeepSecondName(const std::string& existing, const std::string& aside);
// Removes a file (retried while it is in use unless told not to); true when there is none.
bool RemoveFile(const std::string& path, bool bRetry = true);
// The file's MD5 in lower case, "" when there is no such file; false when it cannot be read.
bool DigestOf(const std::string& path, std::string& md5);
// The names that MoveDurably uses beside a destination across volumes.
std::string StagingNameOf(const std::string& destination);
// The folder part of a path.
std::string ParentOf(const std::string& path);
void MakeFolder(const std::string& path);
void RemoveFolder(const std::string& path);
