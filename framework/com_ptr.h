// Owns one reference to a COM interface and releases it on every way out of its scope.
#pragma once

#include <objbase.h>

template <class T> class CInterfacePtr {
public:
    CInterfacePtr() = default;
    ~CInterfacePtr() { Release(); }
    CInterfacePtr(const CInterfacePtr&) = delete;
    CInterfacePtr& operator=(const CInterfacePtr&) = delete;
    CInterfacePtr(CInterfacePtr&& other) noexcept : m_p(other.m_p) { other.m_p = nullptr; }
    CInterfacePtr& operator=(CInterfacePtr&& other) noexcept {
        if (this != &other) {
            Release();
            m_p = other.m_p;
            other.m_p = nullptr;
        }
        return *this;
    }

    T* Get() const { return m_p; }
    T* operator->() const { return m_p; }
    explicit operator bool() const { return m_p != nullptr; }

    // The slot for an out-parameter that hands over a reference; what was held is released.
    T** Receive() {
        Release();
        return &m_p;
    }
    void** ReceiveVoid() { return reinterpret_cast<void**>(Receive()); }

    void Release() {
        if (m_p) {
            T* p = m_p;
            m_p = nullptr;
            p->Release();
        }
    }

    // Asks the held object for another of its interfaces; E_POINTER when nothing is held.
    template <class Q> HRESULT QueryInterface(REFIID riid, CInterfacePtr<Q>& result) const {
        result.Release();
        if (!m_p)
            return E_POINTER;
        return m_p->QueryInterface(riid, result.ReceiveVoid());
    }

private:
    T* m_p = nullptr;
};
