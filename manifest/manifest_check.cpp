#include "manifest/manifest_check.h"

#include "digest/file_digest.h"
#include "engine/file_name_rules.h"
#include "engine/update_engine.h"
#include "framework/com_error.h"
#include "framework/com_ptr.h"
#include "framework/com_variant.h"
#include "framework/internet.h"
#include "manifest/local_digests.h"
#include "manifest/msxml_guids.h"

#include <msxml2.h>

#include <memory>
#include <string>
#include <string.h>
#include <vector>

namespace {

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
// Test-only: shorter limits, so that tests need not wait the shipped ones.
const char kIdleLimitVariable[] = "UPDATER_TEST_ONLY_IDLE_LIMIT_MS";
const char kCheckLimitVariable[] = "UPDATER_TEST_ONLY_CHECK_LIMIT_MS";
const size_t kMaxManifestBytes = 16 * 1024 * 1024;
const DWORD kOpenFlags =
    INTERNET_FLAG_NO_CACHE_WRITE | INTERNET_FLAG_RELOAD | INTERNET_FLAG_IGNORE_REDIRECT_TO_HTTPS;

// The manifest's bytes, fetched within the limits (the XML request object has none of its own).
std::string FetchBytes(const char* pszUrl) {
    CInternetSession session;
    CNetworkLimits limits;
    limits.dwIdleMs = TestShortenedLimit(kIdleLimitVariable, kNetworkIdleLimitMs);
    limits.dwDeadlineTick = GetTickCount() + TestShortenedLimit(kCheckLimitVariable, kCheckLimitMs);
    limits.bHasDeadline = true;
    session.SetLimits(limits);
    const std::unique_ptr<CHttpFile> file(session.OpenURL(pszUrl, 1, kOpenFlags));
    DWORD status = 0;
    if (!file->QueryInfoStatusCode(status) || status != HTTP_STATUS_OK)
        throw new COleException(E_FAIL);
    std::string body;
    char block[8192];
    while (const UINT count = file->Read(block, sizeof(block))) {
        if (body.size() + count > kMaxManifestBytes)
            throw new COleException(E_OUTOFMEMORY);
        body.append(block, count);
    }
    return body;
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
CInterfacePtr<IXMLDOMDocument> FetchManifest(const char* pszUrl) {
    const std::string bytes = FetchBytes(pszUrl);
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
};

// The entries in document order, up to the first that cannot be read or whose name is refused;
// `complete` is false when there was such an entry.
std::vector<ManifestEntry> ReadEntries(IXMLDOMNodeList* pEntries, bool& complete) {
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
            if (!IsAcceptableFileName(e.fileName))
                return read;
            read.push_back(e);
        }
        complete = true;
    } catch (CException* e) {
        e->Delete();
    }
    return read;
}

// Returns whether any file was queued; throws on every failure. The entries before a failing
// one are queued as they would be without it.
BOOL QueueChangedFiles(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl) {
    CInterfacePtr<IXMLDOMDocument> document = FetchManifest(pszUrl);
    CInterfacePtr<IXMLDOMNodeList> nodes;
    CheckResult(document->selectNodes(CBstr("/manifest/filelist/file").Get(), nodes.Receive()));
    if (!nodes)
        throw new COleException(E_POINTER);
    bool complete = false;
    const std::vector<ManifestEntry> entries = ReadEntries(nodes.Get(), complete);

    std::vector<CString> localPaths;
    for (const ManifestEntry& entry : entries)
        localPaths.push_back(CString(pszInstallDir) + entry.fileName);
    const std::vector<LocalDigest> local = DigestLocalFiles(localPaths);

    BOOL bAdded = FALSE;
    for (size_t i = 0; i < entries.size(); ++i) {
        if (local[i].exists) {
            if (!local[i].read)
                throw new COleException(E_ACCESSDENIED);
            if (local[i].digest == entries[i].md5)
                continue;
        }
        dwTotalBytes += entries[i].fileSize;
        if (!engine.AddFile(entries[i].fileName, nullptr, entries[i].md5))
            throw new COleException(E_INVALIDARG);
        bAdded = TRUE;
    }
    if (!complete)
        throw new COleException(E_INVALIDARG);
    return bAdded;
}

} // namespace

BOOL CheckManifestInto(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl) {
    // Any failure means "nothing to update", silently.
    try {
        return QueueChangedFiles(pszInstallDir, dwTotalBytes, engine, pszUrl);
    } catch (CException* e) {
        e->Delete();
    } catch (...) {
    }
    return FALSE;
}
