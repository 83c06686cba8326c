// Owners of CryptoAPI handles, released when they go out of scope. They are integers rather
// than pointers, so the kernel-handle owner does not fit them. Declare a key or hash after the
// context that made it, so that it is destroyed first.
#pragma once

#include <windows.h>
#include <wincrypt.h>

// SHA-256 came to the RSA and AES provider with Windows XP SP3; the program is built for XP
// in general, so the header leaves it out. Where the provider lacks it, creating the hash
// fails, and a signed release is refused rather than trusted.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

class CCryptProv {
public:
    CCryptProv() = default;
    ~CCryptProv() {
        if (m_h)
            CryptReleaseContext(m_h, 0);
    }
    CCryptProv(const CCryptProv&) = delete;
    CCryptProv& operator=(const CCryptProv&) = delete;
    // An ephemeral context of the RSA provider that does SHA-256; no key container is
    // touched, so nothing is left behind in the user's profile.
    bool AcquireVerifyContext() {
        return CryptAcquireContextA(&m_h, nullptr, nullptr, PROV_RSA_AES,
                                    CRYPT_VERIFYCONTEXT | CRYPT_SILENT) != FALSE;
    }
    HCRYPTPROV Get() const { return m_h; }

private:
    HCRYPTPROV m_h = 0;
};

class CCryptKey {
public:
    CCryptKey() = default;
    ~CCryptKey() {
        if (m_h)
            CryptDestroyKey(m_h);
    }
    CCryptKey(const CCryptKey&) = delete;
    CCryptKey& operator=(const CCryptKey&) = delete;
    HCRYPTKEY Get() const { return m_h; }
    HCRYPTKEY* Receive() { return &m_h; } // only on an empty owner

private:
    HCRYPTKEY m_h = 0;
};

class CCryptHash {
public:
    CCryptHash() = default;
    ~CCryptHash() {
        if (m_h)
            CryptDestroyHash(m_h);
    }
    CCryptHash(const CCryptHash&) = delete;
    CCryptHash& operator=(const CCryptHash&) = delete;
    bool Create(HCRYPTPROV prov, ALG_ID alg) {
        return CryptCreateHash(prov, alg, 0, 0, &m_h) != FALSE;
    }
    HCRYPTHASH Get() const { return m_h; }

private:
    HCRYPTHASH m_h = 0;
};
