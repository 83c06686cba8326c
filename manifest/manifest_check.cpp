#include "manifest/manifest_check.h"

#include "digest/file_digest.h"
#include "engine/file_name_rules.h"
#include "engine/update_engine.h"
#include "framework/com_error.h"
#include "framework/com_ptr.h"
#include "framework/com_variant.h"
#include "manifest/msxml_guids.h"

#include <msxml2.h>
#include <shlwapi.h>

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

CInterfacePtr<IXMLHTTPRequest> CreateRequest() {
    CLSID clsid;
    CheckResult(CLSIDFromProgID(CBstr("Msxml2.XMLHTTP.3.0").Get(), &clsid));
    // The context admits out-of-process servers, so the object is started before it is used.
    CInterfacePtr<IUnknown> object;
    CheckResult(
        CoCreateInstance(clsid, nullptr, kClassContext, IID_IUnknown, object.ReceiveVoid()));
    CheckResult(OleRun(object.Get()));
    CInterfacePtr<IXMLHTTPRequest> request;
    CheckResult(object.QueryInterface(IID_MsxmlHttpRequest, request));
    return request;
}

CInterfacePtr<IXMLDOMDocument> FetchManifest(const char* pszUrl) {
    CInterfacePtr<IXMLHTTPRequest> request = CreateRequest();
    CVariant synchronous;
    synchronous.SetBool(false);
    CVariant missing;
    missing.SetMissing();
    CheckResult(request->open(CBstr("GET").Get(), CBstr(pszUrl).Get(), synchronous.Get(),
                              missing.Get(), missing.Get()));
    CheckResult(request->send(missing.Get()));
    LONG status = 0;
    CheckResult(request->get_status(&status));
    if (status != 200)
        throw new COleException(E_FAIL);

    CInterfacePtr<IDispatch> response;
    CheckResult(request->get_responseXML(response.Receive()));
    CInterfacePtr<IXMLDOMDocument> document;
    CheckResult(response.QueryInterface(IID_MsxmlDomDocument, document));
    return document;
}

// Returns whether any file was queued; throws on every failure.
BOOL QueueChangedFiles(const char* pszInstallDir, DWORD& dwTotalBytes, CUpdateEngine& engine,
                       const char* pszUrl) {
    BOOL bAdded = FALSE;
    CInterfacePtr<IXMLDOMDocument> document = FetchManifest(pszUrl);
    CInterfacePtr<IXMLDOMNodeList> entries;
    CheckResult(document->selectNodes(CBstr("/manifest/filelist/file").Get(), entries.Receive()));
    if (!entries)
        throw new COleException(E_POINTER);
    LONG count = 0;
    CheckResult(entries->get_length(&count));

    for (LONG i = 0; i < count; ++i) {
        CInterfacePtr<IXMLDOMNode> node;
        CheckResult(entries->get_item(i, node.Receive()));
        CInterfacePtr<IXMLDOMElement> entry;
        CheckResult(node.QueryInterface(IID_MsxmlDomElement, entry));

        const CString fileName = ReadText(entry.Get(), "filename");
        const UINT fileSize = ReadNumber(entry.Get(), "filesize");
        ReadText(entry.Get(), "fileversion"); // required, though not used
        const CString md5 = ReadText(entry.Get(), "md5");

        // The name comes from the network: refuse it before anything on disk is looked at, so
        // that no path outside the installation folder is ever opened.
        if (!IsAcceptableFileName(fileName))
            throw new COleException(E_INVALIDARG);
        const CString localPath = CString(pszInstallDir) + fileName;
        if (PathFileExistsA(localPath) && CFileDigest::DigestFile(localPath) == md5)
            continue;

        dwTotalBytes += fileSize;
        if (!engine.AddFile(fileName, nullptr))
            throw new COleException(E_INVALIDARG);
        bAdded = TRUE;
    }
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
