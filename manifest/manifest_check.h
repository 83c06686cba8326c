// Fetches the update manifest and decides which listed files are to be fetched.
#pragma once

#include "framework/cstring.h"
#include "manifest/update_file.h"

#include <vector>

struct ManifestCheckRequest {
    CString installDir;        // the installation folder, ending with a backslash
    CString tempDir;           // the temporary folder, where what a run keeps for the next lives
    std::vector<CString> urls; // the manifest at each site, tried in order
    CString publicKey;         // one line of base64; "": releases are not signed
};

struct ManifestCheckResult {
    std::vector<CUpdateFile> files; // to fetch
    size_t site = 0;                // the one that served the manifest
};

// Every listed file that is missing from the installation folder or whose digest differs, in
// the manifest's order (one listed twice comes twice), and the site that served the manifest
// (the first that could be reached and did not fail itself). None when nothing is to be fetched and
// on every failure: a manifest that cannot be fetched, verified or read, an entry that is
// malformed or names a file the updater refuses, an installed file that cannot be read. With a
// public key the manifest must carry its signature (see FetchManifestBytes), every entry a
// well-formed sha256, which the file to fetch keeps, and the release must be no older than the
// newest this installation verified and not expired (see AcceptSignedRelease, which remembers
// it in tempDir). Every step goes to the run log.
ManifestCheckResult CheckManifest(const ManifestCheckRequest& request);

// The sum of the files' listed sizes, wrapping at 2^32.
DWORD TotalSize(const std::vector<CUpdateFile>& files);
