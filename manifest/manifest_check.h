// Fetches the update manifest and decides which listed files are to be fetched.
#pragma once

#include "manifest/update_file.h"

#include <vector>

// Every listed file that is missing from pszInstallDir (which ends with a backslash) or whose
// digest differs, in the manifest's order (one listed twice comes twice). None when nothing is
// to be fetched and on every failure: a manifest that cannot be fetched, verified or read, an
// entry that is malformed or names a file the updater refuses, an installed file that cannot
// be read. With a public key (one line of base64; null or "": none) the manifest must carry its
// signature (see FetchManifestBytes), and every entry a well-formed sha256, which the file to
// fetch keeps. Every step goes to the run log.
std::vector<CUpdateFile> CheckManifest(const char* pszInstallDir, const char* pszUrl,
                                       const char* pszPublicKey = nullptr);

// The sum of the files' listed sizes, wrapping at 2^32.
DWORD TotalSize(const std::vector<CUpdateFile>& files);
