// Get against servers that misbehave on purpose, over 127.0.0.1: a trickle, endless lines,
// endless bodies, impossible sizes, resets in every phase, redirect loops and cookie floods.
// For each: no crash or hang (every case ends by the server's own script, a bound of the
// client or a cancel made on this side), memory that follows the bytes that really
// arrived, and the error class and text the user would see. The bounds on what servers
// send are tested at their edges, over the network where the client enforces them and on
// the cookie store directly.

#include "http/IdAntiFreeze.h"
#include "http/IdCookieManager.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdURI.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using testsupport::ScriptedServer;
using Script = ScriptedServer::Script;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr std::int64_t kMiB = std::int64_t{1} << 20;
const std::string kOkHead = "HTTP/1.1 200 OK\r\n";
const std::string kChunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n";
const std::string kClosedGracefully = "EIdConnClosedGracefully: Connection Closed Gracefully.";
const std::string kReset = "EIdSocketError: Socket Error # 10054\r\nConnection reset by peer.";

std::string Describe(const Exception& e) { return std::string(e.ClassName()) + ": " + e.Message(); }

struct Outcome {
    std::string error; // "CLASS: MESSAGE", empty after a normal return
    int code = 0;
    std::size_t errorBodySize = 0;
    std::int64_t size = 0;     // bytes in the caller's stream
    std::int64_t capacity = 0; // bytes the stream holds room for
    Clock::duration took{};
};

struct Hostile : ::testing::Test {
    FakeSystem system;
    platform::HeadlessApplication app;
    std::unique_ptr<TIdAntiFreeze> antiFreeze;
    TIdHTTP http{nullptr, system, "IdHTTP1"};

    // As the update window has it: waits in 1 ms slices that pump the application's queue.
    void UseAntiFreeze()
    {
        antiFreeze = std::make_unique<TIdAntiFreeze>(nullptr, app);
        antiFreeze->SetIdleTimeOut(1);
    }

    static std::string Url(const ScriptedServer& server, const std::string& path = "/")
    {
        return "http://127.0.0.1:" + std::to_string(server.Port()) + path;
    }

    Outcome Fetch(TIdHTTP& client, const std::string& url, TMemoryStream& stream)
    {
        Outcome o;
        const auto start = Clock::now();
        try {
            client.Get(url, stream);
        } catch (const EIdHTTPProtocolException& e) {
            o.error = Describe(e);
            o.code = e.ReplyErrorCode();
            o.errorBodySize = e.ErrorMessage().size();
        } catch (const Exception& e) {
            o.error = Describe(e);
        }
        o.took = Clock::now() - start;
        o.size = stream.Size();
        o.capacity = static_cast<std::int64_t>(stream.Capacity());
        return o;
    }
    Outcome Fetch(const std::string& url)
    {
        TMemoryStream stream;
        return Fetch(http, url, stream);
    }
};

// Posts a CloseConnection once the server has the request and `afterMs` have passed, as a
// close request of the window arrives in the middle of a wait; records when it was posted.
class CancelLater {
public:
    CancelLater(platform::HeadlessApplication& app, TIdHTTP& http, const ScriptedServer& server, int afterMs)
        : thread_([this, &app, &http, &server, afterMs] {
              const auto until = Clock::now() + std::chrono::seconds(5);
              while (server.Requests().empty() && Clock::now() < until)
                  std::this_thread::sleep_for(milliseconds(2));
              std::this_thread::sleep_for(milliseconds(afterMs));
              postedAt_ = Clock::now();
              posted_ = true;
              app.Post([&http] { http.CloseConnection(); });
          })
    {
    }
    ~CancelLater() { Join(); }
    void Join()
    {
        if (thread_.joinable())
            thread_.join();
    }
    // Time from the post to `end`; valid after Join.
    Clock::duration Until(Clock::time_point end) const { return posted_ ? end - postedAt_ : Clock::duration::max(); }

private:
    Clock::time_point postedAt_;
    std::atomic<bool> posted_{false};
    std::thread thread_;
};

// --- A trickle: the user can still cancel, and the window keeps answering -----------------

TEST_F(Hostile, ATrickleOfOneBytePerSecondIsCancelledPromptlyInEveryPhase)
{
    struct Case {
        const char* name;
        std::string before; // sent at once, then the rest one byte per second
        std::string error;
        bool bodyBytes; // the stream holds the body bytes that arrived
    } cases[] = {
        {.name = "status line", .before = "HTTP/1.", .error = kClosedGracefully, .bodyBytes = false},
        {.name = "header block",
         .before = kOkHead + "Server: s",
         .error = "EIdException: Undefined situation",
         .bodyBytes = false},
        // A cancel ends sized and until-close bodies normally with what arrived; the update
        // run then sees the close it granted and saves nothing.
        {.name = "sized body", .before = kOkHead + "Content-Length: 1000\r\n\r\nab", .error = "", .bodyBytes = true},
        {.name = "until-close body", .before = kOkHead + "\r\nab", .error = "", .bodyBytes = true},
        {.name = "chunked body", .before = kChunked + "3e8\r\nab", .error = kClosedGracefully, .bodyBytes = true},
    };
    UseAntiFreeze();
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Script().ExpectRequest().Send(c.before).SendSlowly(std::string(10, 'x'), 1, 1000)});
        TIdHTTP client(nullptr, system);
        const int pumpsBefore = app.ProcessCount();
        CancelLater cancel(app, client, server, 1200);
        TMemoryStream stream;
        const Outcome o = Fetch(client, Url(server), stream);
        const auto end = Clock::now();
        cancel.Join();
        EXPECT_EQ(o.error, c.error);
        EXPECT_LT(cancel.Until(end), milliseconds(500)); // ended by the cancel, not by the server
        // Messages were processed all along the wait, not only when the cancel came.
        EXPECT_GT(app.ProcessCount() - pumpsBefore, 50);
        if (c.bodyBytes) {
            // "ab" and at most the bytes trickled before the cancel.
            const std::int64_t trickled = server.Sent() - static_cast<std::int64_t>(c.before.size());
            EXPECT_GE(o.size, 2);
            EXPECT_LE(o.size, 2 + trickled);
        } else {
            EXPECT_EQ(o.size, 0);
        }
    }
}

// --- Endless heads: bounded by the limits, each tested at its edge ------------------------

struct HeadCase {
    const char* name;
    std::string before;        // sent once
    std::string repeated = {}; // then sent `times` times
    std::size_t times = 0;
    std::string after = {}; // sent last; then the server closes
    std::string error = {}; // empty: the Get returns normally
    std::int64_t bodySize = 0;
};

TEST_F(Hostile, EndlessHeadsEndAtTheirBoundsAndTheEdgesPass)
{
    const std::string fullLine = "X-Fill: " + std::string(16384 - 8, 'f') + "\n"; // 16384 bytes before LF
    const std::string ok = "Content-Length: 2\r\n\r\nok";
    const std::string kib(1024, 'a');
    const std::string zeros(1024, '0');
    // "Endless": a hundred times or more what the bound allows, sent as fast as the client
    // reads. The client must stop by itself long before the server is through; the server's
    // close at the end only keeps a broken client from waiting for ever.
    const HeadCase cases[] = {
        // Many short lines and never the empty one.
        {.name = "endless header lines",
         .before = kOkHead,
         .repeated = "X-A: b\r\n",
         .times = 100000,
         .error = "EIdHTTPTooManyHeaderLines: Too many header lines."},
        {.name = "endless continuation lines",
         .before = kOkHead + "X-A: b\r\n",
         .repeated = " c\r\n",
         .times = 100000,
         .error = "EIdHTTPTooManyHeaderLines: Too many header lines."},
        {.name = "endless long lines",
         .before = kOkHead,
         .repeated = fullLine,
         .times = 6400,
         .error = "EIdHTTPHeaderBlockTooLarge: Header block too large."},
        {.name = "endless interim answers",
         .before = "",
         .repeated = "HTTP/1.1 100 Continue\r\n\r\n",
         .times = 1000,
         .error = "EIdHTTPTooManyInterimAnswers: Too many interim answers."},
        {.name = "endless trailer",
         .before = kChunked + "2\r\nok\r\n0\r\n",
         .repeated = "X-T: 1\r\n",
         .times = 100000,
         .error = "EIdHTTPTooManyHeaderLines: Too many header lines.",
         .bodySize = 2},
        // One line that never ends.
        {.name = "endless status line",
         .before = "",
         .repeated = kib,
         .times = 2000,
         .error = "EIdReadLnMaxLineLengthExceeded: Max line length exceeded."},
        {.name = "endless header line",
         .before = kOkHead + "X-A: ",
         .repeated = kib,
         .times = 2000,
         .error = "EIdReadLnMaxLineLengthExceeded: Max line length exceeded."},
        {.name = "endless chunk-size line",
         .before = kChunked,
         .repeated = zeros,
         .times = 2000,
         .error = "EIdReadLnMaxLineLengthExceeded: Max line length exceeded."},
        // The edges: the bound itself passes, one more fails.
        {.name = "1000 header lines",
         .before = kOkHead,
         .repeated = "X-A: b\r\n",
         .times = 999,
         .after = ok,
         .bodySize = 2},
        {.name = "1001 header lines",
         .before = kOkHead,
         .repeated = "X-A: b\r\n",
         .times = 1000,
         .after = ok,
         .error = "EIdHTTPTooManyHeaderLines: Too many header lines."},
        // No length: the body runs until the close.
        {.name = "a header block of 1 MiB",
         .before = kOkHead,
         .repeated = fullLine,
         .times = 64,
         .after = "\r\nok",
         .bodySize = 2},
        {.name = "a header block of 1 MiB and a byte",
         .before = kOkHead,
         .repeated = fullLine,
         .times = 64,
         .after = "X\r\n\r\nok",
         .error = "EIdHTTPHeaderBlockTooLarge: Header block too large."},
        {.name = "10 interim answers",
         .before = "",
         .repeated = "HTTP/1.1 100 Continue\r\n\r\n",
         .times = 10,
         .after = kOkHead + ok,
         .bodySize = 2},
        {.name = "11 interim answers",
         .before = "",
         .repeated = "HTTP/1.1 100 Continue\r\n\r\n",
         .times = 11,
         .after = kOkHead + ok,
         .error = "EIdHTTPTooManyInterimAnswers: Too many interim answers."},
        {.name = "a trailer of 1000 lines",
         .before = kChunked + "2\r\nok\r\n0\r\n",
         .repeated = "X-T: 1\r\n",
         .times = 1000,
         .after = "\r\n",
         .bodySize = 2},
        {.name = "a trailer of 1001 lines",
         .before = kChunked + "2\r\nok\r\n0\r\n",
         .repeated = "X-T: 1\r\n",
         .times = 1001,
         .after = "\r\n",
         .error = "EIdHTTPTooManyHeaderLines: Too many header lines.",
         .bodySize = 2},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script script;
        script.ExpectRequest().Send(c.before).SendRepeated(c.repeated, c.times).Send(c.after).Close();
        ScriptedServer server({script});
        TIdHTTP client(nullptr, system);
        TMemoryStream stream;
        const Outcome o = Fetch(client, Url(server), stream);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(o.size, c.bodySize);
        EXPECT_LT(o.took, std::chrono::seconds(5));
        // What the client holds stays within the bounds, whatever the server sent.
        EXPECT_LE(client.Response().RawHeaders.Count(), TIdHTTP::MaxHeaderLines);
        std::size_t held = 0;
        for (const auto& line : client.Response().RawHeaders.Lines())
            held += line.size();
        EXPECT_LE(held, TIdHTTP::MaxHeaderBlockSize);
        EXPECT_LE(client.InputQueue().Size(),
                  static_cast<std::size_t>(client.MaxLineLength() + client.RecvBufferSize()));
        if (!c.error.empty()) {
            EXPECT_FALSE(client.IsOpen()); // a connection left in the middle of an answer goes
        }
        client.CloseConnection();
    }
}

// --- Endless bodies and impossible sizes ----------------------------------------------------

TEST_F(Hostile, AnEndlessBodyIsCancelledAfterMegabytesAndHoldsWhatArrived)
{
    struct Case {
        const char* name;
        std::string head;
        std::string error;
    } cases[] = {
        {.name = "until close", .head = kOkHead + "\r\n", .error = ""},
        {.name = "a length far beyond memory",
         .head = kOkHead + "Content-Length: 4611686018427387904\r\n\r\n",
         .error = ""},
        // The chunk framing cannot end normally once its connection is gone.
        {.name = "the largest chunk size",
         .head = kChunked + "7fffffffffffffff\r\n",
         .error = "EIdNotConnected: Not Connected"},
    };
    const std::string block(64 * 1024, 'z');
    constexpr std::int64_t kCancelAt = 8 * kMiB;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // Eight times the cancel point; the close after it only ends a client that failed
        // to cancel.
        ScriptedServer server({Script().ExpectRequest().Send(c.head).SendRepeated(block, 1024).Close()});
        TIdHTTP client(nullptr, system);
        std::int64_t closedAt = -1;
        std::int64_t announced = -1;
        client.OnWorkBegin = [&](TComponent*, TWorkMode, std::int64_t max) { announced = max; };
        client.OnWork = [&](TComponent*, TWorkMode, std::int64_t n) {
            if (closedAt < 0 && n >= kCancelAt) {
                closedAt = n;
                client.CloseConnection();
            }
        };
        TMemoryStream stream;
        const Outcome o = Fetch(client, Url(server), stream);
        EXPECT_EQ(o.error, c.error);
        ASSERT_GE(closedAt, kCancelAt);
        // The stream holds the bytes that arrived up to the cancel: what the work events
        // counted, plus at most the bytes queued with the head.
        EXPECT_GE(o.size, closedAt);
        EXPECT_LE(o.size, closedAt + client.RecvBufferSize());
        // Its room follows those bytes, not the size the server announced.
        EXPECT_LE(o.capacity, 2 * o.size + kMiB);
        EXPECT_LT(o.took, std::chrono::seconds(20));
        EXPECT_GT(announced, -1);
    }
}

TEST_F(Hostile, ImpossibleSizesFailClearlyWithoutAllocatingThem)
{
    struct Case {
        const char* name;
        std::string answer;    // then the server closes
        std::string kept = {}; // already in the caller's stream
        std::string error;
        std::string body = {};
    } cases[] = {
        {.name = "2^62 announced, 10 sent",
         .answer = kOkHead + "Content-Length: 4611686018427387904\r\n\r\n0123456789",
         .error = kClosedGracefully,
         .body = "0123456789"},
        // The length added to a stream that already holds bytes must not overflow.
        {.name = "the 64-bit maximum announced after kept bytes",
         .answer = kOkHead + "Content-Length: 9223372036854775807\r\n\r\n0123456789",
         .kept = "kept|",
         .error = kClosedGracefully,
         .body = "kept|0123456789"},
        // A length beyond 64 bits is no length: the body runs until the close.
        {.name = "a length beyond 64 bits",
         .answer = kOkHead + "Content-Length: 99999999999999999999\r\n\r\nall",
         .error = "",
         .body = "all"},
        {.name = "the largest chunk, then a close",
         .answer = kChunked + "7fffffffffffffff\r\n0123456789",
         .error = kClosedGracefully,
         .body = "0123456789"},
        {.name = "a chunk size beyond 64 bits",
         .answer = kChunked + "10000000000000000\r\nx",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"10000000000000000\"."},
        {.name = "a chunk size of 17 hex digits",
         .answer = kChunked + "fffffffffffffffff\r\nx",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"fffffffffffffffff\"."},
        {.name = "a negative chunk size",
         .answer = kChunked + "-5\r\nhello\r\n0\r\n\r\n",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"-5\"."},
        {.name = "a hexadecimal prefix",
         .answer = kChunked + "0x5\r\nhello\r\n0\r\n\r\n",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"0x5\"."},
        {.name = "junk after the size",
         .answer = kChunked + "5 x\r\nhello\r\n0\r\n\r\n",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"5 x\"."},
        {.name = "an empty size line",
         .answer = kChunked + "\r\nhello\r\n0\r\n\r\n",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"\"."},
        {.name = "a good chunk, then junk",
         .answer = kChunked + "2\r\nok\r\n+1\r\nx\r\n0\r\n\r\n",
         .error = "EIdHTTPInvalidChunkSize: Invalid chunk size \"+1\".",
         .body = "ok"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({Script().ExpectRequest().Send(c.answer).Close()});
        TIdHTTP client(nullptr, system);
        TMemoryStream stream;
        stream.Write(c.kept);
        const Outcome o = Fetch(client, Url(server), stream);
        EXPECT_EQ(o.error, c.error);
        EXPECT_EQ(stream.ToString(), c.body.empty() ? c.kept : c.body);
        EXPECT_LE(o.capacity, kMiB); // nothing was set aside for the announced size
        EXPECT_LT(o.took, std::chrono::seconds(2));
    }
}

// --- Resets -----------------------------------------------------------------------------------

TEST_F(Hostile, AResetInEveryPhaseIsTheSocketError)
{
    struct Case {
        const char* name;
        Script script;
        std::string body = {};
        // The reset may reach the connect thread while it reads the new connection's
        // addresses; the connect then fails with the reset's text.
        bool duringConnect = false;
    } cases[] = {
        {.name = "at the accept", .script = Script().Reset(), .duringConnect = true},
        {.name = "before the status line", .script = Script().ExpectRequest().Reset()},
        {.name = "inside the status line", .script = Script().ExpectRequest().Send("HTTP/1.1 20").Reset()},
        {.name = "inside the header block", .script = Script().ExpectRequest().Send(kOkHead + "Server: x\r\n").Reset()},
        {.name = "inside a sized body",
         .script = Script().ExpectRequest().Send(kOkHead + "Content-Length: 100\r\n\r\npart").Reset(),
         .body = "part"},
        {.name = "inside a chunked body",
         .script = Script().ExpectRequest().Send(kChunked + "64\r\npart").Reset(),
         .body = "part"},
        // A reset is not the end of a body read until the close: the Get fails.
        {.name = "inside an until-close body",
         .script = Script().ExpectRequest().Send(kOkHead + "\r\npart").Reset(),
         .body = "part"},
        {.name = "inside an error body",
         .script = Script().ExpectRequest().Send("HTTP/1.1 404 Not Found\r\nContent-Length: 100\r\n\r\npart").Reset()},
    };
    for (auto anti : {false, true}) {
        if (anti)
            UseAntiFreeze();
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (anti ? " (anti-freeze)" : ""));
            ScriptedServer server({c.script});
            TIdHTTP client(nullptr, system);
            TMemoryStream stream;
            const Outcome o = Fetch(client, Url(server), stream);
            if (c.duringConnect && o.error.rfind("EIdConnectException: ", 0) == 0)
                EXPECT_EQ(o.error.substr(o.error.find(' ') + 1), kReset.substr(kReset.find(' ') + 1));
            else
                EXPECT_EQ(o.error, kReset);
            EXPECT_LE(o.size, static_cast<std::int64_t>(c.body.size()));
            EXPECT_EQ(stream.ToString(), c.body.substr(0, static_cast<std::size_t>(o.size)));
            EXPECT_FALSE(client.IsOpen());
            EXPECT_LT(o.took, std::chrono::seconds(2));
        }
    }
}

// --- Redirect loops and the bodies that are read only to be dropped ---------------------------

TEST_F(Hostile, ARedirectLoopEndsAtTheMaximumWithTheProtocolException)
{
    struct Case {
        const char* name;
        std::vector<std::string> locations; // taken in turn by the answers
        bool close;                         // each answer closes its connection
    } cases[] = {
        {.name = "to itself", .locations = {"/loop"}, .close = false},
        {.name = "between two addresses", .locations = {"/b", "/a"}, .close = false},
        {.name = "to itself, a new connection each time", .locations = {"/loop"}, .close = true},
    };
    const int maximum = TIdHTTP::DefaultRedirectMaximum;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // More answers than the client may follow: it must stop by itself.
        std::vector<Script> scripts;
        Script kept;
        for (int i = 0; i < maximum + 5; ++i) {
            const std::string answer = "HTTP/1.1 302 Found\r\nLocation: " + c.locations[i % c.locations.size()] +
                                       "\r\n" + (c.close ? "Connection: close\r\n" : "") +
                                       "Content-Length: 5\r\n\r\nmoved";
            if (c.close)
                scripts.push_back(Script().ExpectRequest().Send(answer).Close());
            else
                kept.ExpectRequest().Send(answer);
        }
        if (!c.close)
            scripts.push_back(kept.WaitPeerClose());
        ScriptedServer server(scripts);
        TIdHTTP client(nullptr, system);
        client.HandleRedirects = true;
        TMemoryStream stream;
        const Outcome o = Fetch(client, Url(server, "/loop"), stream);
        EXPECT_EQ(o.error, "EIdHTTPProtocolException: HTTP/1.1 302 Found");
        EXPECT_EQ(o.code, 302);
        EXPECT_EQ(o.errorBodySize, 5u);
        EXPECT_EQ(o.size, 0);
        EXPECT_EQ(client.RedirectCount(), maximum);
        EXPECT_LT(o.took, std::chrono::seconds(5));
        client.CloseConnection();
        ASSERT_TRUE(server.WaitFinished(c.close ? maximum : 1));
        // Steps left over after the client went record an empty request each.
        const auto requests = server.Requests();
        EXPECT_EQ(std::count_if(requests.begin(), requests.end(), [](const std::string& r) { return !r.empty(); }),
                  maximum);
        EXPECT_EQ(server.Accepted(), c.close ? maximum : 1);
    }
}

TEST_F(Hostile, UndeliveredBodiesAreReadUpToTheirBound)
{
    const std::int64_t bound = TIdHTTP::MaxUndeliveredBodySize;
    struct Case {
        const char* name;
        std::string head;
        std::int64_t bodySize; // -1: endless
        bool redirect;
        std::size_t errorBody;
        int accepted; // connections: 1 when the first is reused for the second Get
    } cases[] = {
        {.name = "an error body at the bound",
         .head = "HTTP/1.1 500 Oops\r\nContent-Length: 1048576\r\n\r\n",
         .bodySize = bound,
         .redirect = false,
         .errorBody = std::size_t(bound),
         .accepted = 1},
        {.name = "an error body a byte over",
         .head = "HTTP/1.1 500 Oops\r\nContent-Length: 1048577\r\n\r\n",
         .bodySize = bound + 1,
         .redirect = false,
         .errorBody = std::size_t(bound),
         .accepted = 2},
        {.name = "an endless error body",
         .head = "HTTP/1.1 500 Oops\r\n\r\n",
         .bodySize = -1,
         .redirect = false,
         .errorBody = std::size_t(bound),
         .accepted = 2},
        {.name = "an endless chunked error body",
         .head = "HTTP/1.1 500 Oops\r\nTransfer-Encoding: chunked\r\n\r\n",
         .bodySize = -2,
         .redirect = false,
         .errorBody = std::size_t(bound),
         .accepted = 2},
        {.name = "a redirect body at the bound",
         .head = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 1048576\r\n\r\n",
         .bodySize = bound,
         .redirect = true,
         .errorBody = 0,
         .accepted = 1},
        {.name = "a redirect body a byte over",
         .head = "HTTP/1.1 302 Found\r\nLocation: /next\r\nContent-Length: 1048577\r\n\r\n",
         .bodySize = bound + 1,
         .redirect = true,
         .errorBody = 0,
         .accepted = 2},
    };
    const std::string second = "HTTP/1.1 200 OK\r\nContent-Length: 4\r\n\r\nnext";
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script first;
        first.ExpectRequest().Send(c.head);
        if (c.bodySize == -1)
            first.SendRepeated(std::string(4096, 'e'), 1024); // four times the bound
        else if (c.bodySize == -2)
            first.SendRepeated("1000\r\n" + std::string(4096, 'e') + "\r\n", 1024);
        else
            first.SendRepeated(std::string(1024, 'e'), static_cast<std::size_t>(c.bodySize / 1024))
                .Send(std::string(static_cast<std::size_t>(c.bodySize % 1024), 'e'));
        // A kept connection serves the next request; otherwise the second connection does.
        first.ExpectRequest().Send(second).WaitPeerClose();
        ScriptedServer server({first, Script().ExpectRequest().Send(second).WaitPeerClose()});
        TIdHTTP client(nullptr, system);
        client.HandleRedirects = c.redirect;
        TMemoryStream stream;
        const Outcome o = Fetch(client, Url(server), stream);
        if (c.redirect) {
            EXPECT_EQ(o.error, "");
            EXPECT_EQ(stream.ToString(), "next");
        } else {
            EXPECT_EQ(o.error, "EIdHTTPProtocolException: HTTP/1.1 500 Oops");
            EXPECT_EQ(o.errorBodySize, c.errorBody);
            EXPECT_EQ(o.size, 0);
            TMemoryStream again;
            EXPECT_EQ(Fetch(client, Url(server), again).error, "");
            EXPECT_EQ(again.ToString(), "next");
        }
        EXPECT_LT(o.took, std::chrono::seconds(5)); // not the 2 s of an error body's time-out
        EXPECT_EQ(server.Accepted(), c.accepted);
        client.CloseConnection();
    }
}

// --- Cookie floods ----------------------------------------------------------------------------

std::string SetCookies(int from, int count, const std::string& extra = "; path=/")
{
    std::string lines;
    for (int i = from; i < from + count; ++i)
        lines += "Set-Cookie: c" + std::to_string(i) + "=v" + extra + "\r\n";
    return lines;
}

// The cookie names the request carried, in the order written.
std::vector<std::string> CookieNames(const std::string& request)
{
    std::vector<std::string> names;
    const auto at = request.find("\r\nCookie: ");
    if (at == std::string::npos)
        return names;
    // The line may be folded into continuation lines; unfold it first.
    std::string value;
    for (std::size_t i = at + 10; i < request.size();) {
        const auto end = request.find("\r\n", i);
        value += request.substr(i, end - i);
        i = end + 2;
        if (i >= request.size() || (request[i] != ' ' && request[i] != '\t'))
            break;
    }
    for (std::size_t i = 0; i < value.size();) {
        const auto eq = value.find('=', i);
        names.push_back(value.substr(i, eq - i));
        const auto semi = value.find("; ", eq);
        if (semi == std::string::npos)
            break;
        i = semi + 2;
        while (i < value.size() && value[i] == ' ')
            ++i;
    }
    return names;
}

TEST_F(Hostile, ThousandsOfCookiesKeepTheStoreAndTheCookieLineBounded)
{
    constexpr int kPerAnswer = 990; // with the other lines, just under the line bound
    const std::string tail = "Content-Length: 0\r\n\r\n";
    Script script;
    for (int a = 0; a < 4; ++a)
        script.ExpectRequest().Send(kOkHead + SetCookies(a * kPerAnswer, kPerAnswer) + tail);
    script.ExpectRequest().Send(kOkHead + SetCookies(9000, 2000) + tail); // past the line bound
    // The refused answer costs its connection; the next Get comes on a new one.
    ScriptedServer server({script, Script().ExpectRequest().Send(kOkHead + tail).WaitPeerClose()});
    const auto start = Clock::now();
    for (int a = 0; a < 4; ++a) {
        EXPECT_EQ(Fetch(Url(server, "/" + std::to_string(a))).error, "");
        EXPECT_EQ(http.CookieManager()->CookieCollection().Count(), TIdCookieManager::MaxCookiesPerDomain);
    }
    EXPECT_EQ(Fetch(Url(server, "/flood")).error, "EIdHTTPTooManyHeaderLines: Too many header lines.");
    EXPECT_EQ(Fetch(Url(server, "/last")).error, "");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));

    // The store kept the newest 50 of the 3960 it was given; the refused answer added none.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 6u);
    const auto names = CookieNames(requests[5]);
    ASSERT_EQ(names.size(), TIdCookieManager::MaxCookiesPerDomain);
    const int newest = 4 * kPerAnswer - 1;
    EXPECT_EQ(names.front(), "c" + std::to_string(newest)); // the most recent first
    EXPECT_EQ(names.back(), "c" + std::to_string(newest - 49));
    // Every "Cookie" line sent was within its bound.
    for (const auto& request : requests)
        EXPECT_LE(CookieNames(request).size(), TIdCookieManager::MaxCookiesPerDomain);
}

struct CookieStore : ::testing::Test {
    FakeSystem system;
    TIdCookieManager store{nullptr, system};

    std::string ValueFor(const std::string& host) { return store.GenerateCookieList(TIdURI("http://" + host + "/")); }
};

TEST_F(CookieStore, ATextAtTheBoundIsKeptAndALongerOneDropped)
{
    const std::string prefix = "a=";
    const std::string suffix = "; path=/";
    const std::size_t fill = TIdCookieManager::MaxCookieTextLength - prefix.size() - suffix.size();
    store.AddCookie(prefix + std::string(fill, 'v') + suffix, "h");
    EXPECT_EQ(store.CookieCollection().Count(), 1u);
    store.AddCookie("b=" + std::string(fill + 1, 'v') + suffix, "h");
    EXPECT_EQ(store.CookieCollection().Count(), 1u);
    EXPECT_EQ(ValueFor("h").substr(0, 2), "a=");
}

TEST_F(CookieStore, ADomainKeepsItsNewestFiftyAndRewritesDoNotCount)
{
    const int bound = static_cast<int>(TIdCookieManager::MaxCookiesPerDomain);
    for (int i = 0; i < bound; ++i)
        store.AddCookie("n" + std::to_string(i) + "=v; path=/", "h");
    // A known name is rewritten in place: nothing is dropped.
    store.AddCookie("n0=w; path=/", "h");
    EXPECT_EQ(store.CookieCollection().Count(), TIdCookieManager::MaxCookiesPerDomain);
    EXPECT_NE(ValueFor("h").find("n0=w"), std::string::npos);
    // One new name more: the domain's oldest (n0, added first) goes.
    store.AddCookie("n" + std::to_string(bound) + "=v; path=/", "h");
    EXPECT_EQ(store.CookieCollection().Count(), TIdCookieManager::MaxCookiesPerDomain);
    const std::string value = ValueFor("h");
    EXPECT_EQ(value.find("n0="), std::string::npos);
    EXPECT_NE(value.find("n1=v"), std::string::npos);
    EXPECT_NE(value.find("n50=v"), std::string::npos);
    // Other domains are not touched.
    store.AddCookie("x=1; path=/", "other");
    EXPECT_EQ(ValueFor("other"), "x=1");
}

TEST_F(CookieStore, TheStoreKeepsItsNewestThreeThousandOverEveryDomain)
{
    const auto perDomain = TIdCookieManager::MaxCookiesPerDomain;
    const auto domains = TIdCookieManager::MaxCookies / perDomain;
    const auto start = Clock::now();
    for (std::size_t d = 0; d < domains; ++d)
        for (std::size_t i = 0; i < perDomain; ++i)
            store.AddCookie("n" + std::to_string(i) + "=v; path=/", "h" + std::to_string(d));
    EXPECT_EQ(store.CookieCollection().Count(), TIdCookieManager::MaxCookies);
    // One more, for a new host: the store's oldest (h0's n0) goes.
    store.AddCookie("new=v; path=/", "fresh");
    EXPECT_EQ(store.CookieCollection().Count(), TIdCookieManager::MaxCookies);
    EXPECT_EQ(ValueFor("h0").find("n0="), std::string::npos);
    EXPECT_NE(ValueFor("h0").find("n1=v"), std::string::npos);
    EXPECT_EQ(ValueFor("fresh"), "new=v");
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(10));
}

TEST_F(CookieStore, TheDomainIndexStaysBoundedWhenItsListsEmpty)
{
    // Cookies that expire at once leave their domain lists empty at the next clean-up.
    const auto bound = TIdCookieManager::MaxCookies;
    for (std::size_t d = 0; d < bound; ++d)
        store.AddCookie("n=v; path=/; max-age=0", "h" + std::to_string(d));
    system.now += 1.0; // a day later
    store.CleanupCookieList();
    EXPECT_EQ(store.CookieCollection().Count(), 0u);
    EXPECT_EQ(store.CookieCollection().DomainCount(), bound); // empty lists stay while there is room
    for (std::size_t d = 0; d < 10; ++d)
        store.AddCookie("n=v; path=/", "more" + std::to_string(d));
    EXPECT_LE(store.CookieCollection().DomainCount(), bound);
    EXPECT_EQ(store.CookieCollection().Count(), 10u);
    EXPECT_EQ(ValueFor("more9"), "n=v");
}

TEST_F(CookieStore, TheCookieValueStopsAtItsBound)
{
    // Cookies of equal path come most recent first; fill the value to its bound exactly.
    const std::size_t bound = TIdCookieManager::MaxCookieListLength;
    const std::string big(4000, 'v');
    // Four cookies "kN=" + 4000 bytes make 4 * 4003 + 3 * 2 = 16018 bytes; a last one fills
    // the value to the bound exactly.
    for (int i = 0; i < 4; ++i)
        store.AddCookie("k" + std::to_string(i) + "=" + big + "; path=/", "h");
    const std::size_t used = 4 * (3 + big.size()) + 3 * 2;
    const std::size_t room = bound - used - 2 - 3;                       // "; " and "zz=" of the last cookie
    store.AddCookie("zz=" + std::string(room, 'w') + "; path=/a/", "h"); // the longer path comes first
    std::string value = store.GenerateCookieList(TIdURI("http://h/a/"));
    EXPECT_EQ(value.size(), bound);
    EXPECT_EQ(value.substr(0, 3), "zz=");
    // One byte more and the last written (the oldest of the equal paths, k0) is left out.
    store.AddCookie("zz=" + std::string(room + 1, 'w') + "; path=/a/", "h");
    value = store.GenerateCookieList(TIdURI("http://h/a/"));
    EXPECT_LE(value.size(), bound);
    EXPECT_EQ(value.find("k0="), std::string::npos);
    EXPECT_NE(value.find("k1="), std::string::npos);
    EXPECT_EQ(store.CookieCollection().Count(), 5u); // left out of the value, not dropped
}

} // namespace
