#include "framework/file.h"

BOOL CFileException::GetErrorMessage(char* pszError, UINT nMaxError, UINT* pnHelpContext) const {
    if (pnHelpContext)
        *pnHelpContext = 0;
    return FormatSystemMessage(static_cast<DWORD>(m_lOsError), nullptr, pszError, nMaxError);
}

int CFileException::OsErrorToCause(LONG lOsError) {
    switch (lOsError) {
    case ERROR_SUCCESS:
        return none;
    case ERROR_FILE_NOT_FOUND:
        return fileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_BAD_PATHNAME:
    case ERROR_FILENAME_EXCED_RANGE:
        return badPath;
    case ERROR_TOO_MANY_OPEN_FILES:
        return tooManyOpenFiles;
    case ERROR_ACCESS_DENIED:
        return accessDenied;
    case ERROR_INVALID_HANDLE:
        return invalidFile;
    case ERROR_SHARING_VIOLATION:
        return sharingViolation;
    case ERROR_LOCK_VIOLATION:
        return lockViolation;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return diskFull;
    case ERROR_HANDLE_EOF:
        return endOfFile;
    default:
        return genericException;
    }
}

CFile::CFile(const char* pszFileName, UINT nOpenFlags) {
    CFileException error;
    if (!Open(pszFileName, nOpenFlags, &error))
        throw new CFileException(error);
}

CFile::~CFile() {
    Close();
}

BOOL CFile::Open(const char* pszFileName, UINT nOpenFlags, CFileException* pError) {
    Close();
    m_strFileName = pszFileName;

    DWORD access = GENERIC_READ;
    switch (nOpenFlags & 3) {
    case modeWrite:
        access = GENERIC_WRITE;
        break;
    case modeReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        break;
    default:
        break;
    }

    // Without a share flag the file is opened exclusively, as the framework does.
    DWORD share = 0;
    switch (nOpenFlags & 0x70) {
    case shareDenyWrite:
        share = FILE_SHARE_READ;
        break;
    case shareDenyRead:
        share = FILE_SHARE_WRITE;
        break;
    case shareDenyNone:
        share = FILE_SHARE_READ | FILE_SHARE_WRITE;
        break;
    default:
        break;
    }

    DWORD creation = OPEN_EXISTING;
    if (nOpenFlags & modeCreate)
        creation = (nOpenFlags & modeNoTruncate) ? OPEN_ALWAYS : CREATE_ALWAYS;

    HANDLE h =
        CreateFileA(pszFileName, access, share, nullptr, creation, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (h == INVALID_HANDLE_VALUE) {
        if (pError) {
            const LONG err = static_cast<LONG>(GetLastError());
            *pError = CFileException(CFileException::OsErrorToCause(err), err, pszFileName);
        }
        return FALSE;
    }
    m_hFile = h;
    return TRUE;
}

UINT CFile::Read(void* lpBuf, UINT nCount) {
    if (nCount == 0)
        return 0;
    DWORD read = 0;
    if (!ReadFile(m_hFile, lpBuf, nCount, &read, nullptr))
        ThrowLastError();
    return read;
}

void CFile::Write(const void* lpBuf, UINT nCount) {
    if (nCount == 0)
        return;
    DWORD written = 0;
    if (!WriteFile(m_hFile, lpBuf, nCount, &written, nullptr))
        ThrowLastError();
    if (written != nCount)
        throw new CFileException(CFileException::diskFull, ERROR_DISK_FULL, m_strFileName);
}

ULONGLONG CFile::SeekToEnd() {
    LARGE_INTEGER none = {}, end = {};
    if (!SetFilePointerEx(m_hFile, none, &end, FILE_END))
        ThrowLastError();
    return static_cast<ULONGLONG>(end.QuadPart);
}

void CFile::SetLength(ULONGLONG nLength) {
    LARGE_INTEGER at;
    at.QuadPart = static_cast<LONGLONG>(nLength);
    if (!SetFilePointerEx(m_hFile, at, nullptr, FILE_BEGIN) || !SetEndOfFile(m_hFile))
        ThrowLastError();
}

void CFile::Close() {
    if (m_hFile != INVALID_HANDLE_VALUE) {
        CloseHandle(m_hFile);
        m_hFile = INVALID_HANDLE_VALUE;
    }
}

void CFile::ThrowLastError() const {
    const LONG err = static_cast<LONG>(GetLastError());
    throw new CFileException(CFileException::OsErrorToCause(err), err, m_strFileName);
}
