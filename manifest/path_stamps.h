// Stamps of files read without opening them: the size and last-write time by the file's path,
// its identity from one listing of its folder. Under Wine every open of a file and every query
// of an open file is a round trip to the Wine server; this costs a fifth of that, so that a
// start with nothing to update does not grow with the number of files much.
#pragma once

#include "framework/cstring.h"
#include "manifest/digest_cache.h"

#include <vector>

class CPathStamps {
public:
    // The stamps are of files on the volume with this serial number.
    explicit CPathStamps(DWORD volume) : m_volume(volume) {}
    // The stamp of the file at pszPath (a full path); false when it is missing, a folder, or not
    // listed in its folder under exactly that name.
    bool Read(const char* pszPath, FileStamp& stamp);

private:
    void List(const CString& folder);

    const DWORD m_volume;
    bool m_listed = false;
    CString m_folder;                  // the folder listed last, with its trailing backslash
    std::vector<DigestRecord> m_files; // its files' names and indexes, sorted by name
};
