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
    // Lists the folders of the files `names` of installDir (which ends with a backslash), each
    // once, for stamps of files on the volume with the serial number `volume`.
    CPathStamps(const CString& installDir, const std::vector<CString>& names, DWORD volume);
    // The stamp of the file installDir + name; false when it is missing, a folder, or not
    // listed in its folder under exactly that name. Safe from any thread.
    bool Read(const CString& installDir, const char* pszName, FileStamp& stamp) const;

private:
    struct Folder {
        CString path;                    // with its trailing backslash
        std::vector<DigestRecord> files; // its files' names and indexes, sorted by name
    };
    const Folder* Find(const CString& path) const;

    const DWORD m_volume;
    std::vector<Folder> m_folders;
};
