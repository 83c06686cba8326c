#include "tools/mkmanifest/manifest_signer.h"

#include "tools/mkmanifest/block_indexes.h"

#include "digest/file_sha256.h"
#include "framework/crypt_handles.h"
#include "framework/scoped_handle.h"
#include "manifest/manifest_signature.h"

#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace {

const DWORD kKeyBits = 3072;
const DWORD kRsaPrivateMagic = 0x32415352; // "RSA2"
const DWORD kMaxKeyFileSize = 64 * 1024;   // a 16384-bit private blob is about 9 KiB

std::string ErrorText(const char* what) {
    const DWORD code = GetLastError();
    char hex[16];
    std::snprintf(hex, sizeof(hex), "0x%08lX", static_cast<unsigned long>(code));
    return std::string(what) + " failed (error " + hex + ")";
}

bool ExportKey(HCRYPTKEY key, DWORD type, std::string& blob, std::string& error) {
    DWORD size = 0;
    if (!CryptExportKey(key, 0, type, 0, nullptr, &size)) {
        error = ErrorText("CryptExportKey");
        return false;
    }
    blob.assign(size, '\0');
    if (!CryptExportKey(key, 0, type, 0, reinterpret_cast<BYTE*>(&blob[0]), &size)) {
        error = ErrorText("CryptExportKey");
        return false;
    }
    blob.resize(size);
    return true;
}

bool Base64(const std::string& bytes, std::string& text, std::string& error) {
    const DWORD flags = CRYPT_STRING_BASE64 | CRYPT_STRING_NOCRLF;
    DWORD size = 0;
    if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), flags, nullptr, &size)) {
        error = ErrorText("CryptBinaryToString");
        return false;
    }
    std::string out(size, '\0');
    if (!CryptBinaryToStringA(reinterpret_cast<const BYTE*>(bytes.data()),
                              static_cast<DWORD>(bytes.size()), flags, &out[0], &size)) {
        error = ErrorText("CryptBinaryToString");
        return false;
    }
    out.resize(std::strlen(out.c_str()));
    text.swap(out);
    return true;
}

// Only a private RSA signature key blob is accepted, so that a public key or some other file
// given by mistake is named as such rather than failing somewhere inside the provider.
bool IsPrivateSignatureBlob(const std::string& blob) {
    BLOBHEADER header;
    RSAPUBKEY rsa;
    if (blob.size() < sizeof(header) + sizeof(rsa))
        return false;
    std::memcpy(&header, blob.data(), sizeof(header));
    std::memcpy(&rsa, blob.data() + sizeof(header), sizeof(rsa));
    return header.bType == PRIVATEKEYBLOB && header.bVersion == CUR_BLOB_VERSION &&
           header.aiKeyAlg == CALG_RSA_SIGN && rsa.magic == kRsaPrivateMagic;
}

bool ReadKeyFile(const std::string& path, std::string& blob, std::string& error) {
    CKernelHandle file(CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                   OPEN_EXISTING, 0, nullptr));
    const DWORD size = file.IsValid() ? GetFileSize(file.Get(), nullptr) : 0;
    if (!file.IsValid() || size == INVALID_FILE_SIZE) {
        error = "cannot read the key file " + path + ": " + ErrorText("opening it");
        return false;
    }
    if (size > kMaxKeyFileSize) {
        error = path + " is not a private key made by mkmanifest --new-key";
        return false;
    }
    blob.assign(size, '\0');
    DWORD read = 0;
    if (size > 0 && (!ReadFile(file.Get(), &blob[0], size, &read, nullptr) || read != size)) {
        error = "cannot read the key file " + path + ": " + ErrorText("ReadFile");
        return false;
    }
    if (!IsPrivateSignatureBlob(blob)) {
        error = path + " is not a private key made by mkmanifest --new-key";
        return false;
    }
    return true;
}

std::string FullPath(const std::string& path) {
    char full[MAX_PATH];
    const DWORD length = GetFullPathNameA(path.c_str(), sizeof(full), full, nullptr);
    return length > 0 && length < sizeof(full) ? std::string(full, length) : path;
}

bool IsInsideFolder(const std::string& path, const std::string& folder) {
    std::string prefix = FullPath(folder);
    if (prefix.empty() || prefix.back() != '\\')
        prefix += '\\';
    const std::string full = FullPath(path);
    return full.size() > prefix.size() &&
           CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, full.data(),
                          static_cast<int>(prefix.size()), prefix.data(),
                          static_cast<int>(prefix.size())) == CSTR_EQUAL;
}

} // namespace

bool MakeSigningKey(std::string& privateBlob, std::string& publicKeyBase64, std::string& error) {
    CCryptProv prov;
    if (!prov.AcquireVerifyContext()) {
        error = ErrorText("CryptAcquireContext (PROV_RSA_AES)");
        return false;
    }
    CCryptKey key;
    if (!CryptGenKey(prov.Get(), AT_SIGNATURE, (kKeyBits << 16) | CRYPT_EXPORTABLE,
                     key.Receive())) {
        error = ErrorText("CryptGenKey (RSA 3072)");
        return false;
    }
    std::string publicBlob;
    return ExportKey(key.Get(), PRIVATEKEYBLOB, privateBlob, error) &&
           ExportKey(key.Get(), PUBLICKEYBLOB, publicBlob, error) &&
           Base64(publicBlob, publicKeyBase64, error);
}

bool SignBytes(const std::string& privateBlob, const std::string& data, std::string& signature,
               std::string& error) {
    if (!IsPrivateSignatureBlob(privateBlob)) {
        error = "not a private signature key";
        return false;
    }
    CCryptProv prov;
    if (!prov.AcquireVerifyContext()) {
        error = ErrorText("CryptAcquireContext (PROV_RSA_AES)");
        return false;
    }
    CCryptKey key;
    if (!CryptImportKey(prov.Get(), reinterpret_cast<const BYTE*>(privateBlob.data()),
                        static_cast<DWORD>(privateBlob.size()), 0, CRYPT_EXPORTABLE,
                        key.Receive())) {
        error = ErrorText("CryptImportKey");
        return false;
    }
    CCryptHash hash;
    if (!hash.Create(prov.Get(), CALG_SHA_256) ||
        !CryptHashData(hash.Get(), reinterpret_cast<const BYTE*>(data.data()),
                       static_cast<DWORD>(data.size()), 0)) {
        error = ErrorText("SHA-256");
        return false;
    }
    DWORD size = 0;
    if (!CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0, nullptr, &size)) {
        error = ErrorText("CryptSignHash");
        return false;
    }
    std::string signed_(size, '\0');
    if (!CryptSignHashA(hash.Get(), AT_SIGNATURE, nullptr, 0, reinterpret_cast<BYTE*>(&signed_[0]),
                        &size)) {
        error = ErrorText("CryptSignHash");
        return false;
    }
    signed_.resize(size);
    // CryptoAPI gives the least significant byte first; the file holds the reverse.
    std::reverse(signed_.begin(), signed_.end());

    // Checked as the updater will check it, so that a key that cannot sign is found here.
    std::string publicBlob;
    if (!ExportKey(key.Get(), PUBLICKEYBLOB, publicBlob, error))
        return false;
    const std::vector<BYTE> publicBytes(publicBlob.begin(), publicBlob.end());
    if (!VerifySignature(publicBytes, data.data(), data.size(), signed_.data(), signed_.size())) {
        error = "the signature made does not verify under the key's public half";
        return false;
    }
    signature.swap(signed_);
    return true;
}

bool WriteNewKeyFile(const std::string& keyFile, std::string& publicKeyBase64, std::string& error) {
    if (GetFileAttributesA(keyFile.c_str()) != INVALID_FILE_ATTRIBUTES) {
        error = keyFile + " already exists; it is not replaced (clients that hold its public "
                          "key would refuse releases signed with a new one)";
        return false;
    }
    std::string privateBlob;
    if (!MakeSigningKey(privateBlob, publicKeyBase64, error))
        return false;
    const std::string temp = keyFile + ".tmp";
    const bool written =
        WriteTempFile(temp, privateBlob, error) && MoveIntoPlace(temp, keyFile, false, error);
    SecureZeroMemory(&privateBlob[0], privateBlob.size());
    return written;
}

bool WriteSignedReleaseManifest(const std::string& folder, const std::string& versionAnsi,
                                const std::string& keyFile, const ManifestRelease& release,
                                std::vector<ReleaseFile>& files, std::string& error) {
    files.clear();
    error.clear();
    if (IsInsideFolder(keyFile, folder)) {
        error = "the key file " + keyFile +
                " is inside the release folder and would be published with it; keep it elsewhere";
        return false;
    }
    std::string privateBlob;
    if (!ReadKeyFile(keyFile, privateBlob, error))
        return false;

    std::vector<ReleaseFile> listed;
    std::string version;
    if (!PrepareRelease(folder, versionAnsi, listed, version, error))
        return false;
    for (ReleaseFile& file : listed) {
        if (!FileSha256((folder + "\\" + file.name).c_str(), file.sha256)) {
            error = file.name + ": cannot be read: " + ErrorText("reading it");
            return false;
        }
    }
    std::vector<BlockIndexFile> indexes;
    if (!MakeBlockIndexes(folder, listed, indexes, error))
        return false;
    const std::string xml = ManifestXml(listed, version, release);
    std::string signature;
    const bool signedOk = SignBytes(privateBlob, xml, signature, error);
    SecureZeroMemory(&privateBlob[0], privateBlob.size());
    if (!signedOk || !WriteBlockIndexes(indexes, error))
        return false;

    const std::string signatureTemp = folder + "\\" + kSignatureTempName;
    if (!WriteTempFile(signatureTemp, signature, error))
        return false;
    if (!ReplaceManifest(folder, xml, error)) {
        DeleteFileA(signatureTemp.c_str());
        return false;
    }
    if (!MoveIntoPlace(signatureTemp, folder + "\\" + kSignatureName, true, error))
        return false;
    files.swap(listed);
    return true;
}
