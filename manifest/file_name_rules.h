// Which file names from a manifest the updater accepts (mkmanifest applies the same rules).
#pragma once

// A name is accepted when it fits the 31-character field and stays inside the folder it is
// joined to: not empty, not absolute, no drive letter or stream (':'), no leading separator,
// no component that ends in a dot or a blank (Windows drops them, so "..", "a.exe." and
// "a.exe " address other files), and no component that Windows opens as a device (CON, PRN,
// AUX, NUL, COM1-COM9, LPT1-LPT9, CONIN$, CONOUT$) in any letter case and with any extension.
bool IsAcceptableFileName(const char* pszName);
