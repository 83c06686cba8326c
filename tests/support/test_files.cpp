#include "tests/support/test_files.h"

#include <shellapi.h>

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
    m_path = (parent.empty() ? std::string(temp) : parent + "\\") + "updater-tests\\";
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
