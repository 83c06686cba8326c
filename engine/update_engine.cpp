#include "engine/update_engine.h"

#include "engine/file_name_rules.h"
#include "manifest/manifest_signature.h"

#include <ctype.h>
#include <shlwapi.h>
#include <string.h>

namespace {

bool IsWellFormedDigest(const char* pszText) {
    if (!pszText || strlen(pszText) != UPDATE_DIGEST_SIZE - 1)
        return false;
    for (const char* p = pszText; *p; ++p)
        if (!isxdigit(static_cast<unsigned char>(*p)))
            return false;
    return true;
}

} // namespace

CUpdateEngine::CUpdateEngine() : m_cancelEvent(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}

CUpdateEngine::~CUpdateEngine() = default;

BOOL CUpdateEngine::Init(IUpdateNotify* pNotify, const char* pszBaseUrl, const char* pszTempDir,
                         const char* pszTargetDir) {
    if (!pNotify)
        return FALSE;
    m_pNotify = pNotify;
    m_strBaseUrl = pszBaseUrl;
    m_strTempDir = pszTempDir;
    m_strTargetDir = pszTargetDir;

    if (m_strBaseUrl.GetAt(m_strBaseUrl.GetLength() - 1) != '/')
        m_strBaseUrl += '/';

    // Only the last level is created; a missing parent makes the first download fail.
    if (!PathIsDirectoryA(m_strTempDir))
        CreateDirectoryA(m_strTempDir, nullptr);

    m_pSession = std::make_unique<CInternetSession>(nullptr, 1, INTERNET_OPEN_TYPE_PRECONFIG,
                                                    nullptr, nullptr, 0);
    CNetworkLimits limits;
    limits.hCancel = m_cancelEvent.Get();
    m_pSession->SetLimits(limits);
    return TRUE;
}

void CUpdateEngine::RequestCancel() {
    m_bCancel = TRUE;
    if (m_cancelEvent.IsValid())
        SetEvent(m_cancelEvent.Get());
}

BOOL CUpdateEngine::AddFile(const char* pszRemoteName, const char* pszLocalName, const char* pszMd5,
                            const char* pszSha256) {
    const bool hasSha256 = pszSha256 && *pszSha256;
    if (!pszRemoteName || (hasSha256 && !IsSha256Text(pszSha256)))
        return FALSE;
    const char* local = pszLocalName ? pszLocalName : pszRemoteName;
    // Names come from the network: they must fit the record and stay inside our folders.
    if (!IsAcceptableFileName(pszRemoteName) || !IsAcceptableFileName(local))
        return FALSE;

    CUpdateFile file = {};
    strcpy(file.szRemoteName, pszRemoteName); // lengths checked above
    strcpy(file.szLocalName, local);
    if (IsWellFormedDigest(pszMd5))
        for (int i = 0; i < UPDATE_DIGEST_SIZE - 1; ++i)
            file.szMd5[i] = static_cast<char>(tolower(static_cast<unsigned char>(pszMd5[i])));
    if (hasSha256)
        strcpy(file.szSha256, pszSha256); // 64 digits, checked above
    m_files.push_back(file);
    return TRUE;
}

void CUpdateEngine::RemoveAll() {
    std::vector<CUpdateFile>().swap(m_files); // size 0 and no capacity
}

void CUpdateEngine::SendState(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    m_nState = nEvent;
    Notify(nEvent, dwArg1, dwArg2, pszText);
}

void CUpdateEngine::Notify(int nEvent, DWORD dwArg1, DWORD dwArg2, const char* pszText) {
    if (m_pNotify)
        m_pNotify->OnUpdateEvent(dwArg1, dwArg2, nEvent, pszText);
}
