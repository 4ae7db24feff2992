// Get over the transport without sockets against a scripted peer: every body framing and
// outcome with the answer arriving whole and in 1-byte, small and random pieces, connection
// reuse, redirects, authorization, cookies from one Get to the next, work and status
// events, and a CloseConnection from a handler in each phase. No server thread and no
// sleeping: the silences a case needs are counted in the client's waits. What only a real
// socket shows (a refused connect, a connect that hangs in the backlog) runs over loopback.

#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/FullBacklogListener.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <optional>
#include <string>
#include <vector>

using testsupport::kEveryPieces;
using testsupport::MemoryIOHandler;
using testsupport::MemoryTransportHang;
using testsupport::Pieces;
using testsupport::ScriptedServer;
using Script = MemoryIOHandler::Script;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

namespace {

// The port the addresses name; the peer answers on any.
constexpr int kPort = 8080;

struct Result {
    std::string body;
    std::string error; // "CLASS: MESSAGE", empty after a normal return
    int code = 0;      // the protocol exception's status code
    std::string errorBody;
};

// One Get into `stream`; a failure is recorded as "CLASS: MESSAGE" with the protocol
// exception's code and body, a wait that would hang on a socket as "hang: ...". The body is
// left in the stream for the caller.
Result FetchInto(TIdHTTP& client, const std::string& url, TMemoryStream& stream)
{
    Result r;
    try {
        client.Get(url, stream);
    } catch (const EIdHTTPProtocolException& e) {
        r.error = std::string(e.ClassName()) + ": " + e.Message();
        r.code = e.ReplyErrorCode();
        r.errorBody = e.ErrorMessage();
    } catch (const Exception& e) {
        r.error = std::string(e.ClassName()) + ": " + e.Message();
    } catch (const MemoryTransportHang& e) {
        r.error = std::string("hang: ") + e.what();
    }
    return r;
}

const std::string kUserAgent = "Mozilla/5.0 (Windows; U; Windows NT 5.1; en-US; rv:1.9) Gecko/2008052906 Firefox/3.0";

std::string Url(const std::string& path = "/", int port = kPort)
{
    return "http://127.0.0.1:" + std::to_string(port) + path;
}

struct Get : ::testing::Test {
    FakeSystem system;
    platform::HeadlessApplication app;
    std::unique_ptr<TIdAntiFreeze> antiFreeze;
    // Declared before the client, which borrows it and so must go first.
    std::unique_ptr<MemoryIOHandler> peer;
    TIdHTTP http{nullptr, system, "IdHTTP1"};
    Lines events;

    Get()
    {
        http.Request().Accept = " text/html ,*/*";
        http.Request().UserAgent = kUserAgent;
    }

    // The client's connections play these scripts, one per connect.
    void Serve(std::vector<Script> scripts, Pieces pieces = Pieces::Whole)
    {
        peer = std::make_unique<MemoryIOHandler>(std::move(scripts), pieces, 7);
        peer->OnStatus = http.OnStatus;
        http.SetIOHandler(peer.get());
    }

    void UseAntiFreeze()
    {
        antiFreeze = std::make_unique<TIdAntiFreeze>(nullptr, app);
        antiFreeze->SetIdleTimeOut(1);
    }

    // The transport's statuses (resolving, connecting) come from the peer, as they come
    // from the socket handler the client makes for itself.
    void RecordEvents()
    {
        http.OnStatus = [this](TComponent*, TIdStatus, const std::string& t) { events.push_back(t); };
        if (peer)
            peer->OnStatus = http.OnStatus;
        http.OnWorkBegin = [this](TComponent*, TWorkMode, std::int64_t max) {
            events.push_back("begin " + std::to_string(max));
        };
        http.OnWork = [this](TComponent*, TWorkMode, std::int64_t n) { events.push_back("work " + std::to_string(n)); };
        http.OnWorkEnd = [this](TComponent*, TWorkMode) { events.push_back("end"); };
    }

    Result Fetch(const std::string& url)
    {
        TMemoryStream stream;
        Result r = FetchInto(http, url, stream);
        r.body = stream.ToString();
        return r;
    }
};

// The first line of a request.
std::string RequestLine(const std::string& request) { return request.substr(0, request.find("\r\n")); }

// One answer per case on a fresh client; the peer then closes or keeps the connection
// open until the client closes it.
struct AnswerCase {
    const char* name;
    std::string answer;
    bool serverCloses;
    std::string body = {};
    std::string error = {};
    int code = 0;
    std::string errorBody = {};
    // The peer closes inside the body. Arriving with the head, as in one segment, all of
    // what came reaches the body; arriving in pieces, what the block being read when the
    // close came already held stays in the input queue instead.
    bool cutInABlock = false;
};

// Over the transport in `pieces`, `got` is `expected` when the bytes came whole; otherwise,
// for a body cut inside a block, `got` and what stayed queued are `expected` together.
void ExpectArrived(Pieces pieces, bool cutInABlock, const std::string& got, TIdTCPConnection& client,
                   const std::string& expected)
{
    if (pieces == Pieces::Whole || !cutInABlock) {
        EXPECT_EQ(got, expected);
        return;
    }
    EXPECT_EQ(got + std::string(client.InputQueue().View()), expected);
}

const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";

TEST_F(Get, EveryFramingAndOutcomeOfOneAnswer)
{
    const AnswerCase cases[] = {
        {.name = "sized",
         .answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello",
         .serverCloses = false,
         .body = "hello"},
        {.name = "sized body cut short by the server",
         .answer = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhel",
         .serverCloses = true,
         .body = "hel",
         .error = "EIdConnClosedGracefully: Connection Closed Gracefully.",
         .cutInABlock = true},
        {.name = "length announced far beyond what comes",
         .answer = "HTTP/1.1 200 OK\r\nContent-Length: 1099511627776\r\n\r\n0123456789",
         .serverCloses = true,
         .body = "0123456789",
         .error = "EIdConnClosedGracefully: Connection Closed Gracefully.",
         .cutInABlock = true},
        {.name = "zero length on a kept connection",
         .answer = "HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n",
         .serverCloses = false,
         .body = ""},
        {.name = "until close",
         .answer = "HTTP/1.1 200 OK\r\n\r\nall of it",
         .serverCloses = true,
         .body = "all of it"},
        {.name = "HTTP/1.0 until close",
         .answer = "HTTP/1.0 200 OK\r\nServer: old\r\n\r\nold body",
         .serverCloses = true,
         .body = "old body"},
        {.name = "chunked",
         .answer = kChunked + "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n",
         .serverCloses = false,
         .body = "helloabc"},
        {.name = "Chunked in capitals",
         .answer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: Chunked\r\n\r\n2\r\nok\r\n0\r\n\r\n",
         .serverCloses = false,
         .body = "ok"},
        {.name = "chunk extension",
         .answer = kChunked + "1a;x=y\r\nabcdefghijklmnopqrstuvwxyz\r\n0\r\n\r\n",
         .serverCloses = false,
         .body = "abcdefghijklmnopqrstuvwxyz"},
        {.name = "chunked wins over a length",
         .answer = "HTTP/1.1 200 OK\r\nContent-Length: 10\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nbody\r\n0\r\n\r\n",
         .serverCloses = false,
         .body = "body"},
        {.name = "chunked with a trailer",
         .answer = kChunked + "2\r\nok\r\n0\r\nX-Sum: 1\r\nX-More: 2\r\n\r\n",
         .serverCloses = false,
         .body = "ok"},
        {.name = "last chunk, then the server closes",
         .answer = kChunked + "2\r\nok\r\n0\r\n",
         .serverCloses = true,
         .body = "ok"},
        {.name = "chunk size not a number",
         .answer = kChunked + "zz\r\nzz\r\n",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"zz\"."},
        {.name = "chunk size beyond 64 bits",
         .answer = kChunked + "10000000000000000\r\nx",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"10000000000000000\"."},
        {.name = "chunk cut by the server",
         .answer = kChunked + "5\r\nhel",
         .serverCloses = true,
         .body = "hel",
         .error = "EIdConnClosedGracefully: Connection Closed Gracefully.",
         .cutInABlock = true},
        {.name = "100 Continue, then the answer",
         .answer = "HTTP/1.1 100 Continue\r\n\r\nHTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok",
         .serverCloses = false,
         .body = "ok"},
        {.name = "204 ignores a length",
         .answer = "HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\n",
         .serverCloses = false,
         .body = ""},
        {.name = "304 has no body to wait for",
         .answer = "HTTP/1.1 304 Not Modified\r\n\r\n",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 304 Not Modified",
         .code = 304},
        {.name = "404 with its body",
         .answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot found",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 404 Not Found",
         .code = 404,
         .errorBody = "not found"},
        {.name = "500 with a chunked body",
         .answer = "HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nsad!\r\n0\r\n\r\n",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 500 Oops",
         .code = 500,
         .errorBody = "sad!"},
        {.name = "503 until close",
         .answer = "HTTP/1.1 503 Busy\r\n\r\nlater",
         .serverCloses = true,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 503 Busy",
         .code = 503,
         .errorBody = "later"},
        {.name = "status line without a blank",
         .answer = "garbage\r\n\r\n",
         .serverCloses = true,
         .body = "",
         .error = "EIdHTTPProtocolException: garbage",
         .code = -1},
        {.name = "unhandled 302",
         .answer = "HTTP/1.1 302 Found\r\nLocation: /elsewhere\r\nContent-Length: 5\r\n\r\nmoved",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 302 Found",
         .code = 302,
         .errorBody = "moved"},
        {.name = "200 with a Location is a redirect",
         .answer = "HTTP/1.1 200 OK\r\nLocation: /x\r\nContent-Length: 2\r\n\r\nno",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 200 OK",
         .code = 200,
         .errorBody = "no"},
        {.name = "200 whose head the server cuts",
         .answer = "HTTP/1.1 200 OK\r\nContent-Le",
         .serverCloses = true,
         .body = "",
         .error = "EIdException: Undefined situation"},
        {.name = "404 whose head the server cuts",
         .answer = "HTTP/1.1 404 Not Found\r\nServer: x\r\n",
         .serverCloses = true,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 404 Not Found",
         .code = 404},
        // A body that is only read for the exception's text is not held to the strict rules
        // of a delivered body: the status stays the failure, with what arrived of its text.
        {.name = "404 whose sized body the server cuts short",
         .answer = "HTTP/1.1 404 Not Found\r\nContent-Length: 9\r\n\r\nnot",
         .serverCloses = true,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 404 Not Found",
         .code = 404,
         .errorBody = "not",
         .cutInABlock = true},
        {.name = "500 whose chunk size is junk",
         .answer = "HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n4\r\nsad!\r\nzz\r\n",
         .serverCloses = true,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 500 Oops",
         .code = 500,
         .errorBody = "sad!"},
        {.name = "unhandled 302 whose chunked body is cut inside a chunk",
         .answer = "HTTP/1.1 302 Found\r\nLocation: /x\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nmov",
         .serverCloses = true,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 302 Found",
         .code = 302,
         .errorBody = "mov",
         .cutInABlock = true},
        {.name = "401 with a Basic challenge and no handler",
         .answer = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=x\r\nContent-Length: 4\r\n\r\ndeny",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 401 Unauthorized",
         .code = 401,
         .errorBody = "deny"},
        {.name = "401 without a challenge",
         .answer = "HTTP/1.1 401 Unauthorized\r\nContent-Length: 0\r\n\r\n",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 401 Unauthorized",
         .code = 401},
        {.name = "407 without a handler",
         .answer =
             "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=p\r\nContent-Length: 0\r\n\r\n",
         .serverCloses = false,
         .body = "",
         .error = "EIdHTTPProtocolException: HTTP/1.1 407 Proxy Authentication Required",
         .code = 407},
        {.name = "numeric Expires and a range that is not numbers",
         .answer = "HTTP/1.1 200 OK\r\nExpires: 999999999\r\nContent-Range: bytes x-y/z\r\nContent-Length: 2\r\n\r\nok",
         .serverCloses = false,
         .body = "ok"},
        {.name = "cookie port that is not a number",
         .answer = "HTTP/1.1 200 OK\r\nSet-Cookie2: a=1; Port=\"x\"; Version=1\r\nContent-Length: 2\r\n\r\nok",
         .serverCloses = false,
         .body = "ok"},
        {.name = "status line over the maximum line length",
         .answer = std::string(20000, 'A') + "\r\n",
         .serverCloses = true,
         .body = "",
         .error = "EIdReadLnMaxLineLengthExceeded: Max line length exceeded."},
        {.name = "nothing at all",
         .answer = "",
         .serverCloses = true,
         .body = "",
         .error = "EIdConnClosedGracefully: Connection Closed Gracefully."},
    };
    for (Pieces pieces : kEveryPieces) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in pieces: " + Name(pieces));
            Script script;
            script.ExpectRequest().Send(c.answer);
            if (c.serverCloses)
                script.Close();
            else
                script.ExpectRequest(); // silent until the client lets go
            MemoryIOHandler peer({script}, pieces, 7);
            TIdHTTP client(nullptr, system);
            client.SetIOHandler(&peer);
            TMemoryStream stream;
            const auto start = Clock::now();
            const Result r = FetchInto(client, Url(), stream);
            // Nothing waits for a time-out, on the clock or in the peer's silences.
            EXPECT_LT(Clock::now() - start, std::chrono::seconds(1));
            EXPECT_EQ(peer.TimedOutWaits(), 0);
            EXPECT_EQ(peer.SilentMs(), 0);
            ExpectArrived(pieces, c.cutInABlock && c.errorBody.empty(), stream.ToString(), client, c.body);
            EXPECT_EQ(stream.Position(), stream.Size());
            EXPECT_EQ(r.error, c.error);
            EXPECT_EQ(r.code, c.code);
            ExpectArrived(pieces, c.cutInABlock && !c.errorBody.empty(), r.errorBody, client, c.errorBody);
            client.CloseConnection();
            EXPECT_EQ(peer.Accepted(), 1);
            EXPECT_TRUE(peer.Connections().at(0).ClosedByClient);
        }
    }
}

TEST_F(Get, TheCheckRequestGoesOutAsTheUpdateWindowSendsIt)
{
    Serve({Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n").ExpectRequest()});
    const auto r = Fetch(Url("/update/index.php?checkupdate&app=x&version=1.0&updatemode=appupdater&langid=0"));
    EXPECT_EQ(r.error, "");
    ASSERT_EQ(peer->Requests().size(), 1u);
    EXPECT_EQ(peer->Requests()[0],
              "GET /update/index.php?checkupdate&app=x&version=1.0&updatemode=appupdater&langid=0 HTTP/1.1\r\n"
              "Content-Type: text/html\r\n"
              "Host: 127.0.0.1:" +
                  std::to_string(kPort) +
                  "\r\n"
                  "Accept:  text/html ,*/*\r\n"
                  "User-Agent: " +
                  kUserAgent +
                  "\r\n"
                  "\r\n");
}

TEST_F(Get, AKeptConnectionCarriesTheSecondGetWithItsCookiesAndRelativeAddress)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nSet-Cookie: lang=fr; path=/\r\nSet-Cookie: nopath=1\r\n"
                     "Content-Length: 4\r\n\r\ninfo")
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nsetup")
               .ExpectRequest()});
    EXPECT_EQ(Fetch(Url("/update/index.php?checkupdate")).body, "info");
    EXPECT_EQ(Fetch("setup.exe").body, "setup");
    EXPECT_EQ(peer->Accepted(), 1);
    const auto requests = peer->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(RequestLine(requests[1]), "GET /update/setup.exe HTTP/1.1");
    // The cookie without a path is kept but never sent; the store's line comes last.
    EXPECT_NE(requests[1].find("User-Agent: " + kUserAgent + "\r\nCookie: lang=fr\r\n\r\n"), std::string::npos);
    EXPECT_EQ(requests[0].find("Cookie:"), std::string::npos);
}

TEST_F(Get, APortWrittenWithLeadingZerosIsWrittenBackAsANumber)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ninfo")
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nsetup")
               .ExpectRequest()});
    const std::string port = std::to_string(kPort);
    EXPECT_EQ(Fetch("http://127.0.0.1:0" + port + "/update/index.php").body, "info");
    EXPECT_EQ(http.URL().Port, port);
    EXPECT_EQ(Fetch("setup.exe").body, "setup");
    const auto requests = peer->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("Host: 127.0.0.1:0" + port + "\r\n"), std::string::npos);
    EXPECT_NE(requests[1].find("Host: 127.0.0.1:" + port + "\r\n"), std::string::npos) << requests[1];
    EXPECT_EQ(peer->Connections().at(0).Port, kPort);
}

TEST_F(Get, CookiesOfAFailedAnswerAreKept)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 404 Not Found\r\nSet-Cookie: seen=1; path=/\r\nContent-Length: 0\r\n\r\n")
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n")
               .ExpectRequest()});
    EXPECT_EQ(Fetch(Url("/a")).code, 404);
    EXPECT_EQ(Fetch(Url("/b")).error, "");
    const auto requests = peer->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("\r\nCookie: seen=1\r\n"), std::string::npos);
}

TEST_F(Get, ReuseFollowsTheKeepAliveRuleAndTheEndpoint)
{
    struct Case {
        const char* name;
        std::string firstAnswer;
        std::string secondHost; // "" keeps localhost
        int accepted;
    } cases[] = {
        {.name = "HTTP/1.1 keeps",
         .firstAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na",
         .secondHost = "",
         .accepted = 1},
        {.name = "HTTP/1.0 without Connection keeps",
         .firstAnswer = "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na",
         .secondHost = "",
         .accepted = 1},
        {.name = "Connection: close",
         .firstAnswer = "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Length: 1\r\n\r\na",
         .secondHost = "",
         .accepted = 2},
        {.name = "Connection: Close, TE does not count",
         .firstAnswer = "HTTP/1.1 200 OK\r\nConnection: close, TE\r\nContent-Length: 1\r\n\r\na",
         .secondHost = "",
         .accepted = 1},
        {.name = "same host in other letters",
         .firstAnswer = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na",
         .secondHost = "LOCALHOST",
         .accepted = 1},
        {.name = "a failure in the middle of an answer",
         .firstAnswer = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nqq\r\n",
         .secondHost = "",
         .accepted = 2},
        {.name = "an error body read to its end keeps",
         .firstAnswer = "HTTP/1.1 404 Not Found\r\nContent-Length: 2\r\n\r\nno",
         .secondHost = "",
         .accepted = 1},
    };
    for (Pieces pieces : kEveryPieces) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in pieces: " + Name(pieces));
            // The first script serves both requests when the connection is kept; otherwise
            // the second connection gets the second script.
            MemoryIOHandler peer(
                {Script()
                     .ExpectRequest()
                     .Send(c.firstAnswer)
                     .ExpectRequest()
                     .Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb")
                     .ExpectRequest(),
                 Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb").ExpectRequest()},
                pieces, 7);
            TIdHTTP client(nullptr, system);
            client.SetIOHandler(&peer);
            TMemoryStream first, second;
            const std::string host = "localhost:" + std::to_string(kPort);
            try {
                client.Get("http://" + host + "/1", first);
            } catch (const Exception&) {
            }
            const std::string secondHost =
                (c.secondHost.empty() ? std::string("localhost") : c.secondHost) + ":" + std::to_string(kPort);
            EXPECT_NO_THROW(client.Get("http://" + secondHost + "/2", second));
            EXPECT_EQ(second.ToString(), "b");
            EXPECT_EQ(peer.Accepted(), c.accepted);
            client.CloseConnection();
        }
    }
}

TEST_F(Get, AServerThatClosedTheKeptConnectionIsNoticedBeforeTheNextRequest)
{
    Serve({Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na").Close(),
           Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb").ExpectRequest()});
    EXPECT_EQ(Fetch(Url("/1")).body, "a");
    // The close is there to read at once, as a FIN already arrived on a socket.
    const auto r = Fetch(Url("/2"));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, "b");
    EXPECT_EQ(peer->Accepted(), 2);
    EXPECT_EQ(RequestLine(peer->Connections().at(1).Written), "GET /2 HTTP/1.1");
}

TEST_F(Get, AnotherPortClosesTheOpenConnectionFirst)
{
    Serve({Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\na").ExpectRequest(),
           Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb").ExpectRequest()});
    EXPECT_EQ(Fetch(Url("/", kPort)).body, "a");
    RecordEvents();
    EXPECT_EQ(Fetch(Url("/", kPort + 1)).body, "b");
    ASSERT_EQ(peer->Accepted(), 2);
    EXPECT_TRUE(peer->Connections()[0].ClosedByClient); // its connection was closed by the client
    EXPECT_EQ(peer->Connections()[1].Port, kPort + 1);
    // The endpoint change closes the connection; the keep-alive rule, asked next about the
    // previous answer on a connection now closed, says no and closes once more.
    EXPECT_EQ(events, (Lines{"Disconnecting.", "Disconnected.", "Disconnecting.", "Disconnected.",
                             "Connecting to 127.0.0.1.", "Connected.", "begin 1", "work 1", "end"}));
}

TEST_F(Get, AddressesTheClientCannotServeFailBeforeConnecting)
{
    struct Case {
        const char* url;
        std::string error;
    } cases[] = {
        {.url = "https://127.0.0.1/x", .error = "EIdIOHandlerPropInvalid: IOHandler value is not valid"},
        {.url = "ftp://127.0.0.1/x", .error = "EIdUnknownProtocol: "},
        {.url = "http://127.0.0.1:8o/x", .error = "EConvertError: '8o' is not a valid integer value"},
        {.url = "http://127.0.0.1:65616/x", .error = "EConvertError: '65616' is not a valid port number"},
    };
    for (const auto& c : cases) {
        TIdHTTP client(nullptr, system);
        TMemoryStream stream;
        try {
            client.Get(c.url, stream);
            ADD_FAILURE() << c.url;
        } catch (const Exception& e) {
            EXPECT_EQ(std::string(e.ClassName()) + ": " + e.Message(), c.error) << c.url;
        }
    }
}

TEST_F(Get, AnErrorBodyThatNeverEndsTakesTheShortTimeOut)
{
    Serve({Script().ExpectRequest().Send("HTTP/1.1 500 Oops\r\n\r\npartial").Stall(60000)});
    http.SetReadTimeout(0);
    const auto start = Clock::now();
    const auto r = Fetch(Url());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(r.error, "EIdReadTimeout: Read Timeout");
    // The silence the client sat through before giving up, as a socket would have made it wait.
    EXPECT_GE(peer->SilentMs(), 1900);
    EXPECT_LT(peer->SilentMs(), 5000);
    EXPECT_EQ(http.ReadTimeout(), 0);                      // restored
    EXPECT_TRUE(peer->Connections().at(0).ClosedByClient); // the half-read connection is not kept
}

TEST_F(Get, RedirectsAreFollowedUpToTheMaximumAndTheLastOneFails)
{
    Script chain;
    for (int i = 1; i <= TIdHTTP::DefaultRedirectMaximum; ++i)
        chain.ExpectRequest().Send("HTTP/1.1 302 Found\r\nLocation: r" + std::to_string(i) +
                                   "\r\nContent-Length: 4\r\n\r\nbody");
    chain.ExpectRequest();
    Serve({chain});
    http.HandleRedirects = true;
    std::vector<int> counts;
    std::vector<bool> presets;
    http.OnRedirect = [&](TComponent*, std::string&, int n, bool& handled, TIdHTTPMethod&) {
        counts.push_back(n);
        presets.push_back(handled);
    };
    // The 15th redirect would not be followed: Handled comes preset false and the loop ends
    // in the protocol exception of that answer, not in an empty "success".
    const auto r = Fetch(Url("/dir/start"));
    EXPECT_EQ(r.error, "EIdHTTPProtocolException: HTTP/1.1 302 Found");
    EXPECT_EQ(r.code, 302);
    EXPECT_EQ(r.errorBody, "body");
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(http.RedirectCount(), 15);
    EXPECT_EQ(peer->Accepted(), 1);
    const auto requests = peer->Requests();
    ASSERT_EQ(requests.size(), 15u);
    EXPECT_EQ(requests[14].substr(0, 22), "GET /dir/r14 HTTP/1.1\r");
    EXPECT_EQ(counts.size(), 15u);
    EXPECT_EQ(counts.back(), 15);
    std::vector<bool> expected(14, true);
    expected.push_back(false);
    EXPECT_EQ(presets, expected);
}

TEST_F(Get, AFollowedRedirectDropsItsBodyAndAHandlerMayChangeTheTarget)
{
    // The handler sends the client to another port: the second connection is the other server.
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 301 Moved\r\nLocation: /wrong\r\nTransfer-Encoding: chunked\r\n\r\n"
                     "4\r\ngone\r\n0\r\n\r\n")
               .ExpectRequest(),
           Script().ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\ndone").ExpectRequest()});
    http.HandleRedirects = true;
    http.OnRedirect = [&](TComponent*, std::string& dest, int, bool&, TIdHTTPMethod&) {
        EXPECT_EQ(dest, "/wrong");
        dest = Url("/right", kPort + 1);
    };
    TMemoryStream stream;
    stream.Write("kept|");
    http.Get(Url(), stream);
    EXPECT_EQ(stream.ToString(), "kept|done");
    ASSERT_EQ(peer->Accepted(), 2);
    EXPECT_EQ(peer->Connections()[1].Port, kPort + 1);
    EXPECT_EQ(peer->Connections()[1].Written.substr(0, 22), "GET /right HTTP/1.1\r\nC");
}

TEST_F(Get, AHandledRedirectWithoutHandleRedirectsFinishesWithItsLocation)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 3\r\n\r\nabc")
               .ExpectRequest()});
    http.OnRedirect = [](TComponent*, std::string& dest, int, bool& handled, TIdHTTPMethod&) {
        EXPECT_FALSE(handled);
        handled = true;
        dest = "/chosen";
    };
    const auto r = Fetch(Url());
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, "");
    EXPECT_EQ(http.Response().Location, "/chosen");
    EXPECT_EQ(peer->Requests().size(), 1u);
}

TEST_F(Get, AFailedGetLeavesTheRedirectCountForTheNext)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 302 Found\r\nLocation: /b\r\nContent-Length: 0\r\n\r\n")
               .ExpectRequest()
               .Send("HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n")
               .ExpectRequest()
               .Send("HTTP/1.1 302 Found\r\nLocation: /d\r\nContent-Length: 0\r\n\r\n")
               .ExpectRequest()});
    http.HandleRedirects = true;
    http.RedirectMaximum = 3;
    EXPECT_EQ(Fetch(Url("/a")).code, 404);
    EXPECT_EQ(http.RedirectCount(), 2);
    // The next Get starts at 3: its first redirect is at the limit and is not followed.
    const auto r = Fetch(Url("/c"));
    EXPECT_EQ(r.code, 302);
    EXPECT_EQ(http.Response().Location, "/d");
    EXPECT_EQ(peer->Requests().size(), 3u);
    EXPECT_EQ(http.RedirectCount(), 3);
}

TEST_F(Get, AnAuthorizationHandlerGetsTheRequestRetriedWithBasicCredentials)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest x\r\n"
                     "WWW-Authenticate: Basic realm=r\r\nContent-Length: 4\r\n\r\ndeny")
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 6\r\n\r\nsecret")
               .ExpectRequest()});
    http.HTTPOptions = {hoInProcessAuth};
    int asked = 0;
    http.OnAuthorization = [&](TComponent*, TIdAuthentication* a, bool& handled) {
        ++asked;
        EXPECT_EQ(a->AuthParams, (Lines{"Digest x", "Basic realm=r"}));
        a->Username = "user";
        a->Password = "pass";
        handled = true;
    };
    const auto r = Fetch(Url("/private"));
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(r.body, "secret");
    EXPECT_EQ(asked, 1);
    const auto requests = peer->Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"), std::string::npos);
    EXPECT_EQ(http.RedirectCount(), 0);
}

TEST_F(Get, AnAuthorizationHandlerThatGivesNoNameIsAskedOnceAndTheGetFails)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=r\r\nContent-Length: 0\r\n\r\n")
               .ExpectRequest()});
    int asked = 0;
    http.OnAuthorization = [&](TComponent*, TIdAuthentication*, bool& handled) {
        ++asked;
        handled = true;
    };
    EXPECT_EQ(Fetch(Url()).code, 401);
    EXPECT_EQ(asked, 1);
}

TEST_F(Get, WorkEventsComeFromBodiesOnlyAndChunksAreSpansOfTheirOwn)
{
    Serve({Script()
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\nhello")
               .ExpectRequest()
               .Send(kChunked + "5\r\nhello\r\n3\r\nabc\r\n0\r\n\r\n")
               .ExpectRequest()
               .Send("HTTP/1.1 200 OK\r\nContent-Length: 3000000000\r\n\r\nxy")
               .Close()});
    RecordEvents();
    EXPECT_EQ(Fetch(Url("/1")).body, "hello");
    EXPECT_EQ(events, (Lines{"Disconnecting.", "Disconnected.", "Connecting to 127.0.0.1.", "Connected.", "begin 5",
                             "work 5", "end"}));
    events.clear();
    EXPECT_EQ(Fetch(Url("/2")).body, "helloabc");
    EXPECT_EQ(events, (Lines{"Chunk Started", "begin 5", "work 5", "end", "begin 3", "work 3", "end"}));
    events.clear();
    // Sizes above 32 bits reach the events whole.
    EXPECT_EQ(Fetch(Url("/3")).error, "EIdConnClosedGracefully: Connection Closed Gracefully.");
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events[0], "begin 3000000000");
    EXPECT_EQ(events[1], "work 2");
}

// --- A CloseConnection from a handler, in each phase ---------------------------------------
// The peer runs the close inside the client's wait, where a message handler pumped by the
// anti-freeze would run it.

TEST_F(Get, ACloseWhileWaitingForTheAnswerIsAGracefulClose)
{
    Serve({Script().ExpectRequest().Call([this] { http.CloseConnection(); }).Stall(3000).Close()});
    const auto start = Clock::now();
    const auto r = Fetch(Url());
    EXPECT_EQ(r.error, "EIdConnClosedGracefully: Connection Closed Gracefully.");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
    EXPECT_LT(peer->SilentMs(), 2000); // the close ended the wait before the answer was due
}

TEST_F(Get, ACloseWhileABodyWaitsEndsAsTheFramingSays)
{
    struct Case {
        const char* name;
        std::string head;
        std::string error;
        bool cutInABlock; // see AnswerCase: an until-close read writes its partial block
    } cases[] = {
        // A cancel ends sized and until-close bodies normally with what arrived.
        {.name = "sized", .head = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n", .error = "", .cutInABlock = true},
        {.name = "until close", .head = "HTTP/1.1 200 OK\r\n\r\n", .error = "", .cutInABlock = false},
        {.name = "chunked",
         .head = kChunked + "64\r\n",
         .error = "EIdConnClosedGracefully: Connection Closed Gracefully.",
         .cutInABlock = true},
    };
    for (Pieces pieces : kEveryPieces) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in pieces: " + Name(pieces));
            TIdHTTP client(nullptr, system);
            MemoryIOHandler peer({Script()
                                      .ExpectRequest()
                                      .Send(c.head + "part")
                                      .Call([&client] { client.CloseConnection(); })
                                      .Stall(3000)
                                      .Close()},
                                 pieces, 7);
            client.SetIOHandler(&peer);
            TMemoryStream stream;
            std::string error;
            const auto start = Clock::now();
            try {
                client.Get(Url(), stream);
            } catch (const Exception& e) {
                error = std::string(e.ClassName()) + ": " + e.Message();
            }
            EXPECT_LT(Clock::now() - start, std::chrono::seconds(2));
            EXPECT_LT(peer.SilentMs(), 2000);
            EXPECT_EQ(error, c.error);
            ExpectArrived(pieces, c.cutInABlock, stream.ToString(), client, "part");
            client.SetIOHandler(nullptr); // the peer goes first
        }
    }
}

TEST_F(Get, ACloseInsideAWorkHandlerEndsTheGetNormally)
{
    const std::string body(200000, 'z');
    // The body in five parts of 40000 with a little silence before each.
    Script script;
    script.ExpectRequest().Send("HTTP/1.1 200 OK\r\nContent-Length: 200000\r\n\r\n");
    for (std::size_t at = 0; at < body.size(); at += 40000)
        script.Stall(at == 0 ? 50 : 20).Send(body.substr(at, 40000));
    Serve({script.ExpectRequest()});
    std::int64_t closedAt = -1;
    http.OnWork = [&](TComponent*, TWorkMode, std::int64_t n) {
        if (closedAt < 0) {
            closedAt = n;
            http.CloseConnection();
        }
    };
    const auto r = Fetch(Url());
    EXPECT_EQ(r.error, "");
    EXPECT_GT(closedAt, 0);
    EXPECT_EQ(static_cast<std::int64_t>(r.body.size()), closedAt);
    EXPECT_LT(r.body.size(), body.size());
    // The client is closed now; the next Get connects again.
    EXPECT_FALSE(http.IsOpen());
}

// --- Over loopback sockets: what only a real connect shows ---------------------------------

TEST_F(Get, ARefusedConnectionIsTheSocketError)
{
    int port;
    {
        ScriptedServer gone({});
        port = gone.Port();
    }
    const auto r = Fetch("http://127.0.0.1:" + std::to_string(port) + "/");
    EXPECT_EQ(r.error, "EIdSocketError: Socket Error # 10061\r\nConnection refused.");
}

// A connect that the backlog holds pending, closed by a message handler the anti-freeze
// pumps while the connect waits.
TEST_F(Get, ACloseDuringTheConnectEndsTheGetAtTheFirstWrite)
{
    testsupport::FullBacklogListener blackHole;
    UseAntiFreeze();
    app.Post([&] { http.CloseConnection(); });
    const auto start = Clock::now();
    const auto r = Fetch("http://127.0.0.1:" + std::to_string(blackHole.Port()) + "/");
    EXPECT_EQ(r.error, "EIdNotConnected: Not Connected");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

} // namespace
