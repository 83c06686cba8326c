// The settings of a run, read from the INI file beside the program (through the application's
// profile, which is only ever read), and the run log's first line about them.
#pragma once

#include "framework/cstring.h"

#include <vector>

struct UpdateSettings {
    CString installDir;            // the program's folder, with a trailing backslash
    std::vector<CString> sites;    // site1 (or the default), then site2, site3... as configured
    std::vector<CString> baseUrls; // each site with its scheme and "/update/"
    CString tempDir;               // the installation folder followed directly by TempDir
    CString publicKey;             // "": releases are not signed
};

UpdateSettings ReadUpdateSettings();
// "start: Updater VERSION, settings INI: site1=..., [site2=..., ]TempDir=..., PublicKey set|not
// set".
void LogStart(const UpdateSettings& settings);
// The one message a failed run shows: [messages] ErrorMsg, or the default text.
CString FailureMessage();
