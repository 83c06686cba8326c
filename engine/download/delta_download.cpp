#include "engine/download/delta_download.h"

#include "digest/bytes_digest.h"
#include "engine/download/block_matcher.h"
#include "framework/http_fetch.h"
#include "framework/run_log.h"
#include "framework/scoped_handle.h"

#include <algorithm>
#include <string.h>

namespace {

// Known blocks between two changed ones are fetched along when there are at most this many:
// a request costs more than a few kilobytes.
const size_t kMergeGapBlocks = 4;
const DWORD kCopySize = 65536;

// The index's bytes, when the manifest's digest of them matches; "" otherwise.
std::string FetchIndex(CInternetSession& session, const CString& url, const CUpdateFile& file) {
    CHttpFetch fetch(session, url, kDownloadOpenFlags);
    if (fetch.Status() != HTTP_STATUS_OK)
        return std::string();
    // 12 bytes a block of at least 512 bytes, and the header.
    CHttpBodyText body(16 + 12 * (file.dwSize / 512 + 1));
    fetch.ReadBody(body);
    const bool bSha256 = strlen(file.szIndexDigest) != UPDATE_DIGEST_SIZE - 1;
    const std::string digest = DigestOfBytes(body.Text().data(), body.Text().size(), bSha256);
    return !digest.empty() && digest == file.szIndexDigest ? body.Text() : std::string();
}

// Which blocks to fetch: those the installed copy lacks, and the few known ones between two of
// them.
std::vector<bool> BlocksToFetch(const std::vector<DWORD>& found) {
    std::vector<bool> fetch(found.size());
    for (size_t i = 0; i < found.size(); ++i)
        fetch[i] = found[i] == kBlockNotFound;
    for (size_t i = 1; i < fetch.size(); ++i) {
        if (fetch[i] || !fetch[i - 1])
            continue;
        size_t end = i;
        while (end < fetch.size() && !fetch[end] && end - i <= kMergeGapBlocks)
            ++end;
        if (end < fetch.size() && fetch[end] && end - i <= kMergeGapBlocks)
            std::fill(fetch.begin() + i, fetch.begin() + end, true);
    }
    return fetch;
}

// Writes the new file in block order, copying what the installed copy has and fetching the
// rest by ranges; counts what crossed the network.
class CDeltaBuild : public IHttpBodySink {
public:
    CDeltaBuild(CInternetSession& session, const CString& strFileUrl, HANDLE hOld,
                const CBlockIndex& index, const CUpdateFile& file, CPartialDownload& partial,
                IDownloadSink& sink, const std::atomic<BOOL>& bCancel)
        : m_session(session), m_strFileUrl(strFileUrl), m_hOld(hOld), m_index(index), m_file(file),
          m_partial(partial), m_sink(sink), m_bCancel(bCancel) {}

    DeltaResult Run(const std::vector<DWORD>& found);
    unsigned long long Fetched() const { return m_nFetched; }

    BYTE* PieceBuffer() override { return m_partial.Room(); }
    bool OnPiece(UINT nCount) override {
        m_partial.Append(nCount);
        m_nFetched += nCount;
        m_sink.OnFileProgress(m_file, static_cast<DWORD>(m_partial.Length()));
        return !m_bCancel;
    }

private:
    bool Copy(DWORD dwOffset, DWORD dwCount);
    DeltaResult Fetch(DWORD dwFirst, DWORD dwCount);

    CInternetSession& m_session;
    const CString& m_strFileUrl;
    const HANDLE m_hOld;
    const CBlockIndex& m_index;
    const CUpdateFile& m_file;
    CPartialDownload& m_partial;
    IDownloadSink& m_sink;
    const std::atomic<BOOL>& m_bCancel;
    unsigned long long m_nFetched = 0;
};

DeltaResult CDeltaBuild::Run(const std::vector<DWORD>& found) {
    const std::vector<bool> fetch = BlocksToFetch(found);
    const DWORD blockSize = m_index.BlockSize();
    for (size_t i = 0; i < found.size();) {
        size_t end = i + 1; // a run to fetch, or of blocks that follow each other in the old copy
        while (end < found.size() && fetch[end] == fetch[i] &&
               (fetch[i] || found[end] == found[end - 1] + blockSize))
            ++end;
        const DWORD first = static_cast<DWORD>(i * blockSize);
        const DWORD count =
            static_cast<DWORD>((end - 1) * blockSize) + m_index.BlockLength(end - 1) - first;
        if (fetch[i]) {
            const DeltaResult result = Fetch(first, count);
            if (result != DeltaResult::Built)
                return result;
        } else if (!Copy(found[i], count)) {
            return m_bCancel ? DeltaResult::Cancelled : DeltaResult::Whole;
        }
        i = end;
    }
    return DeltaResult::Built;
}

bool CDeltaBuild::Copy(DWORD dwOffset, DWORD dwCount) {
    LARGE_INTEGER at;
    at.QuadPart = dwOffset;
    if (!SetFilePointerEx(m_hOld, at, nullptr, FILE_BEGIN))
        return false;
    while (dwCount > 0 && !m_bCancel) {
        const DWORD piece = dwCount < kCopySize ? dwCount : kCopySize;
        DWORD read = 0;
        if (!ReadFile(m_hOld, m_partial.Room(piece), piece, &read, nullptr) || read != piece)
            return false;
        m_partial.Append(piece);
        m_sink.OnFileProgress(m_file, static_cast<DWORD>(m_partial.Length()));
        dwCount -= piece;
    }
    return dwCount == 0;
}

// One range, on the session's kept-alive connection; a server that does not answer it with
// exactly that range has no ranges to offer.
DeltaResult CDeltaBuild::Fetch(DWORD dwFirst, DWORD dwCount) {
    CString header;
    header.Format("Range: bytes=%lu-%lu\r\n", static_cast<unsigned long>(dwFirst),
                  static_cast<unsigned long>(dwFirst + dwCount - 1));
    CHttpFetch fetch(m_session, m_strFileUrl, kDownloadOpenFlags, header);
    unsigned long long first = 0, total = 0, length = 0;
    if (fetch.Status() != HTTP_STATUS_PARTIAL_CONTENT || !fetch.ContentRange(first, total) ||
        first != dwFirst || total != m_index.FileSize() || !fetch.Length(length) ||
        length != dwCount) {
        RunLog().Write("download %s: the server does not serve ranges (HTTP status %lu)",
                       m_file.szRemoteName, fetch.Status());
        return DeltaResult::Whole;
    }
    if (!fetch.ReadBody(*this))
        return DeltaResult::Cancelled;
    return DeltaResult::Built;
}

} // namespace

DeltaResult BuildFromInstalledCopy(CInternetSession& session, const CString& strFileUrl,
                                   const CString& strIndexUrl, const CString& strOldPath,
                                   const CUpdateFile& file, CPartialDownload& partial,
                                   IDownloadSink& sink, const std::atomic<BOOL>& bCancel) {
    CBlockIndex index;
    const std::string bytes = FetchIndex(session, strIndexUrl, file);
    if (!index.Parse(bytes) || index.FileSize() != file.dwSize) {
        RunLog().Write("download %s: its block index does not verify", file.szRemoteName);
        return DeltaResult::Whole;
    }
    const std::vector<DWORD> found = FindKnownBlocks(index, strOldPath, bCancel);
    size_t known = 0;
    for (DWORD offset : found)
        known += offset != kBlockNotFound ? 1 : 0;
    if (known == 0) {
        if (bCancel)
            return DeltaResult::Cancelled;
        RunLog().Write("download %s: nothing of it in the installed copy", file.szRemoteName);
        return DeltaResult::Whole;
    }
    CKernelHandle old(CreateFileA(strOldPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                  FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!old.IsValid() || !partial.Open())
        return DeltaResult::Whole;
    sink.OnFileAccepted(file, file.dwSize);
    CDeltaBuild build(session, strFileUrl, old.Get(), index, file, partial, sink, bCancel);
    const DeltaResult result = build.Run(found);
    if (result == DeltaResult::Built)
        RunLog().Write("download %s: rebuilt from the installed copy, %lu of %lu bytes fetched "
                       "and an index of %u bytes",
                       file.szRemoteName, static_cast<unsigned long>(build.Fetched()),
                       static_cast<unsigned long>(file.dwSize),
                       static_cast<unsigned>(bytes.size()));
    return result;
}
