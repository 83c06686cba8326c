// Adds a CA certificate to, or removes it from, the machine's root store of the Wine prefix it
// runs in, so that a test trusts its own CA without touching the host's trust store.
// Usage: trust_store_tool add|remove CERT.der   (exit 0 on success)
#include <windows.h>

#include <wincrypt.h>

#include <stdio.h>
#include <string.h>

#include <string>

namespace {

bool ReadFileBytes(const char* path, std::string& bytes) {
    FILE* file = fopen(path, "rb");
    if (!file)
        return false;
    char buffer[4096];
    size_t count;
    while ((count = fread(buffer, 1, sizeof(buffer), file)) > 0)
        bytes.append(buffer, count);
    fclose(file);
    return !bytes.empty();
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 3 || (strcmp(argv[1], "add") != 0 && strcmp(argv[1], "remove") != 0)) {
        fprintf(stderr, "usage: trust_store_tool add|remove CERT.der\n");
        return 2;
    }
    std::string der;
    if (!ReadFileBytes(argv[2], der)) {
        fprintf(stderr, "cannot read %s\n", argv[2]);
        return 1;
    }
    HCERTSTORE store =
        CertOpenStore(CERT_STORE_PROV_SYSTEM_A, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, "Root");
    if (!store) {
        fprintf(stderr, "cannot open the machine root store: %lu\n", GetLastError());
        return 1;
    }
    const BYTE* data = reinterpret_cast<const BYTE*>(der.data());
    const DWORD size = static_cast<DWORD>(der.size());
    bool done;
    if (strcmp(argv[1], "add") == 0) {
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
