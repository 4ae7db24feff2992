// The connection layer over real loopback sockets (and, where sockets add nothing, over
// the transport without sockets): connecting (also cancelled and timed
// out), closing, writes and write batches, probing, and cancellation by CloseConnection
// from a message handler or a work-event handler while a call waits.
#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdStack.h"
#include "http/IdTCPClient.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/FullBacklogListener.h"
#include "tests/support/MemoryIOHandler.h"
#include "tests/support/ReservedPort.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>

#include <chrono>
#include <functional>

using testsupport::MemoryIOHandler;
using testsupport::Pieces;
using testsupport::ScriptedServer;
using Script = testsupport::MemoryIOHandler::Script;
using ServerScript = testsupport::ScriptedServer::Script;
using Lines = std::vector<std::string>;
using Clock = std::chrono::steady_clock;

namespace {

struct Connection : ::testing::Test {
    platform::HeadlessApplication app;
    std::unique_ptr<TIdAntiFreeze> antiFreeze;
    TIdTCPClient client{nullptr};
    Lines events;

    void UseAntiFreeze()
    {
        antiFreeze = std::make_unique<TIdAntiFreeze>(nullptr, app);
        antiFreeze->SetIdleTimeOut(1);
    }
    void RecordEvents()
    {
        client.OnStatus = [this](TComponent*, TIdStatus, const std::string& t) { events.push_back(t); };
        client.OnDisconnected = [this](TComponent*) { events.push_back("OnDisconnected"); };
        client.OnWorkBegin = [this](TComponent*, TWorkMode, std::int64_t max) {
            events.push_back("begin " + std::to_string(max));
        };
        client.OnWork = [this](TComponent*, TWorkMode, std::int64_t n) {
            events.push_back("work " + std::to_string(n));
        };
        client.OnWorkEnd = [this](TComponent*, TWorkMode) { events.push_back("end"); };
    }
    // Closes the connection from a message handler at the first pump after `due`.
    void CloseAt(Clock::time_point due)
    {
        app.Post([this, due] {
            if (Clock::now() >= due)
                client.CloseConnection();
            else
                CloseAt(due);
        });
    }
    void CloseAfter(std::chrono::milliseconds delay) { CloseAt(Clock::now() + delay); }
    void Open(const ScriptedServer& server, const std::string& host = "127.0.0.1")
    {
        client.SetHost(host);
        client.SetPort(server.Port());
        client.OpenConnection();
    }
};

// On a silent peer: an explicit time-out ends the line read with an empty, timed-out
// line, and an exact read past the read time-out raises "Read Timeout".
void ExpectExplicitAndExactReadsTimeOut(TIdTCPClient& client)
{
    EXPECT_EQ(client.ReceiveLine("\n", 10), "");
    EXPECT_TRUE(client.LineTimedOut());
    try {
        client.SetReadTimeout(5);
        std::string buffer(3, '\0');
        client.ReceiveExact(buffer.data(), 3);
        FAIL();
    } catch (const EIdReadTimeout& e) {
        EXPECT_EQ(e.Message(), "Read Timeout");
    }
}

} // namespace

TEST_F(Connection, ConnectsAndReportsTheStatusesInOrder)
{
    ScriptedServer server({ServerScript().WaitPeerClose(), ServerScript().WaitPeerClose()});
    RecordEvents();
    Open(server, "LOCALHOST");
    EXPECT_TRUE(client.IsOpen());
    auto& binding = *static_cast<TIdIOHandlerSocket&>(*client.IOHandler()).Binding();
    EXPECT_EQ(binding.RemoteIP(), "127.0.0.1");
    EXPECT_EQ(binding.RemotePort(), server.Port());
    EXPECT_EQ(binding.IP(), "127.0.0.1");
    EXPECT_GT(binding.Port(), 0);
    EXPECT_THROW(client.OpenConnection(), EIdAlreadyConnected);
    client.CloseConnection();
    EXPECT_FALSE(client.IsOpen());
    EXPECT_EQ(client.IOHandler(), nullptr);

    // A dotted quad is not resolved, so it reports no resolving.
    client.SetHost("127.0.0.1");
    client.OpenConnection();
    EXPECT_TRUE(client.IsOpen());
    EXPECT_EQ(events,
              (Lines{"Resolving hostname LOCALHOST.", "Connecting to 127.0.0.1.", "Connected.", "Disconnecting.",
                     "OnDisconnected", "Disconnected.", "Connecting to 127.0.0.1.", "Connected."}));
}

TEST_F(Connection, TheHandlersSocksSettingsAreMadeOnFirstUseAndNagleCanBeTurnedOff)
{
    // Nothing in the updater asks for SOCKS: the settings are made when first asked for,
    // once, and say "no SOCKS" on the usual port.
    TIdIOHandlerSocket settings(nullptr);
    EXPECT_TRUE(settings.UseNagle());
    TIdSocksInfo& socks = settings.SocksInfo();
    EXPECT_EQ(&socks, &settings.SocksInfo());
    EXPECT_EQ(socks.Version, svNoSocks);
    EXPECT_EQ(socks.Port, 1080);

    // The connection goes straight to the server either way; without Nagle the socket
    // sends at once (TCP_NODELAY), with it the system's default holds.
    ScriptedServer server({ServerScript().WaitPeerClose(), ServerScript().WaitPeerClose()});
    for (const bool nagle : {false, true}) {
        SCOPED_TRACE(nagle ? "Nagle on" : "Nagle off");
        auto handler = std::make_unique<TIdIOHandlerSocket>(nullptr);
        handler->SetUseNagle(nagle);
        client.SetIOHandler(std::move(handler));
        Open(server);
        const auto fd = static_cast<int>(static_cast<TIdIOHandlerSocket&>(*client.IOHandler()).Binding()->OsSocket());
        int noDelay = -1;
        socklen_t length = sizeof noDelay;
        ASSERT_EQ(::getsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, &length), 0);
        EXPECT_EQ(noDelay != 0, !nagle);
        client.CloseConnection();
    }
}

TEST_F(Connection, ClosingWhatWasNeverOpenedStillReportsAndRaisesNothing)
{
    RecordEvents();
    EXPECT_NO_THROW(client.CloseConnection());
    EXPECT_NO_THROW(client.CloseConnection());
    EXPECT_EQ(events, (Lines{"Disconnecting.", "OnDisconnected", "Disconnected.", "Disconnecting.", "OnDisconnected",
                             "Disconnected."}));
    EXPECT_FALSE(client.IsOpen());
    EXPECT_THROW(client.SendLine("x"), EIdNotConnected);
    EXPECT_THROW(client.ReceiveLine(), EIdNotConnected);
}

TEST_F(Connection, ARefusedConnectFailsWithItsTextAndKeepsTheHandler)
{
    client.SetHost("127.0.0.1");
    const testsupport::ReservedPort closed;
    client.SetPort(closed.Port());
    // Without the anti-freeze: a plain blocking connect.
    try {
        client.OpenConnection();
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
    }
    // With it: on the connect thread, ended within a slice or two.
    UseAntiFreeze();
    try {
        client.OpenConnection();
        FAIL();
    } catch (const EIdConnectException& e) {
        EXPECT_EQ(e.Message(), "Socket Error # 10061\r\nConnection refused.");
        EXPECT_STREQ(e.ClassName(), "EIdConnectException");
    }
    EXPECT_LT(app.ProcessCount(), 2000); // ends with the attempt, long before its nominal time
    ASSERT_NE(client.IOHandler(), nullptr);
    EXPECT_FALSE(client.IOHandler()->IsHandleOpen());
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(Connection, AnUnknownHostFailsWithHostNotFound)
{
    // An empty name fails in the resolver without a query leaving the machine; any other
    // unknown name would ask the system's name server.
    client.SetHost("");
    client.SetPort(80);
    try {
        client.OpenConnection();
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(Connection, ACloseFromAMessageHandlerInterruptsAPendingConnect)
{
    testsupport::FullBacklogListener blackHole;
    UseAntiFreeze();
    RecordEvents();
    client.SetHost("127.0.0.1");
    client.SetPort(blackHole.Port());
    int pumpsAtClose = -1;
    app.Post([&] {
        pumpsAtClose = app.ProcessCount();
        client.CloseConnection();
    });
    const auto start = Clock::now();
    // The thread's connect fails as on a closed socket: the open itself completes, and the
    // first write finds no connection.
    EXPECT_NO_THROW(client.OpenConnection());
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
    EXPECT_EQ(pumpsAtClose, 1);
    EXPECT_FALSE(client.IsOpen());
    EXPECT_THROW(client.SendLine("GET / HTTP/1.1"), EIdNotConnected);
    EXPECT_EQ(events,
              (Lines{"Connecting to 127.0.0.1.", "Disconnecting.", "OnDisconnected", "Disconnected.", "Connected."}));
}

TEST_F(Connection, AConnectThatNeverCompletesTimesOutAfterItsNominalTime)
{
    testsupport::FullBacklogListener blackHole;
    client.SetHost("127.0.0.1");
    client.SetPort(blackHole.Port());
    const auto start = Clock::now();
    try {
        client.OpenConnection(300);
        FAIL();
    } catch (const EIdConnectTimeout& e) {
        EXPECT_EQ(e.Message(), "Connect timed out.");
    }
    const auto took = Clock::now() - start;
    EXPECT_GE(took, std::chrono::milliseconds(290));
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(Connection, ATimedConnectCountsItsSlicesNotTheClock)
{
    testsupport::FullBacklogListener blackHole;
    UseAntiFreeze();
    client.SetHost("127.0.0.1");
    client.SetPort(blackHole.Port());
    // 50 ms in slices of 1 ms: 49 slices each followed by a pump, then a last sleep of 1.
    EXPECT_THROW(client.OpenConnection(50), EIdConnectTimeout);
    EXPECT_EQ(app.ProcessCount(), 49);
    EXPECT_FALSE(client.IsOpen());
}

// --- Over the transport without sockets --------------------------------------------------

TEST_F(Connection, AWriteBatchLeavesAsOneSendAndAThresholdFlushesEarly)
{
    for (Pieces pieces : {Pieces::Whole, Pieces::OneByte, Pieces::Random}) {
        MemoryIOHandler peer({Script().ExpectRequest()}, pieces);
        TIdTCPClient client(nullptr);
        client.SetIOHandler(&peer);
        client.OpenConnection();
        client.BeginWriteBatch(-1);
        client.SendLine("GET /index.php?checkupdate HTTP/1.1");
        client.SendLine("Host: 127.0.0.1");
        EXPECT_EQ(peer.Connections().at(0).Written, ""); // held back until the batch ends
        client.SendLine("");
        EXPECT_TRUE(client.InWriteBatch());
        client.EndWriteBatch();
        EXPECT_FALSE(client.InWriteBatch());
        const std::string request = "GET /index.php?checkupdate HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
        EXPECT_EQ(peer.Connections().at(0).Written, request);

        client.BeginWriteBatch(4);
        client.SendText("abcdefg"); // 4 leave at once, 3 wait for the end
        client.SendText("");
        EXPECT_EQ(peer.Connections().at(0).Written, request + "abcd");
        client.EndWriteBatch();

        TMemoryStream body;
        body.Write("0123456789");
        client.SendStream(body, true, 4, true);
        client.CloseConnection();
        EXPECT_EQ(peer.Connections().at(0).Written, request + "abcdefg" + std::string("\0\0\0\4", 4) + "0123");
        EXPECT_TRUE(peer.Connections().at(0).ClosedByClient);
    }
}

TEST_F(Connection, SendingAStreamCountsWriteWorkAndFailsWhenTheStreamRunsDry)
{
    // Sends taken a byte at a time still count as one block each.
    MemoryIOHandler peer({Script().ExpectRequest()}, Pieces::OneByte);
    client.SetIOHandler(&peer);
    client.OpenConnection();
    RecordEvents();
    client.SetSendBufferSize(4);
    TMemoryStream body;
    body.Write("0123456789");
    client.SendStream(body);
    EXPECT_EQ(events, (Lines{"begin 10", "work 1", "work 2", "work 3", "work 4", "work 5", "work 6", "work 7", "work 8",
                             "work 9", "work 10", "end"}));
    events.clear();
    body.SetPosition(8);
    EXPECT_THROW(client.SendStream(body, false, 5), EIdNoDataToRead);
    EXPECT_EQ(events, (Lines{"begin 5", "work 1", "work 2", "end"}));
    EXPECT_EQ(peer.Connections().at(0).Written, "012345678989");
    client.SetIOHandler(nullptr);
}

TEST_F(Connection, ReadTimeOutsFireWhenTheSilenceOutlastsThem)
{
    MemoryIOHandler peer({Script().Stall(100).Send("late\n").Stall(1000).Send("later\n").Stall(50).Send("last")});
    client.SetIOHandler(&peer);
    client.OpenConnection();
    client.SetReadTimeout(30);
    EXPECT_THROW(client.ReceiveLine(), EIdReadTimeout);    // 30 of 100
    EXPECT_EQ(client.FillInputQueue(true, 60, false), -1); // 90 of 100
    EXPECT_EQ(client.ReceiveLine(), "late");               // within the next 30
    client.SetReadTimeout(0);                              // without limit: outlasts any silence
    EXPECT_EQ(client.ReceiveLine(), "later");
    ExpectExplicitAndExactReadsTimeOut(client);
    EXPECT_EQ(peer.TimedOutWaits(), 4);
    client.SetIOHandler(nullptr);
}

TEST_F(Connection, AnOwnedHandlerClosedDuringAWaitLivesUntilTheWaitReturns)
{
    // Freed only by the client; the flag tells when.
    struct Watched : MemoryIOHandler {
        using MemoryIOHandler::MemoryIOHandler;
        bool* freed = nullptr;
        ~Watched() override { *freed = true; }
    };
    struct Case {
        const char* name;
        std::function<void(TIdTCPClient&)> read;
        std::string error; // class of what the read raises; empty: returns normally
    };
    const Case cases[] = {
        {.name = "line", .read = [](TIdTCPClient& c) { c.ReceiveLine(); }, .error = "EIdConnClosedGracefully"},
        {.name = "exact",
         .read =
             [](TIdTCPClient& c) {
                 char b[9];
                 c.ReceiveExact(b, 9);
             },
         .error = "EIdConnClosedGracefully"},
        {.name = "until close",
         .read =
             [](TIdTCPClient& c) {
                 TMemoryStream s;
                 c.ReceiveToStream(s, -1, true);
             },
         .error = ""},
        {.name = "sized",
         .read =
             [](TIdTCPClient& c) {
                 TMemoryStream s;
                 c.ReceiveToStream(s, 100, false);
             },
         .error = "EIdConnClosedGracefully"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIdTCPClient owner(nullptr);
        bool freed = false;
        bool aliveInWait = false;
        auto handler = std::make_unique<Watched>(std::vector<Script>{Script().Send("part").Call([&] {
                                                     owner.CloseConnection();
                                                     aliveInWait = !freed && owner.IOHandler() == nullptr;
                                                 })},
                                                 Pieces::OneByte);
        handler->freed = &freed;
        owner.SetIOHandler(std::move(handler));
        EXPECT_TRUE(owner.OwnsIOHandler());
        owner.OpenConnection();
        std::string error;
        try {
            c.read(owner);
        } catch (const Exception& e) {
            error = e.ClassName();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_TRUE(aliveInWait); // detached at once, but not freed under the waiting call
        EXPECT_TRUE(freed);       // and freed as soon as that call returned
        EXPECT_EQ(owner.IOHandler(), nullptr);
        EXPECT_THROW(owner.SendLine("x"), EIdNotConnected);
    }
    // A borrowed handler stays attached and alive through a close, and is not freed by the
    // client; replacing an owned one frees it.
    bool freed = false;
    Watched borrowed({Script(), Script()});
    borrowed.freed = &freed;
    {
        TIdTCPClient borrower(nullptr);
        borrower.SetIOHandler(&borrowed);
        EXPECT_FALSE(borrower.OwnsIOHandler());
        borrower.OpenConnection();
        borrower.CloseConnection();
        EXPECT_EQ(borrower.IOHandler(), &borrowed);
        borrower.OpenConnection(); // a second connection on the same handler
        EXPECT_EQ(borrowed.Accepted(), 2);

        bool ownedFreed = false;
        auto owned = std::make_unique<Watched>(std::vector<Script>{});
        owned->freed = &ownedFreed;
        borrower.SetIOHandler(std::move(owned));
        EXPECT_FALSE(ownedFreed);
        borrower.SetIOHandler(&borrowed);
        EXPECT_TRUE(ownedFreed);
    }
    EXPECT_FALSE(freed);
    borrowed.freed = &freed; // still alive: the client left it alone
}

// --- Over loopback sockets --------------------------------------------------------------

TEST_F(Connection, SendingIntoAResetConnectionDropsItWithTheSocketError)
{
    ScriptedServer server({ServerScript().ExpectRequest().Reset()});
    Open(server);
    client.SendLine("");
    client.SendLine("");
    ASSERT_TRUE(server.WaitFinished(1));
    const std::string block(65536, 'x');
    try {
        for (int i = 0; i < 50; ++i)
            client.SendBytes(block.data(), static_cast<std::int64_t>(block.size()));
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_TRUE(e.LastError() == 10054 || e.LastError() == 10058) << e.LastError();
    } catch (const EIdConnClosedGracefully&) {
        // the reset was seen as a close first
    }
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(Connection, ProbingNoticesACloseAndKeepsWhatArrives)
{
    ScriptedServer server({ServerScript().Sleep(50).Send("early").Sleep(50).Close()});
    const std::string terminator = "Z";
    Open(server);
    client.ProbePeerClosed(false); // nothing yet within 1 ms
    EXPECT_TRUE(client.IsOpen());
    ASSERT_TRUE(server.WaitFinished(1));
    client.ProbePeerClosed(false);
    EXPECT_EQ(client.InputQueue().View(), "early");
    client.ProbePeerClosed(false); // now the close
    EXPECT_FALSE(client.IsOpen());
    // The close is known already: a line without its terminator is not waited for.
    EXPECT_THROW(client.ReceiveLine(terminator), EIdConnClosedGracefully);
    EXPECT_EQ(client.InputQueue().View(), "early");
    EXPECT_NO_THROW(client.ProbePeerClosed(false));
    EXPECT_THROW(client.ProbePeerClosed(true), EIdNotConnected); // bytes are still queued
}

TEST_F(Connection, AResetFoundByAProbeRaisesEvenWithoutRaise)
{
    ScriptedServer server({ServerScript().ExpectRequest().Reset()});
    Open(server);
    client.SendLine("");
    client.SendLine("");
    ASSERT_TRUE(server.WaitFinished(1));
    try {
        client.ProbePeerClosed(false); // only a close or a time-out passes quietly
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
    }
}

TEST_F(Connection, AResetWhileReadingIsASocketError)
{
    ScriptedServer server({ServerScript().Sleep(30).Reset()});
    Open(server);
    try {
        client.ReceiveLine();
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
    }
}

TEST_F(Connection, AReadTimeoutRaisesOnlyForTheDefaultTimeout)
{
    ScriptedServer server({ServerScript().WaitPeerClose()});
    Open(server);
    client.SetReadTimeout(30);
    EXPECT_THROW(client.ReceiveLine(), EIdReadTimeout);
    EXPECT_EQ(client.FillInputQueue(true, 10, false), -1);
    ExpectExplicitAndExactReadsTimeOut(client);
}

TEST_F(Connection, AKeptConnectionTheServerDropsBeforeAnsweringCarriesTheRequestOnceMoreOnAFreshOne)
{
    // An HTTP/1.0 answer without "Connection" keeps the connection; the server then drops
    // it as the next request arrives, which is how its idle close crosses that request.
    const std::string kept = "HTTP/1.0 200 OK\r\nContent-Length: 1\r\n\r\na";
    const std::string next = "HTTP/1.1 200 OK\r\nContent-Length: 1\r\n\r\nb";
    struct Case {
        const char* name;
        ServerScript first;
        std::string error; // of the second Get; empty: it returns "b" from the next connection
        int accepted;
    };
    const Case cases[] = {
        {.name = "closed before any answer byte",
         .first = ServerScript().ExpectRequest().Send(kept).ExpectRequest().Close(),
         .error = "",
         .accepted = 2},
        {.name = "reset before any answer byte",
         .first = ServerScript().ExpectRequest().Send(kept).ExpectRequest().Reset(),
         .error = "",
         .accepted = 2},
        // Part of an answer came: it may have been acted on, so it is not asked again.
        {.name = "closed inside the status line",
         .first = ServerScript().ExpectRequest().Send(kept).ExpectRequest().Send("HTTP/1.1 2").Close(),
         .error = "EIdHTTPProtocolException",
         .accepted = 1},
        // A fresh connection is never tried twice.
        {.name = "a fresh connection closed before any answer byte",
         .first = ServerScript().ExpectRequest().Close(),
         .error = "EIdConnClosedGracefully",
         .accepted = 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({c.first, ServerScript().ExpectRequest().Send(next).WaitPeerClose()});
        FakeSystem system;
        TIdHTTP http(nullptr, system);
        const std::string url = "http://127.0.0.1:" + std::to_string(server.Port()) + "/";
        TMemoryStream first, second;
        if (c.first.Steps().size() > 2) {
            ASSERT_NO_THROW(http.Get(url + "check", first));
        }
        std::string error;
        try {
            http.Get(url + "setup.exe", second);
        } catch (const Exception& e) {
            error = e.ClassName();
        }
        EXPECT_EQ(error, c.error);
        EXPECT_EQ(second.ToString(), c.error.empty() ? "b" : "");
        EXPECT_EQ(server.Accepted(), c.accepted);
        http.CloseConnection();
        const auto requests = server.Requests();
        if (c.error.empty() && requests.size() == 3) {
            EXPECT_EQ(requests[1], requests[2]); // the same request, sent again
        } else if (c.error.empty()) {
            ADD_FAILURE() << requests.size() << " requests";
        }
    }
}

// --- Cancellation by CloseConnection from a handler during a wait -------------------------

TEST_F(Connection, ACloseWhileALineReadWaitsEndsItAsClosedGracefully)
{
    ScriptedServer server({ServerScript().Send("partial").WaitPeerClose()});
    UseAntiFreeze();
    Open(server);
    client.FillInputQueue(true, TimeoutDefault, true);
    app.Post([&] { client.CloseConnection(); });
    try {
        client.ReceiveLine();
        FAIL();
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_TRUE(client.ClosedLocally());
    EXPECT_EQ(client.IOHandler(), nullptr);
    EXPECT_THROW(client.ReceiveLine(), EIdNotConnected);
    // What was queued stays readable; more than that is not there.
    std::string two(2, '\0');
    client.ReceiveExact(two.data(), 2);
    EXPECT_EQ(two, "pa");
    std::string more(6, '\0');
    EXPECT_THROW(client.ReceiveExact(more.data(), 6), EIdNotConnected);
    EXPECT_THROW(client.SendLine("x"), EIdNotConnected);
    ASSERT_TRUE(server.WaitFinished(1)); // the server saw the close
}

TEST_F(Connection, ACloseWhileAStreamReadWaitsEndsAReadUntilCloseNormally)
{
    ScriptedServer server({ServerScript().Send("queued ").Sleep(20).Send("direct").WaitPeerClose()});
    UseAntiFreeze();
    Open(server);
    client.FillInputQueue(true, TimeoutDefault, true); // "queued " waits in the input queue
    TMemoryStream stream;
    CloseAfter(std::chrono::milliseconds(150)); // well after the second piece has arrived
    EXPECT_NO_THROW(client.ReceiveToStream(stream, -1, true));
    EXPECT_EQ(stream.ToString(), "queued direct");
    EXPECT_EQ(stream.Position(), 13);
    EXPECT_TRUE(client.InputQueue().Empty());
}

TEST_F(Connection, ACloseWhileASizedStreamReadWaitsPassesTheCloseOn)
{
    ScriptedServer server({ServerScript().Send("12").Sleep(20).Send("345").WaitPeerClose()});
    UseAntiFreeze();
    Open(server);
    client.FillInputQueue(true, TimeoutDefault, true);
    ASSERT_EQ(client.InputQueue().View(), "12");
    RecordEvents();
    TMemoryStream stream;
    CloseAfter(std::chrono::milliseconds(150));
    EXPECT_THROW(client.ReceiveToStream(stream, 10, false), EIdConnClosedGracefully);
    // The queued bytes were written; the unfinished block was not and stays queued.
    EXPECT_EQ(stream.ToString(), "12");
    EXPECT_EQ(client.InputQueue().View(), "345");
    EXPECT_TRUE(client.ClosedLocally());
    EXPECT_EQ(events, (Lines{"begin 10", "work 2", "Disconnecting.", "OnDisconnected", "Disconnected.", "end"}));
}

TEST_F(Connection, ACloseInsideAWorkHandlerLetsTheStreamReadEndNormally)
{
    const std::string body(100000, 'b');
    ScriptedServer server({ServerScript().Send(body).WaitPeerClose()});
    UseAntiFreeze();
    Open(server);
    RecordEvents();
    client.OnWork = [&](TComponent*, TWorkMode, std::int64_t n) {
        events.push_back("work " + std::to_string(n));
        app.Post([&] { client.CloseConnection(); });
        app.ProcessMessages(); // the progress handler pumps itself
    };
    TMemoryStream stream;
    EXPECT_NO_THROW(client.ReceiveToStream(stream, static_cast<std::int64_t>(body.size()), false));
    EXPECT_EQ(stream.Size(), 32768); // the block in progress completed, then nothing more
    EXPECT_EQ(events,
              (Lines{"begin 100000", "work 32768", "Disconnecting.", "OnDisconnected", "Disconnected.", "end"}));
    EXPECT_THROW(client.SendLine("x"), EIdNotConnected);
}

TEST_F(Connection, LocalAddressesThatCannotBeBoundFailWithTheirTexts)
{
    ScriptedServer busy({ServerScript().WaitPeerClose()});
    TIdComponent stackHolder(nullptr); // keeps the socket stack for the bare handles below
    struct Case {
        const char* name;
        int port;
        int portMin;
        int portMax;
        std::string message;
    };
    const int p = busy.Port();
    const Case cases[] = {
        {.name = "port in use",
         .port = p,
         .portMin = 0,
         .portMax = 0,
         .message = "Could not bind socket. Address and port are already in use."},
        {.name = "range upside down",
         .port = 0,
         .portMin = 5000,
         .portMax = 4000,
         .message = "Invalid Port Range (5000 - 4000)"},
        {.name = "range all in use",
         .port = 0,
         .portMin = p,
         .portMax = p,
         .message = "Can not bind in port range (" + std::to_string(p) + " - " + std::to_string(p) + ")"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIdSocketHandle handle;
        handle.CreateSocket();
        handle.SetLocal("127.0.0.1", c.port, c.portMin, c.portMax);
        try {
            handle.BindLocal();
            ADD_FAILURE();
        } catch (const EIdSocketHandleError& e) {
            EXPECT_EQ(e.Message(), c.message);
        }
    }
    // The client's bound port goes the same way, and the failed open drops the socket.
    client.SetHost("127.0.0.1");
    client.SetPort(p);
    client.SetBoundIP("127.0.0.1");
    client.SetBoundPort(p);
    EXPECT_THROW(client.OpenConnection(), EIdCouldNotBindSocket);
    EXPECT_FALSE(client.IsOpen());
    ASSERT_NE(client.IOHandler(), nullptr);
}
