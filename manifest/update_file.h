// One file to fetch: the name it is fetched under, its name on disk, the digests the download
// must have and its listed size. Names and digests come from the network, so a record is only
// ever made by MakeUpdateFile, which checks them.
#pragma once

#include <windows.h>

enum { UPDATE_NAME_SIZE = 32 };   // at most 31 characters and the terminating zero
enum { UPDATE_DIGEST_SIZE = 33 }; // 32 hexadecimal digits and the terminating zero
enum { UPDATE_SHA256_SIZE = 65 }; // 64 hexadecimal digits and the terminating zero

struct CUpdateFile {
    char szRemoteName[UPDATE_NAME_SIZE];
    char szLocalName[UPDATE_NAME_SIZE];
    char szMd5[UPDATE_DIGEST_SIZE]; // what the download must digest to, lower case; "": anything
    // A signed manifest's SHA-256 of the file, which the download must match; "": not signed.
    char szSha256[UPDATE_SHA256_SIZE];
    DWORD dwSize; // as listed; it only feeds the progress total
    // The file's block index beside it on the server and the index's digest (an MD5, or in a
    // signed manifest a SHA-256); "": none, the file is fetched whole.
    char szIndexName[UPDATE_NAME_SIZE];
    char szIndexDigest[UPDATE_SHA256_SIZE];
};

// Fills `file`; false (nothing filled) for a null name and any name that does not fit its field
// or would leave the folder it is joined to (a null local name is the remote name). A
// well-formed md5 (32 hexadecimal digits, either case) is what the download must match; any
// other text (a placeholder) accepts anything. A SHA-256 (null or "": none) must be in the signed
// manifest's form, else the file is refused.
bool MakeUpdateFile(const char* pszRemoteName, const char* pszLocalName, const char* pszMd5,
                    const char* pszSha256, DWORD dwSize, CUpdateFile& file);
// Names the file's block index; false (nothing set) for a name the updater refuses or a digest
// that is not 32 (MD5) or, when bSigned, 64 (SHA-256) lower-case hexadecimal digits.
bool SetBlockIndex(CUpdateFile& file, const char* pszName, const char* pszDigest, bool bSigned);
