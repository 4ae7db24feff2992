// Line, exact and stream reads over loopback sockets, with the bytes arriving in 1-byte,
// small and random pieces; the maximum line length at its edge; the work counts of stream
// reads; and the input queue's compaction.
#include "http/IdException.h"
#include "http/IdManagedBuffer.h"
#include "http/IdTCPClient.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <random>

using testsupport::ScriptedServer;
using Script = testsupport::ScriptedServer::Script;
using Lines = std::vector<std::string>;

namespace {

enum class Pieces { Whole, OneByte, Small, Random };

// The bytes sent in pieces with a short pause between them, so that they arrive in
// separate reads; CR and LF often land in different ones.
Script Split(const std::string& bytes, Pieces pieces, unsigned seed = 7)
{
    Script script;
    std::mt19937 random(seed);
    std::size_t at = 0;
    while (at < bytes.size()) {
        std::size_t n = bytes.size() - at;
        if (pieces == Pieces::OneByte)
            n = 1;
        else if (pieces == Pieces::Small)
            n = std::min<std::size_t>(n, 3);
        else if (pieces == Pieces::Random)
            n = std::min<std::size_t>(n, 1 + random() % 7);
        script.Send(bytes.substr(at, n));
        at += n;
        if (at < bytes.size())
            script.Sleep(1);
    }
    return script;
}

struct Reads : ::testing::Test {
    TIdTCPClient client{nullptr};
    Lines events;
    std::unique_ptr<ScriptedServer> server;

    void Serve(Script script)
    {
        server = std::make_unique<ScriptedServer>(std::vector<Script>{std::move(script)});
        client.SetHost("127.0.0.1");
        client.SetPort(server->Port());
        client.OpenConnection();
    }
    void RecordWork()
    {
        client.OnWorkBegin = [this](TComponent*, TWorkMode, std::int64_t max) {
            events.push_back("begin " + std::to_string(max));
        };
        client.OnWork = [this](TComponent*, TWorkMode, std::int64_t n) { events.push_back("work " + std::to_string(n)); };
        client.OnWorkEnd = [this](TComponent*, TWorkMode) { events.push_back("end"); };
    }
};

std::string Pattern(std::size_t size)
{
    std::string s(size, '\0');
    for (std::size_t i = 0; i < size; ++i)
        s[i] = static_cast<char>('a' + (i * 7 + i / 251) % 26);
    return s;
}

} // namespace

TEST_F(Reads, LinesInAnyPiecesEndAtLfWithOneCrCut)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string terminator;
        Lines lines;
    };
    const Case cases[] = {
        {.name = "crlf", .bytes = "abc\r\n", .terminator = "\n", .lines = {"abc"}},
        {.name = "cr cr lf", .bytes = "abc\r\r\n", .terminator = "\n", .lines = {"abc\r"}},
        {.name = "lf", .bytes = "abc\n", .terminator = "\n", .lines = {"abc"}},
        {.name = "empty terminator is lf", .bytes = "abc\r\n", .terminator = "", .lines = {"abc"}},
        {.name = "head", .bytes = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n", .terminator = "\n",
         .lines = {"HTTP/1.1 200 OK", "Content-Length: 5", ""}},
        {.name = "bare cr stays", .bytes = "a\rb\n\r\n", .terminator = "\n", .lines = {"a\rb", ""}},
        {.name = "other terminator cuts only itself", .bytes = "k=v;\r\nx;", .terminator = ";",
         .lines = {"k=v", "\r\nx"}},
        {.name = "two-byte terminator across pieces", .bytes = "one||two||", .terminator = "||",
         .lines = {"one", "two"}},
    };
    for (Pieces pieces : {Pieces::Whole, Pieces::OneByte, Pieces::Small, Pieces::Random}) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in pieces " + std::to_string(static_cast<int>(pieces)));
            Serve(Split(c.bytes, pieces).WaitPeerClose());
            Lines got;
            for (std::size_t i = 0; i < c.lines.size(); ++i)
                got.push_back(client.ReceiveLine(c.terminator));
            EXPECT_EQ(got, c.lines);
            EXPECT_TRUE(client.InputQueue().Empty());
            client.CloseConnection();
        }
    }
}

TEST_F(Reads, AnUnterminatedLineAtThePeersCloseIsEmptyAndStaysQueued)
{
    Serve(Split("abc", Pieces::OneByte).Close());
    EXPECT_EQ(client.ReceiveLine(), "");
    EXPECT_TRUE(client.LineTimedOut());
    EXPECT_EQ(client.InputQueue().View(), "abc");
    try {
        client.ReceiveLine();
        FAIL();
    } catch (const EIdConnClosedGracefully& e) {
        EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
    }
    EXPECT_EQ(client.InputQueue().View(), "abc");
}

TEST_F(Reads, TheMaximumLineLengthAtItsEdge)
{
    const std::string atLimit(TIdTCPConnection::DefaultMaxLineLength, 'x');
    struct Case {
        const char* name;
        std::string bytes;
        TIdMaxLineAction action;
        bool raises;
        std::string line;
        bool split;
        std::size_t leftQueued;
    };
    const Case cases[] = {
        {.name = "16384 and lf", .bytes = atLimit + "\n", .action = maException, .raises = false, .line = atLimit,
         .split = false, .leftQueued = 0},
        {.name = "16384 and crlf counts the cr", .bytes = atLimit + "\r\n", .action = maException, .raises = true,
         .line = "", .split = false, .leftQueued = atLimit.size() + 2},
        {.name = "split takes the first 16384", .bytes = atLimit + "\r\n", .action = maSplit, .raises = false,
         .line = atLimit, .split = true, .leftQueued = 2},
        {.name = "no terminator in sight", .bytes = atLimit + "yy", .action = maException, .raises = true, .line = "",
         .split = false, .leftQueued = atLimit.size() + 2},
        {.name = "one below", .bytes = atLimit.substr(1) + "\r\n", .action = maException, .raises = false,
         .line = atLimit.substr(1), .split = false, .leftQueued = 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Serve(Script().Send(c.bytes).WaitPeerClose());
        client.SetMaxLineAction(c.action);
        // Make sure every byte is queued before the line is read.
        while (client.InputQueue().Size() < c.bytes.size())
            client.FillInputQueue(true, TimeoutDefault, true);
        if (c.raises) {
            try {
                client.ReceiveLine();
                ADD_FAILURE();
            } catch (const EIdReadLnMaxLineLengthExceeded& e) {
                EXPECT_EQ(e.Message(), "Max line length exceeded.");
            }
        } else {
            EXPECT_EQ(client.ReceiveLine(), c.line);
        }
        EXPECT_EQ(client.LineWasSplit(), c.split);
        EXPECT_EQ(client.InputQueue().Size(), c.leftQueued);
        client.CloseConnection();
    }
    // A limit of 0 is no limit.
    Serve(Script().Send(atLimit + atLimit + "\n").WaitPeerClose());
    EXPECT_EQ(client.ReceiveLine("\n", TimeoutDefault, 0).size(), 2 * atLimit.size());
}

TEST_F(Reads, ExactReadsWaitForEveryByteAndLeaveTheRestQueued)
{
    Serve(Split("0123456789ABC", Pieces::Random).Close());
    std::string first(4, '\0'), second(6, '\0'), third(5, '\0');
    client.ReceiveExact(first.data(), 4);
    client.ReceiveExact(second.data(), 6);
    client.ReceiveExact(nullptr, 3); // nothing for no buffer
    client.ReceiveExact(third.data(), 0);
    EXPECT_EQ(first + second, "0123456789");
    EXPECT_THROW(client.ReceiveExact(third.data(), 5), EIdConnClosedGracefully);
    EXPECT_EQ(client.InputQueue().View(), "ABC"); // what arrived stays queued
}

TEST_F(Reads, AReadUntilCloseReportsFullBlocksAndWritesTheRemainderUncounted)
{
    const std::string body = Pattern(1000 + 2 * 32768 + 500);
    // The first 1000 body bytes come with the head, the rest later.
    Serve(Script().Send("head\n" + body.substr(0, 1000)).Sleep(30).Send(body.substr(1000)).Close());
    ASSERT_EQ(client.ReceiveLine(), "head");
    while (client.InputQueue().Size() < 1000)
        client.FillInputQueue(true, TimeoutDefault, true);
    ASSERT_EQ(client.InputQueue().Size(), 1000u);
    RecordWork();
    TMemoryStream stream;
    client.ReceiveToStream(stream, -1, true);
    EXPECT_EQ(events, (Lines{"begin 0", "work 1000", "work 33768", "work 66536", "end"}));
    EXPECT_EQ(stream.ToString(), body);
    EXPECT_EQ(stream.Position(), static_cast<std::int64_t>(body.size()));
    EXPECT_FALSE(client.IsOpen());
}

TEST_F(Reads, ASizedReadReportsItsBlocksAndStopsAtItsCount)
{
    const std::string body = Pattern(70000);
    Serve(Split(body + "NEXT\n", Pieces::Whole).WaitPeerClose());
    RecordWork();
    TMemoryStream stream;
    stream.Write("old contents that are longer than the position");
    stream.SetPosition(4);
    client.ReceiveToStream(stream, 70000, false);
    EXPECT_EQ(events, (Lines{"begin 70000", "work 32768", "work 65536", "work 70000", "end"}));
    EXPECT_EQ(stream.Size(), 4 + 70000); // cut at its position
    EXPECT_EQ(stream.Bytes().substr(0, 4), "old ");
    EXPECT_EQ(stream.Bytes().substr(4), body);
    EXPECT_EQ(client.ReceiveLine(), "NEXT"); // the next bytes are left for the next read
    events.clear();
    client.ReceiveToStream(stream, 0, false);
    EXPECT_EQ(events, (Lines{"begin 0", "end"}));
}

TEST_F(Reads, ASizedReadCutShortByThePeerFailsAndWritesNothingOfTheUnfinishedBlock)
{
    Serve(Split(Pattern(600), Pieces::Random).Close());
    RecordWork();
    TMemoryStream stream;
    EXPECT_THROW(client.ReceiveToStream(stream, 1000, false), EIdConnClosedGracefully);
    EXPECT_EQ(stream.Size(), 0);
    EXPECT_EQ(client.InputQueue().View(), Pattern(600));
    EXPECT_EQ(events, (Lines{"begin 1000", "end"}));
}

TEST_F(Reads, ABigSizedBodyCutShortKeepsItsFullBlocks)
{
    const std::string body = Pattern(3 * 32768 + 10);
    Serve(Script().Send(body).Close());
    TMemoryStream stream;
    EXPECT_THROW(client.ReceiveToStream(stream, 1 << 20, false), EIdConnClosedGracefully);
    EXPECT_EQ(stream.ToString(), body.substr(0, 3 * 32768));
    EXPECT_EQ(client.InputQueue().View(), body.substr(3 * 32768));
}

TEST_F(Reads, ALengthPrefixedRead)
{
    Serve(Script().Send(std::string("\0\0\0\5", 4) + "hello!").WaitPeerClose());
    TMemoryStream stream;
    client.ReceiveToStream(stream, -1, false);
    EXPECT_EQ(stream.ToString(), "hello");
    EXPECT_EQ(client.ReceiveLine("!"), "");
}

TEST(InputQueue, CompactsOnlyAfterEnoughConsumedBytesAndEmptiesAtOnce)
{
    TIdManagedBuffer queue;
    std::int64_t removed = 0;
    int reports = 0;
    queue.OnBytesRemoved = [&](std::int64_t n) {
        removed += n;
        ++reports;
    };
    queue.Append(std::string(40000, 'q'));
    for (int i = 0; i < 3276; ++i)
        queue.Remove(10);
    EXPECT_EQ(queue.ConsumedBytes(), 32760u); // below the threshold: nothing moved
    EXPECT_EQ(queue.StoredSize(), 40000u);
    EXPECT_EQ(queue.Extract(8), "qqqqqqqq"); // reaches 32768: the rest moves to the front
    EXPECT_EQ(queue.ConsumedBytes(), 0u);
    EXPECT_EQ(queue.StoredSize(), 40000u - 32768u);
    EXPECT_EQ(queue.Size(), 40000u - 32768u);

    queue.Append("tail\n");
    EXPECT_EQ(queue.IndexOf('\n', 0), 40000u - 32768u + 4);
    std::string rest(queue.Size(), '\0');
    queue.ExtractTo(rest.data(), rest.size());
    EXPECT_TRUE(queue.Empty());
    EXPECT_EQ(queue.StoredSize(), 0u); // consuming everything empties at once
    EXPECT_EQ(removed, 40005);
    EXPECT_EQ(reports, 3276 + 2);

    queue.Append("abc");
    queue.Clear(); // not a consumption: nothing reported
    EXPECT_EQ(reports, 3278);
    try {
        queue.Append("ab");
        queue.Extract(3);
        FAIL();
    } catch (const EIdNotEnoughDataInBuffer& e) {
        EXPECT_EQ(e.Message(), "Not enough data in buffer.");
    }
    EXPECT_EQ(queue.View(), "ab");
}
