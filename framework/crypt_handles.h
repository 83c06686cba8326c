// Owners of CryptoAPI handles, released when they go out of scope. Declare a key or hash after
// the context that made it, so that it is destroyed first.
#pragma once

#include "framework/scoped_handle.h"

#include <windows.h>
#include <wincrypt.h>

// SHA-256 came to the RSA and AES provider with Windows XP SP3; the program is built for XP
// in general, so the header leaves it out. Where the provider lacks it, creating the hash
// fails, and a signed release is refused rather than trusted.
#ifndef CALG_SHA_256
#define CALG_SHA_256 (ALG_CLASS_HASH | ALG_TYPE_ANY | 12)
#endif

struct CryptProvTraits {
    using Handle = HCRYPTPROV;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { CryptReleaseContext(h, 0); }
};

struct CryptKeyTraits {
    using Handle = HCRYPTKEY;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { CryptDestroyKey(h); }
};

struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle Invalid() { return 0; }
    static void Close(Handle h) { CryptDestroyHash(h); }
};

class CCryptProv : public CScopedHandle<CryptProvTraits> {
public:
    // An ephemeral context of the RSA provider that does SHA-256; no key container is
    // touched, so nothing is left behind in the user's profile.
    bool AcquireVerifyContext() {
        return CryptAcquireContextA(Receive(), nullptr, nullptr, PROV_RSA_AES,
                                    CRYPT_VERIFYCONTEXT | CRYPT_SILENT) != FALSE;
    }
};

using CCryptKey = CScopedHandle<CryptKeyTraits>;

class CCryptHash : public CScopedHandle<CryptHashTraits> {
public:
    bool Create(HCRYPTPROV prov, ALG_ID alg) {
        return CryptCreateHash(prov, alg, 0, 0, Receive()) != FALSE;
    }
};
