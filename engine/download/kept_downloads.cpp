#include "engine/download/kept_downloads.h"

#include "engine/download/downloader.h"
#include "engine/download/partial_download.h"
#include "framework/run_log.h"
#include "framework/scoped_handle.h"

#include <shlwapi.h>
#include <string.h>

namespace {

// The names a download of `file` and its record take in the temporary folder.
bool BelongsToAFile(const char* pszName, const std::vector<CUpdateFile>& files) {
    for (const CUpdateFile& file : files) {
        const CString download = TempNameOf(file);
        if (_stricmp(pszName, download) == 0 || _stricmp(pszName, ResumeRecordPath(download)) == 0)
            return true;
    }
    return false;
}

bool IsDownloadOrRecord(const char* pszName) {
    return PathMatchSpecA(pszName, "*.dtm") || PathMatchSpecA(pszName, "*.dtm.resume") ||
           PathMatchSpecA(pszName, "*.dtm.resume.new");
}

} // namespace

void RemoveStaleDownloads(const CString& strTempDir, const std::vector<CUpdateFile>& files) {
    WIN32_FIND_DATAA found;
    CFindHandle find(FindFirstFileA(strTempDir + "\\*.dtm*", &found));
    if (!find.IsValid())
        return;
    unsigned removed = 0;
    do {
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            !IsDownloadOrRecord(found.cFileName) || BelongsToAFile(found.cFileName, files))
            continue;
        removed += DeleteFileA(strTempDir + "\\" + found.cFileName) ? 1 : 0;
    } while (FindNextFileA(find.Get(), &found));
    if (removed)
        RunLog().Write("temporary folder: %u files of earlier runs removed", removed);
}
