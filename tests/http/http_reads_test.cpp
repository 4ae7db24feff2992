// Line, exact and stream reads over the scripted transport without sockets, with the
// bytes arriving whole and in 1-byte, small and random pieces; the maximum line length at
// its edge; the work counts of stream reads; and the input queue's compaction.
#include "http/IdException.h"
#include "http/IdManagedBuffer.h"
#include "http/IdTCPClient.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/MemoryIOHandler.h"

#include <gtest/gtest.h>

#include <memory>

using testsupport::kEveryPieces;
using testsupport::MemoryIOHandler;
using testsupport::Pieces;
using Script = testsupport::MemoryIOHandler::Script;
using Lines = std::vector<std::string>;

namespace {

struct Reads : ::testing::Test {
    // Declared before the client, which borrows it and so must go first.
    std::unique_ptr<MemoryIOHandler> peer;
    TIdTCPClient client{nullptr};
    Lines events;

    // A fresh connection that plays the script, its bytes split as `pieces` says. A script
    // that ends in ExpectRequest keeps the connection open: the peer stays silent.
    void Serve(Script script, Pieces pieces = Pieces::Whole)
    {
        auto next = std::make_unique<MemoryIOHandler>(std::vector<Script>{std::move(script)}, pieces, 7);
        client.SetIOHandler(next.get());
        peer = std::move(next);
        client.SetHost("127.0.0.1");
        client.SetPort(80);
        client.OpenConnection();
    }
    void RecordWork()
    {
        client.OnWorkBegin = [this](TComponent*, TWorkMode, std::int64_t max) {
            events.push_back("begin " + std::to_string(max));
        };
        client.OnWork = [this](TComponent*, TWorkMode, std::int64_t n) {
            events.push_back("work " + std::to_string(n));
        };
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
        {.name = "head",
         .bytes = "HTTP/1.1 200 OK\r\nContent-Length: 5\r\n\r\n",
         .terminator = "\n",
         .lines = {"HTTP/1.1 200 OK", "Content-Length: 5", ""}},
        {.name = "bare cr stays", .bytes = "a\rb\n\r\n", .terminator = "\n", .lines = {"a\rb", ""}},
        {.name = "other terminator cuts only itself",
         .bytes = "k=v;\r\nx;",
         .terminator = ";",
         .lines = {"k=v", "\r\nx"}},
        {.name = "two-byte terminator across pieces",
         .bytes = "one||two||",
         .terminator = "||",
         .lines = {"one", "two"}},
        {.name = "three-byte terminator, a false start before it",
         .bytes = "a<-b<-><->",
         .terminator = "<->",
         .lines = {"a<-b", ""}},
    };
    for (Pieces pieces : kEveryPieces) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in pieces: " + Name(pieces));
            Serve(Script().Send(c.bytes).ExpectRequest(), pieces);
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
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        Serve(Script().Send("abc").Close(), pieces);
        EXPECT_EQ(client.ReceiveLine(), "");
        EXPECT_TRUE(client.LineTimedOut());
        EXPECT_EQ(client.InputQueue().View(), "abc");
        try {
            client.ReceiveLine();
            ADD_FAILURE();
        } catch (const EIdConnClosedGracefully& e) {
            EXPECT_EQ(e.Message(), "Connection Closed Gracefully.");
        }
        EXPECT_EQ(client.InputQueue().View(), "abc");
    }
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
        {.name = "16384 and lf",
         .bytes = atLimit + "\n",
         .action = maException,
         .raises = false,
         .line = atLimit,
         .split = false,
         .leftQueued = 0},
        {.name = "16384 and crlf counts the cr",
         .bytes = atLimit + "\r\n",
         .action = maException,
         .raises = true,
         .line = "",
         .split = false,
         .leftQueued = atLimit.size() + 2},
        {.name = "split takes the first 16384",
         .bytes = atLimit + "\r\n",
         .action = maSplit,
         .raises = false,
         .line = atLimit,
         .split = true,
         .leftQueued = 2},
        {.name = "no terminator in sight",
         .bytes = atLimit + "yy",
         .action = maException,
         .raises = true,
         .line = "",
         .split = false,
         .leftQueued = atLimit.size() + 2},
        {.name = "one below",
         .bytes = atLimit.substr(1) + "\r\n",
         .action = maException,
         .raises = false,
         .line = atLimit.substr(1),
         .split = false,
         .leftQueued = 0},
    };
    for (Pieces pieces : kEveryPieces) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.name) + " in pieces: " + Name(pieces));
            Serve(Script().Send(c.bytes).ExpectRequest(), pieces);
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
    }
    // A limit of 0 is no limit.
    Serve(Script().Send(atLimit + atLimit + "\n").ExpectRequest(), Pieces::Random);
    EXPECT_EQ(client.ReceiveLine("\n", TimeoutDefault, 0).size(), 2 * atLimit.size());
}

TEST_F(Reads, ExactReadsWaitForEveryByteAndLeaveTheRestQueued)
{
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        Serve(Script().Send("0123").Send("456789ABC").Close(), pieces);
        std::string first(4, '\0'), second(6, '\0'), third(5, '\0');
        client.ReceiveExact(first.data(), 4);
        client.ReceiveExact(second.data(), 6);
        client.ReceiveExact(nullptr, 3); // nothing for no buffer
        client.ReceiveExact(third.data(), 0);
        EXPECT_EQ(first + second, "0123456789");
        EXPECT_THROW(client.ReceiveExact(third.data(), 5), EIdConnClosedGracefully);
        EXPECT_EQ(client.InputQueue().View(), "ABC"); // what arrived stays queued
    }
}

TEST_F(Reads, AReadUntilCloseReportsFullBlocksAndWritesTheRemainderUncounted)
{
    const std::string body = Pattern(1000 + 2 * 32768 + 500);
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        events.clear();
        client.OnWorkBegin = nullptr;
        client.OnWork = nullptr;
        client.OnWorkEnd = nullptr;
        // The first 1000 body bytes come with the head, the rest later.
        Serve(Script().Send("head\n" + body.substr(0, 1000)).Send(body.substr(1000)).Close(), pieces);
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
}

TEST_F(Reads, ASizedReadReportsItsBlocksAndStopsAtItsCount)
{
    const std::string body = Pattern(70000);
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        events.clear();
        Serve(Script().Send(body + "NEXT\n").ExpectRequest(), pieces);
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
}

TEST_F(Reads, ASizedReadCutShortByThePeerFailsAndWritesNothingOfTheUnfinishedBlock)
{
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        events.clear();
        Serve(Script().Send(Pattern(600)).Close(), pieces);
        RecordWork();
        TMemoryStream stream;
        EXPECT_THROW(client.ReceiveToStream(stream, 1000, false), EIdConnClosedGracefully);
        EXPECT_EQ(stream.Size(), 0);
        EXPECT_EQ(client.InputQueue().View(), Pattern(600));
        EXPECT_EQ(events, (Lines{"begin 1000", "end"}));
    }
}

TEST_F(Reads, ABigSizedBodyCutShortKeepsItsFullBlocks)
{
    const std::string body = Pattern(3 * 32768 + 10);
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        Serve(Script().Send(body).Close(), pieces);
        TMemoryStream stream;
        EXPECT_THROW(client.ReceiveToStream(stream, 1 << 20, false), EIdConnClosedGracefully);
        EXPECT_EQ(stream.ToString(), body.substr(0, 3 * 32768));
        EXPECT_EQ(client.InputQueue().View(), body.substr(3 * 32768));
    }
}

TEST_F(Reads, ALengthPrefixedRead)
{
    for (Pieces pieces : kEveryPieces) {
        SCOPED_TRACE(Name(pieces));
        Serve(Script().Send(std::string("\0\0\0\5", 4) + "hello!").ExpectRequest(), pieces);
        TMemoryStream stream;
        client.ReceiveToStream(stream, -1, false);
        EXPECT_EQ(stream.ToString(), "hello");
        EXPECT_EQ(client.ReceiveLine("!"), "");
    }
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
