// Signed releases: the publisher's key pair, made once, and a manifest written together with
// the signature of its exact bytes (see manifest/manifest_signature.h for the check and the
// signature's byte order).
#pragma once

#include "tools/mkmanifest/manifest_writer.h"

#include <string>
#include <vector>

// A new RSA 3072 signature key pair of the platform's own provider: privateBlob receives the
// private key as a CryptoAPI PRIVATEKEYBLOB, publicKeyBase64 the public key as one line of
// base64, the form the INI's PublicKey holds.
bool MakeSigningKey(std::string& privateBlob, std::string& publicKeyBase64, std::string& error);

// The signature (SHA-256, most significant byte first) of data under the private key blob,
// checked against the key's public half before it is handed out.
bool SignBytes(const std::string& privateBlob, const std::string& data, std::string& signature,
               std::string& error);

// Makes a key pair and writes the private key to keyFile in one step. An existing keyFile is
// never replaced: the clients configured with its public key would refuse every release.
bool WriteNewKeyFile(const std::string& keyFile, std::string& publicKeyBase64, std::string& error);

// As WriteReleaseManifest, with each file's SHA-256 and the release's serial and expiry in the
// manifest, and the manifest's signature under the private key in keyFile written beside it. A
// key file inside the release folder is refused (it would be published with the release).
// Nothing is written unless the key signs; each file is written in one step.
bool WriteSignedReleaseManifest(const std::string& folder, const std::string& versionAnsi,
                                const std::string& keyFile, const ManifestRelease& release,
                                std::vector<ReleaseFile>& files, std::string& error);
