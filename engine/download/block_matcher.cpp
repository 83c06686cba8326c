#include "engine/download/block_matcher.h"

#include "framework/scoped_handle.h"

#include <string.h>

namespace {

const DWORD kReadSize = 1 << 20;

// The blocks by weak sum: a chained hash table, one slot per block at least twice over, so that
// most bytes of the old copy cost one look at an empty slot.
// Blocks of equal content are entered once: the first stands for the others (a file of many
// equal blocks would otherwise make every look a long walk).
class CWeakTable {
public:
    explicit CWeakTable(const CBlockIndex& index) : m_index(index) {
        size_t slots = 1024;
        while (slots < 2 * index.Blocks().size())
            slots *= 2;
        m_mask = slots - 1;
        m_head.assign(slots, -1);
        m_next.assign(index.Blocks().size(), -1);
        m_same.assign(index.Blocks().size(), -1);
        for (size_t i = 0; i < Searched(); ++i) {
            const BlockSums& sums = index.Blocks()[i];
            int& head = m_head[Slot(sums.weak)];
            for (int other = head; other >= 0 && m_same[i] < 0; other = m_next[other])
                if (index.Blocks()[other].weak == sums.weak &&
                    memcmp(index.Blocks()[other].strong, sums.strong, sizeof(sums.strong)) == 0)
                    m_same[i] = other;
            if (m_same[i] >= 0)
                continue;
            m_next[i] = head;
            head = static_cast<int>(i);
        }
    }
    // The block entered for block i's content, or -1 when that is block i itself.
    int SameAs(size_t i) const { return m_same[i]; }
    // The blocks (of full length) that the window holds, by their sums.
    int First(DWORD weak) const { return m_head[Slot(weak)]; }
    int Next(int block) const { return m_next[block]; }
    size_t Searched() const {
        const size_t count = m_index.Blocks().size();
        return count > 0 && m_index.BlockLength(count - 1) < m_index.BlockSize() ? count - 1
                                                                                 : count;
    }

private:
    size_t Slot(DWORD weak) const { return ((weak * 2654435761u) >> 7) & m_mask; }

    const CBlockIndex& m_index;
    size_t m_mask = 0;
    std::vector<int> m_head;
    std::vector<int> m_next;
    std::vector<int> m_same;
};

// Records at `offset` every block whose sums the window has and that was not found before;
// true when the window is a block of the index (then the next block most likely follows).
bool Match(const CWeakTable& table, const CBlockIndex& index, DWORD weak, const BYTE* pWindow,
           DWORD offset, std::vector<DWORD>& found) {
    bool strongDone = false, matched = false;
    BYTE strong[8];
    for (int block = table.First(weak); block >= 0; block = table.Next(block)) {
        const BlockSums& sums = index.Blocks()[block];
        if (sums.weak != weak)
            continue;
        if (!strongDone)
            StrongSum(pWindow, index.BlockSize(), strong);
        strongDone = true;
        if (memcmp(strong, sums.strong, sizeof(strong)) != 0)
            continue;
        if (found[block] == kBlockNotFound)
            found[block] = offset;
        matched = true;
    }
    return matched;
}

} // namespace

std::vector<DWORD> FindKnownBlocks(const CBlockIndex& index, const char* pszOldPath,
                                   const std::atomic<BOOL>& bCancel) {
    CKernelHandle file(CreateFileA(pszOldPath, GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    if (!file.IsValid())
        return {};
    const CWeakTable table(index);
    const DWORD window = index.BlockSize();
    std::vector<DWORD> found(index.Blocks().size(), kBlockNotFound);
    std::vector<BYTE> buffer(kReadSize + window);
    DWORD have = 0, at = 0, base = 0; // bytes in the buffer, the window's start, its offset
    bool rolling = false;
    CRollingSum sum;
    for (;;) {
        if (at + window > have) { // the window runs past the buffer: move the rest to the front
            if (bCancel)
                return {};
            memmove(buffer.data(), buffer.data() + at, have - at);
            base += at;
            have -= at;
            at = 0;
            DWORD read = 0;
            if (!ReadFile(file.Get(), buffer.data() + have, kReadSize, &read, nullptr))
                return {};
            have += read;
            if (have < window)
                break;
            rolling = false;
        }
        if (!rolling)
            sum.Start(buffer.data() + at, window);
        rolling = true;
        if (Match(table, index, sum.Value(), buffer.data() + at, base + at, found)) {
            at += window;
            rolling = false;
        } else if (at + window < have) {
            sum.Roll(buffer[at], buffer[at + window]);
            ++at;
        } else {
            ++at; // refilled first: the sum starts over there
            rolling = false;
        }
    }
    for (size_t i = 0; i < found.size(); ++i)
        if (table.SameAs(i) >= 0)
            found[i] = found[table.SameAs(i)];
    return found;
}
