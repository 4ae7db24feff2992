#include "platform/posix/OpenSslCrypto.h"

#include "platform/runtime/Exception.h"

#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/x509.h>

#include <cstring>

namespace platform {

namespace {

struct PkeyFree {
    void operator()(EVP_PKEY* k) const { EVP_PKEY_free(k); }
};
struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { EVP_MD_CTX_free(c); }
};
struct PkeyCtxFree {
    void operator()(EVP_PKEY_CTX* c) const { EVP_PKEY_CTX_free(c); }
};
struct BioFree {
    void operator()(BIO* b) const { BIO_free(b); }
};
using Pkey = std::unique_ptr<EVP_PKEY, PkeyFree>;
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

// OpenSSL's reason for the last failure, and its queue cleared for the next call.
std::string LastReason()
{
    const unsigned long code = ERR_get_error();
    ERR_clear_error();
    if (code == 0)
        return "unknown reason";
    char text[256];
    ERR_error_string_n(code, text, sizeof text);
    return text;
}

[[noreturn]] void Fail(const std::string& what) { throw Exception(what + ": " + LastReason()); }

bool IsP256(EVP_PKEY* key)
{
    if (EVP_PKEY_get_base_id(key) != EVP_PKEY_EC)
        return false;
    char group[64] = {};
    std::size_t len = 0;
    if (EVP_PKEY_get_group_name(key, group, sizeof group, &len) != 1)
        return false;
    return std::strcmp(group, "prime256v1") == 0;
}

class OpenSslSha256 : public Sha256 {
public:
    OpenSslSha256() : ctx_(EVP_MD_CTX_new())
    {
        if (!ctx_ || EVP_DigestInit_ex(ctx_.get(), EVP_sha256(), nullptr) != 1)
            Fail("SHA-256 is not available");
    }
    void Update(const void* data, std::size_t count) override
    {
        if (count > 0 && EVP_DigestUpdate(ctx_.get(), data, count) != 1)
            Fail("SHA-256 failed");
    }
    Sha256Digest Final() override
    {
        Sha256Digest d{};
        unsigned int len = 0;
        if (EVP_DigestFinal_ex(ctx_.get(), d.data(), &len) != 1 || len != d.size())
            Fail("SHA-256 failed");
        return d;
    }

private:
    MdCtx ctx_;
};

Pkey ReadPrivateKey(std::string_view pem)
{
    std::unique_ptr<BIO, BioFree> bio(BIO_new_mem_buf(pem.data(), static_cast<int>(pem.size())));
    if (!bio)
        Fail("Cannot read the private key");
    Pkey key(PEM_read_bio_PrivateKey(bio.get(), nullptr, nullptr, nullptr));
    if (!key)
        Fail("Cannot read the private key");
    if (!IsP256(key.get()))
        throw Exception("The private key is not a P-256 (prime256v1) key");
    return key;
}

std::string PublicDer(EVP_PKEY* key)
{
    unsigned char* der = nullptr;
    const int len = i2d_PUBKEY(key, &der);
    if (len <= 0)
        Fail("Cannot write the public key");
    std::string out(reinterpret_cast<char*>(der), static_cast<std::size_t>(len));
    OPENSSL_free(der);
    return out;
}

} // namespace

std::unique_ptr<Sha256> OpenSslCrypto::NewSha256() const { return std::make_unique<OpenSslSha256>(); }

bool OpenSslCrypto::VerifyEcdsaP256Sha256(std::string_view publicKey, std::string_view message,
                                          std::string_view signature) const
{
    const auto* p = reinterpret_cast<const unsigned char*>(publicKey.data());
    Pkey key(d2i_PUBKEY(nullptr, &p, static_cast<long>(publicKey.size())));
    // Trailing bytes after the key's DER would let two key texts mean one key.
    const bool whole = key && p == reinterpret_cast<const unsigned char*>(publicKey.data()) + publicKey.size();
    bool ok = false;
    if (whole && IsP256(key.get())) {
        MdCtx ctx(EVP_MD_CTX_new());
        ok = ctx && EVP_DigestVerifyInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) == 1 &&
             EVP_DigestVerify(ctx.get(), reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                              reinterpret_cast<const unsigned char*>(message.data()), message.size()) == 1;
    }
    ERR_clear_error();
    return ok;
}

P256KeyPair GenerateP256Key()
{
    Pkey key(EVP_EC_gen("prime256v1"));
    if (!key)
        Fail("Cannot make a P-256 key");
    std::unique_ptr<BIO, BioFree> bio(BIO_new(BIO_s_mem()));
    if (!bio || PEM_write_bio_PrivateKey(bio.get(), key.get(), nullptr, nullptr, 0, nullptr, nullptr) != 1)
        Fail("Cannot write the private key");
    char* data = nullptr;
    const long len = BIO_get_mem_data(bio.get(), &data);
    return {std::string(data, static_cast<std::size_t>(len)), PublicDer(key.get())};
}

std::string P256PublicKeyOf(std::string_view privateKeyPem) { return PublicDer(ReadPrivateKey(privateKeyPem).get()); }

std::string SignEcdsaP256Sha256(std::string_view privateKeyPem, std::string_view message)
{
    Pkey key = ReadPrivateKey(privateKeyPem);
    MdCtx ctx(EVP_MD_CTX_new());
    std::size_t len = 0;
    if (!ctx || EVP_DigestSignInit(ctx.get(), nullptr, EVP_sha256(), nullptr, key.get()) != 1 ||
        EVP_DigestSign(ctx.get(), nullptr, &len, reinterpret_cast<const unsigned char*>(message.data()),
                       message.size()) != 1)
        Fail("Cannot sign");
    std::string sig(len, '\0');
    if (EVP_DigestSign(ctx.get(), reinterpret_cast<unsigned char*>(sig.data()), &len,
                       reinterpret_cast<const unsigned char*>(message.data()), message.size()) != 1)
        Fail("Cannot sign");
    sig.resize(len);
    return sig;
}

} // namespace platform
