#include "http/IdTLSIOHandlerSocket.h"

#include "http/IdException.h"
#include "http/IdGlobal.h"
#include "http/IdSocketHandle.h"
#include "http/IdStack.h"
#include "platform/tls/Tls.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace {

using Clock = std::chrono::steady_clock;

// The time left of a wait of `ms` (TimeoutInfinite: no limit) that began at `start`.
int Remaining(int ms, Clock::time_point start)
{
    if (ms == TimeoutInfinite)
        return TimeoutInfinite;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return spent >= ms ? 0 : ms - static_cast<int>(spent);
}

// The largest block decrypted ahead of a receive: one whole TLS record.
constexpr std::size_t kRecordSize = 16384;

} // namespace

TIdTLSIOHandlerSocket::TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile)
    : TIdIOHandlerSocket(owner), tls_(tls), caFile_(std::move(caFile)), plain_(std::make_unique<char[]>(kRecordSize)),
      received_(std::make_unique<char[]>(RecvChunk))
{
}

TIdTLSIOHandlerSocket::~TIdTLSIOHandlerSocket() = default;

std::string TIdTLSIOHandlerSocket::Protocol() const
{
    return session_ && established_ ? session_->Protocol() : std::string();
}

void TIdTLSIOHandlerSocket::ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP,
                                      int boundPort, int portMin, int portMax)
{
    session_.reset();
    plainAt_ = plainEnd_ = 0;
    established_ = peerNotified_ = eof_ = cutShort_ = false;
    host_ = host;
    TIdIOHandlerSocket::ConnectTo(host, port, timeout, boundIP, boundPort, portMin, portMax);
    // A connect cancelled by a close from a handler returns without an open socket; the
    // next use of the connection reports it, as without TLS.
    if (!IsHandleOpen() || tunnel_)
        return;
    StartTls(host, timeout);
}

void TIdTLSIOHandlerSocket::StartTls(const std::string& host, int timeout)
{
    host_ = host;
    if (!IsHandleOpen())
        return;
    Handshake(host, timeout == TimeoutDefault || timeout == 0 ? TimeoutInfinite : timeout);
}

void TIdTLSIOHandlerSocket::Handshake(const std::string& host, int timeout)
{
    session_ = tls_.NewClientSession({.Host = host, .CAFile = caFile_});
    TIdStack& stack = GlobalStack();
    const Clock::time_point start = Clock::now();
    char* buffer = received_.get();
    for (;;) {
        const platform::TlsStatus status = session_->Handshake();
        // Also after a failure: the session may have an alert for the server.
        if (!SendQueued() && status != platform::TlsStatus::Failed) {
            if (!IsHandleOpen())
                return;
            TIdStack::ThrowSocketError(stack.WSGetLastError());
        }
        if (status == platform::TlsStatus::Done)
            break;
        if (status != platform::TlsStatus::WantRead)
            RaiseFailure();
        bool ready;
        try {
            ready = TIdIOHandlerSocket::WaitReadable(Remaining(timeout, start));
        } catch (const EIdConnClosedGracefully&) {
            return; // closed on this side (a cancel) during the wait
        }
        if (!ready)
            throw EIdTLSHandshakeFailed("TLS handshake with " + host + " failed: no answer within " +
                                        std::to_string(timeout) + " ms.");
        const std::int64_t n = stack.Recv(Binding()->OsSocket(), buffer, RecvChunk);
        if (n == 0)
            throw EIdTLSHandshakeFailed("TLS handshake with " + host + " failed: the server closed the connection.");
        if (n < 0) {
            if (!IsHandleOpen())
                return;
            stack.CheckSocketResult(n);
            throw EIdTLSHandshakeFailed("TLS handshake with " + host + " failed: the connection broke.");
        }
        session_->PutReceived(buffer, static_cast<std::size_t>(n));
    }
    established_ = true;
}

bool TIdTLSIOHandlerSocket::SendQueued()
{
    const std::string bytes = session_->TakeToSend();
    TIdStack& stack = GlobalStack();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!IsHandleOpen())
            return false;
        const std::int64_t n = stack.Send(Binding()->OsSocket(), bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false; // the thread's socket error tells why

        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool TIdTLSIOHandlerSocket::DecryptSome()
{
    // Called only once everything decrypted before has been taken.
    plainAt_ = plainEnd_ = 0;
    std::size_t got = 0;
    const platform::TlsStatus status = session_->Read(plain_.get(), kRecordSize, got);
    plainEnd_ = got;
    switch (status) {
    case platform::TlsStatus::Done:
        return got > 0;
    case platform::TlsStatus::Closed:
        peerNotified_ = true;
        return true;
    case platform::TlsStatus::WantRead:
        return false;
    case platform::TlsStatus::Failed:
        break;
    }
    RaiseFailure();
}

bool TIdTLSIOHandlerSocket::WaitReadable(int ms)
{
    if (IsHandleOpen() && (plainAt_ < plainEnd_ || peerNotified_ || eof_))
        return true;
    if (!established_ || !session_)
        return TIdIOHandlerSocket::WaitReadable(ms); // raises for a closed socket
    // Bytes already received may hold a whole record (a server that sent several at once).
    if (IsHandleOpen() && DecryptSome())
        return true;
    TIdStack& stack = GlobalStack();
    const Clock::time_point start = Clock::now();
    char* buffer = received_.get();
    for (;;) {
        // Sliced by the anti-freeze; raises EIdConnClosedGracefully for a local close.
        if (!TIdIOHandlerSocket::WaitReadable(Remaining(ms, start)))
            return false;
        const std::int64_t n = stack.Recv(Binding()->OsSocket(), buffer, RecvChunk);
        if (n < 0 && stack.CheckSocketResult(n, {platform::WsaEShutdown, platform::WsaEConnAborted})) {
            eof_ = true;
            cutShort_ = !peerNotified_;
            return true;
        }
        if (n == 0) {
            eof_ = true;
            cutShort_ = !peerNotified_;
            return true;
        }
        session_->PutReceived(buffer, static_cast<std::size_t>(n));
        if (DecryptSome())
            return true;
        // Only part of a record, or a message of the protocol itself (a session ticket):
        // wait on for the rest of the time.
        if (ms != TimeoutInfinite && Remaining(ms, start) == 0)
            return false;
    }
}

std::int64_t TIdTLSIOHandlerSocket::ReceiveSome(void* buffer, std::size_t length)
{
    if (!IsHandleOpen())
        throw EIdClosedSocket();
    if (!established_ || !session_)
        return TIdIOHandlerSocket::ReceiveSome(buffer, length);
    while (plainAt_ == plainEnd_ && !peerNotified_ && !eof_)
        WaitReadable(TimeoutInfinite);
    auto* out = static_cast<char*>(buffer);
    std::size_t given = std::min(length, plainEnd_ - plainAt_);
    std::memcpy(out, plain_.get() + plainAt_, given);
    plainAt_ += given;
    // Whole records already received go straight to the caller, saving a copy.
    while (given < length && plainAt_ == plainEnd_ && !peerNotified_) {
        std::size_t got = 0;
        const platform::TlsStatus status = session_->Read(out + given, length - given, got);
        given += got;
        if (status == platform::TlsStatus::Closed)
            peerNotified_ = true;
        else if (status == platform::TlsStatus::Failed) {
            if (given > 0)
                break; // the failure shows at the next receive
            RaiseFailure();
        } else if (status != platform::TlsStatus::Done || got == 0)
            break;
    }
    return static_cast<std::int64_t>(given); // 0: the stream has ended
}

std::int64_t TIdTLSIOHandlerSocket::SendSome(const void* buffer, std::size_t length)
{
    if (!IsHandleOpen())
        throw EIdClosedSocket();
    if (!established_ || !session_) {
        if (tunnel_ && !session_)
            return TIdIOHandlerSocket::SendSome(buffer, length); // the CONNECT request
        throw EIdClosedSocket();
    }
    if (session_->Write(buffer, length) != platform::TlsStatus::Done)
        RaiseFailure();
    if (!SendQueued())
        return -1; // the socket's error is the caller's to report
    return static_cast<std::int64_t>(length);
}

void TIdTLSIOHandlerSocket::ShutHandle()
{
    if (IsHandleOpen() && session_ && established_ && !eof_ && session_->FailureKind() == platform::TlsFailure::None) {
        session_->CloseNotify();
        try {
            SendQueued();
        } catch (...) {
            // The close goes on without it.
        }
    }
    plainAt_ = plainEnd_ = 0;
    TIdIOHandlerSocket::ShutHandle();
}

void TIdTLSIOHandlerSocket::RaiseFailure()
{
    const std::string text = session_->ErrorText();
    switch (session_->FailureKind()) {
    case platform::TlsFailure::Certificate:
        throw EIdTLSCertificateRejected(text);
    case platform::TlsFailure::Handshake:
        throw EIdTLSHandshakeFailed(text);
    case platform::TlsFailure::None:
        throw EIdTLSError("TLS error on the connection to " + host_ + ".");
    case platform::TlsFailure::Stream:
    case platform::TlsFailure::Setup:
        break;
    }
    throw EIdTLSError(text);
}
