// Decimal numbers in text from outside (HTTP headers, the manifest, the state files): digits
// only, and a value that does not fit 64 bits is refused rather than wrapped.
#pragma once

// The number at p; p is left after its last digit. False when there is no digit, or too many.
bool ParseDecimal(const char*& p, unsigned long long& value);
