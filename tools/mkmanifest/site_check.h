// mkmanifest --verify: a published release checked the way the updater fetches it, so that a
// publisher finds a missing, stale or cut-short file, a bad signature or an expired manifest
// before the users do.
#pragma once

#include <string>

// Fetches the manifest of the site (written as the INI's site1) and, with a public key (""
// for an unsigned release), its signature, as the updater does, then every file it lists, and
// checks each file's size and digests. Prints one line per problem on stdout and, on a long
// run, a progress line on stderr. The number of problems: 0 when the site is sound. COM must
// be initialised on the calling thread.
unsigned VerifyPublishedSite(const std::string& site, const std::string& publicKey);
