// A file's block index, published beside the file ("NAME.blocks") for files of 1 MiB or more:
// for every block of the file (4 KiB; the last may be shorter), a rolling weak checksum and the
// first 8 bytes of the block's MD5. With it an updater finds the blocks it already has anywhere
// in its older copy of the file and fetches only the rest.
//
// The bytes: "QMBLOCK1", the block size and the file's size (each 4 bytes, least significant
// first), then 12 bytes a block: its weak sum (4 bytes, likewise) and its strong sum.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

const DWORD kIndexBlockSize = 4096;
const DWORD kIndexedFileSize = 1 << 20; // files this large or larger get an index

struct BlockSums {
    DWORD weak;
    BYTE strong[8];
};

// rsync's rolling checksum over a window: the sum of its bytes and the sum of the running sums,
// each modulo 2^16, so that sliding the window by a byte costs a few operations.
class CRollingSum {
public:
    void Start(const BYTE* pWindow, DWORD dwLength);
    // The window moves one byte on: `out` leaves at its start, `in` enters at its end.
    void Roll(BYTE out, BYTE in) {
        m_a = (m_a - out + in) & 0xFFFF;
        m_b = (m_b - m_dwLength * out + m_a) & 0xFFFF;
    }
    DWORD Value() const { return m_a | (m_b << 16); }

private:
    DWORD m_a = 0, m_b = 0, m_dwLength = 0;
};

// The first 8 bytes of the MD5 of dwLength bytes.
void StrongSum(const BYTE* pData, DWORD dwLength, BYTE (&strong)[8]);

class CBlockIndex {
public:
    DWORD BlockSize() const { return m_dwBlockSize; }
    DWORD FileSize() const { return m_dwFileSize; }
    const std::vector<BlockSums>& Blocks() const { return m_blocks; }
    // The length of block i (the last may be shorter).
    DWORD BlockLength(size_t i) const;

    // The index of a file on disk; false when it cannot be read or is 4 GiB or more.
    bool Build(const char* pszPath);
    std::string Serialize() const;
    // The index the bytes hold; false (nothing kept) unless they are exactly one, with a block
    // size of 512 bytes to 1 MiB: they come from the network.
    bool Parse(const std::string& bytes);

private:
    DWORD m_dwBlockSize = kIndexBlockSize;
    DWORD m_dwFileSize = 0;
    std::vector<BlockSums> m_blocks;
};
