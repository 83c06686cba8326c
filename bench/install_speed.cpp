// Times the installation of every file of a release folder, all changed and already downloaded:
// the updater's all-or-nothing installation, until every file is in place, against the plain
// move loop it replaced, in pairs.
// Usage: install_speed.exe RELEASE_FOLDER WORK_FOLDER [PAIRS]
#include "bench/stopwatch.h"
#include "digest/file_digest.h"
#include "engine/install/installer.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

std::vector<std::string> ListFiles(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found;
    HANDLE find = FindFirstFileA((folder + "\\*").c_str(), &found);
    if (find == INVALID_HANDLE_VALUE)
        return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            names.push_back(found.cFileName);
    } while (FindNextFileA(find, &found));
    FindClose(find);
    return names;
}

// Each installed file and its download in place, outside the timing.
void Prepare(const std::string& release, const std::string& install, const std::string& temp,
             const std::vector<std::string>& names) {
    CreateDirectoryA(install.c_str(), nullptr);
    CreateDirectoryA(temp.c_str(), nullptr);
    for (const std::string& name : names) {
        CopyFileA((release + "\\" + name).c_str(), (install + "\\" + name).c_str(), FALSE);
        CopyFileA((release + "\\" + name).c_str(), (temp + "\\" + name + ".dtm").c_str(), FALSE);
    }
}

// The installation as it was: one move per file, a failed move skipped.
double PlainMoves(const std::string& install, const std::string& temp,
                  const std::vector<std::string>& names) {
    Stopwatch clock;
    for (const std::string& name : names)
        MoveFileExA((temp + "\\" + name + ".dtm").c_str(), (install + "\\" + name).c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED);
    return clock.Seconds();
}

// Until every file is in place and committed; `total` also counts clearing the old files away
// (the client is started after that).
double Engine(const std::string& install, const std::string& temp,
              const std::vector<std::string>& names, double& total) {
    // A run knows each download's digest from the manifest it was checked against.
    std::vector<InstallItem> items;
    for (const std::string& name : names) {
        const CString source = (temp + "\\" + name + ".dtm").c_str();
        items.push_back(InstallItem{source, name.c_str(), CFileDigest::DigestFile(source)});
    }
    Stopwatch clock;
    CInstallation installation(temp.c_str(), install.c_str());
    const bool placed = installation.Place(items);
    const double placedSeconds = clock.Seconds();
    if (placed)
        installation.Commit();
    total = clock.Seconds();
    return placed ? placedSeconds : -1;
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: install_speed RELEASE_FOLDER WORK_FOLDER [PAIRS]\n");
        return 2;
    }
    const std::string release = argv[1], work = argv[2];
    const int pairs = argc > 3 ? std::max(1, std::atoi(argv[3])) : 5;
    const std::string install = work + "\\install", temp = install + "\\Update";
    const std::vector<std::string> names = ListFiles(release);
    CreateDirectoryA(work.c_str(), nullptr);
    std::vector<double> plain, engine, totals, ratios;
    for (int i = 0; i < pairs; ++i) {
        // Each goes first in every other pair, so that neither profits from going first.
        double p = 0, e = 0, t = 0;
        for (int side = 0; side < 2; ++side) {
            Prepare(release, install, temp, names);
            if ((side == 0) == (i % 2 == 0))
                p = PlainMoves(install, temp, names);
            else
                e = Engine(install, temp, names, t);
        }
        if (e < 0) {
            std::fprintf(stderr, "install_speed: the engine's installation failed\n");
            return 1;
        }
        plain.push_back(p);
        engine.push_back(e);
        totals.push_back(t);
        ratios.push_back(e / p);
    }
    std::printf("files=%u plain_seconds=%.4f engine_seconds=%.4f engine_total_seconds=%.4f "
                "ratio=%.2f ratio_min=%.2f ratio_max=%.2f\n",
                static_cast<unsigned>(names.size()), Median(plain), Median(engine), Median(totals),
                Median(ratios), *std::min_element(ratios.begin(), ratios.end()),
                *std::max_element(ratios.begin(), ratios.end()));
    return 0;
}
