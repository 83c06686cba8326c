#include "engine/file_name_rules.h"

#include "engine/update_file.h"

#include <string.h>

bool IsAcceptableFileName(const char* pszName) {
    if (!pszName || !*pszName)
        return false;
    const size_t length = strlen(pszName);
    if (length >= UPDATE_NAME_SIZE)
        return false;
    if (pszName[0] == '\\' || pszName[0] == '/')
        return false;
    if (strchr(pszName, ':'))
        return false;
    // Walk the components between separators; ".." anywhere climbs out of the folder.
    const char* part = pszName;
    while (true) {
        const char* end = part + strcspn(part, "\\/");
        const size_t partLength = static_cast<size_t>(end - part);
        if (partLength == 2 && part[0] == '.' && part[1] == '.')
            return false;
        if (*end == '\0')
            break;
        part = end + 1;
    }
    return true;
}
