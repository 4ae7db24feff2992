// Get from the Windows build against the HTTP server that scripts/test-windows.sh runs on
// the Linux side (tests/http/real_http_server.py); its port comes in UPDATER_REAL_SERVER_PORT.

#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/TestData.h"
#include "tests/support/FakeSystem.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

namespace {

using testsupport::Pattern;

std::string Base()
{
    const char* port = std::getenv("UPDATER_REAL_SERVER_PORT");
    return port ? std::string("http://127.0.0.1:") + port : std::string();
}

struct Outcome {
    std::string body;
    std::string error;
    int code = 0;
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
    } catch (const Exception& e) {
        o.error = std::string(e.ClassName()) + ": " + e.Message();
    }
    o.body = stream.ToString();
    return o;
}

void EveryFraming(bool antiFreeze)
{
    const std::string base = Base();
    ASSERT_FALSE(base.empty()) << "UPDATER_REAL_SERVER_PORT is not set";
    platform::HeadlessApplication app;
    TIdAntiFreeze freeze(nullptr, app);
    freeze.SetIdleTimeOut(1);
    freeze.SetActive(antiFreeze);
    FakeSystem system;
    TIdHTTP http(nullptr, system);
    struct Case {
        const char* path;
        bool follow;
        std::string body;
        std::string error = {};
        int code = 0;
    } cases[] = {
        {.path = "/sized/100000", .follow = false, .body = Pattern(100000)},
        {.path = "/chunked/100000/7000", .follow = false, .body = Pattern(100000)},
        {.path = "/sized/0", .follow = false, .body = ""},
        {.path = "/status/404", .follow = false, .body = "", .error = "HTTP/1.1 404 Not Found", .code = 404},
        {.path = "/redirect/sized/10", .follow = true, .body = Pattern(10)},
        {.path = "/setcookie", .follow = false, .body = "ok"},
        {.path = "/cookie", .follow = false, .body = "sid=abc123"},
        {.path = "/close/5000", .follow = false, .body = Pattern(5000)},
    };
    for (const auto& c : cases) {
        http.HandleRedirects = c.follow;
        const auto o = Fetch(http, base + c.path);
        EXPECT_EQ(o.body, c.body) << c.path;
        EXPECT_EQ(o.error, c.error) << c.path;
        EXPECT_EQ(o.code, c.code) << c.path;
    }
    if (antiFreeze) {
        EXPECT_GT(app.ProcessCount(), 0); // the waits pumped messages
    }
}

TEST(Win32Http, EveryFramingOverOneClient) { EveryFraming(false); }

TEST(Win32Http, EveryFramingWithTheAntiFreeze) { EveryFraming(true); }

TEST(Win32Http, ARefusedConnectIsSocketError10061)
{
    FakeSystem system;
    TIdHTTP http(nullptr, system);
    // Port 1 on loopback has no listener.
    const auto o = Fetch(http, "http://127.0.0.1:1/x");
    EXPECT_EQ(o.error, "EIdSocketError: Socket Error # 10061\r\nConnection refused.");
}

} // namespace
