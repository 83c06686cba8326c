// Checks that a release comes from its publisher: the publisher's RSA public key from the INI
// text and the signature of the manifest's exact bytes (SHA-256, RSA PKCS #1 v1.5). Every
// function answers true or false; none throws.
//
// The signature file (update.xml.sig) holds the signature most significant byte first, as
// PKCS #1 writes it, and exactly as long as the key's modulus (384 bytes for 3072 bits), so
// that tools other than CryptoAPI read it too. CryptoAPI produces and expects the reverse
// (least significant byte first); the signer and the check below both reverse it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

// The public key as mkmanifest prints it: the CryptoAPI PUBLICKEYBLOB of an RSA signature
// key, base64 without line breaks. Fills blob only when the text is strict base64 and decodes
// to such a blob of 2048 to 16384 bits; anything else (blanks, another kind of blob, a
// truncated or padded one, a key too short to trust) is false.
bool DecodePublicKey(const std::string& base64, std::vector<BYTE>& blob);

// True when signature (most significant byte first) is the key's signature of the SHA-256 of
// exactly size bytes at data. A blob that DecodePublicKey would refuse is false.
bool VerifySignature(const std::vector<BYTE>& publicKeyBlob, const void* data, size_t size,
                     const void* signature, size_t signatureSize);

// Both steps for a manifest and the content of its signature file, as fetched.
bool VerifyManifestSignature(const std::string& publicKeyBase64, const std::string& manifest,
                             const std::string& signature);
