// The manifest's bytes as the server sent them, within the limits, and verified against the
// publisher's key when there is one.
#pragma once

#include "framework/cstring.h"

#include <string>
#include <vector>

// Fetches the manifest from the first of the URLs (one per site) whose site can be reached and
// does not fail itself (a status of 500 or more); `site` receives its index. With a public key
// (one line of base64; null or "": none) the signature beside it at the same site (the URL's
// file name with ".sig", same query) must be the key's signature of exactly these bytes; a key
// that cannot be read refuses the release before anything is fetched. Throws CManifestRefused*
// with the reason (a status, a signature), or the last site's network exception. Every step
// goes to the run log.
std::string FetchManifestBytes(const std::vector<CString>& urls, const char* pszPublicKey,
                               size_t& site);
