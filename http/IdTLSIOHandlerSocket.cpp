#include "http/IdTLSIOHandlerSocket.h"

#include "http/IdException.h"
#include "http/IdGlobal.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdStack.h"

#include <chrono>

namespace {

using Clock = std::chrono::steady_clock;
using platform::TlsFailure;
using platform::TlsFailureKind;
using platform::TlsReason;
using platform::TlsStatus;

// The time left of a wait of `ms` (TimeoutInfinite: no limit) that began at `start`.
int Remaining(int ms, Clock::time_point start)
{
    if (ms == TimeoutInfinite)
        return TimeoutInfinite;
    const auto spent = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
    return spent >= ms ? 0 : ms - static_cast<int>(spent);
}

std::string CertificateReasonText(const TlsFailure& failure, const std::string& host)
{
    switch (failure.Reason) {
    case TlsReason::UnknownIssuer:
        return "unable to get local issuer certificate";
    case TlsReason::Expired:
        return "certificate has expired";
    case TlsReason::NotYetValid:
        return "certificate is not yet valid";
    case TlsReason::NameMismatch:
        return TIdStack::IsDottedQuad(host) ? "IP address mismatch" : "hostname mismatch";
    case TlsReason::SelfSigned:
        return "self-signed certificate";
    case TlsReason::NoCertificate:
        return "the server sent none";
    default:
        return failure.Detail.empty() ? "the certificate does not verify" : failure.Detail;
    }
}

std::string SetupText(const TlsFailure& failure, const std::string& host, const std::string& caFile)
{
    switch (failure.Reason) {
    case TlsReason::CAFileUnreadable:
        return "Cannot load the trusted certificates of \"" + caFile + "\": the file cannot be read";
    case TlsReason::CAFileWithoutCertificates:
        return "Cannot load the trusted certificates of \"" + caFile + "\": no PEM certificate in it";
    case TlsReason::HostNotCheckable:
        return "Cannot check a certificate for the host \"" + host + "\"";
    default:
        return "TLS is not available: " + (failure.Detail.empty() ? std::string("no details") : failure.Detail);
    }
}

// ": DETAIL" for a failure that has one, else "." (the sentence ends with the host).
std::string DetailPart(const TlsFailure& failure) { return failure.Detail.empty() ? "." : ": " + failure.Detail; }

} // namespace

TIdTLSIOHandlerSocket::TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile)
    : TIdTLSIOHandlerSocket(owner, tls, std::move(caFile), std::make_unique<TIdIOHandlerSocket>(nullptr))
{
}

TIdTLSIOHandlerSocket::TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile,
                                             std::unique_ptr<TIdIOHandler> inner)
    : TIdIOHandler(owner), tls_(tls), caFile_(std::move(caFile)), ownedInner_(std::move(inner)),
      inner_(ownedInner_.get()), received_(std::make_unique<char[]>(RecvChunk))
{
}

TIdTLSIOHandlerSocket::TIdTLSIOHandlerSocket(TComponent* owner, const platform::Tls& tls, std::string caFile,
                                             TIdIOHandler& inner)
    : TIdIOHandler(owner), tls_(tls), caFile_(std::move(caFile)), inner_(&inner),
      received_(std::make_unique<char[]>(RecvChunk))
{
}

TIdTLSIOHandlerSocket::~TIdTLSIOHandlerSocket() = default;

std::string TIdTLSIOHandlerSocket::FailureText(const TlsFailure& failure, const std::string& host,
                                               const std::string& caFile)
{
    switch (failure.Kind) {
    case TlsFailureKind::Certificate: {
        std::string text = "The certificate of " + host + " was rejected: " + CertificateReasonText(failure, host);
        if (!failure.Subject.empty())
            text += " (subject: " + failure.Subject + ")";
        return text;
    }
    case TlsFailureKind::Handshake:
        return "TLS handshake with " + host + " failed" + DetailPart(failure);
    case TlsFailureKind::Setup:
        return SetupText(failure, host, caFile);
    case TlsFailureKind::Stream:
    case TlsFailureKind::None:
        break;
    }
    return "TLS error on the connection to " + host + DetailPart(failure);
}

std::string TIdTLSIOHandlerSocket::Protocol() const
{
    return session_ && established_ ? session_->Protocol() : std::string();
}

void TIdTLSIOHandlerSocket::ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP,
                                      int boundPort, int portMin, int portMax)
{
    session_.reset();
    established_ = false;
    // The inner transport reports the connect's progress (resolving, connecting) to the same listener.
    if (OnStatus)
        inner_->OnStatus = OnStatus;
    inner_->ConnectingText = ConnectingText;
    inner_->ConnectTo(host, port, timeout, boundIP, boundPort, portMin, portMax);
    // A connect cancelled by a close from a handler returns without an open transport;
    // the next use of the connection reports it, as without TLS.
    StartTls(host, timeout);
}

void TIdTLSIOHandlerSocket::StartTls(const std::string& host, int timeout)
{
    host_ = host;
    session_.reset();
    failure_ = {};
    established_ = peerNotified_ = eof_ = cutShort_ = false;
    if (!IsHandleOpen())
        return;
    Handshake(timeout == TimeoutDefault || timeout == 0 ? TimeoutInfinite : timeout);
}

void TIdTLSIOHandlerSocket::Handshake(int timeout)
{
    session_ = tls_.NewClientSession({.Host = host_, .CAFile = caFile_});
    const Clock::time_point start = Clock::now();
    for (;;) {
        const TlsStatus status = session_->Handshake();
        // Also after a failure: the session may have an alert for the server.
        if (!SendQueued() && status != TlsStatus::Failed) {
            if (!IsHandleOpen())
                return;
            TIdStack::ThrowSocketError(GlobalStack().WSGetLastError());
        }
        if (status == TlsStatus::Done)
            break;
        if (status != TlsStatus::WantRead)
            Raise(session_->Failure());
        bool ready;
        try {
            ready = inner_->WaitReadable(Remaining(timeout, start));
        } catch (const EIdConnClosedGracefully&) {
            return; // closed on this side (a cancel) during the wait
        }
        if (!IsHandleOpen())
            return;
        if (!ready)
            Raise(
                {.Kind = TlsFailureKind::Handshake, .Detail = "no answer within " + std::to_string(timeout) + " ms."});
        const std::int64_t n = inner_->ReceiveSome(received_.get(), RecvChunk);
        if (n == 0)
            Raise({.Kind = TlsFailureKind::Handshake, .Detail = "the server closed the connection."});
        if (n < 0) {
            if (!IsHandleOpen())
                return;
            GlobalStack().CheckSocketResult(n);
            Raise({.Kind = TlsFailureKind::Handshake, .Detail = "the connection broke."});
        }
        session_->PutReceived(received_.get(), static_cast<std::size_t>(n));
    }
    established_ = true;
}

bool TIdTLSIOHandlerSocket::SendQueued()
{
    const std::string bytes = session_->TakeToSend();
    std::size_t sent = 0;
    while (sent < bytes.size()) {
        if (!IsHandleOpen())
            return false;
        const std::int64_t n = inner_->SendSome(bytes.data() + sent, bytes.size() - sent);
        if (n <= 0)
            return false; // the stack's last error tells why
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool TIdTLSIOHandlerSocket::ReceiveIntoSession()
{
    const std::int64_t n = inner_->ReceiveSome(received_.get(), RecvChunk);
    // An aborted or shut-down connection ends like a close; any other error raises.
    if (n == 0 || (n < 0 && GlobalStack().CheckSocketResult(n, {platform::WsaEShutdown, platform::WsaEConnAborted}))) {
        eof_ = true;
        cutShort_ = !peerNotified_;
        return false;
    }
    session_->PutReceived(received_.get(), static_cast<std::size_t>(n));
    return true;
}

bool TIdTLSIOHandlerSocket::SessionReady()
{
    switch (session_->Available()) {
    case TlsStatus::Done:
        return true;
    case TlsStatus::Closed:
        peerNotified_ = true;
        return true;
    case TlsStatus::WantRead:
        return false;
    case TlsStatus::Failed:
        break;
    }
    Raise(session_->Failure());
}

bool TIdTLSIOHandlerSocket::WaitReadable(int ms)
{
    if (!established_)
        return inner_->WaitReadable(ms); // raises for a closed transport
    // Bytes already received may hold a whole record (a server that sent several at once).
    if (IsHandleOpen() && (peerNotified_ || eof_ || SessionReady()))
        return true;
    const Clock::time_point start = Clock::now();
    for (;;) {
        // Sliced by the anti-freeze; raises EIdConnClosedGracefully for a local close.
        if (!inner_->WaitReadable(Remaining(ms, start)))
            return false;
        if (!ReceiveIntoSession() || SessionReady())
            return true;
        // Only part of a record, or a message of the protocol itself (a session ticket):
        // wait on for the rest of the time.
        if (ms != TimeoutInfinite && Remaining(ms, start) == 0)
            return false;
    }
}

std::int64_t TIdTLSIOHandlerSocket::ReceiveSome(void* buffer, std::size_t length)
{
    if (!IsHandleOpen() || !established_)
        throw EIdClosedSocket();
    auto* out = static_cast<char*>(buffer);
    std::size_t given = 0;
    // Whole records already received go straight to the caller, each decrypted once.
    while (given < length && !peerNotified_) {
        std::size_t got = 0;
        const TlsStatus status = session_->Read(out + given, length - given, got);
        given += got;
        if (status == TlsStatus::Closed) {
            peerNotified_ = true;
        } else if (status == TlsStatus::Failed) {
            if (given > 0)
                break; // the failure shows at the next receive
            Raise(session_->Failure());
        } else if (status != TlsStatus::Done || got == 0) {
            // Nothing whole is left: what was read goes now; with nothing, wait for more.
            if (given > 0 || eof_)
                break;
            WaitReadable(TimeoutInfinite);
        }
    }
    return static_cast<std::int64_t>(given); // 0: the stream has ended
}

std::int64_t TIdTLSIOHandlerSocket::SendSome(const void* buffer, std::size_t length)
{
    if (!IsHandleOpen() || !established_)
        throw EIdClosedSocket();
    if (session_->Write(buffer, length) != TlsStatus::Done)
        Raise(session_->Failure());
    if (!SendQueued())
        return -1; // the transport's error is the caller's to report
    return static_cast<std::int64_t>(length);
}

void TIdTLSIOHandlerSocket::ShutHandle()
{
    if (IsHandleOpen() && established_ && !eof_ && session_->Failure().Kind == TlsFailureKind::None) {
        session_->CloseNotify();
        try {
            SendQueued();
        } catch (...) {
            // The close goes on without it.
        }
    }
    inner_->ShutHandle();
}

void TIdTLSIOHandlerSocket::Raise(TlsFailure failure)
{
    if (failure.Kind == TlsFailureKind::None)
        failure.Kind = established_ ? TlsFailureKind::Stream : TlsFailureKind::Handshake;
    failure_ = std::move(failure);
    const std::string text = FailureText(failure_, host_, caFile_);
    // Nothing can follow a failed handshake on this transport.
    if (!established_)
        inner_->ShutHandle();
    switch (failure_.Kind) {
    case TlsFailureKind::Certificate:
        throw EIdTLSCertificateRejected(text);
    case TlsFailureKind::Handshake:
        throw EIdTLSHandshakeFailed(text);
    default:
        throw EIdTLSError(text);
    }
}
