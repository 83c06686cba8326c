// Fetches the update manifest and queues every listed file that is missing or differs.
#pragma once

#include <windows.h>

class CUpdateEngine;

// Queues in the engine every listed file that is missing from pszInstallDir (which ends with
// a backslash) or differs. TRUE when at least one file was queued; FALSE when none was and on
// every failure. dwTotalBytes receives the listed size of each file queued (wrapping at 2^32);
// neither it nor the engine's list is reset, and what was added before a failure stays.
BOOL CheckManifestInto(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl);
