// mkmanifest.exe RELEASE_FOLDER VERSION: writes RELEASE_FOLDER\update.xml, listing every file
// of the release with its size and digest, for the publisher to copy to the server's
// "/update/" path together with the files.
#include "tools/mkmanifest/manifest_writer.h"

#include <cstdio>
#include <string>

namespace {

// "C:\release\" and "C:\release" name the same folder; "C:\" stays as it is.
std::string WithoutTrailingSeparator(std::string folder) {
    while (folder.size() > 1 && (folder.back() == '\\' || folder.back() == '/') &&
           folder[folder.size() - 2] != ':')
        folder.pop_back();
    return folder;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '\0') {
        std::fprintf(stderr,
                     "usage: mkmanifest RELEASE_FOLDER VERSION\n"
                     "Writes RELEASE_FOLDER\\update.xml listing every file below the folder.\n");
        return 2;
    }
    const std::string folder = WithoutTrailingSeparator(argv[1]);
    size_t count = 0;
    std::string error;
    if (!WriteReleaseManifest(folder, argv[2], count, error)) {
        std::fprintf(stderr, "mkmanifest: %s\n", error.c_str());
        return 1;
    }
    std::printf("mkmanifest: wrote %s\\%s: %u files, version %s\n", folder.c_str(), kManifestName,
                static_cast<unsigned>(count), argv[2]);
    return 0;
}
