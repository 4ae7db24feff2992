#pragma once
// The security services on Windows, over BCrypt: SHA-256 and ECDSA P-256 verification.
// BCrypt takes a raw public point (BCRYPT_ECCPUBLIC_BLOB) and a raw r||s signature, so the
// DER SubjectPublicKeyInfo and the DER signature are unpacked here first; that is a reading
// of the encodings, the arithmetic stays in BCrypt.

#include "platform/crypto/Crypto.h"

#include <optional>
#include <string>

namespace platform {

class BCryptCrypto : public Crypto {
public:
    std::unique_ptr<Sha256> NewSha256() const override;
    bool VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message,
                               std::string_view signature) const override;
};

// The 64 bytes X||Y of an uncompressed P-256 point in a DER SubjectPublicKeyInfo; nothing
// for any other key or encoding.
std::optional<std::string> P256PointOfSpki(std::string_view spki);
// The 64 bytes r||s of a DER ECDSA-Sig-Value with P-256 sized integers; nothing when the
// bytes are not strict DER (long or non-minimal forms, negative values, trailing bytes).
std::optional<std::string> RawSignatureOfDer(std::string_view der);

} // namespace platform
