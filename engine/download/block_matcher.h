// Finds the blocks of a file's index in an older copy of the file, wherever they are: a rolling
// checksum slides over the old copy a byte at a time, and a block whose weak sum matches is
// confirmed by its strong sum, so that bytes inserted or removed do not defeat it.
#pragma once

#include "manifest/block_index.h"

#include <atomic>
#include <vector>

const DWORD kBlockNotFound = 0xFFFFFFFF;

// For every block of the index, its offset in the file at pszOldPath, or kBlockNotFound. The
// last block, when shorter than the others, is never looked for. Empty when the old copy cannot
// be read, or when bCancel is set meanwhile.
std::vector<DWORD> FindKnownBlocks(const CBlockIndex& index, const char* pszOldPath,
                                   const std::atomic<BOOL>& bCancel);
