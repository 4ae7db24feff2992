// Get over https from the Windows build, through the Schannel backend, against the TLS
// servers that scripts/test-windows.sh runs on the Linux side (tests/http/tls_http_server.py
// with the certificates of tests/http/make_tls_certs.sh). The certificates' folder comes in
// UPDATER_TLS_CERTS, the servers' ports in UPDATER_TLS_PORTS ("name=port,..."; a name is the
// certificate served, "good12" limits the server to TLS 1.2, "cc12" and "cc13" ask for a
// client certificate), a plain HTTP server's port in UPDATER_REAL_SERVER_PORT.

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdTLSIOHandlerSocket.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/win32/SchannelTls.h"
#include "tests/support/TestData.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/TlsVerdictCases.h"

#include <gtest/gtest.h>

#define WIN32_LEAN_AND_MEAN
#include <windows.h>
#include <wincrypt.h>

#include <algorithm>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string Env(const char* name)
{
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::string Certs() { return Env("UPDATER_TLS_CERTS"); }
std::string CA() { return Certs() + "/ca.pem"; }

// The port of the server with that name, 0 when the script started none.
int Port(const std::string& name)
{
    const std::string ports = "," + Env("UPDATER_TLS_PORTS") + ",";
    const auto at = ports.find("," + name + "=");
    return at == std::string::npos ? 0 : std::atoi(ports.c_str() + at + name.size() + 2);
}

std::string Url(const std::string& server, const std::string& host, const std::string& path)
{
    return "https://" + host + ":" + std::to_string(Port(server)) + path;
}

using testsupport::Pattern;

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

class Schannel : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(Certs().empty()) << "UPDATER_TLS_CERTS is not set";
        ASSERT_GT(Port("good"), 0) << "UPDATER_TLS_PORTS names no server";
    }

    // A client as the updater configures one: the Schannel provider and, unless told, the
    // test CA.
    std::unique_ptr<TIdHTTP> Client(std::optional<std::string> caFile = std::nullopt)
    {
        auto client = std::make_unique<TIdHTTP>(nullptr, system);
        client->SetTls(&tls);
        client->SetCAFile(caFile ? *caFile : CA());
        return client;
    }

    static std::string Protocol(TIdHTTP& client)
    {
        auto* handler = dynamic_cast<TIdTLSIOHandlerSocket*>(client.IOHandler());
        return handler ? handler->Protocol() : std::string();
    }

    FakeSystem system;
    platform::SchannelTls tls;
};

// --- The session on its own --------------------------------------------------------------

TEST_F(Schannel, TheFirstStepSendsAHelloThatNamesOnlyAHostName)
{
    struct Case {
        const char* host;
        bool named; // the host is in the hello as the server name
    } cases[] = {
        {"updates.example.test", true},
        {"localhost", true},
        {"127.0.0.1", false},
    };
    for (const auto& c : cases) {
        auto session = tls.NewClientSession({.Host = c.host, .CAFile = CA()});
        EXPECT_EQ(session->Handshake(), platform::TlsStatus::WantRead) << c.host;
        const std::string hello = session->TakeToSend();
        ASSERT_GT(hello.size(), 5u) << c.host;
        EXPECT_EQ(hello[0], '\x16') << c.host; // a handshake record
        EXPECT_EQ(hello.find(c.host) != std::string::npos, c.named) << c.host;
        EXPECT_EQ(session->TakeToSend(), "") << c.host; // taken once
        // Nothing received yet: the session waits, it does not fail.
        EXPECT_EQ(session->Handshake(), platform::TlsStatus::WantRead) << c.host;
        std::size_t got = 1;
        char buffer[16];
        EXPECT_NE(session->Read(buffer, sizeof buffer, got), platform::TlsStatus::Done) << c.host;
        EXPECT_EQ(got, 0u) << c.host;
    }
}

TEST_F(Schannel, BytesThatAreNotTlsFailTheHandshake)
{
    auto session = tls.NewClientSession({.Host = "localhost", .CAFile = CA()});
    ASSERT_EQ(session->Handshake(), platform::TlsStatus::WantRead);
    session->TakeToSend();
    // A whole handshake record whose message has a type that does not exist.
    const std::string answer("\x16\x03\x03\x00\x04\xfe\x00\x00\x00", 9);
    session->PutReceived(answer.data(), answer.size());
    EXPECT_EQ(session->Handshake(), platform::TlsStatus::Failed);
    EXPECT_EQ(session->Failure().Kind, platform::TlsFailureKind::Handshake);
    EXPECT_NE(session->Failure().Detail.find("(0x"), std::string::npos) << session->Failure().Detail;
    // A failed session stays failed.
    EXPECT_EQ(session->Write("x", 1), platform::TlsStatus::Failed);
    EXPECT_EQ(session->Protocol(), "");
}

// --- Certificates ------------------------------------------------------------------------

TEST_F(Schannel, CertificatesAreCheckedForTrustDatesAndName)
{
    for (const auto& c : testsupport::TlsVerdictCases()) {
        ASSERT_GT(Port(c.cert), 0) << c.name;
        const std::string ca = testsupport::CAFilePath(c.caFile, Certs());
        // Borrowed, so that the failure it raised can still be read after the Get.
        TIdTLSIOHandlerSocket handler(nullptr, tls, ca);
        auto client = Client(ca);
        client->SetIOHandler(&handler);
        const auto r = Fetch(*client, Url(c.cert, c.host, "/sized/10"));
        EXPECT_EQ(r.error, testsupport::ExpectedError(c, ca)) << c.name;
        EXPECT_EQ(handler.Failure().Kind, c.kind) << c.name;
        EXPECT_EQ(handler.Failure().Reason, c.reason) << c.name;
        EXPECT_EQ(r.body, c.error.empty() ? Pattern(10) : std::string()) << c.name;
    }
}

TEST_F(Schannel, ACAFileWithSeveralCertificatesTrustsEachOfThem)
{
    // The test CA second, after a certificate that anchors nothing here.
    auto read = [](const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    const std::string bundle = Certs() + "/bundle.pem";
    {
        std::ofstream out(bundle, std::ios::binary);
        out << "some text before\n" << read(Certs() + "/otherca.pem") << read(CA());
    }
    for (const char* server : {"good", "other"}) {
        auto client = Client(bundle);
        const auto r = Fetch(*client, Url(server, "localhost", "/sized/10"));
        EXPECT_EQ(r.error, "") << server;
        EXPECT_EQ(r.body, Pattern(10)) << server;
    }
}

// --- Handshake failures ------------------------------------------------------------------

TEST_F(Schannel, HandshakeFailuresSayWhatHappened)
{
    // The texts of the system's TLS for a refused handshake are its own; what is fixed is
    // that the client fails, with the TLS classes and the host.
    struct Case {
        const char* name;
        std::string url;
        std::vector<std::string> starts; // any one of these
    } cases[] = {
        {.name = "a plain HTTP server",
         .url = "https://127.0.0.1:" + Env("UPDATER_REAL_SERVER_PORT") + "/sized/10",
         .starts = {"EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: "}},
        {.name = "a client certificate required (1.2)",
         .url = Url("cc12", "127.0.0.1", "/sized/10"),
         .starts = {"EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: "}},
        // In TLS 1.3 the refusal may come only after the client's part of the handshake.
        {.name = "a client certificate required (1.3)",
         .url = Url("cc13", "127.0.0.1", "/sized/10"),
         .starts = {"EIdTLSHandshakeFailed: TLS handshake with 127.0.0.1 failed: ",
                    "EIdTLSError: TLS error on the connection to 127.0.0.1: "}},
    };
    for (const auto& c : cases) {
        auto client = Client();
        const auto r = Fetch(*client, c.url);
        bool matched = false;
        for (const auto& start : c.starts)
            matched = matched || r.error.rfind(start, 0) == 0;
        EXPECT_TRUE(matched) << c.name << ": " << r.error;
        EXPECT_EQ(r.body, "") << c.name;
    }
}

// --- Bodies ------------------------------------------------------------------------------

TEST_F(Schannel, EveryFramingArrivesWhole)
{
    struct Case {
        const char* path;
        std::size_t size;
    } bodies[] = {
        {"/sized/0", 0},   {"/sized/10", 10},           {"/sized/1048576", 1048576},
        {"/chunked/1", 1}, {"/chunked/250001", 250001}, {"/until-close/70000", 70000},
    };
    struct Server {
        const char* name;
        std::vector<std::string> protocols; // what the connection may have agreed
    } servers[] = {
        {"good12", {"TLSv1.2"}},
        // TLS 1.3 where the system offers it, else 1.2.
        {"good", {"TLSv1.2", "TLSv1.3"}},
    };
    for (const auto& s : servers) {
        auto client = Client();
        for (const auto& b : bodies) {
            const auto r = Fetch(*client, Url(s.name, "127.0.0.1", b.path));
            EXPECT_EQ(r.error, "") << s.name << b.path;
            EXPECT_EQ(r.body.size(), b.size) << s.name << b.path;
            EXPECT_TRUE(r.body == Pattern(b.size)) << s.name << b.path;
            if (client->IsOpen()) {
                const std::string protocol = Protocol(*client);
                EXPECT_NE(std::find(s.protocols.begin(), s.protocols.end(), protocol), s.protocols.end())
                    << s.name << b.path << ": " << protocol;
            }
        }
    }
}

TEST_F(Schannel, AStreamCutShortWithoutCloseNotifyIsNeverASuccess)
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
    for (const auto& c : cases) {
        auto client = Client();
        const auto r = Fetch(*client, Url("good", "127.0.0.1", c.path));
        EXPECT_EQ(r.error,
                  "EIdTLSStreamCutShort: The TLS stream ended without a close-notify before the body was complete.")
            << c.path;
        EXPECT_LE(r.body.size(), c.arrives) << c.path;
    }
}

TEST_F(Schannel, AConnectionIsReusedOnlyForTheSameHostAndPort)
{
    auto client = Client();
    // The server counts connections once they are secured; each server counts its own.
    const std::vector<std::pair<std::string, std::string>> steps = {
        {Url("good", "127.0.0.1", "/count"), ""},
        {Url("good", "127.0.0.1", "/count"), "same"},
        {Url("good", "localhost", "/count"), "+1"},
        {Url("good", "localhost", "/count"), "same"},
    };
    int last = 0;
    for (const auto& [url, expect] : steps) {
        const auto r = Fetch(*client, url);
        ASSERT_EQ(r.error, "") << url;
        const int count = std::atoi(r.body.c_str());
        if (expect == "same") {
            EXPECT_EQ(count, last) << url;
        } else if (expect == "+1") {
            EXPECT_EQ(count, last + 1) << url;
        }
        last = count;
    }
}

// --- The system's trust store ------------------------------------------------------------

// Last of the file (cases run in the order they are written): the test CA stays in the prefix's store for the rest of
// the run (removing it does not stick under wine), so every case that needs it absent runs before this one.
TEST_F(Schannel, TheSystemTrustStoreIsUsedWithoutACAFile)
{
    std::ifstream in(CA(), std::ios::binary);
    const std::string pem((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    DWORD size = 0;
    ASSERT_TRUE(CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, nullptr,
                                     &size, nullptr, nullptr));
    std::vector<BYTE> der(size);
    ASSERT_TRUE(CryptStringToBinaryA(pem.data(), static_cast<DWORD>(pem.size()), CRYPT_STRING_BASE64HEADER, der.data(),
                                     &size, nullptr, nullptr));
    HCERTSTORE root = CertOpenSystemStoreA(0, "ROOT");
    ASSERT_NE(root, nullptr);
    const bool added = CertAddEncodedCertificateToStore(root, X509_ASN_ENCODING, der.data(), size,
                                                        CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
    // The store writes what was added when it is closed.
    CertCloseStore(root, 0);
    ASSERT_TRUE(added);

    for (const char* host : {"localhost", "127.0.0.1"}) {
        auto client = Client("");
        const auto r = Fetch(*client, Url("good", host, "/sized/10"));
        EXPECT_EQ(r.error, "") << host;
        EXPECT_EQ(r.body, Pattern(10)) << host;
    }
    // Trusted by the system, still checked for the rest.
    auto client = Client("");
    EXPECT_EQ(Fetch(*client, Url("wrongname", "localhost", "/sized/10")).error,
              "EIdTLSCertificateRejected: The certificate of localhost was rejected: hostname mismatch "
              "(subject: CN=wrong.example,O=Updater Tests)");
}

} // namespace
