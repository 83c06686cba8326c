#include "manifest/manifest_fetch.h"

#include "framework/http_fetch.h"
#include "framework/run_log.h"
#include "manifest/manifest_refused.h"
#include "manifest/manifest_signature.h"

#include <vector>

namespace {

// The most a manifest or its signature may hold.
const size_t kMaxManifestBytes = 16 * 1024 * 1024;
const DWORD kOpenFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

// A whole body in memory, up to the cap.
class CBodyText : public IHttpBodySink {
public:
    BYTE* PieceBuffer() override { return m_piece; }
    bool OnPiece(UINT nCount) override {
        if (m_text.size() + nCount > kMaxManifestBytes)
            throw new CManifestRefused("more than 16 MiB");
        m_text.append(reinterpret_cast<const char*>(m_piece), nCount);
        return true;
    }
    std::string m_text;

private:
    BYTE m_piece[kHttpPieceSize];
};

// The bytes at the URL, fetched within the limits (the XML request object has none of its
// own). pszWhat names them in the log and in the refusal.
std::string FetchBytes(const char* pszUrl, const char* pszWhat) {
    RunLog().Write("%s: GET %s", pszWhat, pszUrl);
    CInternetSession session;
    CNetworkLimits limits;
    limits.dwDeadlineTick = GetTickCount() + NetworkLimitMs(NetworkLimit::WholeFetch);
    limits.bHasDeadline = true;
    session.SetLimits(limits);
    CHttpFetch fetch(session, pszUrl, kOpenFlags);
    if (fetch.Status() != HTTP_STATUS_OK) {
        char reason[64];
        FormatText(reason, sizeof(reason), "%s: HTTP status %lu", pszWhat, fetch.Status());
        throw new CManifestRefused(reason);
    }
    CBodyText body;
    fetch.ReadBody(body);
    RunLog().Write("%s: HTTP status 200, %u bytes", pszWhat,
                   static_cast<unsigned>(body.m_text.size()));
    return body.m_text;
}

// update.xml.sig beside update.xml, with the same query: a cache on the way that would answer
// a fresh manifest with an old signature is kept out as it is for the manifest.
std::string SignatureUrlOf(const char* pszManifestUrl) {
    const std::string url = pszManifestUrl;
    const size_t query = url.find('?');
    return query == std::string::npos ? url + ".sig"
                                      : url.substr(0, query) + ".sig" + url.substr(query);
}

} // namespace

std::string FetchManifestBytes(const char* pszUrl, const char* pszPublicKey) {
    const bool bSigned = pszPublicKey && *pszPublicKey;
    std::vector<BYTE> publicKey;
    if (bSigned && !DecodePublicKey(pszPublicKey, publicKey))
        throw new CManifestRefused("PublicKey cannot be read");
    std::string bytes = FetchBytes(pszUrl, "manifest");
    if (bSigned) {
        const std::string signature = FetchBytes(SignatureUrlOf(pszUrl).c_str(), "signature");
        if (!VerifySignature(publicKey, bytes.data(), bytes.size(), signature.data(),
                             signature.size()))
            throw new CManifestRefused("signature: not PublicKey's signature of the manifest");
        RunLog().Write("signature: verified");
    }
    return bytes;
}
