#pragma once
// The TLS transport: TLS over another transport, the inner one (a socket transport of its
// own, or a connection already open, such as a tunnel through a proxy). Every wait, receive
// and send goes through the inner transport's own calls, so waits are sliced by the
// anti-freeze and a CloseConnection from a handler ends them exactly as without TLS: a
// close during the handshake ends it quietly, as one during a connect does. The session
// comes from the platform (platform/tls) and holds the decrypted bytes until they are read;
// this class holds none of its own.
//
// A close by the server without a close-notify is still a close here (the connection
// layer's reads end as with plain sockets), but StreamCutShort() then tells the client
// that the bytes before it cannot be trusted to be complete.
//
// Failures raise EIdTLSCertificateRejected, EIdTLSHandshakeFailed or EIdTLSError with one
// sentence made from the session's failure (FailureText), the same on every platform.

#include "http/IdIOHandler.h"
#include "platform/tls/Tls.h"

#include <memory>
#include <string>

class TIdTLSIOHandlerSocket : public TIdIOHandler {
public:
    // Bytes asked of one receive from the inner transport.
    static constexpr std::size_t RecvChunk = 65536;

    // The TLS provider is borrowed and must outlive the handler. caFile: a PEM file of
    // certificates trusted besides the system's (empty: none). Without an inner transport
    // the handler makes a socket transport of its own.
    TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile);
    // Over `inner`, owned from now on; it may be open already (see StartTls).
    TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile,
                          std::unique_ptr<TIdIOHandler> inner);
    // Over a borrowed `inner`, which must outlive the handler.
    TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile, TIdIOHandler& inner);
    ~TIdTLSIOHandlerSocket() override;
    UPDATER_CLASS_NAME(TIdTLSIOHandlerSocket)

    void PrepareHandle() override { inner_->PrepareHandle(); }
    // The inner connect, then the handshake with the host's certificate checked. The
    // handshake's reads wait at most `timeout` ms in all (TimeoutDefault or 0: no limit).
    // Raises EIdTLSCertificateRejected, EIdTLSHandshakeFailed (also for a server that
    // closes or stays silent past the time-out), EIdTLSError, or the inner transport's errors.
    void ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP, int boundPort,
                   int portMin, int portMax) override;
    bool IsHandleOpen() const override { return inner_->IsHandleOpen(); }
    // True once decrypted bytes (or the end of the stream) are ready; bytes that do not yet
    // make a whole record are taken in and the wait goes on for the rest of the time.
    bool WaitReadable(int ms) override;
    // EIdClosedSocket "Disconnected." when closed, or before a handshake.
    std::int64_t ReceiveSome(void* buffer, std::size_t length) override;
    std::int64_t SendSome(const void* buffer, std::size_t length) override;
    // Sends a close-notify on an established session, then closes the inner transport.
    void ShutHandle() override;
    bool StreamCutShort() const override { return cutShort_; }

    // The handshake with `host` over the inner transport as it stands (open: a tunnel
    // through a proxy after its CONNECT), verified exactly as after ConnectTo; timeout as
    // for ConnectTo. A failed handshake closes the inner transport: nothing may follow it.
    void StartTls(const std::string& host, int timeout);

    // The protocol version of the current session ("TLSv1.3"), empty before a handshake.
    std::string Protocol() const;
    // The failure the handler raised last; Kind None when there was none.
    const platform::TlsFailure& Failure() const { return failure_; }
    TIdIOHandler& Inner() const { return *inner_; }

    // The sentence for a failure of a session made for `host` with the CA file `caFile`:
    // "The certificate of HOST was rejected: REASON (subject: SUBJECT)", "TLS handshake with
    // HOST failed: ...", "TLS error on the connection to HOST: ...", "Cannot load the
    // trusted certificates of "CAFILE": ...", ...
    static std::string FailureText(const platform::TlsFailure& failure, const std::string& host,
                                   const std::string& caFile);

private:
    void Handshake(int timeout);
    // One receive from the inner transport into the session; false at the end of the
    // stream (which it notes).
    bool ReceiveIntoSession();
    // Whether the session holds decrypted bytes or the peer's close-notify.
    bool SessionReady();
    // Sends everything the session has queued; false when the transport failed.
    bool SendQueued();
    // Raises the exception for `failure`, kept as Failure(); a failed handshake closes
    // the transport first.
    [[noreturn]] void Raise(platform::TlsFailure failure);

    const platform::Tls& tls_;
    std::string caFile_;
    std::unique_ptr<TIdIOHandler> ownedInner_;
    TIdIOHandler* inner_;
    std::unique_ptr<platform::TlsSession> session_;
    std::string host_;
    platform::TlsFailure failure_;
    // RecvChunk bytes for the inner transport's receives, made once per handler: a fresh
    // buffer per receive costs more than the copy it feeds.
    std::unique_ptr<char[]> received_;
    bool established_ = false;
    bool peerNotified_ = false; // the peer's close-notify came
    bool eof_ = false;          // the inner transport reached its end
    bool cutShort_ = false;     // ... without a close-notify before it
};
