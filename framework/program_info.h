// The running program: where it lives (its folder is the client's installation folder), its
// name and its version.
#pragma once

#include "framework/cstring.h"

// The running executable's full path.
CString ProgramPath();
// The executable's folder, with a trailing backslash.
CString ProgramFolder();
// The executable's base name without its extension ("Updater").
CString ProgramName();
// True when pszName (a name relative to the program's folder) is the executable's own file,
// which an update places beside it rather than over it.
bool IsProgramFile(const char* pszName);
// The file version from the program's version block ("1.0.0.0"), or "unknown".
CString ProgramVersion();
