#include "framework/run_log.h"

#include "framework/format.h"
#include "framework/scoped_handle.h"

#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <vector>

std::string DefaultRunLogPath() {
    char folder[MAX_PATH + 1];
    const DWORD length = GetTempPathA(sizeof(folder), folder);
    if (length == 0 || length >= sizeof(folder))
        return std::string();
    return std::string(folder, length) + (folder[length - 1] == '\\' ? "" : "\\") +
           "Quillmarket-Updater.log";
}

CRunLog::CRunLog(std::string path, DWORD capBytes)
    : m_path(std::move(path)), m_capBytes(std::max(capBytes, kMinCapBytes)) {
    InitializeCriticalSection(&m_lock);
}

CRunLog::~CRunLog() {
    DeleteCriticalSection(&m_lock);
}

void CRunLog::Write(const char* format, ...) noexcept {
    if (m_path.empty() || format == nullptr)
        return;
    SYSTEMTIME now;
    GetLocalTime(&now);
    char line[kMaxLineBytes + 1];
    const int prefix =
        FormatText(line, sizeof(line), "%04u-%02u-%02u %02u:%02u:%02u.%03u [%lu:%lu] ", now.wYear,
                   now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond, now.wMilliseconds,
                   static_cast<unsigned long>(GetCurrentProcessId()),
                   static_cast<unsigned long>(GetCurrentThreadId()));
    if (prefix <= 0 || prefix >= kMaxLineBytes - 5)
        return;
    // Room for the text: the line less its prefix and "\r\n".
    const size_t room = static_cast<size_t>(kMaxLineBytes - prefix - 2);
    va_list args;
    va_start(args, format);
    const int written = FormatTextV(line + prefix, room + 1, format, args);
    va_end(args);
    size_t length = static_cast<size_t>(prefix);
    if (written > 0) {
        length += std::min(static_cast<size_t>(written), room);
        if (static_cast<size_t>(written) > room)
            std::memcpy(line + length - 3, "...", 3);
    }
    for (size_t i = static_cast<size_t>(prefix); i < length; ++i)
        if (static_cast<unsigned char>(line[i]) < 0x20 || line[i] == 0x7f)
            line[i] = ' ';
    line[length++] = '\r';
    line[length++] = '\n';

    EnterCriticalSection(&m_lock);
    Append(line, static_cast<DWORD>(length));
    LeaveCriticalSection(&m_lock);
}

void CRunLog::Append(const char* line, DWORD length) noexcept {
    try {
        // Opened for each line: nothing stays open between events, and support can read or
        // delete the file while the updater runs.
        CKernelHandle file(CreateFileA(m_path.c_str(), GENERIC_READ | GENERIC_WRITE,
                                       FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                                       FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.IsValid())
            return;
        const DWORD size = GetFileSize(file.Get(), nullptr);
        if (size == INVALID_FILE_SIZE)
            return;
        if (static_cast<unsigned long long>(size) + length > m_capBytes) {
            // Keep the newer half, from the first whole line in it.
            const DWORD keep = std::min(size, m_capBytes / 2);
            std::vector<char> tail(keep);
            DWORD read = 0;
            if (SetFilePointer(file.Get(), static_cast<LONG>(size - keep), nullptr, FILE_BEGIN) ==
                    INVALID_SET_FILE_POINTER ||
                !ReadFile(file.Get(), tail.data(), keep, &read, nullptr) || read != keep)
                return;
            const auto start = std::find(tail.begin(), tail.end(), '\n');
            const DWORD from =
                start == tail.end() ? keep : static_cast<DWORD>(start - tail.begin()) + 1;
            DWORD done = 0;
            if (SetFilePointer(file.Get(), 0, nullptr, FILE_BEGIN) == INVALID_SET_FILE_POINTER ||
                (from < keep &&
                 !WriteFile(file.Get(), tail.data() + from, keep - from, &done, nullptr)) ||
                !SetEndOfFile(file.Get()))
                return;
        }
        DWORD done = 0;
        if (SetFilePointer(file.Get(), 0, nullptr, FILE_END) != INVALID_SET_FILE_POINTER)
            WriteFile(file.Get(), line, length, &done, nullptr);
    } catch (...) {
        // A log that cannot be written is skipped.
    }
}

CRunLog& RunLog() {
    // Made without a guarded static, whose thread-safe form would bring the threads library's
    // once and condition machinery along: two threads racing at the first use each make one, and
    // the loser frees its own.
    static std::atomic<CRunLog*> s_log{nullptr};
    if (CRunLog* log = s_log.load(std::memory_order_acquire))
        return *log;
    CRunLog* made = new CRunLog(DefaultRunLogPath());
    CRunLog* expected = nullptr;
    if (!s_log.compare_exchange_strong(expected, made, std::memory_order_acq_rel)) {
        delete made;
        return *expected;
    }
    return *made;
}
