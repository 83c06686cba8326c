#include "manifest/site_url.h"

#include <string.h>

namespace {

bool StartsWithNoCase(const CString& text, const char* prefix) {
    const int length = static_cast<int>(strlen(prefix));
    return text.GetLength() >= length && text.Left(length).CompareNoCase(prefix) == 0;
}

} // namespace

CString UpdateBaseUrl(const CString& site) {
    const bool bHasScheme = StartsWithNoCase(site, "http://") || StartsWithNoCase(site, "https://");
    return (bHasScheme ? site : "http://" + site) + "/update/";
}
