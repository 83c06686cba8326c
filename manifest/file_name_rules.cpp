#include "manifest/file_name_rules.h"

#include "manifest/update_file.h"

#include <string.h>

namespace {

// Names Windows opens as devices, whatever extension follows them.
const char* const kDeviceNames[] = {"CON",  "PRN",  "AUX",  "NUL",  "COM1",   "COM2",
                                    "COM3", "COM4", "COM5", "COM6", "COM7",   "COM8",
                                    "COM9", "LPT1", "LPT2", "LPT3", "LPT4",   "LPT5",
                                    "LPT6", "LPT7", "LPT8", "LPT9", "CONIN$", "CONOUT$"};

// The component (not terminated) up to its first dot, with the blanks Windows ignores before
// that dot, compared case-insensitively with every device name.
bool IsDeviceName(const char* pszPart, size_t nLength) {
    size_t base = strcspn(pszPart, ".");
    if (base > nLength)
        base = nLength;
    while (base > 0 && pszPart[base - 1] == ' ')
        --base;
    for (const char* device : kDeviceNames)
        if (strlen(device) == base && _strnicmp(pszPart, device, base) == 0)
            return true;
    return false;
}

} // namespace

bool IsAcceptableFileName(const char* pszName) {
    if (!pszName || !*pszName)
        return false;
    const size_t length = strlen(pszName);
    if (length >= UPDATE_NAME_SIZE)
        return false;
    // Backslash alone separates folders; a forward slash, a stream's colon, the wildcards and
    // the other characters Windows keeps out of names are refused wherever they stand.
    for (const char* p = pszName; *p; ++p)
        if (static_cast<unsigned char>(*p) < 0x20 || strchr("/:*?\"<>|", *p))
            return false;
    // Walk the components between separators: none is empty (no leading, trailing or doubled
    // separator). Windows drops trailing dots and blanks from a component, so such a name
    // addresses another file (or, made of nothing else, climbs out).
    const char* part = pszName;
    while (true) {
        const size_t partLength = strcspn(part, "\\");
        if (partLength == 0 || part[partLength - 1] == '.' || part[partLength - 1] == ' ')
            return false;
        if (IsDeviceName(part, partLength))
            return false;
        if (part[partLength] == '\0')
            break;
        part += partLength + 1;
    }
    return true;
}
