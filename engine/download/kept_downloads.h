// What earlier runs left in the temporary folder for the files to fetch: downloads whole or in
// part, and their resume records. Only those of a file still to fetch are worth keeping; the
// rest goes, so that the folder never grows without bound.
#pragma once

#include "framework/cstring.h"
#include "manifest/update_file.h"

#include <vector>

// Deletes every download and resume record in strTempDir that belongs to none of the files.
// What belongs to one is checked against its entry when that file is fetched.
void RemoveStaleDownloads(const CString& strTempDir, const std::vector<CUpdateFile>& files);
