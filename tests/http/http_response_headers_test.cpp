// Values taken from an answer's header block.

#include "http/IdHTTPResponse.h"
#include "tests/support/FakeSystem.h"

#include <gtest/gtest.h>

#include <initializer_list>
#include <string>
#include <vector>

namespace {

TIdHTTPResponse Read(std::initializer_list<const char*> lines, FakeSystem& system)
{
    TIdHTTPResponse r;
    for (const char* line : lines)
        r.RawHeaders.Add(line);
    r.ProcessHeaders(system);
    return r;
}

TEST(ResponseHeaders, TextValuesFirstLineWinsAndContinuationsJoin)
{
    FakeSystem system;
    const auto r = Read({"location: http://h/a", "Server: one", "Server: two", "Content-Type: text/plain;",
                         "  charset=utf-8", "Connection:  close ", "Proxy-Connection: keep-alive",
                         "Transfer-Encoding: chunked", "WWW-Authenticate: Basic realm=x",
                         "WWW-Authenticate: Digest realm=y", "Proxy-Authenticate: Basic realm=p",
                         "Content-Encoding: gzip", "Content-Language: fr", "Content-Version: 2", "Pragma: no-cache"},
                        system);
    EXPECT_EQ(r.Location, "http://h/a");
    EXPECT_EQ(r.Server, "one");
    EXPECT_EQ(r.ContentType, "text/plain; charset=utf-8");
    EXPECT_EQ(r.Connection, "close");
    EXPECT_EQ(r.ProxyConnection, "keep-alive");
    EXPECT_EQ(r.TransferEncoding, "chunked");
    EXPECT_EQ(r.WWWAuthenticate, (std::vector<std::string>{"Basic realm=x", "Digest realm=y"}));
    EXPECT_EQ(r.ProxyAuthenticate, (std::vector<std::string>{"Basic realm=p"}));
    EXPECT_EQ(r.ContentEncoding, "gzip");
    EXPECT_EQ(r.ContentLanguage, "fr");
    EXPECT_EQ(r.ContentVersion, "2");
    EXPECT_EQ(r.Pragma, "no-cache");
    EXPECT_FALSE(r.HasContentLength);
    EXPECT_EQ(r.ContentLength, -1);
}

TEST(ResponseHeaders, LengthAndRange)
{
    struct Case {
        const char* name;
        std::vector<std::string> lines;
        std::int64_t length;
        bool hasLength;
        std::int64_t rangeStart, rangeEnd;
    } cases[] = {
        {.name = "sized",
         .lines = {"Content-Length: 5"},
         .length = 5,
         .hasLength = true,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "zero",
         .lines = {"Content-Length: 0"},
         .length = 0,
         .hasLength = true,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "above 2 GiB",
         .lines = {"Content-Length: 3000000000"},
         .length = 3000000000LL,
         .hasLength = true,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "not a number",
         .lines = {"Content-Length: many"},
         .length = -1,
         .hasLength = false,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "negative",
         .lines = {"Content-Length: -3"},
         .length = -1,
         .hasLength = false,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "first wins",
         .lines = {"Content-Length: 7", "Content-Length: 9"},
         .length = 7,
         .hasLength = true,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "range",
         .lines = {"Content-Range: bytes 100-199/5000000000"},
         .length = -1,
         .hasLength = false,
         .rangeStart = 100,
         .rangeEnd = 199},
        {.name = "range above 4 GiB",
         .lines = {"Content-Range: bytes 4294967296-4294967300/*"},
         .length = -1,
         .hasLength = false,
         .rangeStart = 4294967296LL,
         .rangeEnd = 4294967300LL},
        // A range that is not numbers is ignored rather than failing the download.
        {.name = "unsatisfied range",
         .lines = {"Content-Range: bytes */1000"},
         .length = -1,
         .hasLength = false,
         .rangeStart = 0,
         .rangeEnd = 0},
        {.name = "garbage range",
         .lines = {"Content-Range: x-y/z", "Content-Length: 4"},
         .length = 4,
         .hasLength = true,
         .rangeStart = 0,
         .rangeEnd = 0},
    };
    FakeSystem system;
    for (const auto& c : cases) {
        TIdHTTPResponse r;
        for (const auto& l : c.lines)
            r.RawHeaders.Add(l);
        r.ProcessHeaders(system);
        EXPECT_EQ(r.ContentLength, c.length) << c.name;
        EXPECT_EQ(r.HasContentLength, c.hasLength) << c.name;
        EXPECT_EQ(r.ContentRangeStart, c.rangeStart) << c.name;
        EXPECT_EQ(r.ContentRangeEnd, c.rangeEnd) << c.name;
    }
}

TEST(ResponseHeaders, DatesAndExpiresNeverFailTheAnswer)
{
    FakeSystem system;
    system.now = 45000.25;
    system.biasMinutes = -60; // local time is UTC+1
    struct Case {
        const char* expires;
        double want;
    } cases[] = {
        {.expires = "60", .want = 45000.25 + 60.0 / kSecondsPerDay},
        {.expires = "0", .want = 45000.25},
        // A day or more, or a past offset: kept as a date instead of failing the Get.
        {.expires = "86400", .want = 45001.25},
        {.expires = "172800", .want = 45002.25},
        {.expires = "-86400", .want = 44999.25},
        {.expires = "-1", .want = 45000.25 - 1.0 / kSecondsPerDay},
        {.expires = "Thu, 01 Jan 1970 00:00:00 GMT", .want = kUnixEpochDay + 1.0 / 24},
    };
    for (const auto& c : cases) {
        const std::string line = std::string("Expires: ") + c.expires;
        TIdHTTPResponse r;
        r.RawHeaders.Add("Date: Thu, 01 Jan 1970 00:00:00 GMT");
        r.RawHeaders.Add("Last-Modified: Thu, 01 Jan 1970 12:00:00 +0100");
        r.RawHeaders.Add(line);
        ASSERT_NO_THROW(r.ProcessHeaders(system)) << c.expires;
        EXPECT_NEAR(r.Expires, c.want, 1e-6) << c.expires;
        EXPECT_NEAR(r.Date, kUnixEpochDay + 1.0 / 24, 1e-9);
        EXPECT_NEAR(r.LastModified, kUnixEpochDay + 12.0 / 24, 1e-9);
    }
    const auto none = Read({"Server: x"}, system);
    EXPECT_EQ(none.Date, 0);
    EXPECT_EQ(none.Expires, 0);
}

TEST(ResponseHeaders, StatusLineGivesCodeAndVersion)
{
    TIdHTTPResponse r;
    r.ResponseText = "HTTP/1.0 404 Not Found";
    EXPECT_EQ(r.ResponseCode(), 404);
    r.UpdateResponseVersion();
    EXPECT_EQ(r.ResponseVersion, pv1_0);
    r.ResponseText = "junk";
    r.UpdateResponseVersion(); // no version in the line: the previous one stays
    EXPECT_EQ(r.ResponseVersion, pv1_0);
    EXPECT_EQ(r.ResponseCode(), -1);
    r.ResponseText = "HTTP/1.1 200 OK";
    r.UpdateResponseVersion();
    EXPECT_EQ(r.ResponseVersion, pv1_1);
}

} // namespace
