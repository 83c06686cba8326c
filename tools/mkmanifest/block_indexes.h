// The block indexes of a release's large files, written beside them ("NAME.blocks"), with
// which updaters fetch only the blocks that changed.
#pragma once

#include "tools/mkmanifest/manifest_writer.h"

#include <string>
#include <vector>

struct BlockIndexFile {
    std::string path;
    std::string bytes;
};

// Makes the index of every file of 1 MiB or more and notes its name and digest in the file's
// entry: a SHA-256 when the entry has one (a signed release), else an MD5. A file whose index
// name would be longer than the updater accepts gets none. False, with a message, when an
// index cannot be made. Nothing is written yet.
bool MakeBlockIndexes(const std::string& folder, std::vector<ReleaseFile>& files,
                      std::vector<BlockIndexFile>& indexes, std::string& error);
// Writes the indexes beside their files, each in one step.
bool WriteBlockIndexes(const std::vector<BlockIndexFile>& indexes, std::string& error);
