#pragma once
// The security services on Linux, over OpenSSL's libcrypto (EVP interface). Also the
// publisher's side of signing, for the signing tool: key generation and signatures.
// No OpenSSL type appears here, so callers need none of its headers.

#include "platform/crypto/Crypto.h"

#include <string>

namespace platform {

class OpenSslCrypto : public Crypto {
public:
    std::unique_ptr<Sha256> NewSha256() const override;
    bool VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message,
                               std::string_view signature) const override;
};

// The publisher's side. Each throws Exception with OpenSSL's reason on failure.
struct P256KeyPair {
    std::string PrivateKeyPem; // PKCS#8 PEM
    std::string PublicKeyDer;  // SubjectPublicKeyInfo
};
P256KeyPair GenerateP256Key();
// The DER SubjectPublicKeyInfo of the P-256 private key in `privateKeyPem`.
std::string P256PublicKeyOf(std::string_view privateKeyPem);
// The DER ECDSA signature of SHA-256(message) under the P-256 private key.
std::string SignEcdsaP256Sha256(std::string_view privateKeyPem, std::string_view message);

} // namespace platform
