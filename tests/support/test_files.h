// Files, folders and programs for tests: a fresh installation folder per case, whole-file reads
// and writes, files held open, and waiting on a condition while serving messages.
#pragma once

#include "framework/scoped_handle.h"

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& data);
bool Exists(const std::string& path);
void RemoveFolderTree(const std::string& path);
// Opens an existing file as another program holding it would.
CKernelHandle HoldOpen(const std::string& path, DWORD access = GENERIC_READ,
                       DWORD share = FILE_SHARE_READ);
std::string Md5Of(const std::string& bytes); // as the manifest writes it
std::string WinePath(std::string unixPath);  // a path of the build, as Wine sees it
// Starts a command line in `folder` (the current one when empty), its output to `output`.
bool StartProgram(std::string line, PROCESS_INFORMATION& info, const std::string& folder = "",
                  HANDLE output = nullptr);
// Waits for the condition, serving messages meanwhile; false when the time ran out.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

class InstallFolder {
public:
    // A new empty folder under the temporary folder (or in `parent`, which ends with a
    // backslash, as the path does).
    explicit InstallFolder(const std::string& name, const std::string& parent = "");
    ~InstallFolder();
    InstallFolder(const InstallFolder&) = delete;
    InstallFolder& operator=(const InstallFolder&) = delete;
    const std::string& Path() const { return m_path; }
    std::string operator/(const std::string& name) const { return m_path + name; }

private:
    std::string m_path;
};

} // namespace testsupport
