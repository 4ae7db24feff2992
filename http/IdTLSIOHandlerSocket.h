#pragma once
// The TLS transport: the socket transport's connect, then a TLS handshake over the same
// socket, then every receive and send through the TLS session. The session comes from the
// platform (platform/tls); this class does the socket I/O for it, so waits are sliced by
// the anti-freeze and a CloseConnection from a handler ends them exactly as with plain
// sockets: a close during the handshake ends it quietly, as one during a connect does.
//
// A close by the server without a close-notify is still a close here (the connection
// layer's reads end as with plain sockets), but StreamCutShort() then tells the client
// that the bytes before it cannot be trusted to be complete.

#include "http/IdIOHandlerSocket.h"
#include "platform/tls/forward.h"

#include <memory>
#include <string>

class TIdTLSIOHandlerSocket : public TIdIOHandlerSocket {
public:
    // Bytes asked of one receive from the socket.
    static constexpr std::size_t RecvChunk = 65536;

    // The TLS provider is borrowed and must outlive the handler. caFile: a PEM file of
    // certificates trusted besides the system's (empty: none).
    TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile);
    ~TIdTLSIOHandlerSocket() override;
    UPDATER_CLASS_NAME(TIdTLSIOHandlerSocket)

    // The socket connect, then the handshake with the host's certificate checked. The
    // handshake's reads wait at most `timeout` ms in all (TimeoutDefault or 0: no limit).
    // Raises EIdTLSCertificateRejected, EIdTLSHandshakeFailed (also for a server that
    // closes or stays silent past the time-out), or the socket errors.
    void ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP, int boundPort,
                   int portMin, int portMax) override;
    // True once decrypted bytes (or the end of the stream) are ready; bytes that do not yet
    // make a whole record are taken in and the wait goes on for the rest of the time.
    bool WaitReadable(int ms) override;
    std::int64_t ReceiveSome(void* buffer, std::size_t length) override;
    std::int64_t SendSome(const void* buffer, std::size_t length) override;
    // Sends a close-notify on an established session, then closes the socket.
    void ShutHandle() override;
    bool StreamCutShort() const override { return cutShort_; }

    // The protocol version of the current session ("TLSv1.3"), empty before a handshake.
    std::string Protocol() const;

    // Through a proxy: ConnectTo opens only the socket (to the proxy), the bytes of the
    // CONNECT exchange pass in plain, and StartTls then makes the handshake with the origin
    // inside the tunnel, verified exactly as a direct one.
    bool Tunnel() const { return tunnel_; }
    void SetTunnel(bool tunnel) { tunnel_ = tunnel; }
    // The handshake with `host` on the open socket; timeout as for ConnectTo.
    void StartTls(const std::string& host, int timeout);

private:
    void Handshake(const std::string& host, int timeout);
    // Sends everything the session has queued; false when the socket failed.
    bool SendQueued();
    // Decrypts what the session holds into plain_; false when nothing whole was there.
    bool DecryptSome();
    // The session failed: the exception its failure kind calls for.
    [[noreturn]] void RaiseFailure();

    const platform::Tls& tls_;
    std::string caFile_;
    std::unique_ptr<platform::TlsSession> session_;
    std::string host_;
    // Decrypted bytes not yet taken: plain_[plainAt_, plainEnd_). Both buffers are made
    // once per handler: a fresh one per receive costs more than the copy it feeds.
    std::unique_ptr<char[]> plain_;
    std::size_t plainAt_ = 0;
    std::size_t plainEnd_ = 0;
    std::unique_ptr<char[]> received_; // RecvChunk bytes for the socket's receives
    bool tunnel_ = false;
    bool established_ = false;
    bool peerNotified_ = false; // the peer's close-notify came
    bool eof_ = false;          // the socket reached its end
    bool cutShort_ = false;     // ... without a close-notify before it
};
