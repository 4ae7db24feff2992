#include "platform/posix/OpenSslTls.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <arpa/inet.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <string>

namespace platform {
namespace {

// The reason of the most recent error on this thread's OpenSSL error queue, or fallback.
std::string LibraryReason(const std::string& fallback)
{
    const unsigned long code = ERR_peek_last_error();
    if (code == 0)
        return fallback;
    const char* reason = ERR_reason_error_string(code);
    return reason ? reason : fallback;
}

std::string NameText(const X509_NAME* name)
{
    if (!name)
        return "(none)";
    BIO* bio = BIO_new(BIO_s_mem());
    if (!bio)
        return "(unknown)";
    // Most significant part first, as people read a name: "CN=host,O=Organisation".
    X509_NAME_print_ex(bio, name, 0, XN_FLAG_RFC2253 & ~XN_FLAG_DN_REV);
    char* data = nullptr;
    const long size = BIO_get_mem_data(bio, &data);
    std::string text = size > 0 ? std::string(data, static_cast<std::size_t>(size)) : std::string("(empty)");
    BIO_free(bio);
    return text;
}

bool IsDottedAddress(const std::string& host)
{
    in_addr address{};
    return inet_pton(AF_INET, host.c_str(), &address) == 1;
}

class OpenSslSession : public TlsSession {
public:
    explicit OpenSslSession(const TlsClientOptions& options) : host_(options.Host) { Setup(options); }

    ~OpenSslSession() override
    {
        SSL_free(ssl_); // frees both BIOs too
        SSL_CTX_free(ctx_);
    }

    void PutReceived(const void* data, std::size_t count) override
    {
        // What the library took goes first; that leaves at most part of a record to move.
        if (inAt_ > 0) {
            received_.erase(0, inAt_);
            inAt_ = 0;
        }
        received_.append(static_cast<const char*>(data), count);
    }

    std::string TakeToSend() override
    {
        std::string bytes;
        if (!out_)
            return bytes;
        char* data = nullptr;
        const long size = BIO_get_mem_data(out_, &data);
        if (size > 0) {
            bytes.assign(data, static_cast<std::size_t>(size));
            (void)BIO_reset(out_);
        }
        return bytes;
    }

    TlsStatus Handshake() override
    {
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        ERR_clear_error();
        const int rc = SSL_do_handshake(ssl_);
        if (rc == 1) {
            // The verify mode already failed any bad chain; this guards against a library
            // configured otherwise elsewhere in the process.
            const long verify = SSL_get_verify_result(ssl_);
            if (verify != X509_V_OK)
                return CertificateFailure(verify, PeerSubject());
            return TlsStatus::Done;
        }
        const int error = SSL_get_error(ssl_, rc);
        if (error == SSL_ERROR_WANT_READ)
            return TlsStatus::WantRead;
        if (rejectedReason_ != X509_V_OK)
            return CertificateFailure(rejectedReason_, rejectedSubject_);
        return Fail({.Kind = TlsFailureKind::Handshake,
                     .Reason = TlsReason::Other,
                     .Detail = LibraryReason("the server's answer is not TLS")});
    }

    TlsStatus Available() override
    {
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        ERR_clear_error();
        // A peek decrypts the next record in the library's own buffer, where the Read that
        // follows takes it from: the decrypted bytes are held in one place only.
        char byte = 0;
        std::size_t got = 0;
        if (SSL_peek_ex(ssl_, &byte, 1, &got) == 1)
            return TlsStatus::Done;
        return ReadError(SSL_get_error(ssl_, 0));
    }

    TlsStatus Read(void* buffer, std::size_t length, std::size_t& got) override
    {
        got = 0;
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        ERR_clear_error();
        if (SSL_read_ex(ssl_, buffer, length, &got) == 1)
            return TlsStatus::Done;
        return ReadError(SSL_get_error(ssl_, 0));
    }

    TlsStatus Write(const void* data, std::size_t count) override
    {
        if (failure_.Kind != TlsFailureKind::None)
            return TlsStatus::Failed;
        ERR_clear_error();
        std::size_t written = 0;
        // The output is a memory buffer, so a write takes every byte at once.
        if (count == 0 || (SSL_write_ex(ssl_, data, count, &written) == 1 && written == count))
            return TlsStatus::Done;
        return Fail({.Kind = TlsFailureKind::Stream,
                     .Reason = TlsReason::Other,
                     .Detail = LibraryReason("the data could not be encrypted")});
    }

    void CloseNotify() override
    {
        if (ssl_ && failure_.Kind == TlsFailureKind::None && SSL_is_init_finished(ssl_)) {
            ERR_clear_error();
            SSL_shutdown(ssl_);
        }
    }

    const TlsFailure& Failure() const override { return failure_; }

    std::string Protocol() const override { return ssl_ ? SSL_get_version(ssl_) : ""; }

private:
    void Setup(const TlsClientOptions& options)
    {
        ERR_clear_error();
        ctx_ = SSL_CTX_new(TLS_client_method());
        if (!ctx_) {
            Fail(
                {.Kind = TlsFailureKind::Setup, .Reason = TlsReason::Other, .Detail = LibraryReason("no TLS context")});
            return;
        }
        SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, &OpenSslSession::VerifyCallback);
        // A system without a trust store leaves only the CA file to trust; that is not an
        // error here, the handshake then rejects every other certificate.
        SSL_CTX_set_default_verify_paths(ctx_);
        if (!options.CAFile.empty() && SSL_CTX_load_verify_locations(ctx_, options.CAFile.c_str(), nullptr) != 1) {
            const bool readable = std::ifstream(options.CAFile).good();
            Fail({.Kind = TlsFailureKind::Setup,
                  .Reason = readable ? TlsReason::CAFileWithoutCertificates : TlsReason::CAFileUnreadable,
                  .Detail = LibraryReason("")});
            return;
        }
        ssl_ = SSL_new(ctx_);
        in_ = InputMethod() ? BIO_new(InputMethod()) : nullptr;
        out_ = BIO_new(BIO_s_mem());
        if (!ssl_ || !in_ || !out_) {
            BIO_free(in_);
            BIO_free(out_);
            in_ = out_ = nullptr;
            Fail(
                {.Kind = TlsFailureKind::Setup, .Reason = TlsReason::Other, .Detail = LibraryReason("no TLS session")});
            return;
        }
        BIO_set_data(in_, this);
        BIO_set_init(in_, 1);
        SSL_set_bio(ssl_, in_, out_);
        SSL_set_connect_state(ssl_);
        SSL_set_app_data(ssl_, this);

        X509_VERIFY_PARAM* param = SSL_get0_param(ssl_);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        bool nameSet;
        if (IsDottedAddress(host_)) {
            nameSet = X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str()) == 1;
        } else {
            nameSet = SSL_set1_host(ssl_, host_.c_str()) == 1;
            SSL_set_tlsext_host_name(ssl_, host_.c_str());
        }
        if (!nameSet)
            Fail({.Kind = TlsFailureKind::Setup, .Reason = TlsReason::HostNotCheckable, .Detail = LibraryReason("")});
    }

    // The library reads the received bytes through a source of this kind, straight from
    // the session's buffer: a memory buffer would copy them once more, and clear its space
    // before each write too.
    static BIO_METHOD* InputMethod()
    {
        static BIO_METHOD* const method = [] {
            BIO_METHOD* m = BIO_meth_new(BIO_get_new_index() | BIO_TYPE_SOURCE_SINK, "received bytes");
            if (m && (BIO_meth_set_read_ex(m, &OpenSslSession::ReadReceived) != 1 ||
                      BIO_meth_set_ctrl(m, &OpenSslSession::ControlReceived) != 1)) {
                BIO_meth_free(m);
                m = nullptr;
            }
            return m;
        }();
        return method;
    }

    // An empty buffer means "wait for more", not the end of the stream: the end comes from
    // the transport, which the caller watches.
    static int ReadReceived(BIO* bio, char* out, std::size_t length, std::size_t* read)
    {
        auto* self = static_cast<OpenSslSession*>(BIO_get_data(bio));
        BIO_clear_retry_flags(bio);
        const std::size_t available = self->received_.size() - self->inAt_;
        if (available == 0 || length == 0) {
            BIO_set_retry_read(bio);
            *read = 0;
            return 0;
        }
        const std::size_t n = std::min(length, available);
        std::memcpy(out, self->received_.data() + self->inAt_, n);
        self->inAt_ += n;
        *read = n;
        return 1;
    }

    static long ControlReceived(BIO* bio, int command, long, void*)
    {
        const auto* self = static_cast<const OpenSslSession*>(BIO_get_data(bio));
        switch (command) {
        case BIO_CTRL_PENDING:
            return static_cast<long>(self->received_.size() - self->inAt_);
        case BIO_CTRL_FLUSH:
            return 1;
        default:
            return 0;
        }
    }

    // Keeps the first rejection of the chain, with the subject of the certificate it was
    // about, for the error text; the library's own error queue only says "certificate
    // verify failed".
    static int VerifyCallback(int preverifyOk, X509_STORE_CTX* store)
    {
        if (preverifyOk)
            return 1;
        auto* ssl = static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
        auto* self = ssl ? static_cast<OpenSslSession*>(SSL_get_app_data(ssl)) : nullptr;
        if (self && self->rejectedReason_ == X509_V_OK) {
            self->rejectedReason_ = X509_STORE_CTX_get_error(store);
            const X509* cert = X509_STORE_CTX_get_current_cert(store);
            self->rejectedSubject_ = cert ? NameText(X509_get_subject_name(cert)) : "(none)";
        }
        return 0;
    }

    std::string PeerSubject() const
    {
        X509* cert = SSL_get1_peer_certificate(ssl_);
        const std::string subject = cert ? NameText(X509_get_subject_name(cert)) : "(none)";
        X509_free(cert);
        return subject;
    }

    TlsStatus ReadError(int error)
    {
        switch (error) {
        case SSL_ERROR_WANT_READ:
            return TlsStatus::WantRead;
        case SSL_ERROR_ZERO_RETURN:
            return TlsStatus::Closed;
        default:
            return Fail({.Kind = TlsFailureKind::Stream,
                         .Reason = TlsReason::Other,
                         .Detail = LibraryReason("a record could not be read")});
        }
    }

    TlsStatus CertificateFailure(long error, std::string subject)
    {
        return Fail({.Kind = TlsFailureKind::Certificate,
                     .Reason = CertificateReason(error),
                     .Detail = X509_verify_cert_error_string(error),
                     .Subject = std::move(subject)});
    }

    static TlsReason CertificateReason(long error)
    {
        switch (error) {
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT:
        case X509_V_ERR_UNABLE_TO_GET_ISSUER_CERT_LOCALLY:
        case X509_V_ERR_UNABLE_TO_VERIFY_LEAF_SIGNATURE:
            return TlsReason::UnknownIssuer;
        case X509_V_ERR_CERT_HAS_EXPIRED:
            return TlsReason::Expired;
        case X509_V_ERR_CERT_NOT_YET_VALID:
            return TlsReason::NotYetValid;
        case X509_V_ERR_HOSTNAME_MISMATCH:
        case X509_V_ERR_IP_ADDRESS_MISMATCH:
            return TlsReason::NameMismatch;
        case X509_V_ERR_DEPTH_ZERO_SELF_SIGNED_CERT:
            return TlsReason::SelfSigned;
        default:
            return TlsReason::Other;
        }
    }

    TlsStatus Fail(TlsFailure failure)
    {
        if (failure_.Kind == TlsFailureKind::None)
            failure_ = std::move(failure);
        ERR_clear_error();
        return TlsStatus::Failed;
    }

    std::string host_;
    SSL_CTX* ctx_ = nullptr;
    SSL* ssl_ = nullptr;
    BIO* in_ = nullptr;    // owned by ssl_ once attached
    std::string received_; // received bytes; the library has read those before inAt_
    std::size_t inAt_ = 0;
    BIO* out_ = nullptr; // owned by ssl_ once attached
    long rejectedReason_ = X509_V_OK;
    std::string rejectedSubject_;
    TlsFailure failure_;
};

} // namespace

std::unique_ptr<TlsSession> OpenSslTls::NewClientSession(const TlsClientOptions& options) const
{
    return std::make_unique<OpenSslSession>(options);
}

} // namespace platform
