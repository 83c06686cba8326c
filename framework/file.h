// Binary file access with the framework's open flags; failures are CFileException.
#pragma once

#include "framework/cstring.h"
#include "framework/exception.h"

#include <windows.h>

class CFileException : public CException {
public:
    enum {
        none = 0,
        genericException = 1,
        fileNotFound,
        badPath,
        tooManyOpenFiles,
        accessDenied,
        invalidFile,
        removeCurrentDir,
        directoryFull,
        badSeek,
        hardIO,
        sharingViolation,
        lockViolation,
        diskFull,
        endOfFile
    };

    CFileException() = default;
    CFileException(int cause, LONG lOsError, const char* pszFileName = nullptr)
        : m_cause(cause), m_lOsError(lOsError), m_strFileName(pszFileName) {}

    BOOL GetErrorMessage(char* pszError, UINT nMaxError,
                         UINT* pnHelpContext = nullptr) const override;
    static int OsErrorToCause(LONG lOsError);

    int m_cause = none;
    LONG m_lOsError = 0;
    CString m_strFileName;
};

class CFile {
public:
    enum OpenFlags : UINT {
        modeRead = 0x0000,
        modeWrite = 0x0001,
        modeReadWrite = 0x0002,
        shareDenyWrite = 0x0020,
        shareDenyRead = 0x0030,
        shareDenyNone = 0x0040,
        modeCreate = 0x1000,
        modeNoTruncate = 0x2000,
        typeBinary = 0x8000,
    };

    CFile() = default;
    // Opens or throws a CFileException*.
    CFile(const char* pszFileName, UINT nOpenFlags);
    ~CFile();
    CFile(const CFile&) = delete;
    CFile& operator=(const CFile&) = delete;

    // Returns FALSE and fills pError (when given) instead of throwing.
    BOOL Open(const char* pszFileName, UINT nOpenFlags, CFileException* pError = nullptr);
    // Count read, 0 at the end; throws CFileException* on an error.
    UINT Read(void* lpBuf, UINT nCount);
    // Throws CFileException* unless every byte was written.
    void Write(const void* lpBuf, UINT nCount);
    // Moves to the end and returns the length; throws CFileException* on an error.
    ULONGLONG SeekToEnd();
    // Cuts or extends the file to nLength bytes and moves there; throws CFileException*.
    void SetLength(ULONGLONG nLength);
    void Close();
    bool IsOpen() const { return m_hFile != INVALID_HANDLE_VALUE; }
    HANDLE GetHandle() const { return m_hFile; }

private:
    [[noreturn]] void ThrowLastError() const;

    HANDLE m_hFile = INVALID_HANDLE_VALUE;
    CString m_strFileName;
};
