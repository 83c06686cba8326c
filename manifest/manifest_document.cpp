#include "manifest/manifest_document.h"

#include "digest/file_sha256.h"
#include "framework/com_error.h"
#include "framework/com_ptr.h"
#include "framework/com_variant.h"
#include "framework/run_log.h"
#include "manifest/file_name_rules.h"
#include "manifest/manifest_refused.h"
#include "manifest/msxml_guids.h"

#include <msxml2.h>

#include <string.h>

namespace {

// In-process server and handler, local and remote server.
const DWORD kClassContext =
    CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER | CLSCTX_REMOTE_SERVER;

// A missing attribute arrives as VT_NULL, whose conversion fails: that fails the check.
CString ReadText(IXMLDOMElement* pEntry, BSTR name) {
    CVariant value;
    CheckResult(pEntry->getAttribute(name, value.Receive()));
    CVariant text;
    CheckResult(VariantChangeType(text.Ptr(), value.Ptr(), 0, VT_BSTR));
    return CStringFromVariant(text.Get());
}

// An attribute that older manifests lack: "" when it is absent.
CString ReadOptionalText(IXMLDOMElement* pEntry, BSTR name) {
    CVariant value;
    CheckResult(pEntry->getAttribute(name, value.Receive()));
    return value.Get().vt == VT_BSTR ? CStringFromVariant(value.Get()) : CString();
}

UINT ReadNumber(IXMLDOMElement* pEntry, BSTR name) {
    CVariant value;
    CheckResult(pEntry->getAttribute(name, value.Receive()));
    CVariant number;
    CheckResult(VariantChangeType(number.Ptr(), value.Ptr(), 0, VT_UINT));
    return number.Get().uintVal;
}

// The names of an entry's attributes, made once for the thousands of entries of a large list.
struct EntryAttributeNames {
    explicit EntryAttributeNames(bool bSigned)
        : indexDigest(bSigned ? "blockssha256" : "blocksmd5") {}
    const CBstr fileName{"filename"}, fileSize{"filesize"}, fileVersion{"fileversion"}, md5{"md5"},
        sha256{"sha256"}, index{"blocks"}, indexDigest;
};

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

std::vector<ManifestEntry> ReadEntries(IXMLDOMNodeList* pEntries, bool bSigned, bool& complete) {
    std::vector<ManifestEntry> read;
    complete = false;
    try {
        const EntryAttributeNames names(bSigned);
        LONG count = 0;
        CheckResult(pEntries->get_length(&count));
        for (LONG i = 0; i < count; ++i) {
            CInterfacePtr<IXMLDOMNode> node;
            CheckResult(pEntries->get_item(i, node.Receive()));
            CInterfacePtr<IXMLDOMElement> entry;
            CheckResult(node.QueryInterface(IID_MsxmlDomElement, entry));
            ManifestEntry e;
            e.fileName = ReadText(entry.Get(), names.fileName.Get());
            e.fileSize = ReadNumber(entry.Get(), names.fileSize.Get());
            ReadText(entry.Get(), names.fileVersion.Get()); // required, though not used
            e.md5 = ReadText(entry.Get(), names.md5.Get());
            // The name comes from the network: refuse it before anything on disk is looked
            // at, so that no path outside the installation folder is ever opened.
            if (!IsAcceptableFileName(e.fileName)) {
                RunLog().Write("file %s: refused, not a name the updater accepts",
                               e.fileName.GetString());
                return read;
            }
            if (bSigned) {
                e.sha256 = ReadText(entry.Get(), names.sha256.Get());
                if (!IsSha256Text(e.sha256.GetString())) {
                    RunLog().Write("file %s: refused, its sha256 is malformed",
                                   e.fileName.GetString());
                    return read;
                }
            }
            // The block index beside the file, which older updaters ignore; a signed manifest
            // covers it with its SHA-256.
            e.indexName = ReadOptionalText(entry.Get(), names.index.Get());
            e.indexDigest = ReadOptionalText(entry.Get(), names.indexDigest.Get());
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

// An attribute of the root element that is absent leaves its flag clear; one that is not a
// number refuses the manifest, which its publisher signed as it is.
void ReadReleaseNumber(IXMLDOMElement* pRoot, const char* pszName, bool& bPresent,
                       unsigned long long& value) {
    CVariant attribute;
    CheckResult(pRoot->getAttribute(CBstr(pszName).Get(), attribute.Receive()));
    bPresent = attribute.Get().vt != VT_NULL;
    if (bPresent && (attribute.Get().vt != VT_BSTR ||
                     !ParseReleaseNumber(CStringFromVariant(attribute.Get()), value))) {
        char reason[64];
        FormatText(reason, sizeof(reason), "the manifest's %s is malformed", pszName);
        throw new CManifestRefused(reason);
    }
}

ManifestRelease ReadRelease(IXMLDOMDocument* pDocument) {
    ManifestRelease release;
    CInterfacePtr<IXMLDOMElement> root;
    CheckResult(pDocument->get_documentElement(root.Receive()));
    if (root) {
        ReadReleaseNumber(root.Get(), kSerialAttribute, release.bHasSerial, release.serial);
        ReadReleaseNumber(root.Get(), kExpiresAttribute, release.bHasExpiry, release.expires);
    }
    return release;
}

} // namespace

std::vector<ManifestEntry> ReadManifestEntries(const std::string& bytes, bool bSigned,
                                               bool& complete, ManifestRelease& release) {
    CInterfacePtr<IXMLDOMDocument> document = ParseManifest(bytes);
    release = bSigned ? ReadRelease(document.Get()) : ManifestRelease();
    CInterfacePtr<IXMLDOMNodeList> nodes;
    CheckResult(document->selectNodes(CBstr("/manifest/filelist/file").Get(), nodes.Receive()));
    if (!nodes)
        throw new COleException(E_POINTER);
    return ReadEntries(nodes.Get(), bSigned, complete);
}
