// What a signed manifest says of the release as a whole: a serial that only grows from one
// release to the next, and an optional expiry. Both are attributes of the root element
// "manifest", where updaters that do not know them never look.
#pragma once

#include "framework/cstring.h"

extern const char kSerialAttribute[];  // "serial": a decimal number
extern const char kExpiresAttribute[]; // "expires": seconds since 1970 (UTC), decimal

struct ManifestRelease {
    bool bHasSerial = false;
    unsigned long long serial = 0;
    bool bHasExpiry = false;
    unsigned long long expires = 0; // seconds since 1970, UTC
};

// Digits only, at least one, within 64 bits: no sign, blank, or other base.
bool ParseReleaseNumber(const char* pszText, unsigned long long& value);

// The system clock in seconds since 1970 (UTC).
unsigned long long SecondsSince1970();

// "2026-12-07 12:21:42 UTC".
CString UtcTimeText(unsigned long long seconds);

// An expiry at or before `now` has passed.
inline bool HasExpired(const ManifestRelease& release, unsigned long long now) {
    return release.bHasExpiry && release.expires <= now;
}
