// Get over https against real TLS servers on 127.0.0.1 (python3's ssl module), with
// throw-away certificates made by the openssl command line for this run: the certificate
// checks and their error texts, every body framing over TLS 1.2 and 1.3, a stream cut
// short without a close-notify, connection reuse, the downgrade refusal, and cancels and
// time-outs of a handshake that the server never answers.

#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdTLSIOHandlerSocket.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/posix/OpenSslTls.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/TestData.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/ScriptedServer.h"
#include "tests/support/TlsVerdictCases.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

using testsupport::ChildProcess;
using testsupport::ScriptedServer;
using Script = ScriptedServer::Script;
using Clock = std::chrono::steady_clock;

namespace {

using testsupport::Pattern;
using testsupport::SourceDir;

// A TLS server of tests/http/tls_http_server.py with one of the certificates.
class TlsServer {
public:
    TlsServer(const std::string& certs, const std::string& name, std::vector<std::string> extra = {})
    {
        std::vector<std::string> argv{"python3", "-u", SourceDir() + "/tests/http/tls_http_server.py",
                                      certs + "/" + name + ".pem", certs + "/" + name + ".key"};
        argv.insert(argv.end(), extra.begin(), extra.end());
        process_.emplace(argv);
        const std::string line = process_->ReadLine(testsupport::kHangMs);
        const auto at = line.find(" port ");
        port_ = at == std::string::npos ? 0 : std::atoi(line.c_str() + at + 6);
    }
    int Port() const { return port_; }
    std::string Url(const std::string& host, const std::string& path) const
    {
        return "https://" + host + ":" + std::to_string(port_) + path;
    }
    std::string Errors() { return process_->Stderr(); }

private:
    std::optional<ChildProcess> process_;
    int port_ = 0;
};

struct Result {
    std::string body;
    std::string error; // "CLASS: MESSAGE", empty after a normal return
};

Result Fetch(TIdHTTP& client, const std::string& url)
{
    Result r;
    TMemoryStream stream;
    try {
        client.Get(url, stream);
    } catch (const Exception& e) {
        r.error = std::string(e.ClassName()) + ": " + e.Message();
    }
    r.body = stream.ToString();
    return r;
}

class Https : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        certs_ = new std::string(
            (std::filesystem::temp_directory_path() / ("updater-tls-" + std::to_string(::getpid()))).string());
        ChildProcess make({"bash", SourceDir() + "/tests/http/make_tls_certs.sh", *certs_});
        made_ = make.Wait(testsupport::kHangMs) == 0;
        if (!made_)
            std::fprintf(stderr, "make_tls_certs.sh: %s\n", make.Stderr().c_str());
    }
    static void TearDownTestSuite()
    {
        std::error_code ignored;
        std::filesystem::remove_all(*certs_, ignored);
        delete certs_;
        certs_ = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(made_) << "the test certificates could not be made"; }

    static const std::string& Certs() { return *certs_; }
    static std::string CA() { return *certs_ + "/ca.pem"; }

    // A client as the updater configures one: the TLS provider and, unless told, the test CA.
    std::unique_ptr<TIdHTTP> Client(std::optional<std::string> caFile = std::nullopt)
    {
        auto client = std::make_unique<TIdHTTP>(nullptr, system);
        client->SetTls(&tls);
        client->SetCAFile(caFile ? *caFile : CA());
        return client;
    }

    // The TLS version of the connection a client holds, empty when it holds none.
    static std::string Protocol(TIdHTTP& client)
    {
        auto* handler = dynamic_cast<TIdTLSIOHandlerSocket*>(client.IOHandler());
        return handler ? handler->Protocol() : std::string();
    }

    FakeSystem system;
    platform::OpenSslTls tls;

private:
    static inline std::string* certs_ = nullptr;
    static inline bool made_ = false;
};

// --- Certificates ----------------------------------------------------------------------

TEST_F(Https, CertificatesAreCheckedForTrustDatesAndName)
{
    std::map<std::string, std::unique_ptr<TlsServer>> servers; // one per certificate
    for (const auto& c : testsupport::TlsVerdictCases()) {
        auto& slot = servers[c.cert];
        if (!slot)
            slot = std::make_unique<TlsServer>(Certs(), c.cert);
        TlsServer& server = *slot;
        ASSERT_GT(server.Port(), 0) << c.name << ": " << server.Errors();
        const std::string ca = testsupport::CAFilePath(c.caFile, Certs());
        // Borrowed, so that the failure it raised can still be read after the Get.
        TIdTLSIOHandlerSocket handler(nullptr, tls, ca);
        auto client = Client(ca);
        client->SetIOHandler(&handler);
        const auto r = Fetch(*client, server.Url(c.host, "/sized/10"));
        EXPECT_EQ(r.error, testsupport::ExpectedError(c, ca)) << c.name;
        EXPECT_EQ(handler.Failure().Kind, c.kind) << c.name;
        EXPECT_EQ(handler.Failure().Reason, c.reason) << c.name;
        EXPECT_EQ(r.body, c.error.empty() ? Pattern(10) : std::string()) << c.name;
    }
}

TEST_F(Https, TheSystemTrustStoreIsUsedWithoutACAFile)
{
    // OpenSSL takes the system's trust from SSL_CERT_FILE when it is set: the test CA
    // stands in for the system's store here.
    TlsServer server(Certs(), "good");
    ASSERT_GT(server.Port(), 0) << server.Errors();
    ::setenv("SSL_CERT_FILE", CA().c_str(), 1);
    auto client = Client("");
    const auto r = Fetch(*client, server.Url("localhost", "/sized/10"));
    ::unsetenv("SSL_CERT_FILE");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, Pattern(10));
}

TEST_F(Https, HttpsWithoutATlsProviderIsAnInvalidTransport)
{
    TlsServer server(Certs(), "good");
    TIdHTTP client(nullptr, system);
    EXPECT_EQ(Fetch(client, server.Url("127.0.0.1", "/sized/10")).error,
              "EIdIOHandlerPropInvalid: IOHandler value is not valid");
}

// --- Handshake failures ----------------------------------------------------------------

TEST_F(Https, HandshakeFailuresSayWhatHappened)
{
    struct Case {
        const char* name;
        std::vector<std::string> serverOptions;
        std::string error;
    } cases[] = {
        // In TLS 1.2 the server's refusal comes as an alert inside the handshake; in 1.3
        // the client's part of the handshake is over by then, and the alert ends the first
        // read.
        {.name = "alert in the handshake (1.2)",
         .serverOptions = {"--max-tls", "1.2"},
         .error = "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: sslv3 alert handshake failure"},
        {.name = "alert after the handshake (1.3)",
         .serverOptions = {},
         .error = "EIdTLSError: TLS error on the connection to 127.0.0.1: tlsv13 alert certificate required"},
    };
    for (const auto& c : cases) {
        auto options = c.serverOptions;
        options.insert(options.end(), {"--require-client-cert", CA()});
        TlsServer server(Certs(), "good", options);
        ASSERT_GT(server.Port(), 0) << c.name << ": " << server.Errors();
        auto client = Client();
        EXPECT_EQ(Fetch(*client, server.Url("127.0.0.1", "/sized/10")).error, c.error) << c.name;
    }
}

TEST_F(Https, AServerThatDoesNotSpeakTlsFailsTheHandshake)
{
    struct Case {
        const char* name;
        Script script;
        std::string error;
    } cases[] = {
        {.name = "plain HTTP answer",
         .script = Script().Sleep(50).Send("HTTP/1.1 400 Bad Request\r\nContent-Length: 0\r\n\r\n").Close(),
         .error = "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: wrong version number"},
        {.name = "close at once",
         .script = Script().Close(),
         .error = "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: the server closed the connection."},
    };
    for (const auto& c : cases) {
        ScriptedServer server({c.script});
        auto client = Client();
        EXPECT_EQ(Fetch(*client, "https://127.0.0.1:" + std::to_string(server.Port()) + "/").error, c.error) << c.name;
    }
}

// --- Bodies over TLS 1.2 and 1.3 -------------------------------------------------------

TEST_F(Https, EveryFramingArrivesWholeOverBothVersions)
{
    struct Case {
        const char* path;
        std::size_t size;
    } bodies[] = {
        {"/sized/0", 0},   {"/sized/10", 10},           {"/sized/1048576", 1048576},
        {"/chunked/1", 1}, {"/chunked/250001", 250001}, {"/until-close/70000", 70000},
    };
    for (const char* version : {"1.2", "1.3"}) {
        TlsServer server(Certs(), "good", {"--max-tls", version});
        ASSERT_GT(server.Port(), 0) << server.Errors();
        auto client = Client();
        for (const auto& b : bodies) {
            const auto r = Fetch(*client, server.Url("127.0.0.1", b.path));
            EXPECT_EQ(r.error, "") << version << b.path;
            EXPECT_EQ(r.body.size(), b.size) << version << b.path;
            EXPECT_TRUE(r.body == Pattern(b.size)) << version << b.path;
            if (client->IsOpen()) {
                EXPECT_EQ(Protocol(*client), std::string("TLSv") + version) << b.path;
            }
        }
    }
}

TEST_F(Https, AStreamCutShortWithoutCloseNotifyIsNeverASuccess)
{
    struct Case {
        const char* path;
        std::size_t arrives; // bytes the stream may hold after the failure
    } cases[] = {
        {"/cut-sized/20000", 10000},
        {"/cut-chunked/20000", 10000},
        // Without a length or chunks only a close-notify tells a whole body from a cut one.
        {"/cut-until-close/20000", 20000},
    };
    TlsServer server(Certs(), "good");
    ASSERT_GT(server.Port(), 0) << server.Errors();
    for (const auto& c : cases) {
        auto client = Client();
        const auto r = Fetch(*client, server.Url("127.0.0.1", c.path));
        EXPECT_EQ(r.error,
                  "EIdTLSStreamCutShort: The TLS stream ended without a close-notify before the body was complete.")
            << c.path;
        EXPECT_LE(r.body.size(), c.arrives) << c.path;
    }
}

// --- Connection reuse ------------------------------------------------------------------

TEST_F(Https, AConnectionIsReusedOnlyForTheSameSchemeHostAndPort)
{
    TlsServer server(Certs(), "good");
    TlsServer second(Certs(), "good");
    ASSERT_GT(server.Port(), 0) << server.Errors();
    ASSERT_GT(second.Port(), 0) << second.Errors();
    // A plain server on the same host: its connection must not be taken for the TLS one.
    ScriptedServer plain(
        {Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nplain").WaitPeerClose()});
    auto client = Client();
    const std::string plainUrl = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/";
    const std::vector<std::pair<std::string, std::string>> steps = {
        {server.Url("127.0.0.1", "/count"), "1"}, // the connection is counted once it is secured
        {server.Url("127.0.0.1", "/count"), "1"}, // reused
        {server.Url("localhost", "/count"), "2"}, // another host name: a new connection
        {second.Url("localhost", "/count"), "1"}, // another port
        {plainUrl, "plain"},                      // another scheme
        {second.Url("localhost", "/count"), "2"}, // back to TLS: a new one again
        {second.Url("localhost", "/count"), "2"},
    };
    for (const auto& [url, body] : steps) {
        const auto r = Fetch(*client, url);
        EXPECT_EQ(r.error, "") << url;
        EXPECT_EQ(r.body, body) << url;
    }
    EXPECT_EQ(plain.Accepted(), 1);
}

// --- Redirects -------------------------------------------------------------------------

TEST_F(Https, ARedirectFromHttpsToHttpIsRefused)
{
    TlsServer server(Certs(), "good");
    ASSERT_GT(server.Port(), 0) << server.Errors();
    ScriptedServer plain({Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nplain").Close()});
    const std::string target = "http://127.0.0.1:" + std::to_string(plain.Port()) + "/x";
    struct Case {
        const char* name;
        bool allowLoopback;
        std::string error;
        std::string body = {};
    } cases[] = {
        {.name = "refused",
         .allowLoopback = false,
         .error = "EIdTLSDowngrade: Refused to follow a redirect from https://127.0.0.1 to http://127.0.0.1: it "
                  "leaves TLS."},
        {.name = "allowed between loopback hosts for tests", .allowLoopback = true, .error = "", .body = "plain"},
    };
    for (const auto& c : cases) {
        auto client = Client();
        client->HandleRedirects = true;
        client->AllowLoopbackDowngrade = c.allowLoopback;
        const auto r = Fetch(*client, server.Url("127.0.0.1", "/redirect?to=" + target));
        EXPECT_EQ(r.error, c.error) << c.name;
        EXPECT_EQ(r.body, c.body) << c.name;
    }
    // Only the allowed case reached the plain server.
    EXPECT_EQ(plain.Accepted(), 1);

    // Not a loopback target: refused even when loopback downgrades are allowed.
    auto client = Client();
    client->HandleRedirects = true;
    client->AllowLoopbackDowngrade = true;
    EXPECT_EQ(Fetch(*client, server.Url("127.0.0.1", "/redirect?to=http://192.0.2.1/x")).error,
              "EIdTLSDowngrade: Refused to follow a redirect from https://127.0.0.1 to http://192.0.2.1: it leaves "
              "TLS.");
}

TEST_F(Https, ARedirectFromHttpToHttpsIsFollowed)
{
    TlsServer server(Certs(), "good");
    ASSERT_GT(server.Port(), 0) << server.Errors();
    ScriptedServer plain({Script()
                              .ExpectRequest()
                              .Send("HTTP/1.1 301 Moved\r\nLocation: " + server.Url("localhost", "/sized/7") +
                                    "\r\nContent-Length: 0\r\n\r\n")
                              .WaitPeerClose()});
    auto client = Client();
    client->HandleRedirects = true;
    const auto r = Fetch(*client, "http://127.0.0.1:" + std::to_string(plain.Port()) + "/");
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, Pattern(7));
}

// --- A server that never answers the handshake -----------------------------------------

TEST_F(Https, AStalledHandshakeIsCancelledByACloseWhileMessagesArePumped)
{
    ScriptedServer server({Script().Sleep(5000).Close()});
    platform::HeadlessApplication app;
    TIdAntiFreeze antiFreeze(nullptr, app);
    antiFreeze.SetIdleTimeOut(1);
    auto client = Client();
    // Messages posted while the handshake waits run, each posting the next, until the close.
    int pumped = 0;
    std::function<void()> tick = [&] {
        if (++pumped == 50)
            client->CloseConnection();
        else
            app.Post(tick);
    };
    std::thread poster([&] {
        server.WaitAccepted(1);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        app.Post(tick);
    });
    const auto start = Clock::now();
    const auto r = Fetch(*client, "https://127.0.0.1:" + std::to_string(server.Port()) + "/");
    poster.join();
    // As a connect cancelled by a close: the first write finds the connection gone.
    EXPECT_EQ(r.error, "EIdNotConnected: Not Connected");
    EXPECT_EQ(pumped, 50);
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST_F(Https, AStalledHandshakeEndsAtTheReadTimeOut)
{
    ScriptedServer server({Script().Sleep(5000).Close()});
    auto client = Client();
    client->SetReadTimeout(300);
    const auto start = Clock::now();
    const auto r = Fetch(*client, "https://127.0.0.1:" + std::to_string(server.Port()) + "/");
    const auto took = Clock::now() - start;
    EXPECT_EQ(r.error, "EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: no answer within 300 ms.");
    EXPECT_GE(took, std::chrono::milliseconds(250));
    EXPECT_LT(took, std::chrono::seconds(3));
}

TEST_F(Https, ACancelDuringATlsBodyEndsItQuietlyWithWhatArrived)
{
    TlsServer server(Certs(), "good");
    ASSERT_GT(server.Port(), 0) << server.Errors();
    platform::HeadlessApplication app;
    TIdAntiFreeze antiFreeze(nullptr, app);
    antiFreeze.SetIdleTimeOut(1);
    auto client = Client();
    std::int64_t received = 0;
    // A posted message cancels once two whole blocks of the half that the server sends
    // are in (the head came with some of the first); the server then holds the rest back for 10 s.
    client->OnWork = [&](TComponent*, TWorkMode mode, std::int64_t count) {
        if (mode == wmRead)
            received = count;
    };
    bool closed = false;
    std::function<void()> watch = [&] {
        if (received >= 2 * TIdTCPConnection::DefaultBufferSize && !closed) {
            closed = true;
            client->CloseConnection();
        } else if (!closed) {
            app.Post(watch);
        }
    };
    app.Post(watch);
    const auto start = Clock::now();
    const auto r = Fetch(*client, server.Url("127.0.0.1", "/stall/200000"));
    EXPECT_EQ(r.error, "");
    EXPECT_TRUE(closed);
    EXPECT_GE(r.body.size(), 2u * TIdTCPConnection::DefaultBufferSize);
    EXPECT_LE(r.body.size(), 100000u);
    EXPECT_TRUE(r.body == Pattern(r.body.size()));
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
}

} // namespace
