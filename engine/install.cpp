// Moves the downloaded files over the installed ones; the updater's own executable is placed
// beside itself instead, since a running program cannot be replaced.
#include "engine/update_engine.h"

#include "engine/program_path.h"

#include <shlwapi.h>
#include <stdio.h>
#include <string.h>

namespace {

const DWORD kMoveFlags = MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED;
// The client was just asked to close and may still hold its files for a moment.
const int kMoveAttempts = 30;
const DWORD kMoveRetryDelayMs = 100;

bool IsFileInUse(DWORD dwError) {
    return dwError == ERROR_SHARING_VIOLATION || dwError == ERROR_ACCESS_DENIED ||
           dwError == ERROR_LOCK_VIOLATION;
}

void MoveIntoPlace(const char* pszSource, const char* pszDestination) {
    for (int attempt = 1; attempt <= kMoveAttempts; ++attempt) {
        if (MoveFileExA(pszSource, pszDestination, kMoveFlags))
            return;
        if (!IsFileInUse(GetLastError()) || attempt == kMoveAttempts)
            return; // skipped: the temporary file stays, the installed file is unchanged
        Sleep(kMoveRetryDelayMs);
    }
}

bool FormatPath(char (&buffer)[MAX_PATH], const char* pszFormat, const char* pszDir,
                const char* pszName) {
    const int length = snprintf(buffer, sizeof(buffer), pszFormat, pszDir, pszName);
    return length >= 0 && length < static_cast<int>(sizeof(buffer));
}

} // namespace

int CUpdateEngine::InstallAll() {
    Notify(UPD_EVT_INSTALLING, 0, 0, "开始安装更新，请稍候...");

    const CString modulePath = ProgramPath();
    const char* ownName = PathFindFileNameA(modulePath);

    for (const CUpdateFile& file : m_files) {
        char source[MAX_PATH] = {};
        char destination[MAX_PATH] = {};
        if (!FormatPath(source, "%s\\%s.dtm", m_strTempDir, file.szLocalName))
            continue;
        bool fits;
        if (_stricmp(file.szLocalName, ownName) == 0) {
            char baseName[UPDATE_NAME_SIZE] = {};
            memcpy(baseName, file.szLocalName, sizeof(baseName) - 1);
            PathRemoveExtensionA(baseName);
            fits = FormatPath(destination, "%s\\%s.EX_", m_strTargetDir, baseName);
        } else {
            fits = FormatPath(destination, "%s\\%s", m_strTargetDir, file.szLocalName);
        }
        if (fits)
            MoveIntoPlace(source, destination);
    }

    Notify(UPD_EVT_DONE, 0, 0, nullptr);
    return 0;
}
