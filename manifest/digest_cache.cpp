#include "manifest/digest_cache.h"

#include "digest/bytes_digest.h"
#include "framework/format.h"
#include "framework/replace_file.h"
#include "framework/scoped_handle.h"

#include <algorithm>

#include <string.h>

namespace {

const char kFileName[] = "\\digests.cache";
const char kHeader[] = "Quillmarket digest cache 1\r\n";
const char kEnd[] = "end ";
const size_t kEndLine = sizeof(kEnd) - 1 + 32 + 2;
const DWORD kMaxBytes = 64 << 20; // far beyond any installation's; more is not ours
const ULONGLONG kSecond = 10000000;
const ULONGLONG kRacyWindow = 2 * kSecond;
const ULONGLONG kFullCheckPeriod = 7 * 24 * 3600 * kSecond;

bool ByName(const DigestRecord& a, const DigestRecord& b) {
    return strcmp(a.name, b.name) < 0;
}

// The length of the bytes from p to end, when each is a lower-case hexadecimal digit (hex) or
// printable; else 0.
size_t LengthOf(const char* p, const char* end, bool hex) {
    for (const char* q = p; q < end; ++q)
        if (hex ? !((*q >= '0' && *q <= '9') || (*q >= 'a' && *q <= 'f'))
                : static_cast<unsigned char>(*q) < ' ')
            return 0;
    return static_cast<size_t>(end - p);
}

// Reads the blank-separated fields of one line, front to back; each step fails on anything but
// its exact form, and every step after a failure fails too.
class CLineReader {
public:
    CLineReader(const char* p, const char* end) : m_p(p), m_end(end) {}
    // The text, then a blank or the end of the line. A line that does not begin with it is
    // left as it was, for another form to be tried.
    bool Word(const char* word) {
        const size_t length = strlen(word);
        if (!Ok() || static_cast<size_t>(m_end - m_p) < length || memcmp(m_p, word, length) != 0)
            return false;
        return Pass(length);
    }
    // Exactly `digits` lower-case hexadecimal digits into text (digits + 1 bytes).
    bool Hex(char* text, int digits) {
        if (!Ok() || m_end - m_p < digits || !LengthOf(m_p, m_p + digits, true))
            return Fail();
        memcpy(text, m_p, digits);
        text[digits] = 0;
        return Pass(digits);
    }
    bool Number(ULONGLONG& value, int digits = 16) {
        char text[17];
        if (!Hex(text, digits))
            return false;
        value = 0;
        for (const char* p = text; *p; ++p)
            value = value << 4 | static_cast<ULONGLONG>(*p <= '9' ? *p - '0' : *p - 'a' + 10);
        return true;
    }
    // The rest of the line: printable bytes that fit the field.
    bool Rest(char* text, size_t size) {
        const size_t length = static_cast<size_t>(m_end - m_p);
        if (!Ok() || length >= size || !LengthOf(m_p, m_end, false))
            return Fail();
        memcpy(text, m_p, length);
        text[length] = 0;
        m_p = m_end;
        return true;
    }
    bool AtEnd() const { return Ok() && m_p == m_end; }

private:
    bool Ok() const { return m_p != nullptr; }
    bool Fail() {
        m_p = nullptr;
        return false;
    }
    // A field ends at a blank, which is passed, or at the end of the line.
    bool Pass(size_t length) {
        m_p += length;
        if (m_p == m_end)
            return true;
        if (*m_p != ' ')
            return Fail();
        ++m_p;
        return true;
    }

    const char* m_p;
    const char* const m_end;
};

// "md5 sha256-or-dash size last-write volume index made name"
bool ParseRecord(CLineReader& line, DigestRecord& r) {
    ULONGLONG volume = 0;
    if (!line.Hex(r.md5, 32) || !(line.Word("-") || line.Hex(r.sha256, 64)))
        return false;
    if (!line.Number(r.stamp.size) || !line.Number(r.stamp.lastWrite) || !line.Number(volume, 8) ||
        !line.Number(r.stamp.index) || !line.Number(r.made) || !line.Rest(r.name, MAX_PATH))
        return false;
    r.stamp.volume = static_cast<DWORD>(volume);
    return true;
}

// The whole file, or false when it cannot be read or is too large to be ours.
bool ReadCacheFile(const CString& path, std::string& bytes, DWORD& error) {
    CKernelHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    error = file.IsValid() ? 0 : GetLastError();
    DWORD high = 0, read = 0;
    const DWORD size = file.IsValid() ? GetFileSize(file.Get(), &high) : 0;
    if (!file.IsValid() || size == INVALID_FILE_SIZE || high || size > kMaxBytes)
        return false;
    bytes.resize(size);
    return size == 0 || (ReadFile(file.Get(), &bytes[0], size, &read, nullptr) && read == size);
}

} // namespace

bool DigestRecord::SetName(const char* pszName) {
    const size_t length = LengthOf(pszName, pszName + strlen(pszName), false);
    if (length == 0 || length >= sizeof(name))
        return false;
    memcpy(name, pszName, length + 1);
    return true;
}

bool IsTrusted(const DigestRecord& record, const FileStamp& stamp) {
    return record.stamp == stamp && stamp.lastWrite <= record.made &&
           record.made - stamp.lastWrite >= kRacyWindow;
}

CDigestCache::CDigestCache(const CString& strTempDir) : m_strPath(strTempDir + kFileName) {}

CDigestCache::Loaded CDigestCache::Load() {
    DWORD error = 0;
    std::string bytes;
    const bool read = ReadCacheFile(m_strPath, bytes, error);
    if (read && Parse(bytes)) {
        m_loaded.swap(bytes);
        return Loaded::Whole;
    }
    m_records.clear();
    m_lastFullCheck = 0;
    return !read && (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND)
               ? Loaded::None
               : Loaded::Damaged;
}

// The header, the last full check, one line per record in the order of their names, and a
// last line with the MD5 of everything before it, which a torn or altered file does not match.
bool CDigestCache::Parse(const std::string& text) {
    const size_t header = sizeof(kHeader) - 1;
    if (text.size() < header + kEndLine || text.compare(0, header, kHeader) != 0)
        return false;
    const size_t body = text.size() - kEndLine;
    if (text.compare(body, sizeof(kEnd) - 1, kEnd) != 0 ||
        text.compare(text.size() - 2, 2, "\r\n") != 0 ||
        text.compare(body + sizeof(kEnd) - 1, 32, DigestOfBytes(text.data(), body, false)) != 0)
        return false;
    bool first = true; // the line of the last full check
    for (size_t at = header; at < body; first = false) {
        const size_t lineEnd = text.find("\r\n", at);
        if (lineEnd + 2 > body) // also when there is none
            return false;
        CLineReader line(text.data() + at, text.data() + lineEnd);
        DigestRecord record = {};
        if (first ? !line.Word("full") || !line.Number(m_lastFullCheck) || !line.AtEnd()
                  : !ParseRecord(line, record) ||
                        (!m_records.empty() && !ByName(m_records.back(), record)))
            return false;
        if (!first)
            m_records.push_back(record); // in order, as checked above
        at = lineEnd + 2;
    }
    return !first;
}

std::string CDigestCache::Text() const {
    char line[MAX_PATH + 256];
    FormatText(line, sizeof(line), "%sfull %016I64x\r\n", kHeader, m_lastFullCheck);
    std::string text = line;
    for (const DigestRecord& r : m_records) {
        FormatText(line, sizeof(line), "%s %s %016I64x %016I64x %08lx %016I64x %016I64x %s\r\n",
                   r.md5, *r.sha256 ? r.sha256 : "-", r.stamp.size, r.stamp.lastWrite,
                   r.stamp.volume, r.stamp.index, r.made, r.name);
        text += line;
    }
    const std::string md5 = DigestOfBytes(text.data(), text.size(), false);
    return text.append(kEnd).append(md5).append("\r\n");
}

bool CDigestCache::Save() const {
    const std::string text = Text();
    return text == m_loaded ||
           ReplaceFileContent(m_strPath, text.data(), static_cast<DWORD>(text.size()), false);
}

const DigestRecord* CDigestCache::Find(const char* pszName) const {
    const auto at = std::lower_bound(
        m_records.begin(), m_records.end(), pszName,
        [](const DigestRecord& r, const char* name) { return strcmp(r.name, name) < 0; });
    return at != m_records.end() && strcmp(at->name, pszName) == 0 ? &*at : nullptr;
}

void CDigestCache::Put(const DigestRecord& record) {
    const size_t at = static_cast<size_t>(
        std::lower_bound(m_records.begin(), m_records.end(), record, ByName) - m_records.begin());
    if (at == m_records.size() || strcmp(m_records[at].name, record.name) != 0) {
        // A plain record moves as bytes; the common case, names in order, moves none.
        m_records.push_back(record);
        DigestRecord* const records = m_records.data();
        memmove(records + at + 1, records + at, (m_records.size() - 1 - at) * sizeof(record));
    }
    m_records[at] = record;
}

void CDigestCache::Clear() {
    m_records.clear();
}

bool CDigestCache::FullCheckDue(ULONGLONG now) const {
    return now < m_lastFullCheck || now - m_lastFullCheck >= kFullCheckPeriod;
}
