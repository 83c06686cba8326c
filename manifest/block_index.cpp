#include "manifest/block_index.h"

#include "digest/file_digest.h"
#include "framework/scoped_handle.h"

#include <string.h>

namespace {

const char kMagic[8] = {'Q', 'M', 'B', 'L', 'O', 'C', 'K', '1'};
const size_t kHeaderSize = sizeof(kMagic) + 8;
const size_t kEntrySize = 12;

void PutWord(std::string& out, DWORD value) {
    for (int i = 0; i < 4; ++i)
        out += static_cast<char>(value >> (8 * i));
}

DWORD GetWord(const std::string& in, size_t at) {
    DWORD value = 0;
    for (int i = 3; i >= 0; --i)
        value = value << 8 | static_cast<BYTE>(in[at + i]);
    return value;
}

} // namespace

void CRollingSum::Start(const BYTE* pWindow, DWORD dwLength) {
    m_a = m_b = 0;
    m_dwLength = dwLength;
    for (DWORD i = 0; i < dwLength; ++i) {
        m_a += pWindow[i];
        m_b += m_a;
    }
    m_a &= 0xFFFF;
    m_b &= 0xFFFF;
}

void StrongSum(const BYTE* pData, DWORD dwLength, BYTE (&strong)[8]) {
    CFileDigest md5;
    md5.Update(pData, dwLength);
    BYTE digest[16];
    md5.Final(digest);
    memcpy(strong, digest, sizeof(strong));
}

DWORD CBlockIndex::BlockLength(size_t i) const {
    const unsigned long long start = static_cast<unsigned long long>(i) * m_dwBlockSize;
    const unsigned long long left = m_dwFileSize - start;
    return static_cast<DWORD>(left < m_dwBlockSize ? left : m_dwBlockSize);
}

bool CBlockIndex::Build(const char* pszPath) {
    CKernelHandle file(CreateFileA(pszPath, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    LARGE_INTEGER size = {};
    if (!file.IsValid() || !GetFileSizeEx(file.Get(), &size) || size.QuadPart > 0xFFFFFFFFll)
        return false;
    m_dwBlockSize = kIndexBlockSize;
    m_dwFileSize = static_cast<DWORD>(size.QuadPart);
    m_blocks.assign(static_cast<size_t>((static_cast<ULONGLONG>(m_dwFileSize) + m_dwBlockSize - 1) /
                                        m_dwBlockSize),
                    BlockSums());
    std::vector<BYTE> block(m_dwBlockSize);
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        const DWORD length = BlockLength(i);
        DWORD read = 0;
        if (!ReadFile(file.Get(), block.data(), length, &read, nullptr) || read != length)
            return false;
        CRollingSum sum;
        sum.Start(block.data(), length);
        m_blocks[i].weak = sum.Value();
        StrongSum(block.data(), length, m_blocks[i].strong);
    }
    return true;
}

std::string CBlockIndex::Serialize() const {
    std::string out(kMagic, sizeof(kMagic));
    PutWord(out, m_dwBlockSize);
    PutWord(out, m_dwFileSize);
    for (const BlockSums& block : m_blocks) {
        PutWord(out, block.weak);
        out.append(reinterpret_cast<const char*>(block.strong), sizeof(block.strong));
    }
    return out;
}

bool CBlockIndex::Parse(const std::string& bytes) {
    if (bytes.size() < kHeaderSize || memcmp(bytes.data(), kMagic, sizeof(kMagic)) != 0)
        return false;
    const DWORD blockSize = GetWord(bytes, 8);
    const DWORD fileSize = GetWord(bytes, 12);
    if (blockSize < 512 || blockSize > (1u << 20))
        return false;
    const unsigned long long count = (0ull + fileSize + blockSize - 1) / blockSize;
    if (bytes.size() != kHeaderSize + count * kEntrySize)
        return false;
    m_dwBlockSize = blockSize;
    m_dwFileSize = fileSize;
    m_blocks.resize(static_cast<size_t>(count));
    for (size_t i = 0; i < m_blocks.size(); ++i) {
        const size_t at = kHeaderSize + i * kEntrySize;
        m_blocks[i].weak = GetWord(bytes, at);
        memcpy(m_blocks[i].strong, bytes.data() + at + 4, sizeof(m_blocks[i].strong));
    }
    return true;
}
