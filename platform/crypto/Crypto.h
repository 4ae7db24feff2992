#pragma once
// The security services the updater asks of the platform: SHA-256 fed piece by piece, and
// the verification of a publisher's ECDSA P-256 / SHA-256 signature. Each backend wraps the
// platform's own library (libcrypto on Linux, BCrypt on Windows); nothing here is computed
// by hand, and no library type shows through this interface.

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

namespace platform {

using Sha256Digest = std::array<unsigned char, 32>;

// One running SHA-256. Final ends it; Update after Final is not allowed.
class Sha256 {
public:
    virtual ~Sha256() = default;
    virtual void Update(const void* data, std::size_t count) = 0;
    virtual Sha256Digest Final() = 0;
};

class Crypto {
public:
    virtual ~Crypto() = default;
    // A new running hash. Throws Exception when the platform cannot provide one.
    virtual std::unique_ptr<Sha256> NewSha256() const = 0;
    // Whether `signature` (DER ECDSA-Sig-Value) signs `message` (hashed with SHA-256) under
    // `publicKey` (DER SubjectPublicKeyInfo of a P-256 key). A key of another curve or kind,
    // or bytes that do not parse, give false, never an exception.
    virtual bool VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message,
                                       std::string_view signature) const = 0;
};

} // namespace platform
