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
    // Walk the components between separators. Windows drops trailing dots and blanks from a
    // component, so one made of nothing else (".", "..", ".. ", "...") may climb out.
    const char* part = pszName;
    while (true) {
        const size_t partLength = strcspn(part, "\\/");
        if (partLength > 0 && strspn(part, ". ") >= partLength)
            return false;
        if (part[partLength] == '\0')
            break;
        part += partLength + 1;
    }
    return true;
}
