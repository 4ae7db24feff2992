// Get against real HTTP servers built on python3's http.server, started by the tests on
// port 0: a scripted one with every framing, redirects, cookies and a connection count, and
// the stock file server.

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/TestData.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/FakeSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include <unistd.h>

using testsupport::ChildProcess;

namespace {

// Starts the server and reads its port from "Serving HTTP on 127.0.0.1 port N ...".
int StartServer(ChildProcess& server)
{
    const std::string line = server.ReadLine(testsupport::kHangMs);
    const std::string key = " port ";
    const auto at = line.find(key);
    if (at == std::string::npos)
        return 0;
    return std::atoi(line.c_str() + at + key.size());
}

using testsupport::Pattern;
using testsupport::SourceDir;

struct Outcome {
    std::string body;
    std::string error;
    int code = 0;
    std::string errorBody;
};

Outcome Fetch(TIdHTTP& http, const std::string& url)
{
    Outcome o;
    TMemoryStream stream;
    try {
        http.Get(url, stream);
    } catch (const EIdHTTPProtocolException& e) {
        o.error = e.Message();
        o.code = e.ReplyErrorCode();
        o.errorBody = e.ErrorMessage();
    } catch (const Exception& e) {
        o.error = std::string(e.ClassName()) + ": " + e.Message();
    }
    o.body = stream.ToString();
    return o;
}

TEST(RealServer, EveryFramingRedirectsCookiesAndReuseOverOneClient)
{
    ChildProcess server({"python3", "-u", SourceDir() + "/tests/http/real_http_server.py"});
    const int port = StartServer(server);
    ASSERT_GT(port, 0) << server.Stderr();
    const std::string base = "http://127.0.0.1:" + std::to_string(port);

    FakeSystem system;
    TIdHTTP http(nullptr, system);
    std::vector<std::int64_t> spans;
    http.OnWorkBegin = [&](TComponent*, TWorkMode, std::int64_t max) { spans.push_back(max); };

    struct Case {
        const char* path;
        bool follow;
        std::string body;
        std::string error = {};
        int code = 0;
        std::string errorBody = {};
    } cases[] = {
        {.path = "/sized/100000", .follow = false, .body = Pattern(100000)},
        {.path = "/chunked/100000/7000", .follow = false, .body = Pattern(100000)},
        {.path = "/sized/0", .follow = false, .body = ""},
        {.path = "/status/404",
         .follow = false,
         .body = "",
         .error = "HTTP/1.1 404 Not Found",
         .code = 404,
         .errorBody = "status 404"},
        {.path = "/status/500",
         .follow = false,
         .body = "",
         .error = "HTTP/1.1 500 Internal Server Error",
         .code = 500,
         .errorBody = "status 500"},
        {.path = "/status/204", .follow = false, .body = ""},
        {.path = "/redirect/sized/10",
         .follow = false,
         .body = "",
         .error = "HTTP/1.1 302 Found",
         .code = 302,
         .errorBody = "moved"},
        {.path = "/redirect/sized/10", .follow = true, .body = Pattern(10)},
        {.path = "/setcookie", .follow = false, .body = "ok"},
        {.path = "/cookie", .follow = false, .body = "sid=abc123"},
        {.path = "/connections", .follow = false, .body = "1"},
        {.path = "/close/5000", .follow = false, .body = Pattern(5000)},
        {.path = "/connections", .follow = false, .body = "2"},
    };
    for (const auto& c : cases) {
        http.HandleRedirects = c.follow;
        const auto o = Fetch(http, base + c.path);
        EXPECT_EQ(o.body, c.body) << c.path;
        EXPECT_EQ(o.error, c.error) << c.path;
        EXPECT_EQ(o.code, c.code) << c.path;
        EXPECT_EQ(o.errorBody, c.errorBody) << c.path;
    }
    // One span for the sized body, one per chunk of the chunked one.
    std::vector<std::int64_t> expected{100000};
    expected.insert(expected.end(), 14, 7000);
    expected.push_back(100000 - 14 * 7000);
    ASSERT_GE(spans.size(), expected.size());
    EXPECT_EQ(std::vector<std::int64_t>(spans.begin(), spans.begin() + 16), expected);
    server.Stop();
}

// The stock server answers in HTTP/1.0 and closes each connection after its answer, but
// without "Connection: close": the client, speaking HTTP/1.1, keeps such a connection and
// reuses it unless it has seen the close. Whether the close has arrived when the next
// request is sent is a race, so the next request, and a followed redirect, wait for it
// first (bytes that come before it stay queued for the client).
void AwaitServerClose(TIdHTTP& http)
{
    while (http.IsOpen() && http.FillInputQueue(false, testsupport::kHangMs, false) > 0) {
    }
}

TEST(RealServer, TheStockFileServer)
{
    namespace fs = std::filesystem;
    const fs::path root = fs::temp_directory_path() / ("http-real-server-test-" + std::to_string(::getpid()));
    fs::create_directories(root / "sub");
    const std::string content = Pattern(300000);
    std::ofstream(root / "setup.exe", std::ios::binary) << content;
    std::ofstream(root / "sub" / "inner.txt", std::ios::binary) << "inner";

    {
        ChildProcess server(
            {"python3", "-u", "-m", "http.server", "0", "--bind", "127.0.0.1", "--directory", root.string()});
        const int port = StartServer(server);
        ASSERT_GT(port, 0) << server.Stderr();
        const std::string base = "http://127.0.0.1:" + std::to_string(port);

        FakeSystem system;
        TIdHTTP http(nullptr, system);
        EXPECT_EQ(Fetch(http, base + "/setup.exe").body, content);
        AwaitServerClose(http);
        // A relative address after the first download, as the updater's second one.
        EXPECT_EQ(Fetch(http, "sub/inner.txt").body, "inner");
        AwaitServerClose(http);
        // A folder without its slash is a redirect to the slash.
        const auto moved = Fetch(http, base + "/sub");
        EXPECT_EQ(moved.code, 301);
        AwaitServerClose(http);
        http.HandleRedirects = true;
        http.OnRedirect = [&](TComponent*, std::string&, int, bool&, TIdHTTPMethod&) { AwaitServerClose(http); };
        const auto listing = Fetch(http, base + "/sub");
        EXPECT_EQ(listing.error, "");
        EXPECT_NE(listing.body.find("inner.txt"), std::string::npos);
        AwaitServerClose(http);
        const auto missing = Fetch(http, base + "/nothing");
        EXPECT_EQ(missing.code, 404);
        EXPECT_NE(missing.errorBody.find("404"), std::string::npos);
        server.Stop();
    }
    fs::remove_all(root);
}

} // namespace
