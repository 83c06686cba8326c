// Where the running program lives. Its folder is the client's installation folder.
#pragma once

#include "framework/cstring.h"

// The running executable's full path.
CString ProgramPath();
// The executable's folder, with a trailing backslash.
CString ProgramFolder();
