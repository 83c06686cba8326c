// The manifest's document: its bytes parsed by MSXML 3.0 and its file entries read.
#pragma once

#include "framework/cstring.h"
#include "manifest/manifest_release.h"

#include <windows.h>

#include <string>
#include <vector>

struct ManifestEntry {
    CString fileName;
    UINT fileSize;
    CString md5;
    CString sha256;      // read only from a signed manifest
    CString indexName;   // the block index beside the file ("": none)
    CString indexDigest; // its MD5, or in a signed manifest its SHA-256
};

// The entries of "/manifest/filelist/file" in document order, up to the first that cannot be
// read or whose name is refused (a signed manifest's entries also need a well-formed sha256);
// `complete` is false when there was such an entry. A signed manifest's serial and expiry go to
// `release`. Throws on bytes that are not such a document (a failure code of MSXML as
// COleException*), and CManifestRefused* on a malformed serial or expiry.
std::vector<ManifestEntry> ReadManifestEntries(const std::string& bytes, bool bSigned,
                                               bool& complete, ManifestRelease& release);
