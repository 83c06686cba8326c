// mkmanifest.exe RELEASE_FOLDER VERSION: writes RELEASE_FOLDER\update.xml, listing every file
// of the release with its size and digest, for the publisher to copy to the server's
// "/update/" path together with the files.
#include "tools/mkmanifest/manifest_writer.h"

#include <cstdio>
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

int main(int argc, char** argv) {
    if (argc != 3 || argv[1][0] == '\0') {
        std::fprintf(stderr,
                     "usage: mkmanifest RELEASE_FOLDER VERSION\n"
                     "Writes RELEASE_FOLDER\\update.xml listing every file below the folder.\n");
        return 2;
    }
    const std::string folder = WithoutTrailingSeparator(argv[1]);
    std::vector<ReleaseFile> files;
    std::string error;
    if (!WriteReleaseManifest(folder, argv[2], files, error)) {
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
    std::printf("mkmanifest: wrote %s\\%s: %u files, version %s\n", folder.c_str(), kManifestName,
                static_cast<unsigned>(files.size()), argv[2]);
    return 0;
}
