#include "framework/replace_file.h"

#include "framework/scoped_handle.h"

#include <string>

bool ReplaceFileContent(const char* pszPath, const void* pData, DWORD dwSize, bool bDurable) {
    const std::string newPath = std::string(pszPath) + ".new";
    bool written = false;
    {
        CKernelHandle file(CreateFileA(newPath.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        DWORD count = 0;
        written = file.IsValid() && WriteFile(file.Get(), pData, dwSize, &count, nullptr) &&
                  count == dwSize && (!bDurable || FlushFileBuffers(file.Get()));
    }
    const DWORD flags = MOVEFILE_REPLACE_EXISTING | (bDurable ? MOVEFILE_WRITE_THROUGH : 0);
    if (written && MoveFileExA(newPath.c_str(), pszPath, flags))
        return true;
    const DWORD error = GetLastError();
    DeleteFileA(newPath.c_str());
    SetLastError(error);
    return false;
}
