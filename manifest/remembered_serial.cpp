#include "manifest/remembered_serial.h"

#include "framework/format.h"
#include "framework/replace_file.h"
#include "framework/run_log.h"
#include "framework/scoped_handle.h"
#include "manifest/manifest_refused.h"

#include <windows.h>

#include <string.h>

namespace {

// Where the serial is remembered; a new one is written beside it first, with ".new" added.
struct SerialFiles {
    explicit SerialFiles(const char* pszTempDir) {
        const int length = FormatText(path, sizeof(path), "%s\\release.serial", pszTempDir);
        if (length < 0 || length + 4 >= static_cast<int>(sizeof(path)))
            throw new CManifestRefused("the temporary folder's path is too long");
    }
    char path[MAX_PATH];
};

// False when none is remembered: no file, or one that holds no serial (it is rewritten then).
// A file there that cannot be read refuses the release for this run.
bool ReadRemembered(const char* pszPath, unsigned long long& serial) {
    CKernelHandle file(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    const DWORD error = file.IsValid() ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
        return false;
    char text[32] = {};
    DWORD read = 0;
    if (error != ERROR_SUCCESS || !ReadFile(file.Get(), text, sizeof(text) - 1, &read, nullptr))
        throw new CManifestRefused("release.serial cannot be read");
    text[read] = '\0';
    text[strcspn(text, "\r\n")] = '\0';
    if (ParseReleaseNumber(text, serial))
        return true;
    RunLog().Write("release: %s holds no serial; none is taken as remembered", pszPath);
    return false;
}

void Remember(const char* pszTempDir, const SerialFiles& files, unsigned long long serial) {
    char text[32];
    const DWORD length = static_cast<DWORD>(FormatText(text, sizeof(text), "%I64u\r\n", serial));
    CreateDirectoryA(pszTempDir, nullptr);
    if (ReplaceFileContent(files.path, text, length, true))
        return;
    const DWORD error = GetLastError();
    RunLog().Write("release: its serial is not remembered, %s cannot be written (error %lu)",
                   files.path, error);
}

} // namespace

void AcceptSignedRelease(const CString& tempDir, const ManifestRelease& release) {
    char reason[160];
    if (HasExpired(release, SecondsSince1970())) {
        FormatText(reason, sizeof(reason), "release expired at %s",
                   UtcTimeText(release.expires).GetString());
        throw new CManifestRefused(reason);
    }
    const SerialFiles files(tempDir);
    unsigned long long remembered = 0;
    const bool bRemembered = ReadRemembered(files.path, remembered);
    char serial[32] = "no serial";
    if (release.bHasSerial)
        FormatText(serial, sizeof(serial), "serial %I64u", release.serial);
    if (bRemembered && (!release.bHasSerial || release.serial < remembered)) {
        FormatText(reason, sizeof(reason),
                   "release refused: %s, older than serial %I64u verified here before", serial,
                   remembered);
        throw new CManifestRefused(reason);
    }
    RunLog().Write("release: %s, %s%s", serial, release.bHasExpiry ? "expires " : "no expiry",
                   release.bHasExpiry ? UtcTimeText(release.expires).GetString() : "");
    if (release.bHasSerial && (!bRemembered || release.serial > remembered))
        Remember(tempDir, files, release.serial);
}
