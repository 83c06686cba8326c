// Which file names from a manifest the updater accepts.
#pragma once

// A name is accepted when it fits the 31-character field and stays inside the folder it is
// joined to: not empty, not absolute, no drive letter or stream (':'), no leading separator,
// no component made only of dots and blanks (such as "..").
bool IsAcceptableFileName(const char* pszName);
