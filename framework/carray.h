// Ordered, growable array of elements (the program stores record pointers in it).
#pragma once

#include <cassert>
#include <vector>

template <class TYPE> class CArray {
public:
    int GetSize() const { return static_cast<int>(m_items.size()); }
    int GetCount() const { return GetSize(); }
    bool IsEmpty() const { return m_items.empty(); }

    // Grows or shrinks; new slots are value-initialised (null for pointers).
    void SetSize(int nNewSize) { m_items.resize(nNewSize > 0 ? static_cast<size_t>(nNewSize) : 0); }
    int Add(const TYPE& item) {
        m_items.push_back(item);
        return GetSize() - 1;
    }
    TYPE GetAt(int nIndex) const {
        assert(nIndex >= 0 && nIndex < GetSize());
        return m_items[static_cast<size_t>(nIndex)];
    }
    void SetAt(int nIndex, const TYPE& item) {
        assert(nIndex >= 0 && nIndex < GetSize());
        m_items[static_cast<size_t>(nIndex)] = item;
    }
    TYPE& operator[](int nIndex) {
        assert(nIndex >= 0 && nIndex < GetSize());
        return m_items[static_cast<size_t>(nIndex)];
    }
    const TYPE& operator[](int nIndex) const {
        assert(nIndex >= 0 && nIndex < GetSize());
        return m_items[static_cast<size_t>(nIndex)];
    }
    // Size 0 and the storage released.
    void RemoveAll() { std::vector<TYPE>().swap(m_items); }
    size_t GetCapacity() const { return m_items.capacity(); }

private:
    std::vector<TYPE> m_items;
};
