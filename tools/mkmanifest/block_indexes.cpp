#include "tools/mkmanifest/block_indexes.h"

#include "digest/file_digest.h"
#include "digest/file_sha256.h"
#include "manifest/block_index.h"
#include "manifest/file_name_rules.h"

namespace {

const char kIndexSuffix[] = ".blocks";

std::string DigestOf(const std::string& bytes, bool bSha256) {
    if (bSha256) {
        CSha256 hash;
        std::string hex;
        return hash.Update(bytes.data(), static_cast<DWORD>(bytes.size())) && hash.Final(hex)
                   ? hex
                   : std::string();
    }
    CFileDigest md5;
    md5.Update(reinterpret_cast<const BYTE*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    return md5.Final().GetString();
}

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
        file.indexDigest = DigestOf(indexes.back().bytes, !file.sha256.empty());
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
