// The response rules that are functions over bytes: status line, outcome table, redirect
// rule, body framing, chunk-size lines and the header half of the keep-alive rule.

#include "http/IdHTTPBodyFraming.h"
#include "http/IdHTTPStatus.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

TEST(StatusLine, CodeIsTheDecimalWordAfterTheFirstBlank)
{
    struct Case {
        const char* line;
        int code;
    } cases[] = {
        {.line = "HTTP/1.1 200 OK", .code = 200},
        {.line = "HTTP/1.0 404 Not Found", .code = 404},
        {.line = "HTTP/1.1 302", .code = 302},
        {.line = "HTTP/1.1   204   No Content", .code = 204}, // blanks before the code are trimmed
        {.line = "ICY 200 OK", .code = 200},                  // "HTTP/" is not required
        {.line = "HTTP/1.1 100 Continue", .code = 100},
        {.line = "garbage", .code = -1}, // no blank at all
        {.line = "", .code = -1},
        {.line = "HTTP/1.1 ", .code = -1},
        {.line = "HTTP/1.1 abc OK", .code = -1},
        {.line = "HTTP/1.1 20x OK", .code = -1},
        {.line = "HTTP/1.1 0xC8 OK", .code = -1},         // no hexadecimal status codes
        {.line = "HTTP/1.1 99999999999 Big", .code = -1}, // beyond an int: unreadable, not wrapped
        {.line = "HTTP/1.1 2147483647 Max", .code = 2147483647},
        {.line = "HTTP/1.1\t200 OK", .code = -1}, // a tab is not the separator
    };
    for (const auto& c : cases)
        EXPECT_EQ(StatusCodeOf(c.line), c.code) << c.line;
}

TEST(StatusLine, VersionComesFromCharactersSixToEight)
{
    struct Case {
        const char* line;
        std::optional<std::string> version;
    } cases[] = {
        {.line = "HTTP/1.0 200 OK", .version = "1.0"},      {.line = "HTTP/1.1 200 OK", .version = "1.1"},
        {.line = "http/1.1 200 OK", .version = "1.1"},      {.line = "XXXXX1.0", .version = "1.0"},
        {.line = "HTTP/2 200 OK", .version = std::nullopt}, {.line = "HTTP/1.2 200 OK", .version = std::nullopt},
        {.line = "HTTP/1.", .version = std::nullopt},       {.line = "", .version = std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ResponseVersionOf(c.line), c.version) << c.line;
}

TEST(Outcome, TableOfStatusesAndLocation)
{
    using A = TIdHTTPStatusAction;
    struct Case {
        int code;
        bool location;
        A action;
    } cases[] = {
        {.code = 100, .location = false, .action = A::Continue},
        {.code = 100, .location = true, .action = A::Continue},
        {.code = 101, .location = false, .action = A::Fail},
        {.code = 200, .location = false, .action = A::Success},
        {.code = 204, .location = false, .action = A::Success},
        {.code = 299, .location = false, .action = A::Success},
        {.code = 200, .location = true, .action = A::Redirect}, // a Location makes any answer a redirect
        {.code = 301, .location = false, .action = A::Redirect},
        {.code = 302, .location = true, .action = A::Redirect},
        {.code = 399, .location = false, .action = A::Redirect},
        {.code = 304, .location = false, .action = A::Fail},
        {.code = 304, .location = true, .action = A::Redirect},
        {.code = 401, .location = false, .action = A::Authorize},
        {.code = 407, .location = false, .action = A::ProxyAuthorize},
        {.code = 401, .location = true, .action = A::Redirect},
        {.code = 403, .location = false, .action = A::Fail},
        {.code = 404, .location = false, .action = A::Fail},
        {.code = 500, .location = false, .action = A::Fail},
        {.code = -1, .location = false, .action = A::Fail},
        {.code = -1, .location = true, .action = A::Redirect},
        {.code = 99, .location = false, .action = A::Fail},
        {.code = 600, .location = false, .action = A::Fail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ClassifyStatus(c.code, c.location), c.action) << c.code << " location " << c.location;
}

TEST(Outcome, RedirectFollowsWithinTheLimitAndFinishesAtIt)
{
    using D = TIdRedirectDecision;
    struct Case {
        bool handleRedirects;
        int count;
        bool handled;
        D decision;
    } cases[] = {
        // Default client: handled preset false, nothing changes it.
        {.handleRedirects = false, .count = 1, .handled = false, .decision = D::Fail},
        // A handler that says handled without HandleRedirects finishes with the redirect answer.
        {.handleRedirects = false, .count = 1, .handled = true, .decision = D::Finish},
        {.handleRedirects = true, .count = 1, .handled = true, .decision = D::Follow},
        {.handleRedirects = true, .count = 14, .handled = true, .decision = D::Follow},
        {.handleRedirects = true, .count = 15, .handled = true, .decision = D::Finish},
        {.handleRedirects = true, .count = 40, .handled = true, .decision = D::Finish},
        // A handler may refuse even when HandleRedirects is set.
        {.handleRedirects = true, .count = 1, .handled = false, .decision = D::Fail},
        {.handleRedirects = true, .count = 15, .handled = false, .decision = D::Fail},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideRedirect(c.handleRedirects, c.count, 15, c.handled), c.decision)
            << c.handleRedirects << " " << c.count << " " << c.handled;
}

TEST(Framing, ContentLengthIsTrimmedDecimalOrInvalid)
{
    struct Case {
        const char* text;
        std::int64_t length;
    } cases[] = {
        {.text = "5", .length = 5},
        {.text = " 10 ", .length = 10},
        {.text = "0", .length = 0},
        {.text = "00012", .length = 12},
        {.text = "4294967296", .length = 4294967296LL},       // above 32 bits
        {.text = "9223372036854775807", .length = INT64_MAX}, // the edge of 64 bits
        {.text = "9223372036854775808", .length = -1},        // beyond it: invalid, not wrapped
        {.text = "99999999999999999999999", .length = -1},
        {.text = "", .length = -1},
        {.text = "-1", .length = -1},
        {.text = "-5", .length = -1},
        {.text = "+5", .length = -1},
        {.text = "0x10", .length = -1},
        {.text = "5 5", .length = -1},
        {.text = "5, 5", .length = -1},
        {.text = "abc", .length = -1},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseContentLength(c.text), c.length) << '"' << c.text << '"';
}

TEST(Framing, ChunkSizeLines)
{
    struct Case {
        const char* line;
        std::optional<std::int64_t> size;
    } cases[] = {
        {.line = "5", .size = 5},
        {.line = "1a", .size = 0x1a},
        {.line = "1A", .size = 0x1a},
        {.line = "0", .size = 0},
        {.line = "000", .size = 0},
        {.line = "1a;x=y", .size = 0x1a}, // an extension does not hide the size
        {.line = "1a ; name=\"v;w\"", .size = 0x1a},
        {.line = "8 ", .size = 8},
        {.line = "8\t;ext", .size = 8},
        {.line = "0;last", .size = 0},
        {.line = "100000000", .size = 0x100000000LL}, // above 32 bits
        {.line = "7fffffffffffffff", .size = kMaxChunkSize},
        {.line = "00000000000000007fffffffffffffff", .size = kMaxChunkSize}, // zeros do not count
        {.line = "8000000000000000", .size = std::nullopt},                  // would wrap negative
        {.line = "ffffffffffffffff", .size = std::nullopt},
        {.line = "10000000000000000", .size = std::nullopt},
        {.line = "", .size = std::nullopt},
        {.line = " 5", .size = std::nullopt},
        {.line = ";x", .size = std::nullopt},
        {.line = "-5", .size = std::nullopt},
        {.line = "0x5", .size = std::nullopt},
        {.line = "5x", .size = std::nullopt},
        {.line = "5 6", .size = std::nullopt},
        {.line = "zz", .size = std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseChunkSize(c.line), c.size) << '"' << c.line << '"';
}

TEST(Framing, DecisionByStatusEncodingAndLength)
{
    using F = TIdBodyFraming;
    struct Case {
        const char* name;
        int code;
        std::int64_t length;
        const char* encoding;
        F framing;
    } cases[] = {
        {.name = "sized", .code = 200, .length = 5, .encoding = "", .framing = F::Sized},
        {.name = "zero length", .code = 200, .length = 0, .encoding = "", .framing = F::None},
        {.name = "no length", .code = 200, .length = -1, .encoding = "", .framing = F::UntilClose},
        {.name = "chunked", .code = 200, .length = -1, .encoding = "chunked", .framing = F::Chunked},
        {.name = "Chunked", .code = 200, .length = -1, .encoding = "Chunked", .framing = F::Chunked},
        {.name = "gzip, chunked", .code = 200, .length = -1, .encoding = "gzip, chunked", .framing = F::Chunked},
        {.name = "chunked wins over a length", .code = 200, .length = 10, .encoding = "chunked", .framing = F::Chunked},
        {.name = "identity", .code = 200, .length = -1, .encoding = "identity", .framing = F::UntilClose},
        {.name = "identity sized", .code = 200, .length = 3, .encoding = "identity", .framing = F::Sized},
        {.name = "204 with a length", .code = 204, .length = 5, .encoding = "", .framing = F::None},
        {.name = "204 chunked", .code = 204, .length = -1, .encoding = "chunked", .framing = F::None},
        {.name = "304 without a length", .code = 304, .length = -1, .encoding = "", .framing = F::None},
        {.name = "304 announcing a length", .code = 304, .length = 1000, .encoding = "", .framing = F::None},
        {.name = "101", .code = 101, .length = -1, .encoding = "", .framing = F::None},
        {.name = "199", .code = 199, .length = 9, .encoding = "", .framing = F::None},
        {.name = "404 sized", .code = 404, .length = 9, .encoding = "", .framing = F::Sized},
        {.name = "302 no length", .code = 302, .length = -1, .encoding = "", .framing = F::UntilClose},
        {.name = "unreadable status", .code = -1, .length = 4, .encoding = "", .framing = F::Sized},
        {.name = "huge length", .code = 200, .length = INT64_MAX, .encoding = "", .framing = F::Sized},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecideBodyFraming(c.code, c.length, c.encoding), c.framing) << c.name;
}

TEST(KeepAlive, HeaderHalfOfTheRule)
{
    struct Case {
        bool v11;
        const char* connection;
        const char* proxyConnection;
        bool keep;
    } cases[] = {
        {.v11 = true, .connection = "", .proxyConnection = "", .keep = true},
        {.v11 = true, .connection = "close", .proxyConnection = "", .keep = false},
        {.v11 = true, .connection = " Close ", .proxyConnection = "", .keep = false},
        {.v11 = true, .connection = "", .proxyConnection = "CLOSE", .keep = false},
        {.v11 = true, .connection = "close, TE", .proxyConnection = "", .keep = true},
        {.v11 = true, .connection = "keep-alive", .proxyConnection = "", .keep = true},
        {.v11 = true, .connection = "closed", .proxyConnection = "", .keep = true},
        {.v11 = false, .connection = "", .proxyConnection = "", .keep = false},
        {.v11 = false, .connection = "Keep-Alive", .proxyConnection = "", .keep = true},
        {.v11 = false, .connection = "", .proxyConnection = " keep-alive", .keep = true},
        {.v11 = false, .connection = "keep-alive, x", .proxyConnection = "", .keep = false},
        {.v11 = false, .connection = "close", .proxyConnection = "", .keep = false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(KeepAliveByHeaders(c.v11, c.connection, c.proxyConnection), c.keep)
            << c.v11 << " '" << c.connection << "' '" << c.proxyConnection << "'";
}

} // namespace
