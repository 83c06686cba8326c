// The digests of the installed files that a manifest names, computed on every processor at
// once: a start with nothing to update is mostly reading and hashing those files. The callers
// still take their decisions one entry after another, in the manifest's order.
#pragma once

#include "framework/cstring.h"

#include <vector>

struct LocalDigest {
    bool exists = false; // something of that name is there (a file or a folder)
    bool read = false;   // it could be opened and read to its end
    CString digest;      // when read: 32 lower-case hexadecimal characters
};

// One result per path, in the same order.
std::vector<LocalDigest> DigestLocalFiles(const std::vector<CString>& paths);
