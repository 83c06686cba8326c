#include "tests/support/test_files.h"

#include "digest/file_digest.h"

#include <shellapi.h>
#include <shlwapi.h>

#include <algorithm>
#include <fstream>
#include <sstream>

namespace testsupport {

std::string ReadWholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream data;
    data << in.rdbuf();
    return data.str();
}

bool WriteWholeFile(const std::string& path, const std::string& data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(out);
}

bool Exists(const std::string& path) {
    return PathFileExistsA(path.c_str()) != FALSE;
}

CKernelHandle HoldOpen(const std::string& path, DWORD access, DWORD share) {
    return CKernelHandle(
        CreateFileA(path.c_str(), access, share, nullptr, OPEN_EXISTING, 0, nullptr));
}

std::string Md5Of(const std::string& bytes) {
    CFileDigest digest;
    digest.Update(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    return digest.Final().GetString();
}

std::string WinePath(std::string unixPath) {
    std::replace(unixPath.begin(), unixPath.end(), '/', '\\');
    return "Z:" + unixPath;
}

bool StartProgram(std::string line, PROCESS_INFORMATION& info, const std::string& folder,
                  HANDLE output) {
    STARTUPINFOA startup = {};
    startup.cb = sizeof(startup);
    startup.dwFlags = output ? STARTF_USESTDHANDLES : 0;
    startup.hStdOutput = startup.hStdError = output;
    return CreateProcessA(nullptr, &line[0], nullptr, nullptr, output != nullptr, 0, nullptr,
                          folder.empty() ? nullptr : folder.c_str(), &startup, &info) != FALSE;
}

void RemoveFolderTree(const std::string& path) {
    std::string from = path;
    if (!from.empty() && from.back() == '\\')
        from.pop_back();
    from.push_back('\0'); // the list of names ends with two zeros
    SHFILEOPSTRUCTA op = {};
    op.wFunc = FO_DELETE;
    op.pFrom = from.c_str();
    op.fFlags = FOF_NOCONFIRMATION | FOF_NOERRORUI | FOF_SILENT;
    SHFileOperationA(&op);
}

bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start >= timeoutMs)
            return false;
        // Wakes for any message, else re-checks every 10 ms.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageA(&msg);
    }
    return true;
}

InstallFolder::InstallFolder(const std::string& name, const std::string& parent) {
    char temp[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, temp);
    static int counter = 0;
    m_path = parent.empty() ? std::string(temp) + "updater-tests\\" : parent;
    CreateDirectoryA(m_path.c_str(), nullptr);
    m_path +=
        name + "-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter) + "\\";
    RemoveFolderTree(m_path);
    CreateDirectoryA(m_path.c_str(), nullptr);
}

InstallFolder::~InstallFolder() {
    RemoveFolderTree(m_path);
}

} // namespace testsupport
