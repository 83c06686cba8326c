// The newest release an installation has verified, so that a mirror or an attacker cannot take
// it back to an older, validly signed one (rollback) or hold it on one forever (freeze). It is
// kept per installation, in release.serial in the installation's temporary folder.
#pragma once

#include "framework/cstring.h"
#include "manifest/manifest_release.h"

// For a signed manifest, once verified. Refuses, throwing CManifestRefused* with the reason, a
// release past its expiry, one whose serial is lower than the one remembered, and one without a
// serial once a serial is remembered; an equal serial is accepted. An accepted higher serial is
// remembered, written in one step (a stop at any moment leaves the old or the new one whole); a
// serial that cannot be written is logged and does not refuse the release.
void AcceptSignedRelease(const CString& tempDir, const ManifestRelease& release);
