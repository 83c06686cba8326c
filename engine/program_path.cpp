#include "engine/program_path.h"

#include <shlwapi.h>
#include <windows.h>

CString ProgramPath() {
    char path[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, path, MAX_PATH - 1);
    return CString(path);
}

CString ProgramFolder() {
    char path[MAX_PATH] = {};
    lstrcpynA(path, ProgramPath(), MAX_PATH - 1);
    PathRemoveFileSpecA(path);
    PathAddBackslashA(path);
    return CString(path);
}
