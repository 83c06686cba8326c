// Adds a CA certificate to, or removes it from, the machine's root store of the Wine prefix it
// runs in, so that a test trusts its own CA without touching the host's trust store.
// Usage: trust_store_tool add|remove CERT.der   (exit 0 on success)
#include <windows.h>

#include <wincrypt.h>

#include <stdio.h>
#include <string.h>

#include <fstream>
#include <iterator>
#include <string>

int main(int argc, char** argv) {
    const bool add = argc == 3 && strcmp(argv[1], "add") == 0;
    if (argc != 3 || (!add && strcmp(argv[1], "remove") != 0)) {
        fprintf(stderr, "usage: trust_store_tool add|remove CERT.der\n");
        return 2;
    }
    std::ifstream in(argv[2], std::ios::binary);
    const std::string der{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (der.empty() || !store) {
        fprintf(stderr, "cannot read %s or open the machine root store\n", argv[2]);
        return 1;
    }
    const BYTE* data = reinterpret_cast<const BYTE*>(der.data());
    const DWORD size = static_cast<DWORD>(der.size());
    bool done;
    if (add) {
        done = CertAddEncodedCertificateToStore(store, X509_ASN_ENCODING, data, size,
                                                CERT_STORE_ADD_REPLACE_EXISTING, nullptr) != FALSE;
    } else {
        PCCERT_CONTEXT wanted = CertCreateCertificateContext(X509_ASN_ENCODING, data, size);
        PCCERT_CONTEXT found = wanted
                                   ? CertFindCertificateInStore(store, X509_ASN_ENCODING, 0,
                                                                CERT_FIND_EXISTING, wanted, nullptr)
                                   : nullptr;
        done = !found || CertDeleteCertificateFromStore(found) != FALSE; // deletion frees it
        if (wanted)
            CertFreeCertificateContext(wanted);
    }
    if (!done)
        fprintf(stderr, "%s failed: %lu\n", argv[1], GetLastError());
    CertCloseStore(store, 0);
    return done ? 0 : 1;
}
