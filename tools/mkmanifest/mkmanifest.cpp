// mkmanifest.exe RELEASE_FOLDER VERSION: writes RELEASE_FOLDER\update.xml, listing every file
// of the release with its size and digest, for the publisher to copy to the server's
// "/update/" path together with the files. --new-key KEYFILE makes the publisher's key pair
// once; --sign KEYFILE RELEASE_FOLDER VERSION writes a signed release.
#include "tools/mkmanifest/manifest_signer.h"
#include "tools/mkmanifest/manifest_writer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

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

} // namespace

int Usage() {
    std::fprintf(stderr,
                 "usage: mkmanifest RELEASE_FOLDER VERSION\n"
                 "       mkmanifest --new-key KEYFILE\n"
                 "       mkmanifest --sign KEYFILE RELEASE_FOLDER VERSION\n"
                 "Writes RELEASE_FOLDER\\update.xml listing every file below the folder; --sign\n"
                 "adds each file's SHA-256 and writes update.xml.sig beside it. --new-key writes\n"
                 "a private key to KEYFILE and prints the public key for the INI's PublicKey.\n");
    return 2;
}

int main(int argc, char** argv) {
    const bool sign = argc == 5 && std::strcmp(argv[1], "--sign") == 0;
    if (argc == 3 && std::strcmp(argv[1], "--new-key") == 0) {
        std::string publicKey, error;
        if (!WriteNewKeyFile(argv[2], publicKey, error)) {
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
                     argv[2]);
        return 0;
    }
    if ((argc != 3 && !sign) || argv[1][0] == '\0' ||
        (argc == 3 && argv[1][0] == '-' && argv[1][1] == '-'))
        return Usage();
    const char* const folderArg = sign ? argv[3] : argv[1];
    const char* const version = sign ? argv[4] : argv[2];
    const std::string folder = WithoutTrailingSeparator(folderArg);
    std::vector<ReleaseFile> files;
    std::string error;
    const bool written = sign ? WriteSignedReleaseManifest(folder, version, argv[2], files, error)
                              : WriteReleaseManifest(folder, version, files, error);
    if (!written) {
        std::fprintf(stderr, "mkmanifest: %s\n", error.c_str());
        return 1;
    }
    // The updater downloads into one flat temporary folder, so a file in a subfolder can only
    // be fetched where that subfolder already exists inside the temporary folder.
    for (const ReleaseFile& file : files) {
        if (file.name.find('\\') != std::string::npos)
            std::fprintf(stderr,
                         "mkmanifest: warning: %s is in a subfolder; the updater fails to fetch it "
                         "unless that subfolder exists in its temporary folder\n",
                         file.name.c_str());
        // The updater asks for the name as its ANSI bytes, unescaped; a server that stores
        // its files under UTF-8 names answers 404 for them.
        if (HasNonAsciiByte(file.name))
            std::fprintf(stderr,
                         "mkmanifest: warning: %s is not plain ASCII; the updater requests it "
                         "as these ANSI bytes, so the server must store it under them\n",
                         file.name.c_str());
    }
    std::printf("mkmanifest: wrote %s\\%s%s%s: %u files, version %s\n", folder.c_str(),
                kManifestName, sign ? " and " : "", sign ? kSignatureName : "",
                static_cast<unsigned>(files.size()), version);
    return 0;
}
