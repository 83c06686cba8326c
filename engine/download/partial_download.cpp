#include "engine/download/partial_download.h"

#include "digest/file_sha256.h"
#include "framework/format.h"
#include "framework/http_fetch.h"
#include "framework/replace_file.h"
#include "framework/run_log.h"
#include "framework/scoped_handle.h"

#include <stdlib.h>
#include <string.h>

namespace {

const UINT kBlockSize = 65536;
const char kRecordHeader[] = "resume 1";

// The entry the bytes belong to: its size and digests.
CString EntryIdentity(const CUpdateFile& file) {
    CString identity;
    identity.Format("%lu %s %s", static_cast<unsigned long>(file.dwSize),
                    file.szMd5[0] ? file.szMd5 : "-", file.szSha256[0] ? file.szSha256 : "-");
    return identity;
}

// "resume 1", the entry's identity, the whole length and the validator, one per line.
bool ReadRecord(const CString& path, CString& identity, ULONGLONG& total, CString& validator) {
    char text[512] = {};
    DWORD count = 0;
    CKernelHandle file(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsValid() || !ReadFile(file.Get(), text, sizeof(text) - 1, &count, nullptr))
        return false;
    text[count] = 0;
    char* lines[4] = {};
    char* next = text;
    for (char*& line : lines) {
        char* end = strchr(next, '\n');
        if (!end)
            return false;
        *end = 0;
        line = next;
        next = end + 1;
    }
    char* stop = nullptr;
    total = strtoul(lines[2], &stop, 10);
    identity = lines[1];
    validator = lines[3];
    return strcmp(lines[0], kRecordHeader) == 0 && stop != lines[2] && *stop == 0 && !*next;
}

// Written in one step: a reader sees the old record or the new one, never a mix.
void WriteRecord(const CString& path, const CString& identity, ULONGLONG total,
                 const CString& validator) {
    char text[512];
    const int length =
        FormatText(text, sizeof(text), "%s\n%s\n%lu\n%s\n", kRecordHeader, identity.GetString(),
                   static_cast<unsigned long>(total), validator.GetString());
    if (length <= 0 || length >= static_cast<int>(sizeof(text)))
        return;
    ReplaceFileContent(path, text, static_cast<DWORD>(length), false);
}

} // namespace

CString ResumeRecordPath(const CString& strTempPath) {
    return strTempPath + ".resume";
}

CPartialDownload::CPartialDownload(const CUpdateFile& file, const CString& strTempPath)
    : m_file(file), m_strPath(strTempPath), m_strRecordPath(ResumeRecordPath(strTempPath)),
      m_block(new BYTE[kBlockSize]) {}

bool CPartialDownload::Exists() const {
    return !m_strPath.IsEmpty() && GetFileAttributesA(m_strPath) != INVALID_FILE_ATTRIBUTES;
}

bool CPartialDownload::TakeOver() {
    CFileException error;
    if (!m_temp.Open(m_strPath, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite,
                     &error))
        throw new CFileException(error);
    // Only bytes that a digest will check at the end are worth keeping.
    if (!m_file.szMd5[0] && !m_file.szSha256[0]) {
        Restart();
        return false;
    }
    HashExisting();
    if (m_nLength > 0 && WholeByDigest()) {
        RunLog().Write("download %s: kept from an earlier run, its digest matches",
                       m_file.szRemoteName);
        return true;
    }
    if (m_nLength > 0 && ResumableByRecord()) {
        RunLog().Write("download %s: continuing what an earlier run received, at byte %lu",
                       m_file.szRemoteName, static_cast<unsigned long>(m_nLength));
        return false;
    }
    Restart();
    return false;
}

void CPartialDownload::HashExisting() {
    m_md5 = CFileDigest();
    m_nLength = 0;
    m_strExistingSha256.clear();
    std::unique_ptr<CSha256> sha256(m_file.szSha256[0] ? new CSha256 : nullptr);
    while (const UINT count = m_temp.Read(m_block.get(), kBlockSize)) {
        m_md5.Update(m_block.get(), count);
        if (sha256)
            sha256->Update(m_block.get(), count);
        m_nLength += count;
    }
    if (sha256 && !sha256->Final(m_strExistingSha256))
        m_strExistingSha256.clear();
}

bool CPartialDownload::WholeByDigest() const {
    if (m_file.szMd5[0] && Md5() != m_file.szMd5)
        return false;
    return !m_file.szSha256[0] ||
           (IsSha256Text(m_file.szSha256) && m_strExistingSha256 == m_file.szSha256);
}

bool CPartialDownload::ResumableByRecord() {
    CString identity, validator;
    ULONGLONG total = 0;
    if (!ReadRecord(m_strRecordPath, identity, total, validator) ||
        identity != EntryIdentity(m_file) || validator.IsEmpty() || m_nLength >= total)
        return false;
    m_strValidator = validator;
    m_nTotal = total;
    return true;
}

bool CPartialDownload::Open() {
    if (m_temp.IsOpen())
        return true;
    if (m_strPath.IsEmpty())
        return false;
    CFileException error;
    const UINT keep = m_nLength > 0 ? UINT(CFile::modeNoTruncate) : 0u; // a flushed start stays
    if (!m_temp.Open(m_strPath, CFile::modeCreate | keep | CFile::modeReadWrite, &error))
        throw new CFileException(error);
    m_temp.SeekToEnd();
    return true;
}

void CPartialDownload::Restart() {
    m_nHeld = 0;
    m_nLength = 0;
    m_nTotal = 0;
    m_strValidator.Empty();
    m_md5 = CFileDigest();
    if (m_temp.IsOpen())
        m_temp.SetLength(0);
    else if (!m_strPath.IsEmpty())
        DeleteFileA(m_strPath);
    DeleteFileA(m_strRecordPath);
}

void CPartialDownload::SetValidator(const CString& strValidator, ULONGLONG nTotal) {
    m_strValidator = strValidator;
    m_nTotal = nTotal;
    if (strValidator.IsEmpty())
        DeleteFileA(m_strRecordPath);
    else
        WriteRecord(m_strRecordPath, EntryIdentity(m_file), nTotal, strValidator);
}

BYTE* CPartialDownload::Room(DWORD dwWanted) {
    if (kBlockSize - m_nHeld < (dwWanted ? dwWanted : kHttpPieceSize))
        Flush();
    return m_block.get() + m_nHeld;
}

void CPartialDownload::Append(UINT nCount) {
    if (m_file.szMd5[0]) // only an md5 to check is worth its time
        m_md5.Update(m_block.get() + m_nHeld, nCount);
    m_nHeld += nCount;
    m_nLength += nCount;
}

void CPartialDownload::Flush() {
    if (m_nHeld > 0 && !Open())
        return;
    m_temp.Write(m_block.get(), m_nHeld);
    m_nHeld = 0;
}

CString CPartialDownload::Md5() const {
    CFileDigest copy = m_md5; // Final spends its context
    return copy.Final();
}

void CPartialDownload::Close() {
    Flush();
    m_temp.Close();
}

void CPartialDownload::Finish() {
    m_temp.Close();
    DeleteFileA(m_strRecordPath);
}

void CPartialDownload::Keep() {
    try {
        Flush();
    } catch (CException* e) {
        e->Delete();
    }
    m_temp.Close();
}

void CPartialDownload::Discard() {
    m_temp.Close();
    DeleteFileA(m_strPath);
    DeleteFileA(m_strRecordPath);
}
