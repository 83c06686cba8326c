// The block indexes of a release's large files, written beside them ("NAME.blocks"), with
// which updaters fetch only the blocks that changed.
#pragma once

#include "tools/mkmanifest/manifest_writer.h"

#include <string>
#include <vector>

// Writes the index of every file of 1 MiB or more, each in one step, and notes its name and
// digest in the file's entry: a SHA-256 when the entry has one (a signed release), else an
// MD5. A file whose index name would be longer than the updater accepts gets none. False, with
// a message, when an index cannot be made or written.
bool WriteBlockIndexes(const std::string& folder, std::vector<ReleaseFile>& files,
                       std::string& error);
