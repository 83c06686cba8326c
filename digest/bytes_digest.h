// The digest of bytes in memory, in the manifest's text form: the block indexes and the digest
// cache are checked by these.
#pragma once

#include <stddef.h>

#include <string>

// 32 lower-case hexadecimal digits of the MD5, or with bSha256 64 of the SHA-256 ("" when the
// platform cannot compute it).
std::string DigestOfBytes(const void* pData, size_t nSize, bool bSha256);
// True when text is exactly nDigits lower-case hexadecimal digits: a digest in that form.
bool IsDigestText(const std::string& text, size_t nDigits);
