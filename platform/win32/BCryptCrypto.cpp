#include "platform/win32/BCryptCrypto.h"

#include "platform/runtime/Exception.h"
#include "platform/win32/WindowsHeaders.h"

#include <bcrypt.h>

#include <algorithm>
#include <cstring>

namespace platform {

namespace {

// mingw-w64's headers lack some of these names.
#ifndef BCRYPT_ECDSA_PUBLIC_P256_MAGIC
#define BCRYPT_ECDSA_PUBLIC_P256_MAGIC 0x31534345
#endif

constexpr std::size_t kCoordinate = 32;

// The DER of a P-256 SubjectPublicKeyInfo up to the point: SEQUENCE, AlgorithmIdentifier
// (id-ecPublicKey, prime256v1), BIT STRING of 66 bytes with no unused bits.
constexpr unsigned char kSpkiPrefix[] = {0x30, 0x59, 0x30, 0x13, 0x06, 0x07, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x02, 0x01,
                                         0x06, 0x08, 0x2a, 0x86, 0x48, 0xce, 0x3d, 0x03, 0x01, 0x07, 0x03, 0x42, 0x00};

bool Ok(NTSTATUS s) { return s >= 0; }

class Algorithm {
public:
    explicit Algorithm(LPCWSTR id)
    {
        if (!Ok(::BCryptOpenAlgorithmProvider(&handle_, id, nullptr, 0)))
            handle_ = nullptr;
    }
    ~Algorithm()
    {
        if (handle_)
            ::BCryptCloseAlgorithmProvider(handle_, 0);
    }
    Algorithm(const Algorithm&) = delete;
    Algorithm& operator=(const Algorithm&) = delete;
    BCRYPT_ALG_HANDLE Get() const { return handle_; }

private:
    BCRYPT_ALG_HANDLE handle_ = nullptr;
};

class BCryptSha256 : public Sha256 {
public:
    BCryptSha256() : alg_(BCRYPT_SHA256_ALGORITHM)
    {
        if (!alg_.Get() || !Ok(::BCryptCreateHash(alg_.Get(), &hash_, nullptr, 0, nullptr, 0, 0)))
            throw Exception("SHA-256 is not available from BCrypt.");
    }
    ~BCryptSha256() override
    {
        if (hash_)
            ::BCryptDestroyHash(hash_);
    }

    void Update(const void* data, std::size_t count) override
    {
        auto* p = static_cast<const unsigned char*>(data);
        while (count > 0) {
            const ULONG n = static_cast<ULONG>(std::min<std::size_t>(count, 1u << 30));
            if (!Ok(::BCryptHashData(hash_, const_cast<PUCHAR>(p), n, 0)))
                throw Exception("SHA-256 failed in BCrypt.");
            p += n;
            count -= n;
        }
    }

    Sha256Digest Final() override
    {
        Sha256Digest d{};
        if (!Ok(::BCryptFinishHash(hash_, d.data(), static_cast<ULONG>(d.size()), 0)))
            throw Exception("SHA-256 failed in BCrypt.");
        return d;
    }

private:
    Algorithm alg_;
    BCRYPT_HASH_HANDLE hash_ = nullptr;
};

// One DER INTEGER at `at`, as a positive value of at most 32 bytes, left-padded to 32.
bool ReadInteger(std::string_view der, std::size_t& at, std::string& out)
{
    if (at + 2 > der.size() || static_cast<unsigned char>(der[at]) != 0x02)
        return false;
    const std::size_t len = static_cast<unsigned char>(der[at + 1]);
    at += 2;
    if (len == 0 || len > 0x7F || at + len > der.size())
        return false;
    std::string_view v = der.substr(at, len);
    at += len;
    const auto b0 = static_cast<unsigned char>(v[0]);
    if (b0 & 0x80)
        return false; // negative
    if (b0 == 0) {
        // A leading zero only where the next byte would read as a sign.
        if (v.size() == 1)
            return false; // zero is no valid r or s
        if (!(static_cast<unsigned char>(v[1]) & 0x80))
            return false;
        v.remove_prefix(1);
    }
    if (v.size() > kCoordinate)
        return false;
    out.append(kCoordinate - v.size(), '\0');
    out.append(v);
    return true;
}

} // namespace

std::optional<std::string> P256PointOfSpki(std::string_view spki)
{
    constexpr std::size_t prefix = sizeof kSpkiPrefix;
    if (spki.size() != prefix + 1 + 2 * kCoordinate)
        return std::nullopt;
    if (spki.substr(0, prefix) != std::string_view(reinterpret_cast<const char*>(kSpkiPrefix), prefix))
        return std::nullopt;
    if (spki[prefix] != 0x04) // an uncompressed point
        return std::nullopt;
    return std::string(spki.substr(prefix + 1));
}

std::optional<std::string> RawSignatureOfDer(std::string_view der)
{
    if (der.size() < 2 || static_cast<unsigned char>(der[0]) != 0x30)
        return std::nullopt;
    const std::size_t len = static_cast<unsigned char>(der[1]);
    if (len > 0x7F || len + 2 != der.size())
        return std::nullopt;
    std::string raw;
    std::size_t at = 2;
    if (!ReadInteger(der, at, raw) || !ReadInteger(der, at, raw) || at != der.size())
        return std::nullopt;
    return raw;
}

std::unique_ptr<Sha256> BCryptCrypto::NewSha256() const { return std::make_unique<BCryptSha256>(); }

bool BCryptCrypto::VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message,
                                         std::string_view signature) const
{
    const auto point = P256PointOfSpki(publicKey);
    const auto raw = RawSignatureOfDer(signature);
    if (!point || !raw)
        return false;
    Sha256Digest digest;
    try {
        BCryptSha256 hash;
        hash.Update(message.data(), message.size());
        digest = hash.Final();
    } catch (const Exception&) {
        return false;
    }

    Algorithm alg(BCRYPT_ECDSA_P256_ALGORITHM);
    if (!alg.Get())
        return false;
    std::string blob(sizeof(BCRYPT_ECCKEY_BLOB), '\0');
    BCRYPT_ECCKEY_BLOB header{BCRYPT_ECDSA_PUBLIC_P256_MAGIC, static_cast<ULONG>(kCoordinate)};
    std::memcpy(blob.data(), &header, sizeof header);
    blob += *point;
    BCRYPT_KEY_HANDLE key = nullptr;
    if (!Ok(::BCryptImportKeyPair(alg.Get(), nullptr, BCRYPT_ECCPUBLIC_BLOB, &key,
                                  reinterpret_cast<PUCHAR>(blob.data()), static_cast<ULONG>(blob.size()), 0)))
        return false;
    std::string sig = *raw;
    const NTSTATUS s = ::BCryptVerifySignature(key, nullptr, digest.data(), static_cast<ULONG>(digest.size()),
                                               reinterpret_cast<PUCHAR>(sig.data()), static_cast<ULONG>(sig.size()), 0);
    ::BCryptDestroyKey(key);
    return s == 0;
}

} // namespace platform
