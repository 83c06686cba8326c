// Where a site keeps its release: the INI's site1 as written, with "/update/" added.
#pragma once

#include "framework/cstring.h"

// "http://host/down" gives "http://host/down/update/". A site that names no scheme (http:// or
// https://, in any letter case) is taken as http.
CString UpdateBaseUrl(const CString& site);
