// The transport without sockets that the framing and Get tests stand on: how it splits
// what it delivers, how silences meet the client's waits, how it closes and resets, and
// what it records. A fault here would make those tests pass or fail for the wrong reason.
#include "http/IdException.h"
#include "tests/support/MemoryIOHandler.h"

#include <gtest/gtest.h>

#include <numeric>

using testsupport::MemoryIOHandler;
using testsupport::MemoryTransportHang;
using testsupport::Pieces;
using Script = MemoryIOHandler::Script;

namespace {

// Receives until the end of the stream, returning the size of every receive.
std::vector<std::size_t> ReceiveAll(MemoryIOHandler& handler, std::string& bytes, std::size_t length = 64)
{
    std::vector<std::size_t> sizes;
    for (;;) {
        EXPECT_TRUE(handler.WaitReadable(TimeoutInfinite));
        std::string buffer(length, '\0');
        const auto n = handler.ReceiveSome(buffer.data(), buffer.size());
        if (n <= 0)
            return sizes;
        sizes.push_back(static_cast<std::size_t>(n));
        bytes.append(buffer, 0, static_cast<std::size_t>(n));
    }
}

void Connect(MemoryIOHandler& handler)
{
    handler.PrepareHandle();
    handler.ConnectTo("127.0.0.1", 80, 0, "", 0, 0, 0);
}

} // namespace

TEST(MemoryIOHandler, DeliversEachSendInThePiecesOfItsMode)
{
    const std::string first(10, 'a');
    const std::string second(5, 'b');
    struct Case {
        const char* name;
        Pieces pieces;
        std::vector<std::size_t> sizes; // empty: checked by the bounds below instead
    };
    const Case cases[] = {
        {.name = "whole", .pieces = Pieces::Whole, .sizes = {10, 5}},
        {.name = "one byte", .pieces = Pieces::OneByte, .sizes = std::vector<std::size_t>(15, 1)},
        {.name = "small", .pieces = Pieces::Small, .sizes = {3, 3, 3, 1, 3, 2}},
        {.name = "random", .pieces = Pieces::Random, .sizes = {}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryIOHandler handler({Script().Send(first).Send(second)}, c.pieces, 7);
        Connect(handler);
        std::string bytes;
        const auto sizes = ReceiveAll(handler, bytes);
        EXPECT_EQ(bytes, first + second);
        if (!c.sizes.empty()) {
            EXPECT_EQ(sizes, c.sizes);
            continue;
        }
        // A piece never spans two sends, and the same seed splits the same way.
        for (auto n : sizes) {
            EXPECT_GE(n, 1u);
            EXPECT_LE(n, 7u);
        }
        EXPECT_GT(sizes.size(), 2u);
        std::size_t total = 0, boundary = 0;
        for (auto n : sizes) {
            total += n;
            if (total == first.size())
                boundary = total;
        }
        EXPECT_EQ(boundary, first.size());
        MemoryIOHandler again({Script().Send(first).Send(second)}, c.pieces, 7);
        Connect(again);
        std::string same;
        EXPECT_EQ(ReceiveAll(again, same), sizes);
    }
    // A receive asks for less than the piece: the rest of the piece comes next.
    MemoryIOHandler handler({Script().Send("0123456789")});
    Connect(handler);
    std::string bytes;
    EXPECT_EQ(ReceiveAll(handler, bytes, 4), (std::vector<std::size_t>{4, 4, 2}));
}

TEST(MemoryIOHandler, ASilenceUsesUpTheWaitsThatMeetItAndNothingElse)
{
    MemoryIOHandler handler({Script().Stall(100).Send("x").Stall(50).Send("y").Stall(10).Send("z")});
    Connect(handler);
    EXPECT_FALSE(handler.WaitReadable(30));
    EXPECT_FALSE(handler.WaitReadable(30));
    EXPECT_FALSE(handler.WaitReadable(39)); // 99 of 100 gone
    EXPECT_TRUE(handler.WaitReadable(1));
    char c;
    EXPECT_EQ(handler.ReceiveSome(&c, 1), 1);
    EXPECT_EQ(c, 'x');
    EXPECT_TRUE(handler.WaitReadable(TimeoutInfinite)); // a wait without limit outlasts it
    EXPECT_EQ(handler.ReceiveSome(&c, 1), 1);
    EXPECT_EQ(c, 'y');
    EXPECT_TRUE(handler.WaitReadable(10)); // as long as the silence: it ends within the wait
    EXPECT_EQ(handler.TimedOutWaits(), 3);
}

TEST(MemoryIOHandler, AnAnswerWaitsForItsRequestHead)
{
    MemoryIOHandler handler({Script().ExpectRequest().Send("answer").ExpectRequest().Send("second")});
    Connect(handler);
    EXPECT_FALSE(handler.WaitReadable(1));
    EXPECT_EQ(handler.SendSome("GET / HTTP/1.1\r\n", 16), 16);
    EXPECT_FALSE(handler.WaitReadable(5)); // no blank line yet
    EXPECT_THROW(handler.WaitReadable(TimeoutInfinite), MemoryTransportHang);
    EXPECT_EQ(handler.SendSome("\r\n", 2), 2);
    std::string bytes(16, '\0');
    ASSERT_TRUE(handler.WaitReadable(1));
    EXPECT_EQ(handler.ReceiveSome(bytes.data(), bytes.size()), 6);
    EXPECT_FALSE(handler.WaitReadable(1)); // the second answer waits for the second request
    EXPECT_EQ(handler.SendSome("GET /2 HTTP/1.1\r\n\r\n", 19), 19);
    EXPECT_TRUE(handler.WaitReadable(1));
    EXPECT_EQ(handler.Requests(), (std::vector<std::string>{"GET / HTTP/1.1\r\n\r\n", "GET /2 HTTP/1.1\r\n\r\n"}));
}

TEST(MemoryIOHandler, ClosesResetsAndClosesOnThisSideAsASocketWould)
{
    char buffer[8];
    {
        // Bytes before a graceful close are read first; then the end, again and again.
        MemoryIOHandler handler({Script().Send("ab").Close()});
        Connect(handler);
        ASSERT_TRUE(handler.WaitReadable(0));
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 2);
        EXPECT_TRUE(handler.WaitReadable(0));
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 0);
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 0);
        EXPECT_EQ(handler.SendSome("x", 1), 1); // the peer's close leaves this direction open
    }
    {
        // A script without steps left ends as a graceful close.
        MemoryIOHandler handler({Script().Send("ab")});
        Connect(handler);
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 2);
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 0);
    }
    {
        MemoryIOHandler handler({Script().Send("ab").Reset()});
        Connect(handler);
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 2);
        try {
            handler.ReceiveSome(buffer, sizeof buffer);
            ADD_FAILURE();
        } catch (const EIdSocketError& e) {
            EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
        }
        EXPECT_THROW(handler.SendSome("x", 1), EIdSocketError);
    }
    {
        // Closed on this side, also from inside a wait.
        MemoryIOHandler* self = nullptr;
        MemoryIOHandler handler({Script().Call([&self] { self->ShutHandle(); }).Send("never")});
        self = &handler;
        Connect(handler);
        EXPECT_TRUE(handler.IsHandleOpen());
        EXPECT_THROW(handler.WaitReadable(TimeoutInfinite), EIdConnClosedGracefully);
        EXPECT_FALSE(handler.IsHandleOpen());
        EXPECT_THROW(handler.ReceiveSome(buffer, 1), EIdClosedSocket);
        EXPECT_THROW(handler.SendSome("x", 1), EIdClosedSocket);
        EXPECT_TRUE(handler.Connections().at(0).ClosedByClient);
    }
}

TEST(MemoryIOHandler, EachConnectOpensTheNextScriptAndOneBeyondThemIsRefused)
{
    MemoryIOHandler handler({Script().ExpectRequest().Send("one"), Script().ExpectRequest().Send("two")},
                            Pieces::Small);
    char buffer[8];
    std::string seen;
    for (const char* request : {"GET /a HTTP/1.1\r\n\r\n", "GET /b HTTP/1.1\r\n\r\n"}) {
        Connect(handler);
        // The client's sends are taken in pieces too: at most 3 bytes here.
        std::string_view rest = request;
        while (!rest.empty()) {
            const auto n = handler.SendSome(rest.data(), rest.size());
            ASSERT_GE(n, 1);
            ASSERT_LE(n, 3);
            rest.remove_prefix(static_cast<std::size_t>(n));
        }
        for (std::int64_t n; (n = handler.ReceiveSome(buffer, sizeof buffer)) > 0;)
            seen.append(buffer, static_cast<std::size_t>(n));
        handler.ShutHandle();
    }
    EXPECT_EQ(seen, "onetwo");
    EXPECT_EQ(handler.Accepted(), 2);
    EXPECT_EQ(handler.Requests(), (std::vector<std::string>{"GET /a HTTP/1.1\r\n\r\n", "GET /b HTTP/1.1\r\n\r\n"}));
    try {
        Connect(handler);
        ADD_FAILURE();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
    }
    EXPECT_FALSE(handler.IsHandleOpen());
}

TEST(MemoryIOHandler, AnIdleCloseTakesARequestWithinShortWaitsAndClosesOnALongOne)
{
    struct Case {
        const char* name;
        std::vector<int> waits; // waits before the request is written, all meeting the silence
        bool closed;            // the last of them found the connection closed
        std::int64_t silentMs;
    };
    const Case cases[] = {
        {.name = "probes shorter than the idle time", .waits = {1, 1, 19}, .closed = false, .silentMs = 21},
        {.name = "a wait as long as the idle time", .waits = {1, 20}, .closed = true, .silentMs = 21},
        {.name = "a wait without limit", .waits = {TimeoutInfinite}, .closed = true, .silentMs = 20},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryIOHandler handler({Script().ExpectRequestOrIdleClose(20).Send("answer")});
        Connect(handler);
        bool ready = false;
        for (int ms : c.waits)
            ready = handler.WaitReadable(ms);
        EXPECT_EQ(ready, c.closed);
        EXPECT_EQ(handler.SilentMs(), c.silentMs);
        EXPECT_EQ(handler.SendSome("GET / HTTP/1.1\r\n\r\n", 18), 18);
        char buffer[8];
        ASSERT_TRUE(handler.WaitReadable(20));
        // Once closed, the answer never comes: the request was too late.
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), c.closed ? 0 : 6);
    }
}

TEST(MemoryIOHandler, ASilenceCountsTheTimeTheWaitsSpentInItOnly)
{
    MemoryIOHandler handler({Script().Stall(100).Send("x").Stall(50).ExpectRequest()});
    Connect(handler);
    EXPECT_FALSE(handler.WaitReadable(30));
    EXPECT_TRUE(handler.WaitReadable(500)); // ends after 70 of the 500
    EXPECT_EQ(handler.SilentMs(), 100);
    char c;
    EXPECT_EQ(handler.ReceiveSome(&c, 1), 1);
    EXPECT_FALSE(handler.WaitReadable(60)); // 50 of stall, then 10 waiting for a request
    EXPECT_EQ(handler.SilentMs(), 160);
}

TEST(MemoryIOHandler, AScriptSourceIsAskedAtEachConnectAndRefusesWithNothing)
{
    int asked = 0;
    MemoryIOHandler handler([&asked]() -> std::optional<Script> {
        ++asked;
        if (asked > 2)
            return std::nullopt;
        return Script().Send(std::string(static_cast<std::size_t>(asked), '*'));
    });
    EXPECT_EQ(asked, 0); // nothing is made before the first connect
    char buffer[8];
    for (const std::int64_t expected : {1, 2}) {
        Connect(handler);
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), expected);
        EXPECT_EQ(handler.ReceiveSome(buffer, sizeof buffer), 0);
        handler.ShutHandle();
    }
    try {
        Connect(handler);
        ADD_FAILURE();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10061);
    }
    EXPECT_EQ(asked, 3);
    EXPECT_EQ(handler.Accepted(), 2);
}
