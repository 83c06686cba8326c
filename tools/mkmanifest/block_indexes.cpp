#include "tools/mkmanifest/block_indexes.h"

#include "digest/bytes_digest.h"
#include "manifest/block_index.h"
#include "manifest/file_name_rules.h"

namespace {

const char kIndexSuffix[] = ".blocks";

} // namespace

bool MakeBlockIndexes(const std::string& folder, std::vector<ReleaseFile>& files,
                      std::vector<BlockIndexFile>& indexes, std::string& error) {
    indexes.clear();
    for (ReleaseFile& file : files) {
        const std::string indexName = file.name + kIndexSuffix;
        if (file.size < kIndexedFileSize || !IsAcceptableFileName(indexName.c_str()))
            continue;
        CBlockIndex index;
        if (!index.Build((folder + "\\" + file.name).c_str())) {
            error = file.name + ": cannot be read to make its block index";
            return false;
        }
        indexes.push_back(BlockIndexFile{folder + "\\" + indexName, index.Serialize()});
        file.indexNameUtf8 = file.nameUtf8 + kIndexSuffix;
        file.indexDigest = DigestOfBytes(indexes.back().bytes.data(), indexes.back().bytes.size(),
                                         !file.sha256.empty());
    }
    return true;
}

bool WriteBlockIndexes(const std::vector<BlockIndexFile>& indexes, std::string& error) {
    for (const BlockIndexFile& index : indexes)
        if (!WriteTempFile(index.path + ".tmp", index.bytes, error) ||
            !MoveIntoPlace(index.path + ".tmp", index.path, true, error))
            return false;
    return true;
}
