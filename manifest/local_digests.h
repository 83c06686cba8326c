// The digests of the installed files that a manifest names, computed on every processor at
// once: a start with nothing to update is mostly reading and hashing those files, unless the
// digest cache vouches for a file's stamp. The callers still take their decisions one entry
// after another, in the manifest's order.
#pragma once

#include "manifest/digest_cache.h"

#include <vector>

struct LocalDigest {
    bool exists = false;      // something of that name is there (a file or a folder)
    bool read = false;        // it could be opened and its digest is known
    bool cached = false;      // the digest came from the cache: the file was not read
    bool stamped = false;     // the record holds the file's name and stamp: the cache may keep it
    DigestRecord record = {}; // when read: the digest (md5, and sha256 when the cache knew it)
};

// The files `names` of installDir (which ends with a backslash), one result per name in the
// same order. A file whose record in the cache (when given) IsTrusted for its stamp, read
// without opening the file, is not read; any other is hashed, on every processor.
std::vector<LocalDigest> DigestLocalFiles(const CString& installDir,
                                          const std::vector<CString>& names,
                                          const CDigestCache* cache);
