#include "manifest/manifest_release.h"

#include "framework/decimal_number.h"
#include "framework/format.h"

#include <windows.h>

const char kSerialAttribute[] = "serial";
const char kExpiresAttribute[] = "expires";

namespace {

// FILETIME counts 100 ns from 1601.
const unsigned long long kTicksPerSecond = 10000000ull;
const unsigned long long kTicksTo1970 = 116444736000000000ull;

} // namespace

bool ParseReleaseNumber(const char* pszText, unsigned long long& value) {
    unsigned long long number = 0;
    const char* p = pszText;
    if (!p || !ParseDecimal(p, number) || *p)
        return false;
    value = number;
    return true;
}

unsigned long long SecondsSince1970() {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const unsigned long long ticks =
        (static_cast<unsigned long long>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    return ticks < kTicksTo1970 ? 0 : (ticks - kTicksTo1970) / kTicksPerSecond;
}

CString UtcTimeText(unsigned long long seconds) {
    const unsigned long long ticks = seconds * kTicksPerSecond + kTicksTo1970;
    FILETIME time = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
    SYSTEMTIME utc;
    char text[40];
    if (seconds > 0x3FFFFFFFFull || !FileTimeToSystemTime(&time, &utc))
        FormatText(text, sizeof(text), "%I64u s after 1970 (UTC)", seconds);
    else
        FormatText(text, sizeof(text), "%04u-%02u-%02u %02u:%02u:%02u UTC", utc.wYear, utc.wMonth,
                   utc.wDay, utc.wHour, utc.wMinute, utc.wSecond);
    return CString(text);
}
