// Header lines: reading values across continuation lines, writing with folding, and reading
// a header block from bytes that arrive in pieces of every size.

#include "http/IdException.h"
#include "http/IdHeaderBlockReader.h"
#include "http/IdHeaderList.h"

#include <gtest/gtest.h>

#include <chrono>
#include <random>
#include <string>
#include <vector>

namespace {

TIdHeaderList ListOf(std::initializer_list<const char*> lines)
{
    TIdHeaderList list;
    for (const char* l : lines)
        list.Add(l);
    return list;
}

TEST(TIdHeaderList, ReadsValuesByNameWithContinuationLines)
{
    const TIdHeaderList h = ListOf({
        "Content-Type:  text/html ",
        "X-Long: first ",
        " second",
        "\t  third  ",
        "Set-Cookie: a=1",
        "set-cookie: b=2",
        " ; path=/",
        "NoColonHere",
        "Empty:",
        "Spaced : v",
    });
    struct Case {
        const char* name;
        const char* want;
    } cases[] = {
        {"content-type", "text/html"},
        {"X-LONG", "first second third"},
        {"Set-Cookie", "a=1"},
        {"Empty", ""},
        {"Missing", ""},
        {"Spaced", ""}, // names are not trimmed
        {"Spaced ", "v"},
        {"", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(h.Values(c.name), c.want) << c.name;

    EXPECT_EQ(h.Extract("SET-COOKIE"), (std::vector<std::string>{"a=1", "b=2 ; path=/"}));
    EXPECT_TRUE(h.Extract("nothing").empty());
    EXPECT_EQ(h.IndexOfName("set-cookie"), 4);
    EXPECT_EQ(h.IndexOfName("NoColonHere"), -1);
    EXPECT_EQ(h.Names(0), "Content-Type");
    EXPECT_EQ(h.Names(7), "");
}

TEST(TIdHeaderList, ContinuationLinesJoinEmptyOnesAndManyOnes)
{
    // Empty continuation lines add no blank of their own, a value empty so far none in front.
    EXPECT_EQ(ListOf({"A: x", " ", "\t", " y", "  "}).Values("A"), "x y");
    EXPECT_EQ(ListOf({"A:", " ", " y", " z "}).Values("A"), "y z");
    EXPECT_EQ(ListOf({"A: \x01", " \x02 "}).Values("A"), "");

    // A hostile server's block of many short continuation lines reads in linear time; joined
    // by rebuilding the text per line, this took minutes.
    TIdHeaderList h;
    h.Add("Location: x");
    const std::size_t lines = 400000;
    for (std::size_t i = 0; i < lines; ++i)
        h.Add(" y");
    const auto start = std::chrono::steady_clock::now();
    const std::string value = h.Values("Location");
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_EQ(value.size(), 1 + 2 * lines);
    EXPECT_EQ(value.substr(0, 6), "x y y ");
    EXPECT_LT(elapsed, std::chrono::seconds(5));
}

TEST(TIdHeaderList, WritingReplacesInPlaceAppendsAndRemoves)
{
    TIdHeaderList h = ListOf({"A: 1", "B: old", " continued", "\tmore", "C: 3"});
    h.SetValue("b", "new");
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{"A: 1", "b: new", "C: 3"}));
    h.SetValue("D", "4");
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{"A: 1", "b: new", "C: 3", "D: 4"}));
    h.SetValue("A", "");
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{"b: new", "C: 3", "D: 4"}));
    h.SetValue("Missing", "");
    EXPECT_EQ(h.Count(), 3u);
    // A trailing blank of a value is dropped; leading ones are kept.
    h.SetValue("Accept", " text/html ,*/* ");
    EXPECT_EQ(h[3], "Accept:  text/html ,*/*");
}

TEST(TIdHeaderList, FoldsLongLinesAtBreaksOutsideQuotes)
{
    struct Case {
        const char* name;
        std::string line;
        int fold;
        std::vector<std::string> want;
    } cases[] = {
        {.name = "short line stays", .line = "A: b c", .fold = 78, .want = {"A: b c"}},
        {.name = "exactly the fold length stays", .line = "A: 1234567", .fold = 10, .want = {"A: 1234567"}},
        {.name = "one past breaks at the last blank", .line = "A: 123 5678", .fold = 10, .want = {"A: 123", " 5678"}},
        {.name = "comma ends the first piece and following breaks are skipped",
         .line = "X: aaaa, , \tbbbb",
         .fold = 7,
         .want = {"X: aaaa,", " bbbb"}},
        {.name = "several pieces",
         .line = "K: one two three four five",
         .fold = 10,
         .want = {"K: one two", " three", " four five"}},
        {.name = "only the blank after the colon",
         .line = "K: 0123456789abcdef",
         .fold = 10,
         .want = {"K:", " 0123456789abcdef"}},
        {.name = "no break keeps the line long",
         .line = "K:0123456789abcdef",
         .fold = 10,
         .want = {"K:0123456789abcdef"}},
        {.name = "quoted blanks are not breaks",
         .line = "K: \"a b c d e f\" g",
         .fold = 10,
         .want = {"K:", " \"a b c d e f\"", " g"}},
        {.name = "trailing blanks are dropped", .line = "K: v   ", .fold = 78, .want = {"K: v"}},
        {.name = "nothing after the break", .line = "K: 12345 ,,,", .fold = 8, .want = {"K: 12345"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TIdHeaderList::FoldLine(c.line, c.fold), c.want) << c.name;

    // Written through a list, a folded value reads back as one value.
    TIdHeaderList h(20);
    h.SetValue("Cookie", "a=1; bb=22; ccc=333; dddd=4444");
    EXPECT_GT(h.Count(), 1u);
    for (size_t i = 0; i < h.Count(); ++i) {
        EXPECT_LE(h[i].size(), 20u) << h[i];
        if (i > 0) {
            EXPECT_EQ(h[i][0], ' ');
        }
    }
    EXPECT_EQ(h.Values("cookie"), "a=1; bb=22; ccc=333; dddd=4444");
}

TEST(TIdHeaderList, MessageListsFoldAt1024)
{
    TIdHeaderList h(TIdHeaderList::kMessageFoldLength);
    std::string value;
    while (value.size() < 3000)
        value += "name" + std::to_string(value.size()) + "=v; ";
    h.SetValue("Cookie", value);
    ASSERT_GE(h.Count(), 3u);
    for (size_t i = 0; i < h.Count(); ++i)
        EXPECT_LE(h[i].size(), 1024u);
    EXPECT_EQ(h.Values("Cookie"), value.substr(0, value.size() - 1)); // last blank trimmed
}

// The header block of an answer, with continuation lines, mixed line ends, and body bytes
// behind it.
const std::string kBlock = "Content-Type: text/plain\r\n"
                           "X-Folded: one,\r\n"
                           " two\r\n"
                           "\tthree\n"
                           "Set-Cookie: a=1\r\n"
                           "Set-Cookie: b=2\n"
                           "\r\n";
const std::string kBody = "BODY\r\n\r\nmore";

void CheckBlock(const TIdHeaderList& h)
{
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{"Content-Type: text/plain", "X-Folded: one,", " two", "\tthree",
                                                   "Set-Cookie: a=1", "Set-Cookie: b=2"}));
    EXPECT_EQ(h.Values("x-folded"), "one, two three");
    EXPECT_EQ(h.Extract("set-cookie"), (std::vector<std::string>{"a=1", "b=2"}));
}

// Feeds the bytes in the given piece sizes and returns what follows the block.
std::string FeedInPieces(TIdHeaderBlockReader& reader, const std::string& bytes, const std::vector<size_t>& sizes)
{
    std::string left;
    size_t pos = 0, k = 0;
    while (pos < bytes.size()) {
        const size_t n = std::min(sizes[k++ % sizes.size()], bytes.size() - pos);
        const std::string_view piece(bytes.data() + pos, n);
        const size_t taken = reader.Feed(piece);
        left.append(piece.substr(taken));
        pos += n;
    }
    return left;
}

TEST(TIdHeaderBlockReader, ReadsTheSameBlockWhateverThePieces)
{
    const std::string bytes = kBlock + kBody;
    std::vector<std::vector<size_t>> splits = {{1}, {2}, {3}, {7}, {bytes.size()}};
    std::mt19937 rng(20240607);
    for (int r = 0; r < 50; ++r) {
        std::vector<size_t> sizes;
        for (int i = 0; i < 16; ++i)
            sizes.push_back(std::uniform_int_distribution<size_t>(1, 9)(rng));
        splits.push_back(sizes);
    }
    for (const auto& sizes : splits) {
        TIdHeaderList h(TIdHeaderList::kMessageFoldLength);
        TIdHeaderBlockReader reader(h);
        const std::string left = FeedInPieces(reader, bytes, sizes);
        ASSERT_TRUE(reader.Done());
        CheckBlock(h);
        EXPECT_EQ(left, kBody);
    }
}

TEST(TIdHeaderBlockReader, UnfinishedBlockIsNotDone)
{
    TIdHeaderList h;
    TIdHeaderBlockReader reader(h);
    EXPECT_EQ(reader.Feed("A: 1\r\nB: 2\r"), 11u);
    EXPECT_FALSE(reader.Done());
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{"A: 1"}));
    EXPECT_EQ(reader.Feed("\n\r\nrest"), 3u);
    EXPECT_TRUE(reader.Done());
    EXPECT_EQ(reader.Feed("more"), 0u);
    EXPECT_EQ(h.Lines(), (std::vector<std::string>{"A: 1", "B: 2"}));
}

TEST(TIdHeaderBlockReader, LineLengthLimitCountsTheCarriageReturn)
{
    const std::string full(TIdHeaderBlockReader::kMaxLineLength, 'x');
    {
        TIdHeaderList h;
        TIdHeaderBlockReader reader(h);
        EXPECT_EQ(reader.Feed(full + "\n\n"), full.size() + 2);
        ASSERT_EQ(h.Count(), 1u);
        EXPECT_EQ(h[0].size(), full.size());
    }
    for (size_t piece : {size_t{1}, size_t{4096}, full.size() + 2}) {
        TIdHeaderList h;
        TIdHeaderBlockReader reader(h);
        try {
            FeedInPieces(reader, full + "\r\n\r\n", {piece});
            ADD_FAILURE() << "accepted a line of " << full.size() + 1 << " bytes";
        } catch (const EIdReadLnMaxLineLengthExceeded& e) {
            EXPECT_EQ(e.Message(), "Max line length exceeded.");
        }
    }
}

} // namespace
