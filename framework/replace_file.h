// Small files the program keeps from one run to the next (the digest cache, the remembered
// serial, a download's resume record) are replaced in one step.
#pragma once

#include <windows.h>

// Writes the bytes to a new file beside pszPath (its name with ".new"), then renames that over
// pszPath: a reader sees the old content or the new, never a mix. With bDurable the bytes are
// flushed before the rename and the rename is written through. False (GetLastError tells why)
// when it could not be done; the new file is then removed.
bool ReplaceFileContent(const char* pszPath, const void* pData, DWORD dwSize, bool bDurable);
