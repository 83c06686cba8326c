// Which file names from a manifest the updater accepts (mkmanifest applies the same rules).
#pragma once

// A name is accepted when it fits the 31-character field and stays inside the folder it is
// joined to. Backslash separates its folders ("data\maps\x.pak"); it may not be empty,
// absolute, or hold a drive letter or stream (':'), a forward slash, a wildcard or another
// character Windows keeps out of names; no component may be empty (a leading, trailing or
// doubled separator), end in a dot or a blank (Windows drops them, so "..", "a.exe." and
// "a.exe " address other files), or be a name that Windows opens as a device (CON, PRN, AUX,
// NUL, COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$) in any letter case and with any extension.
bool IsAcceptableFileName(const char* pszName);
