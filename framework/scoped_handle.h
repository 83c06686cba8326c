// Owns one handle (kernel, find, internet, CryptoAPI) and closes it when it goes out of scope.
#pragma once

#include <windows.h>
#include <wininet.h>

template <class Traits> class CScopedHandle {
public:
    using Handle = typename Traits::Handle;
    explicit CScopedHandle(Handle h = Traits::Invalid()) : m_h(h) {}
    ~CScopedHandle() {
        if (IsValid())
            Traits::Close(m_h);
    }
    CScopedHandle(const CScopedHandle&) = delete;
    CScopedHandle& operator=(const CScopedHandle&) = delete;
    Handle Get() const { return m_h; }
    Handle* Receive() { return &m_h; } // for a call that opens it; only on an empty owner
    // Handle() is null for the pointer handles and 0 for the integer ones.
    bool IsValid() const { return m_h != Handle() && m_h != Traits::Invalid(); }

private:
    Handle m_h;
};

struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { CloseHandle(h); }
};

struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle Invalid() { return INVALID_HANDLE_VALUE; }
    static void Close(Handle h) { FindClose(h); }
};

struct InternetHandleTraits {
    using Handle = HINTERNET;
    static Handle Invalid() { return nullptr; }
    static void Close(Handle h) { InternetCloseHandle(h); }
};

using CKernelHandle = CScopedHandle<KernelHandleTraits>;
using CFindHandle = CScopedHandle<FindHandleTraits>;
using CInternetHandle = CScopedHandle<InternetHandleTraits>;
