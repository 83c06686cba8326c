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

// A site that fails itself (a status of 500 or more): another site may serve.
class CSiteFailed : public CManifestRefused {
public:
    using CManifestRefused::CManifestRefused;
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
        if (fetch.Status() >= 500)
            throw new CSiteFailed(reason);
        throw new CManifestRefused(reason);
    }
    CHttpBodyText body(kMaxManifestBytes);
    try {
        fetch.ReadBody(body);
    } catch (CHttpBodyError* e) {
        e->Delete();
        char reason[96];
        FormatText(reason, sizeof(reason), "%s: cut short, or longer than %u bytes", pszWhat,
                   static_cast<unsigned>(kMaxManifestBytes));
        throw new CSiteFailed(reason);
    }
    RunLog().Write("%s: HTTP status 200, %u bytes", pszWhat,
                   static_cast<unsigned>(body.Text().size()));
    return body.Text();
}

// update.xml.sig beside update.xml, with the same query: a cache on the way that would answer
// a fresh manifest with an old signature is kept out as it is for the manifest.
std::string SignatureUrlOf(const char* pszManifestUrl) {
    const std::string url = pszManifestUrl;
    const size_t query = url.find('?');
    return query == std::string::npos ? url + ".sig"
                                      : url.substr(0, query) + ".sig" + url.substr(query);
}

// The manifest and, with a key, its verified signature, both from one site.
std::string FetchFromSite(const char* pszUrl, const std::vector<BYTE>& publicKey) {
    std::string bytes = FetchBytes(pszUrl, "manifest");
    if (!publicKey.empty()) {
        const std::string signature = FetchBytes(SignatureUrlOf(pszUrl).c_str(), "signature");
        if (!VerifySignature(publicKey, bytes.data(), bytes.size(), signature.data(),
                             signature.size()))
            throw new CManifestRefused("signature: not PublicKey's signature of the manifest");
        RunLog().Write("signature: verified");
    }
    return bytes;
}

void LogSiteFailed(size_t site, const CException& e, const CString& next) {
    char text[256] = "";
    e.GetErrorMessage(text, sizeof(text));
    RunLog().Write("manifest: site%u failed (%s); trying site%u %s",
                   static_cast<unsigned>(site + 1), text, static_cast<unsigned>(site + 2),
                   next.GetString());
}

} // namespace

std::string FetchManifestBytes(const std::vector<CString>& urls, const char* pszPublicKey,
                               size_t& site) {
    std::vector<BYTE> publicKey;
    if (pszPublicKey && *pszPublicKey && !DecodePublicKey(pszPublicKey, publicKey))
        throw new CManifestRefused("PublicKey cannot be read");
    for (site = 0;; ++site) {
        try {
            return FetchFromSite(urls.at(site), publicKey);
        } catch (CInternetException* e) { // the site cannot be reached
            if (site + 1 >= urls.size())
                throw;
            LogSiteFailed(site, *e, urls[site + 1]);
            e->Delete();
        } catch (CSiteFailed* e) {
            if (site + 1 >= urls.size())
                throw;
            LogSiteFailed(site, *e, urls[site + 1]);
            e->Delete();
        }
    }
}
