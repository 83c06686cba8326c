// mkmanifest.exe RELEASE_FOLDER VERSION: writes RELEASE_FOLDER\update.xml, listing every file
// of the release with its size and digest, for the publisher to copy to the server's
// "/update/" path together with the files. --new-key KEYFILE makes the publisher's key pair
// once; --sign KEYFILE RELEASE_FOLDER VERSION writes a signed release; --verify SITE checks a
// published one.
#include "manifest/manifest_signature.h"
#include "tools/mkmanifest/manifest_signer.h"
#include "tools/mkmanifest/manifest_writer.h"
#include "tools/mkmanifest/site_check.h"

#include <objbase.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

using Arguments = std::vector<std::string>;

const int kUsageError = 2;
// A longer expiry is surely a mistake (and a serial counted in days would overflow no sooner).
const unsigned long long kMaxExpiryDays = 36500;

int Usage() {
    std::fprintf(
        stderr,
        "usage: mkmanifest RELEASE_FOLDER VERSION\n"
        "       mkmanifest --new-key KEYFILE\n"
        "       mkmanifest --sign KEYFILE [--serial N] [--expires-days N] RELEASE_FOLDER VERSION\n"
        "       mkmanifest --verify SITE [PUBLICKEY]\n"
        "Writes RELEASE_FOLDER\\update.xml listing every file below the folder; --sign\n"
        "adds each file's SHA-256 and a release serial (the signing time in seconds since\n"
        "1970 unless --serial gives one; it must grow from release to release), an expiry N\n"
        "days after signing with --expires-days, and writes update.xml.sig beside it.\n"
        "--new-key writes a private key to KEYFILE and prints the public key for the INI's\n"
        "PublicKey. --verify fetches SITE (as site1 is written) as the updater does and\n"
        "checks every file: exit 0 when sound, 1 when it prints problems.\n");
    return kUsageError;
}

// "C:\release\" and "C:\release" name the same folder; "C:\" stays as it is.
std::string WithoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
           folder[folder.size() - 2] != ':')
        folder.pop_back();
    return folder;
}

bool HasNonAsciiByte(const std::string& text) {
    for (unsigned char c : text)
        if (c >= 0x80)
            return true;
    return false;
}

int NewKey(const std::string& keyFile) {
    std::string publicKey, error;
    if (!WriteNewKeyFile(keyFile, publicKey, error)) {
        std::fprintf(stderr, "mkmanifest: %s\n", error.c_str());
        return 1;
    }
    // stdout carries the key alone, so that a script can capture it.
    std::printf("%s\n", publicKey.c_str());
    std::fflush(stdout); // the key first, where both go to one place
    std::fprintf(stderr,
                 "mkmanifest: wrote the private key to %s; keep it off the download server "
                 "and sign each release with it. Put the line above into Updater.INI's "
                 "[Download] section as PublicKey=...\n",
                 keyFile.c_str());
    return 0;
}

void WarnOfNames(const std::vector<ReleaseFile>& files) {
    for (const ReleaseFile& file : files) {
        // The updater asks for the name as its ANSI bytes, unescaped; a server that stores
        // its files under UTF-8 names answers 404 for them.
        if (HasNonAsciiByte(file.name))
            std::fprintf(stderr,
                         "mkmanifest: warning: %s is not plain ASCII; the updater requests it "
                         "as these ANSI bytes, so the server must store it under them\n",
                         file.name.c_str());
    }
}

// Writes the release's manifest, signed with the key file when one is given.
int Publish(const std::string& folderArg, const std::string& version, const std::string* keyFile,
            const ManifestRelease& release) {
    const std::string folder = WithoutTrailingSeparator(folderArg);
    std::vector<ReleaseFile> files;
    std::string error;
    const bool written =
        keyFile ? WriteSignedReleaseManifest(folder, version, *keyFile, release, files, error)
                : WriteReleaseManifest(folder, version, files, error);
    if (!written) {
        std::fprintf(stderr, "mkmanifest: %s\n", error.c_str());
        return 1;
    }
    WarnOfNames(files);
    std::printf("mkmanifest: wrote %s\\%s%s%s: %u files, version %s", folder.c_str(), kManifestName,
                keyFile ? " and " : "", keyFile ? kSignatureName : "",
                static_cast<unsigned>(files.size()), version.c_str());
    if (release.bHasSerial)
        std::printf(", serial %llu", release.serial);
    if (release.bHasExpiry)
        std::printf(", expires %s", UtcTimeText(release.expires).GetString());
    std::printf("\n");
    return 0;
}

// --sign KEYFILE [--serial N] [--expires-days N] RELEASE_FOLDER VERSION, options anywhere
// after the key file.
int Sign(const Arguments& args) {
    const unsigned long long now = SecondsSince1970();
    ManifestRelease release;
    release.bHasSerial = true;
    release.serial = now;
    unsigned long long days = 0;
    Arguments positional;
    for (size_t i = 2; i < args.size(); ++i) {
        const bool serial = args[i] == "--serial", expiry = args[i] == "--expires-days";
        if ((serial || expiry) && i + 1 < args.size()) {
            const bool read =
                ParseReleaseNumber(args[i + 1].c_str(), serial ? release.serial : days);
            if (!read || (expiry && days > kMaxExpiryDays))
                return Usage();
            release.bHasExpiry = release.bHasExpiry || expiry;
            ++i;
        } else if (args[i].compare(0, 2, "--") == 0 || positional.size() == 2) {
            return Usage();
        } else {
            positional.push_back(args[i]);
        }
    }
    if (positional.size() != 2 || positional[0].empty() || args[1].compare(0, 2, "--") == 0)
        return Usage();
    release.expires = now + days * 24 * 60 * 60;
    return Publish(positional[0], positional[1], &args[1], release);
}

int Verify(const std::string& site, const std::string& publicKey) {
    std::vector<BYTE> blob;
    if (site.empty() || (!publicKey.empty() && !DecodePublicKey(publicKey, blob))) {
        std::fprintf(stderr, "mkmanifest: %s\n",
                     site.empty() ? "SITE is empty"
                                  : "PUBLICKEY is not a key printed by --new-key");
        return Usage();
    }
    const bool com = SUCCEEDED(CoInitialize(nullptr));
    const unsigned problems = VerifyPublishedSite(site, publicKey);
    if (com)
        CoUninitialize();
    if (problems == 0)
        std::printf("mkmanifest: %s is sound\n", site.c_str());
    else
        std::printf("mkmanifest: %u problem(s) found on %s\n", problems, site.c_str());
    return problems == 0 ? 0 : 1;
}

} // namespace

int main(int argc, char** argv) {
    const Arguments args(argv + 1, argv + argc);
    const std::string command = args.empty() ? "" : args[0];
    if (command == "--new-key" && args.size() == 2)
        return NewKey(args[1]);
    if (command == "--sign")
        return Sign(args);
    if (command == "--verify" && (args.size() == 2 || args.size() == 3))
        return Verify(args[1], args.size() == 3 ? args[2] : "");
    if (args.size() != 2 || command.empty() || command.compare(0, 2, "--") == 0)
        return Usage();
    return Publish(args[0], args[1], nullptr, ManifestRelease());
}
