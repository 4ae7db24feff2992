#pragma once
// TLS for the HTTP client, as the platform provides it (OpenSSL's libssl on Linux; the
// system's own TLS on Windows). A session does no I/O of its own: the caller passes it the
// bytes received from its transport and sends the bytes it produces, so the caller keeps
// every wait (the anti-freeze slicing, a close from a handler, the time-outs) in its own
// hands. No library type shows through this interface.
//
// Verification is not optional: a session checks the server's certificate chain against
// the system's trust (plus an optional PEM file of extra trusted certificates) and the
// host name or IP address it was made for. A failed check fails the handshake.
//
// A failure is reported as data (TlsFailure): what failed, why, and the library's own
// words; the client makes the sentence a user reads from it, the same on every platform.

#include <cstddef>
#include <memory>
#include <string>

namespace platform {

struct TlsClientOptions {
    // The name or dotted address the certificate must be issued for. A name is also sent
    // as the server name (SNI); an address is matched against the certificate's IP entries.
    std::string Host;
    // A PEM file of certificates trusted in addition to the system's; empty: none.
    std::string CAFile;
};

enum class TlsStatus {
    Done,     // the step completed (handshake finished, bytes decrypted, bytes queued)
    WantRead, // more bytes from the peer are needed; send what TakeToSend gives first
    Closed,   // the peer ended the stream with a close-notify
    Failed,   // see Failure
};

enum class TlsFailureKind {
    None,
    Certificate, // the server's certificate was rejected (chain, dates or name)
    Handshake,   // anything else that ended the handshake (an alert, a protocol error)
    Stream,      // an error after the handshake (an alert, a record that does not decrypt)
    Setup,       // the session could not be set up (the CA file cannot be read)
};

// Why a certificate was rejected or a session could not be set up. Other: Detail says.
enum class TlsReason {
    None,
    // Certificate
    UnknownIssuer, // the chain ends in no trusted certificate
    Expired,
    NotYetValid,
    NameMismatch, // the certificate is not for the host name or address
    SelfSigned,   // the server's own certificate, signed by itself, is not trusted
    NoCertificate,
    // Setup
    CAFileUnreadable,
    CAFileWithoutCertificates,
    HostNotCheckable, // the host cannot be matched against a certificate
    Other,
};

struct TlsFailure {
    TlsFailureKind Kind = TlsFailureKind::None;
    TlsReason Reason = TlsReason::None;
    // The library's own words for what happened, with its error code where it has one;
    // empty when Reason says it all.
    std::string Detail = {};
    // For a rejected certificate: the subject of the one rejected ("CN=host,O=Org",
    // most significant part first); empty when there was none.
    std::string Subject = {};
};

class TlsSession {
public:
    virtual ~TlsSession() = default;

    // Bytes received from the peer, in order.
    virtual void PutReceived(const void* data, std::size_t count) = 0;
    // Takes the bytes the session wants sent, in order; empty when there are none.
    virtual std::string TakeToSend() = 0;

    // One step of the client handshake: Done, WantRead or Failed.
    virtual TlsStatus Handshake() = 0;
    // Processes the received bytes until decrypted bytes wait to be read, without taking
    // any: Done (Read gives at least one byte), WantRead (no complete record yet, or only
    // messages of the protocol itself), Closed or Failed.
    virtual TlsStatus Available() = 0;
    // Decrypts into buffer what the received bytes hold, at most length bytes; got is the
    // count. Done (got > 0), WantRead (no complete record yet), Closed or Failed.
    virtual TlsStatus Read(void* buffer, std::size_t length, std::size_t& got) = 0;
    // Encrypts all of the bytes for TakeToSend: Done or Failed.
    virtual TlsStatus Write(const void* data, std::size_t count) = 0;
    // Queues a close-notify for TakeToSend.
    virtual void CloseNotify() = 0;

    // After Failed: what failed and why (the first failure; a session stays failed).
    virtual const TlsFailure& Failure() const = 0;
    // After the handshake: the protocol version agreed ("TLSv1.2", "TLSv1.3").
    virtual std::string Protocol() const = 0;
};

// Makes client sessions; the platform's entry point (or a test) owns it and hands it to
// the clients that may speak TLS.
class Tls {
public:
    virtual ~Tls() = default;
    // A new session that has not sent anything yet. Setup problems (an unreadable CA file)
    // show as a session whose first Handshake fails with TlsFailureKind::Setup.
    virtual std::unique_ptr<TlsSession> NewClientSession(const TlsClientOptions& options) const = 0;
};

} // namespace platform
