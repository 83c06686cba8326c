// Manifests as a publisher writes them, and their signatures, for the test server to serve.
#pragma once

#include "tools/mkmanifest/manifest_signer.h"

#include <gtest/gtest.h>

#include <string>

namespace testsupport {

const char kXmlDeclaration[] = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

inline std::string ManifestEntry(const std::string& name, const std::string& size,
                                 const std::string& md5, const std::string& sha256 = "") {
    return "<file filename=\"" + name + "\" filesize=\"" + size +
           "\" fileversion=\"1.0.0.1\" md5=\"" + md5 + "\"" +
           (sha256.empty() ? "" : " sha256=\"" + sha256 + "\"") + "/>";
}

inline std::string ManifestXml(const std::string& entries, const std::string& rootAttributes = "") {
    return kXmlDeclaration +
           ("<manifest" + rootAttributes + "><filelist>" + entries + "</filelist></manifest>\n");
}

// The signature of bytes under the publisher's key (or another one), each made once: RSA 3072
// takes over a second under Wine. The key's PublicKey text in *publicKey when asked.
inline std::string Sign(const std::string& bytes, std::string* publicKey = nullptr,
                        bool otherKey = false) {
    static std::string privateBlob[2], publicText[2];
    std::string error, signature;
    EXPECT_TRUE(!publicText[otherKey].empty() ||
                MakeSigningKey(privateBlob[otherKey], publicText[otherKey], error))
        << error;
    EXPECT_TRUE(SignBytes(privateBlob[otherKey], bytes, signature, error)) << error;
    if (publicKey)
        *publicKey = publicText[otherKey];
    return signature;
}

} // namespace testsupport
