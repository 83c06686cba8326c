#include "manifest/manifest_check.h"

#include "framework/com_error.h"
#include "framework/internet.h"
#include "framework/run_log.h"
#include "manifest/installed_digests.h"
#include "manifest/manifest_document.h"
#include "manifest/manifest_fetch.h"
#include "manifest/manifest_refused.h"
#include "manifest/remembered_serial.h"

namespace {

// Every start runs the check: the files kept go into one line (cut where it gets long), so that
// a large installation does not fill the log with them on each start.
class CKeptFiles {
public:
    void Add(const CString& name) {
        if (m_names.GetLength() < CRunLog::kMaxLineBytes)
            m_names += (m_count ? ", " : "") + name;
        ++m_count;
    }
    void Log() const {
        if (m_count)
            RunLog().Write("files kept, up to date (%u): %s", m_count, m_names.GetString());
    }

private:
    CString m_names;
    unsigned m_count = 0;
};

// The digests as the manifest writes them; a SHA-256 that the cache knows must match too.
bool IsUpToDate(const DigestRecord& local, const ManifestEntry& entry) {
    return entry.md5 == local.md5 &&
           (!local.sha256[0] || entry.sha256.IsEmpty() || entry.sha256 == local.sha256);
}

// The files to fetch; throws on every failure.
std::vector<CUpdateFile> FilesToFetch(const ManifestCheckRequest& request, size_t& site) {
    const std::string bytes = FetchManifestBytes(request.urls, request.publicKey, site);
    const bool bSigned = !request.publicKey.IsEmpty();
    bool complete = false;
    ManifestRelease release;
    const std::vector<ManifestEntry> entries =
        ReadManifestEntries(bytes, bSigned, complete, release);
    if (bSigned)
        AcceptSignedRelease(request.tempDir, release);
    if (!complete)
        throw new CManifestRefused("an entry was refused");

    std::vector<CString> names;
    for (const ManifestEntry& entry : entries)
        names.push_back(entry.fileName);
    const std::vector<LocalDigest> local =
        DigestInstalledFiles(request.installDir, request.tempDir, names);

    std::vector<CUpdateFile> files;
    CKeptFiles kept;
    for (size_t i = 0; i < entries.size(); ++i) {
        const ManifestEntry& entry = entries[i];
        if (local[i].exists && !local[i].read)
            throw new COleException(E_ACCESSDENIED);
        if (local[i].exists && IsUpToDate(local[i].record, entry)) {
            kept.Add(entry.fileName);
            continue;
        }
        RunLog().Write("file %s: to fetch, %s, %u bytes", entry.fileName.GetString(),
                       local[i].exists ? "differs" : "missing", entry.fileSize);
        files.emplace_back();
        if (!MakeUpdateFile(entry.fileName, nullptr, entry.md5, entry.sha256, entry.fileSize,
                            files.back()))
            throw new COleException(E_INVALIDARG);
        // An index that cannot be used only means the whole file is fetched.
        if (!entry.indexName.IsEmpty() &&
            !SetBlockIndex(files.back(), entry.indexName, entry.indexDigest, bSigned))
            RunLog().Write("file %s: its block index is not usable", entry.fileName.GetString());
    }
    kept.Log();
    return files;
}

} // namespace

ManifestCheckResult CheckManifest(const ManifestCheckRequest& request) {
    // Any failure means "nothing to update" to the client; the log keeps the cause.
    ManifestCheckResult result;
    try {
        result.files = FilesToFetch(request, result.site);
        if (result.files.empty())
            RunLog().Write("manifest check: up to date, nothing to fetch");
        else
            RunLog().Write("manifest check: %u files to fetch",
                           static_cast<unsigned>(result.files.size()));
        return result;
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
    return ManifestCheckResult();
}

DWORD TotalSize(const std::vector<CUpdateFile>& files) {
    DWORD total = 0;
    for (const CUpdateFile& file : files)
        total += file.dwSize;
    return total;
}
