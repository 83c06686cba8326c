#include "manifest/manifest_check.h"

#include "app/run_log.h"
#include "digest/file_digest.h"
#include "engine/file_name_rules.h"
#include "engine/update_engine.h"
#include "framework/com_error.h"
#include "framework/com_ptr.h"
#include "framework/com_variant.h"
#include "framework/format.h"
#include "framework/internet.h"
#include "manifest/local_digests.h"
#include "manifest/manifest_signature.h"
#include "manifest/msxml_guids.h"

#include <msxml2.h>

#include <memory>
#include <string>
#include <string.h>
#include <vector>

namespace {

// A manifest refused for a reason of the check's own; the reason goes to the run log.
class CManifestRefused : public CException {
public:
    explicit CManifestRefused(const char* pszReason) {
        FormatText(m_szReason, sizeof(m_szReason), "%s", pszReason);
    }
    BOOL GetErrorMessage(char* pszError, UINT nMaxError, UINT* pnHelpContext) const override {
        if (pnHelpContext)
            *pnHelpContext = 0;
        FormatText(pszError, nMaxError, "%s", m_szReason);
        return TRUE;
    }

private:
    char m_szReason[160];
};

// In-process server and handler, local and remote server.
const DWORD kClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// A missing attribute arrives as VT_NULL, whose conversion fails: that fails the check.
CString ReadText(IXMLDOMElement* pEntry, const char* pszName) {
    CVariant value;
    CheckResult(pEntry->getAttribute(CBstr(pszName).Get(), value.Receive()));
    CVariant text;
    CheckResult(VariantChangeType(text.Ptr(), value.Ptr(), 0, VT_BSTR));
    return CStringFromVariant(text.Get());
}

UINT ReadNumber(IXMLDOMElement* pEntry, const char* pszName) {
    CVariant value;
    CheckResult(pEntry->getAttribute(CBstr(pszName).Get(), value.Receive()));
    CVariant number;
    CheckResult(VariantChangeType(number.Ptr(), value.Ptr(), 0, VT_UINT));
    return number.Get().uintVal;
}

// The whole fetch of the manifest, however slowly the server sends it, and the most it may hold.
const DWORD kCheckLimitMs = 60000;
// Test-only: a shorter limit, so that tests need not wait the shipped one.
const char kCheckLimitVariable[] = "UPDATER_TEST_ONLY_CHECK_LIMIT_MS";
const size_t kMaxManifestBytes = 16 * 1024 * 1024;
const DWORD kOpenFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

// The bytes at the URL, fetched within the limits (the XML request object has none of its own).
// pszWhat names them in the log and in the refusal.
std::string FetchBytes(const char* pszUrl, const char* pszWhat) {
    RunLog().Write("%s: GET %s", pszWhat, pszUrl);
    CInternetSession session;
    CNetworkLimits limits;
    limits.dwDeadlineTick = GetTickCount() + TestShortenedLimit(kCheckLimitVariable, kCheckLimitMs);
    limits.bHasDeadline = true;
    session.SetLimits(limits);
    const std::unique_ptr<CHttpFile> file(session.OpenURL(pszUrl, 1, kOpenFlags));
    DWORD status = 0;
    if (!file->QueryInfoStatusCode(status) || status != HTTP_STATUS_OK) {
        char reason[64];
        FormatText(reason, sizeof(reason), "%s: HTTP status %lu", pszWhat, status);
        throw new CManifestRefused(reason);
    }
    std::string body;
    char block[8192];
    while (const UINT count = file->Read(block, sizeof(block))) {
        if (body.size() + count > kMaxManifestBytes)
            throw new COleException(E_OUTOFMEMORY);
        body.append(block, count);
    }
    RunLog().Write("%s: HTTP status 200, %u bytes", pszWhat, static_cast<unsigned>(body.size()));
    return body;
}

// update.xml.sig beside update.xml, with the same query: a cache on the way that would answer
// a fresh manifest with an old signature is kept out as it is for the manifest.
std::string SignatureUrlOf(const char* pszManifestUrl) {
    const std::string url = pszManifestUrl;
    const size_t query = url.find('?');
    return query == std::string::npos ? url + ".sig"
                                      : url.substr(0, query) + ".sig" + url.substr(query);
}

// Refuses the manifest unless the signature beside it is the key's signature of its bytes.
void CheckSignature(const std::vector<BYTE>& publicKey, const std::string& manifest,
                    const char* pszManifestUrl) {
    const std::string signature = FetchBytes(SignatureUrlOf(pszManifestUrl).c_str(), "signature");
    if (!VerifySignature(publicKey, manifest.data(), manifest.size(), signature.data(),
                         signature.size()))
        throw new CManifestRefused("signature: not PublicKey's signature of the manifest");
    RunLog().Write("signature: verified");
}

CInterfacePtr<IStream> StreamOf(const std::string& bytes) {
    HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes.empty() ? 1 : bytes.size());
    if (!memory)
        throw new COleException(E_OUTOFMEMORY);
    if (void* data = GlobalLock(memory)) {
        memcpy(data, bytes.data(), bytes.size());
        GlobalUnlock(memory);
    }
    CInterfacePtr<IStream> stream;
    const HRESULT hr = CreateStreamOnHGlobal(memory, TRUE, stream.Receive());
    if (FAILED(hr))
        GlobalFree(memory);
    CheckResult(hr);
    ULARGE_INTEGER size;
    size.QuadPart = bytes.size();
    CheckResult(stream->SetSize(size));
    return stream;
}

// Parsed by MSXML 3.0 from the bytes, which declare their own encoding.
CInterfacePtr<IXMLDOMDocument> ParseManifest(const std::string& bytes) {
    CLSID clsid;
    CheckResult(CLSIDFromProgID(CBstr("Msxml2.DOMDocument.3.0").Get(), &clsid));
    // The context admits out-of-process servers, so the object is started before it is used.
    CInterfacePtr<IUnknown> object;
    CheckResult(
        CoCreateInstance(clsid, nullptr, kClassContext, IID_IUnknown, object.ReceiveVoid()));
    CheckResult(OleRun(object.Get()));
    CInterfacePtr<IXMLDOMDocument> document;
    CheckResult(object.QueryInterface(IID_MsxmlDomDocument, document));
    CheckResult(document->put_async(VARIANT_FALSE));
    CInterfacePtr<IStream> stream = StreamOf(bytes);
    VARIANT source; // borrows the stream: not cleared
    VariantInit(&source);
    source.vt = VT_UNKNOWN;
    source.punkVal = stream.Get();
    VARIANT_BOOL loaded = VARIANT_FALSE;
    CheckResult(document->load(source, &loaded));
    if (loaded != VARIANT_TRUE)
        throw new COleException(E_FAIL);
    return document;
}

struct ManifestEntry {
    CString fileName;
    UINT fileSize;
    CString md5;
    CString sha256; // read only from a signed manifest
};

// The entries in document order, up to the first that cannot be read or whose name is refused
// (a signed manifest's entries also need a well-formed sha256); `complete` is false when there
// was such an entry.
std::vector<ManifestEntry> ReadEntries(IXMLDOMNodeList* pEntries, bool bSigned, bool& complete) {
    std::vector<ManifestEntry> read;
    complete = false;
    try {
        LONG count = 0;
        CheckResult(pEntries->get_length(&count));
        for (LONG i = 0; i < count; ++i) {
            CInterfacePtr<IXMLDOMNode> node;
            CheckResult(pEntries->get_item(i, node.Receive()));
            CInterfacePtr<IXMLDOMElement> entry;
            CheckResult(node.QueryInterface(IID_MsxmlDomElement, entry));
            ManifestEntry e;
            e.fileName = ReadText(entry.Get(), "filename");
            e.fileSize = ReadNumber(entry.Get(), "filesize");
            ReadText(entry.Get(), "fileversion"); // required, though not used
            e.md5 = ReadText(entry.Get(), "md5");
            // The name comes from the network: refuse it before anything on disk is looked
            // at, so that no path outside the installation folder is ever opened.
            if (!IsAcceptableFileName(e.fileName)) {
                RunLog().Write("file %s: refused, not a name the updater accepts",
                               e.fileName.GetString());
                return read;
            }
            if (bSigned) {
                e.sha256 = ReadText(entry.Get(), "sha256");
                if (!IsSha256Text(e.sha256.GetString())) {
                    RunLog().Write("file %s: refused, its sha256 is malformed",
                                   e.fileName.GetString());
                    return read;
                }
            }
            read.push_back(e);
        }
        complete = true;
    } catch (CException* e) {
        RunLog().Write("entry %u: refused, an attribute is missing or malformed",
                       static_cast<unsigned>(read.size() + 1));
        e->Delete();
    }
    return read;
}

// Returns whether any file was queued; throws on every failure. The entries before a failing
// one are queued as they would be without it.
BOOL QueueChangedFiles(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl, const char* pszPublicKey) {
    // A key that cannot be read refuses every release, before anything is fetched.
    const bool bSigned = pszPublicKey && *pszPublicKey;
    std::vector<BYTE> publicKey;
    if (bSigned && !DecodePublicKey(pszPublicKey, publicKey))
        throw new CManifestRefused("PublicKey cannot be read");
    const std::string bytes = FetchBytes(pszUrl, "manifest");
    if (bSigned)
        CheckSignature(publicKey, bytes, pszUrl);
    CInterfacePtr<IXMLDOMDocument> document = ParseManifest(bytes);
    CInterfacePtr<IXMLDOMNodeList> nodes;
    CheckResult(document->selectNodes(CBstr("/manifest/filelist/file").Get(), nodes.Receive()));
    if (!nodes)
        throw new COleException(E_POINTER);
    bool complete = false;
    const std::vector<ManifestEntry> entries = ReadEntries(nodes.Get(), bSigned, complete);

    std::vector<CString> localPaths;
    for (const ManifestEntry& entry : entries)
        localPaths.push_back(CString(pszInstallDir) + entry.fileName);
    const std::vector<LocalDigest> local = DigestLocalFiles(localPaths);

    BOOL bAdded = FALSE;
    // Every start runs the check: the files kept go into one line (cut where it gets long), so
    // that a large installation does not fill the log with them on each start.
    CString kept;
    unsigned keptCount = 0;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (local[i].exists) {
            if (!local[i].read)
                throw new COleException(E_ACCESSDENIED);
            if (local[i].digest == entries[i].md5) {
                if (kept.GetLength() < CRunLog::kMaxLineBytes)
                    kept += (keptCount ? ", " : "") + entries[i].fileName;
                ++keptCount;
                continue;
            }
        }
        RunLog().Write("file %s: to fetch, %s, %u bytes", entries[i].fileName.GetString(),
                       local[i].exists ? "differs" : "missing", entries[i].fileSize);
        dwTotalBytes += entries[i].fileSize;
        if (!engine.AddFile(entries[i].fileName, nullptr, entries[i].md5, entries[i].sha256))
            throw new COleException(E_INVALIDARG);
        bAdded = TRUE;
    }
    if (keptCount)
        RunLog().Write("files kept, up to date (%u): %s", keptCount, kept.GetString());
    if (!complete)
        throw new CManifestRefused("an entry was refused");
    return bAdded;
}

} // namespace

BOOL CheckManifestInto(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl, const char* pszPublicKey) {
    // Any failure means "nothing to update" to the client; the log keeps the cause.
    try {
        const BOOL added =
            QueueChangedFiles(pszInstallDir, dwTotalBytes, engine, pszUrl, pszPublicKey);
        if (added)
            RunLog().Write("manifest check: %u files to fetch",
                           static_cast<unsigned>(engine.Files().size()));
        else
            RunLog().Write("manifest check: up to date, nothing to fetch");
        return added;
    } catch (CInternetException* e) {
        char text[256] = "";
        e->GetErrorMessage(text, sizeof(text));
        RunLog().Write("manifest check failed: WinInet error %lu: %s", e->m_dwError, text);
        e->Delete();
    } catch (CException* e) {
        char text[256] = "";
        e->GetErrorMessage(text, sizeof(text));
        RunLog().Write("manifest check failed: %s", text);
        e->Delete();
    } catch (...) {
        RunLog().Write("manifest check failed");
    }
    return FALSE;
}
