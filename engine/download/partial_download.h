// One file's download in the temporary folder as it grows over attempts and over runs: its
// bytes so far and their MD5, and the validator that lets the server continue it. Beside the
// file, "NAME.dtm.resume" records the validator and which entry the bytes belong to, so that a
// later run continues only the same file of the same release.
#pragma once

#include "digest/file_digest.h"
#include "framework/cstring.h"
#include "framework/file.h"
#include "manifest/update_file.h"

#include <memory>
#include <string>

class CPartialDownload {
public:
    CPartialDownload(const CUpdateFile& file, const CString& strTempPath);
    CPartialDownload(const CPartialDownload&) = delete;
    CPartialDownload& operator=(const CPartialDownload&) = delete;

    // Whether an earlier run left a temporary file of this name.
    bool Exists() const;
    // Opens the temporary file and takes over what an earlier run left of this entry: true when
    // the whole file is there already, as its digests prove; else it continues the bytes that a
    // recorded validator allows, or starts empty. Throws CFileException* when it cannot open it.
    bool TakeOver();
    // Creates the temporary file unless it is open; false when its path did not fit. Throws
    // CFileException* when it cannot be created.
    bool Open();
    // Starts the file over: empty, no validator.
    void Restart();

    ULONGLONG Length() const { return m_nLength; } // bytes so far, written or held
    ULONGLONG Total() const { return m_nTotal; }   // the whole file's length; 0 when unknown
    const CString& Validator() const { return m_strValidator; }
    // The first reply's validator (strong ETag, else Last-Modified; "" when it had none) and
    // length, recorded beside the file for a later run.
    void SetValidator(const CString& strValidator, ULONGLONG nTotal);

    // Room for the next piece of kHttpPieceSize bytes (or dwWanted, at most 64 KiB), and the
    // bytes put there.
    BYTE* Room(DWORD dwWanted = 0);
    void Append(UINT nCount);
    // Writes the bytes held; throws CFileException* on an error.
    void Flush();
    // The MD5 of every byte so far.
    CString Md5() const;
    // Writes what is held and closes the file (so that it can be read whole); throws
    // CFileException* when the write fails.
    void Close();

    // The file is complete and verified: the record goes (the file speaks for itself).
    void Finish();
    // A cancel or a passing fault that could not be overcome: the bytes and their record stay
    // for the next run. Never throws.
    void Keep();
    // A final failure: the file and its record go. Never throws.
    void Discard();

private:
    // Reads what an earlier run left: its length, its MD5, and its SHA-256 when the entry has
    // one (in the same pass: the file is open here without sharing).
    void HashExisting();
    bool WholeByDigest() const;
    bool ResumableByRecord();

    const CUpdateFile& m_file;
    const CString m_strPath;
    const CString m_strRecordPath;
    CFile m_temp;
    std::unique_ptr<BYTE[]> m_block;
    UINT m_nHeld = 0;
    ULONGLONG m_nLength = 0;
    ULONGLONG m_nTotal = 0;
    CString m_strValidator;
    CFileDigest m_md5;
    std::string m_strExistingSha256; // of what an earlier run left; "" when not taken
};

// The record's path for a temporary file.
CString ResumeRecordPath(const CString& strTempPath);
