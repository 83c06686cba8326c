#include "framework/program_info.h"

#include <shlwapi.h>
#include <string.h>
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

CString ProgramName() {
    char path[MAX_PATH] = {};
    lstrcpynA(path, ProgramPath(), MAX_PATH - 1);
    char* name = PathFindFileNameA(path);
    PathRemoveExtensionA(name);
    return CString(name);
}

bool IsProgramFile(const char* pszName) {
    const CString path = ProgramPath();
    return _stricmp(pszName, PathFindFileNameA(path)) == 0;
}

// Read without version.dll: the fixed part of the block starts with its signature on a 4-byte
// boundary.
CString ProgramVersion() {
    const HMODULE module = GetModuleHandleA(nullptr);
    const HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(VS_VERSION_INFO), RT_VERSION);
    const HGLOBAL loaded = found ? LoadResource(module, found) : nullptr;
    const BYTE* data = static_cast<const BYTE*>(loaded ? LockResource(loaded) : nullptr);
    const DWORD size = found ? SizeofResource(module, found) : 0;
    for (DWORD at = 0; data && at + sizeof(VS_FIXEDFILEINFO) <= size; at += 4) {
        VS_FIXEDFILEINFO info;
        memcpy(&info, data + at, sizeof(info));
        if (info.dwSignature != VS_FFI_SIGNATURE)
            continue;
        CString version;
        version.Format("%u.%u.%u.%u", HIWORD(info.dwFileVersionMS), LOWORD(info.dwFileVersionMS),
                       HIWORD(info.dwFileVersionLS), LOWORD(info.dwFileVersionLS));
        return version;
    }
    return "unknown";
}
