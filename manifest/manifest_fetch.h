// The manifest's bytes as the server sent them, within the limits, and verified against the
// publisher's key when there is one.
#pragma once

#include <string>

// Fetches the manifest at pszUrl. With a public key (one line of base64; null or "": none) the
// signature beside it (the URL's file name with ".sig", same query) must be the key's signature
// of exactly these bytes; a key that cannot be read refuses the release before anything is
// fetched. Throws CManifestRefused* with the reason (a status, a signature), or the network's
// own exception. Every step goes to the run log.
std::string FetchManifestBytes(const char* pszUrl, const char* pszPublicKey);
