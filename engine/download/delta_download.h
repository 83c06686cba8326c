// A changed file rebuilt in the temporary folder from the blocks its installed copy already
// has and ranges fetched for the rest, by the file's block index: only what changed crosses
// the network. Whenever anything is in doubt (no index, one that does not verify or parse, an
// installed copy with nothing to reuse, a server without ranges) the whole download is left to
// do; the caller checks the result by its digests, as any download.
#pragma once

#include "engine/download/downloader.h"
#include "engine/download/partial_download.h"

enum class DeltaResult { Built, Cancelled, Whole };

// Builds the file into `partial` (empty) from its installed copy at strOldPath, with the index
// at strIndexUrl and the file's ranges at strFileUrl. Throws what the network or the disk throw.
DeltaResult BuildFromInstalledCopy(CInternetSession& session, const CString& strFileUrl,
                                   const CString& strIndexUrl, const CString& strOldPath,
                                   const CUpdateFile& file, CPartialDownload& partial,
                                   IDownloadSink& sink, const std::atomic<BOOL>& bCancel);
