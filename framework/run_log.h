// The run log: one line per event of an update run, appended to a text file that support can
// ask for. Writing it never fails a run: a line that cannot be written is dropped silently.
#pragma once

#include <windows.h>

#include <string>

// %TEMP%\Quillmarket-Updater.log, or "" (no log) when there is no temporary folder. The
// temporary folder is the one place every user can write whatever the installation folder's
// permissions (a client under Program Files is read-only for a standard user, and Windows
// would redirect the file elsewhere), and support finds it by typing %TEMP% into Explorer.
std::string DefaultRunLogPath();

class CRunLog {
public:
    static constexpr DWORD kDefaultCapBytes = 256 * 1024;
    static constexpr DWORD kMinCapBytes = 8 * 1024; // room for a few of the longest lines
    static constexpr int kMaxLineBytes = 1024;      // with time stamp and line end; longer is cut

    // An empty path makes a log that writes nothing.
    explicit CRunLog(std::string path, DWORD capBytes = kDefaultCapBytes);
    ~CRunLog();
    CRunLog(const CRunLog&) = delete;
    CRunLog& operator=(const CRunLog&) = delete;

    // Appends "2024-05-01 12:34:56.789 [pid:tid] text\r\n", text formatted as by printf in the
    // ANSI code page; control characters in it (an error text's line breaks) become blanks so
    // that an event stays one line, and text beyond kMaxLineBytes is cut and ends in "...".
    // When the line would take the file past its cap, the older half of the file is dropped
    // first, at a line boundary. Safe from any thread; lines never interleave.
    void Write(const char* format, ...) noexcept
        __attribute__((format(__MINGW_PRINTF_FORMAT, 2, 3)));

    const std::string& Path() const { return m_path; }

private:
    void Append(const char* line, DWORD length) noexcept;

    const std::string m_path;
    const DWORD m_capBytes;
    CRITICAL_SECTION m_lock;
};

// The process's log at DefaultRunLogPath(), made on first use and never destroyed, so that a
// worker still running at exit can log.
CRunLog& RunLog();
