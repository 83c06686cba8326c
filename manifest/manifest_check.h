// Fetches the update manifest and queues every listed file that is missing or differs.
#pragma once

#include <windows.h>

class CUpdateEngine;

// Queues in the engine every listed file that is missing from pszInstallDir (which ends with
// a backslash) or differs. TRUE when at least one file was queued; FALSE when none was and on
// every failure. dwTotalBytes receives the listed size of each file queued (wrapping at 2^32);
// neither it nor the engine's list is reset, and what was added before a failure stays.
// With a public key (one line of base64; null or "": none) the manifest's exact bytes must carry
// its signature in the file beside it (the URL's file name with ".sig", same query) before they
// are parsed, and every entry a well-formed sha256, which the queued file keeps; a key that
// cannot be read fails the check before anything is fetched. Every step goes to the run log.
BOOL CheckManifestInto(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl, const char* pszPublicKey = nullptr);
