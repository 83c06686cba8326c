// Files and folders for tests: a fresh installation folder per case, whole-file reads and
// writes, and waiting on a condition while serving messages.
#pragma once

#include <windows.h>

#include <functional>
#include <string>

namespace testsupport {

std::string ReadWholeFile(const std::string& path);
bool WriteWholeFile(const std::string& path, const std::string& data);
void RemoveFolderTree(const std::string& path);
// Waits for the condition, serving messages meanwhile; false when the time ran out.
bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs);

class InstallFolder {
public:
    // A new empty folder under the temporary folder (or under `parent`); its path ends with a
    // backslash.
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
