// A fresh, empty folder under the system's temporary folder for one test, removed with
// everything in it when the test ends.
#pragma once

#include <cstdio>
#include <string>
#include <windows.h>

namespace testscratch {

class ScratchFolder {
public:
    ScratchFolder() {
        char temp[MAX_PATH];
        const DWORD n = GetTempPathA(MAX_PATH, temp);
        if (n == 0 || n >= MAX_PATH)
            return;
        static LONG s_counter = 0;
        for (int attempt = 0; attempt < 100; ++attempt) {
            char name[64];
            snprintf(name, sizeof(name), "updtest_%lu_%ld\\", GetCurrentProcessId(),
                     InterlockedIncrement(&s_counter));
            std::string path = std::string(temp) + name;
            if (CreateDirectoryA(path.c_str(), nullptr)) {
                m_path = path;
                return;
            }
        }
    }
    ~ScratchFolder() {
        if (!m_path.empty())
            RemoveTree(m_path);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Valid() const { return !m_path.empty(); }
    // Ends with a backslash.
    const std::string& Path() const { return m_path; }

    static void RemoveTree(const std::string& folder) {
        WIN32_FIND_DATAA data;
        HANDLE find = FindFirstFileA((folder + "*").c_str(), &data);
        if (find != INVALID_HANDLE_VALUE) {
            do {
                const std::string name = data.cFileName;
                if (name == "." || name == "..")
                    continue;
                const std::string path = folder + name;
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    RemoveTree(path + "\\");
                } else {
                    SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                    DeleteFileA(path.c_str());
                }
            } while (FindNextFileA(find, &data));
            FindClose(find);
        }
        RemoveDirectoryA(folder.c_str());
    }

private:
    std::string m_path;
};

// Writes the bytes as the whole content of the file; false when that failed.
inline bool WriteWholeFile(const std::string& path, const std::string& bytes) {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return false;
    DWORD written = 0;
    const BOOL ok = WriteFile(h, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
    CloseHandle(h);
    return ok && written == bytes.size();
}

// Closes a file handle opened by a test.
class ScopedHandle {
public:
    explicit ScopedHandle(HANDLE h) : m_h(h) {}
    ~ScopedHandle() {
        if (m_h != INVALID_HANDLE_VALUE && m_h != nullptr)
            CloseHandle(m_h);
    }
    ScopedHandle(const ScopedHandle&) = delete;
    ScopedHandle& operator=(const ScopedHandle&) = delete;
    HANDLE Get() const { return m_h; }
    bool Valid() const { return m_h != INVALID_HANDLE_VALUE && m_h != nullptr; }

private:
    HANDLE m_h;
};

} // namespace testscratch
