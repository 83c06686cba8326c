// The digests of the installed files as last seen, kept in the temporary folder from one run to
// the next, so that a start with nothing to update need not read every installed file: a file
// whose stamp is as recorded is taken to hold what it held then. The cache only ever spares a
// file from being read; it never vouches for a download. Its file is hostile all the same:
// anything but a whole, well-formed cache written by this program counts as no cache.
#pragma once

#include "framework/cstring.h"
#include "manifest/file_stamp.h"

#include <string>
#include <vector>

// A plain record: a cache of many thousand files is copied and moved as bytes.
struct DigestRecord {
    char name[MAX_PATH]; // as the manifest lists it, relative to the installation folder
    char md5[33];        // 32 lower-case hexadecimal digits
    char sha256[65];     // 64 lower-case hexadecimal digits, or "" when not known
    FileStamp stamp;     // of the file whose digest this is
    ULONGLONG made;      // when the digest was bound to the stamp, in FileTimeNow's units

    // False (the name unchanged) for a name that the cache's lines cannot hold: empty, too long
    // or with a control character.
    bool SetName(const char* pszName);
};

// A record may stand for a file of this stamp: the stamp is as recorded, and the file had been
// written at least 2 s before the record was made. A file written again within its time stamp's
// precision (2 s on FAT) after its digest was taken would otherwise look unchanged.
bool IsTrusted(const DigestRecord& record, const FileStamp& stamp);

class CDigestCache {
public:
    // The cache in the temporary folder strTempDir (without a trailing separator).
    explicit CDigestCache(const CString& strTempDir);

    enum class Loaded { None, Damaged, Whole };
    // Reads the cache; unless it is Whole, the cache is left empty with no full check known.
    Loaded Load();
    // Writes the cache in one step (a new file, renamed over the old one), unless it is as it was
    // loaded; false (GetLastError tells why) when it could not. It is not flushed: the client
    // waits for the check, a flush behind other writes took up to a second, and a cache that a
    // power cut leaves torn fails its checksum and is not used.
    bool Save() const;

    const DigestRecord* Find(const char* pszName) const;
    // Adds the record, or replaces the one of the same name.
    void Put(const DigestRecord& record);
    void Clear();
    size_t Count() const { return m_records.size(); }

    // Every file is to be hashed again once the last full check is 7 days old, or lies ahead of
    // now (a clock put back): a file changed without any change to its stamp is then found.
    bool FullCheckDue(ULONGLONG now) const;
    ULONGLONG m_lastFullCheck = 0; // when every file was last hashed; 0: never

private:
    std::string Text() const;
    bool Parse(const std::string& text);

    CString m_strPath;
    std::vector<DigestRecord> m_records; // sorted by name
    std::string m_loaded;                // the bytes that Load read
};
