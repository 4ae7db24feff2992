#pragma once
// TLS for the HTTP client, as the platform provides it (OpenSSL's libssl on Linux; the
// system's own TLS on Windows). A session does no I/O of its own: the caller passes it the
// bytes received from the socket and sends the bytes it produces, so the caller keeps every
// wait on the socket (the anti-freeze slicing, a close from a handler, the time-outs) in
// its own hands. No library type shows through this interface.
//
// Verification is not optional: a session checks the server's certificate chain against
// the system's trust (plus an optional PEM file of extra trusted certificates) and the
// host name or IP address it was made for. A failed check fails the handshake.

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
    Failed,   // see FailureKind and ErrorText
};

enum class TlsFailure {
    None,
    Certificate, // the server's certificate was rejected (chain, dates or name)
    Handshake,   // anything else that ended the handshake (an alert, a protocol error)
    Stream,      // an error after the handshake (an alert, a record that does not decrypt)
    Setup,       // the session could not be set up (the CA file cannot be read)
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
    // Decrypts into buffer what the received bytes hold, at most length bytes; got is the
    // count. Done (got > 0), WantRead (no complete record yet), Closed or Failed.
    virtual TlsStatus Read(void* buffer, std::size_t length, std::size_t& got) = 0;
    // Encrypts all of the bytes for TakeToSend: Done or Failed.
    virtual TlsStatus Write(const void* data, std::size_t count) = 0;
    // Queues a close-notify for TakeToSend.
    virtual void CloseNotify() = 0;

    // After Failed: what failed, and a text that says what happened. For a rejected
    // certificate it names the reason and the certificate's subject.
    virtual TlsFailure FailureKind() const = 0;
    virtual std::string ErrorText() const = 0;
    // After the handshake: the protocol version agreed ("TLSv1.2", "TLSv1.3").
    virtual std::string Protocol() const = 0;
};

// Makes client sessions; the platform's entry point (or a test) owns it and hands it to
// the clients that may speak TLS.
class Tls {
public:
    virtual ~Tls() = default;
    // A new session that has not sent anything yet. Setup problems (an unreadable CA file)
    // show as a session whose first Handshake fails with TlsFailure::Setup.
    virtual std::unique_ptr<TlsSession> NewClientSession(const TlsClientOptions& options) const = 0;
};

} // namespace platform
