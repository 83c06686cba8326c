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
// The file version from the program's version block ("1.0.0.0"), or "unknown".
CString ProgramVersion();
