// Builds the update manifest of a release folder: one entry per file below it, digested with
// the updater's own code and written in the format the updater's manifest check reads.
#pragma once

#include "manifest/manifest_release.h"

#include <string>
#include <vector>

// The manifest's name in the release folder, and the name it is written under first so that
// a crash or a full disk never leaves a partial manifest behind.
extern const char kManifestName[];
extern const char kManifestTempName[];
// The signature of a signed release, written the same way.
extern const char kSignatureName[];
extern const char kSignatureTempName[];

struct ReleaseFile {
    std::string name;     // relative path with backslashes, in the ANSI code page
    std::string nameUtf8; // the same name as written to the manifest
    unsigned long size = 0;
    std::string md5;    // 32 lower-case hexadecimal digits, once digested
    std::string sha256; // 64 of them, when signing; written only when set
    // The block index written beside a large file (its name as the manifest holds it) and the
    // index's digest: its MD5, or its SHA-256 when signing; "": none.
    std::string indexNameUtf8;
    std::string indexDigest;
};

// Lists every file below the folder, sorted by name, leaving out the manifest and its
// temporary at the top. Fails, with one line per file, when a name is one the updater would
// refuse, cannot be written in the ANSI code page, or a file does not fit a 32-bit size.
bool ListReleaseFiles(const std::string& folder, std::vector<ReleaseFile>& files,
                      std::string& error);

// Fills in each file's digest; fails on the first file that cannot be read.
bool DigestReleaseFiles(const std::string& folder, std::vector<ReleaseFile>& files,
                        std::string& error);

// UTF-8 text made safe inside a double-quoted XML attribute value.
std::string XmlAttributeEscape(const std::string& utf8);

// The whole manifest, UTF-8; the version goes into every entry unchanged. A signed release's
// serial and expiry (when it has them) go into the root element.
std::string ManifestXml(const std::vector<ReleaseFile>& files, const std::string& versionUtf8,
                        const ManifestRelease& release = ManifestRelease());

// Writes the bytes to a temporary file and flushes them to disk; on a failure it is removed.
bool WriteTempFile(const std::string& temp, const std::string& bytes, std::string& error);

// Gives the temporary its final name in one step; replace allows an existing target to be
// replaced. On a failure the temporary is removed and the target stays as it was.
bool MoveIntoPlace(const std::string& temp, const std::string& target, bool replace,
                   std::string& error);

// Writes the text to the temporary name, then moves it over the manifest in one step. On a
// failure the temporary is removed and an existing manifest stays as it was.
bool ReplaceManifest(const std::string& folder, const std::string& xml, std::string& error);

// Checks the version and the folder, then lists and digests every file: what both the plain
// and the signed manifest are made from. versionUtf8 receives the version as written.
bool PrepareRelease(const std::string& folder, const std::string& versionAnsi,
                    std::vector<ReleaseFile>& files, std::string& versionUtf8, std::string& error);

// Everything above for one release folder; versionAnsi is in the ANSI code page. Nothing is
// written unless every file was listed and digested; files then holds what was written.
bool WriteReleaseManifest(const std::string& folder, const std::string& versionAnsi,
                          std::vector<ReleaseFile>& files, std::string& error);
