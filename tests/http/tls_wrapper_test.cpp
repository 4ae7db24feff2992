// The TLS handler's own logic over the in-memory transport, with a fake TLS provider whose
// records are plain frames: records cut into pieces anywhere, the close-notify and a stream
// cut short without it, failures in the handshake and in the middle of a body, and the one
// sentence each failure becomes.

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdTLSIOHandlerSocket.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/FakeTls.h"
#include "tests/support/MemoryIOHandler.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::FakeTls;
using testsupport::MemoryIOHandler;
using testsupport::Pieces;
using Script = MemoryIOHandler::Script;
using platform::TlsFailureKind;
using platform::TlsReason;

std::string Records(char type, const std::string& bytes, std::size_t size)
{
    std::string records;
    for (std::size_t at = 0; at < bytes.size(); at += size)
        records += FakeTls::Record(type, bytes.substr(at, size));
    return records;
}

// A client over the TLS handler over the scripted peer, both borrowed.
struct Client {
    explicit Client(std::vector<Script> scripts, Pieces pieces = Pieces::Whole)
        : peer(std::move(scripts), pieces, 3), handler(nullptr, tls, "", peer)
    {
        http.SetTls(&tls);
        http.SetIOHandler(&handler);
    }

    // "CLASS: MESSAGE" of the failure, empty after a normal return; the body in `body`.
    std::string Get(const std::string& url = "https://127.0.0.1/x")
    {
        TMemoryStream stream;
        std::string error;
        try {
            http.Get(url, stream);
        } catch (const Exception& e) {
            error = std::string(e.ClassName()) + ": " + e.Message();
        }
        body = stream.ToString();
        return error;
    }

    FakeSystem system;
    FakeTls tls;
    MemoryIOHandler peer;
    TIdTLSIOHandlerSocket handler;
    TIdHTTP http{nullptr, system};
    std::string body;
};

const std::string kHello = FakeTls::Record('H');

TEST(TlsWrapper, RecordsInAnyPiecesMakeTheBodyAndTheCloseNotifyEndsIt)
{
    const std::string body(40000, 'b');
    const std::string sized = "HTTP/1.1 200 OK\r\nContent-Length: 40000\r\n\r\n" + body;
    const std::string untilClose = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n" + body;
    for (const Pieces pieces : testsupport::kEveryPieces) {
        // Records of several sizes, one of them without data, as a session ticket is.
        Client c({Script()
                      .Send(kHello)
                      .ExpectRequest()
                      .Send(Records('D', sized.substr(0, 10), 3) + FakeTls::Record('T') +
                            Records('D', sized.substr(10), 16384))
                      .ExpectRequest()
                      .Send(Records('D', untilClose, 7000) + FakeTls::Record('C'))
                      .Close()},
                 pieces);
        EXPECT_EQ(c.Get(), "") << Name(pieces);
        EXPECT_EQ(c.body, body) << Name(pieces);
        EXPECT_EQ(c.handler.Protocol(), "FAKE");
        // The same connection, ended by the server's close-notify: a whole body.
        EXPECT_EQ(c.Get(), "") << Name(pieces);
        EXPECT_EQ(c.body, body) << Name(pieces);
        ASSERT_EQ(c.peer.Accepted(), 1) << Name(pieces);
        const std::string& written = c.peer.Connections()[0].Written;
        EXPECT_EQ(written.rfind(FakeTls::Record('H', "127.0.0.1"), 0), 0u) << Name(pieces);
        // The client's close answers the server's close-notify with its own, once.
        EXPECT_EQ(written.find(FakeTls::Record('C')), written.size() - 3) << Name(pieces);
        EXPECT_TRUE(c.peer.Connections()[0].ClosedByClient) << Name(pieces);
    }
}

TEST(TlsWrapper, AStreamCutShortOrBrokenMidwayIsNeverASuccess)
{
    const std::string head = "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n";
    struct Case {
        const char* name;
        Script script;
        std::string error;
        std::string body;
    } cases[] = {
        {.name = "a close without close-notify ends a body that runs to the close",
         .script = Script().Send(kHello).ExpectRequest().Send(FakeTls::Record('D', head + "abc")).Close(),
         .error = "EIdTLSStreamCutShort: The TLS stream ended without a close-notify before the body was complete.",
         .body = "abc"},
        {.name = "an alert in the middle of the body",
         .script = Script().Send(kHello).ExpectRequest().Send(
             FakeTls::Record('D', head + "abc") + FakeTls::Record('A', "bad record mac") + FakeTls::Record('D', "def")),
         .error = "EIdTLSError: TLS error on the connection to 127.0.0.1: bad record mac",
         .body = "abc"},
        {.name = "a record cut by the close",
         .script = Script()
                       .Send(kHello)
                       .ExpectRequest()
                       .Send(FakeTls::Record('D', head + "abc") + FakeTls::Record('D', "defgh").substr(0, 5))
                       .Close(),
         .error = "EIdTLSStreamCutShort: The TLS stream ended without a close-notify before the body was complete.",
         .body = "abc"},
    };
    for (const auto& k : cases) {
        for (const Pieces pieces : {Pieces::Whole, Pieces::OneByte}) {
            Client c({k.script}, pieces);
            EXPECT_EQ(c.Get(), k.error) << k.name << ", " << Name(pieces);
            EXPECT_EQ(c.body, k.body) << k.name << ", " << Name(pieces);
        }
    }
}

TEST(TlsWrapper, EachHandshakeFailureIsOneSentenceAndClosesTheConnection)
{
    struct Case {
        const char* name;
        Script script;
        std::optional<platform::TlsFailure> verdict = std::nullopt;
        std::optional<platform::TlsFailure> setup = std::nullopt;
        std::string error;
        const char* url = "https://127.0.0.1/x";
    } cases[] = {
        {.name = "the server closes",
         .script = Script().Close(),
         .error = "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: the server closed the connection."},
        {.name = "an alert",
         .script = Script().Send(FakeTls::Record('A', "handshake failure")),
         .error = "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: handshake failure"},
        {.name = "silence past the read time-out",
         .script = Script().Stall(5000).Send(kHello),
         .error = "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: no answer within 300 ms."},
        {.name = "a name that does not match, by name",
         .script = Script().Send(kHello),
         .verdict = platform::TlsFailure{.Kind = TlsFailureKind::Certificate,
                                         .Reason = TlsReason::NameMismatch,
                                         .Detail = "words",
                                         .Subject = "CN=other"},
         .error = "EIdTLSCertificateRejected: The certificate of localhost was rejected: hostname mismatch "
                  "(subject: CN=other)",
         .url = "https://localhost/x"},
        {.name = "not yet valid",
         .script = Script().Send(kHello),
         .verdict = platform::TlsFailure{.Kind = TlsFailureKind::Certificate,
                                         .Reason = TlsReason::NotYetValid,
                                         .Subject = "CN=a,O=b"},
         .error = "EIdTLSCertificateRejected: The certificate of 127.0.0.1 was rejected: certificate is not yet "
                  "valid (subject: CN=a,O=b)"},
        {.name = "no certificate",
         .script = Script().Send(kHello),
         .verdict = platform::TlsFailure{.Kind = TlsFailureKind::Certificate, .Reason = TlsReason::NoCertificate},
         .error = "EIdTLSCertificateRejected: The certificate of 127.0.0.1 was rejected: the server sent none"},
        {.name = "another reason: the library's words",
         .script = Script().Send(kHello),
         .verdict = platform::TlsFailure{.Kind = TlsFailureKind::Certificate,
                                         .Reason = TlsReason::Other,
                                         .Detail = "certificate revoked",
                                         .Subject = "CN=a"},
         .error = "EIdTLSCertificateRejected: The certificate of 127.0.0.1 was rejected: certificate revoked "
                  "(subject: CN=a)"},
        {.name = "a host that cannot be checked",
         .script = Script(),
         .setup = platform::TlsFailure{.Kind = TlsFailureKind::Setup, .Reason = TlsReason::HostNotCheckable},
         .error = "EIdTLSError: Cannot check a certificate for the host \"127.0.0.1\""},
        {.name = "no TLS at all",
         .script = Script(),
         .setup = platform::TlsFailure{.Kind = TlsFailureKind::Setup,
                                       .Reason = TlsReason::Other,
                                       .Detail = "no TLS context"},
         .error = "EIdTLSError: TLS is not available: no TLS context"},
    };
    for (const auto& k : cases) {
        Client c({k.script});
        c.tls.Verdict = k.verdict;
        c.tls.SetupFailure = k.setup;
        c.http.SetReadTimeout(300);
        EXPECT_EQ(c.Get(k.url), k.error) << k.name;
        EXPECT_EQ(c.body, "") << k.name;
        ASSERT_EQ(c.peer.Accepted(), 1) << k.name;
        EXPECT_TRUE(c.peer.Connections()[0].ClosedByClient) << k.name;
        EXPECT_FALSE(c.handler.IsHandleOpen()) << k.name;
        // Nothing of the request went out.
        EXPECT_EQ(c.peer.Connections()[0].Written.find("GET "), std::string::npos) << k.name;
    }
}

// Owned by the client and playing the borrowed peer: a tunnel needs a transport that the
// client owns, since its TLS takes the connection over.
class OwnedPeer : public TIdIOHandler {
public:
    explicit OwnedPeer(TIdIOHandler& peer) : TIdIOHandler(nullptr), peer_(peer) {}
    void PrepareHandle() override { peer_.PrepareHandle(); }
    void ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP, int boundPort,
                   int portMin, int portMax) override
    {
        peer_.ConnectTo(host, port, timeout, boundIP, boundPort, portMin, portMax);
    }
    bool IsHandleOpen() const override { return peer_.IsHandleOpen(); }
    bool WaitReadable(int ms) override { return peer_.WaitReadable(ms); }
    std::int64_t ReceiveSome(void* buffer, std::size_t length) override { return peer_.ReceiveSome(buffer, length); }
    std::int64_t SendSome(const void* buffer, std::size_t length) override { return peer_.SendSome(buffer, length); }
    void ShutHandle() override { peer_.ShutHandle(); }

private:
    TIdIOHandler& peer_;
};

class ProxiedClient : public TIdHTTP {
public:
    ProxiedClient(platform::System& system, TIdIOHandler& peer) : TIdHTTP(nullptr, system), peer_(peer) {}

protected:
    std::unique_ptr<TIdIOHandler> NewIOHandler() override { return std::make_unique<OwnedPeer>(peer_); }

private:
    TIdIOHandler& peer_;
};

TEST(TlsWrapper, ATunnelGetsItsTlsAfterTheConnectAndAFailedHandshakeEndsIt)
{
    const std::string established = "HTTP/1.1 200 Connection established\r\n\r\n";
    MemoryIOHandler peer({Script().ExpectRequest().Send(established).Send(FakeTls::Record('A', "bad certificate")),
                          Script()
                              .ExpectRequest()
                              .Send(established)
                              .Send(kHello)
                              .ExpectRequest()
                              .Send(FakeTls::Record('D', "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok"))});
    FakeSystem system;
    FakeTls tls;
    ProxiedClient http(system, peer);
    http.SetTls(&tls);
    http.ProxyParams().ProxyServer = "127.0.0.9";
    http.ProxyParams().ProxyPort = 3128;
    TMemoryStream stream;
    try {
        http.Get("https://origin.test/x", stream);
        ADD_FAILURE() << "the first handshake succeeded";
    } catch (const EIdTLSHandshakeFailed& e) {
        EXPECT_EQ(e.Message(), "TLS handshake with origin.test failed: bad certificate");
    }
    // The failed tunnel is closed, never reused: the next Get opens a new one.
    http.Get("https://origin.test/x", stream);
    EXPECT_EQ(stream.ToString(), "ok");
    ASSERT_EQ(peer.Accepted(), 2);
    EXPECT_TRUE(peer.Connections()[0].ClosedByClient);
    for (const auto& connection : peer.Connections()) {
        EXPECT_EQ(connection.Host, "127.0.0.9");
        // The CONNECT in plain, then the hello for the origin inside the tunnel.
        const std::string connect = "CONNECT origin.test:443 HTTP/1.1\r\n";
        EXPECT_EQ(connection.Written.rfind(connect, 0), 0u) << connection.Written;
        const auto head = connection.Written.find("\r\n\r\n");
        EXPECT_EQ(connection.Written.find(FakeTls::Record('H', "origin.test")), head + 4) << connection.Written;
    }
}

} // namespace
