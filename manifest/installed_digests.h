// The digest cache as the update run uses it: the check takes the installed files' digests
// through it, and an installation records what it placed, so that the start after an update is
// quick too.
#pragma once

#include "framework/cstring.h"
#include "manifest/local_digests.h"
#include "manifest/update_file.h"

#include <vector>

// The digests of the installed files `names` (relative to installDir, which ends with a
// backslash), one per name in the same order. A file is read only when the cache of tempDir
// holds no trusted record of it, or when no cache can be used, or every 7 days for all files.
// The cache is then renewed with what was found. The run log says how many files came from the
// cache and how many were hashed.
std::vector<LocalDigest> DigestInstalledFiles(const CString& installDir, const CString& tempDir,
                                              const std::vector<CString>& names);

// After an installation: records the stamp of each file placed under its name, with the digests
// its download was checked against. The updater's own file (placed beside itself) and a file
// whose md5 was not checked are left to the next check.
void RecordInstalledFiles(const CString& installDir, const CString& tempDir,
                          const std::vector<CUpdateFile>& files);
