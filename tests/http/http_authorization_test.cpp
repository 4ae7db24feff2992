// The answers 401 and 407 over the in-memory transport: which scheme is chosen, when the
// program is asked for credentials, how often, and when the Get gives up with the answer.

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/MemoryIOHandler.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testsupport::MemoryIOHandler;

namespace {

const std::string kBasic401 =
    "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Basic realm=r\r\nContent-Length: 0\r\n\r\n";
const std::string kDigest401 = "HTTP/1.1 401 Unauthorized\r\nWWW-Authenticate: Digest x\r\nContent-Length: 0\r\n\r\n";
const std::string kBasic407 =
    "HTTP/1.1 407 Proxy Authentication Required\r\nProxy-Authenticate: Basic realm=p\r\nContent-Length: 0\r\n\r\n";
const std::string kOk = "HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nok";

// What the program's handler does when it is asked.
enum class Handler { None, Declines, GivesNoName, GivesCredentials };

struct Case {
    const char* name;
    std::vector<std::string> answers; // one per request, in order
    bool viaProxy = false;
    Handler handler = Handler::GivesCredentials;
    const char* selectScheme = nullptr; // what the selection handler turns the choice into
    int wantCode = 0;                   // 0: the Get returns normally
    int wantAsked = 0;
    std::size_t wantRequests = 1;
    const char* wantInLastRequest = nullptr;
};

TEST(Authorization, SchemeChoiceQuestionsAndRetries)
{
    const Case cases[] = {
        {.name = "credentials given: the request again with them",
         .answers = {kBasic401, kOk},
         .wantAsked = 1,
         .wantRequests = 2,
         .wantInLastRequest = "\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"},
        {.name = "no known scheme", .answers = {kDigest401}, .wantCode = 401},
        {.name = "no handler", .answers = {kBasic401}, .handler = Handler::None, .wantCode = 401},
        {.name = "handler declines",
         .answers = {kBasic401},
         .handler = Handler::Declines,
         .wantCode = 401,
         .wantAsked = 1},
        {.name = "handler gives no name: asked once",
         .answers = {kBasic401},
         .handler = Handler::GivesNoName,
         .wantCode = 401,
         .wantAsked = 1},
        {.name = "selection turns to an unknown scheme",
         .answers = {kBasic401},
         .selectScheme = "Digest",
         .wantCode = 401},
        {.name = "refused each time: three retries with the credentials kept, one question",
         .answers = {kBasic401, kBasic401, kBasic401, kBasic401},
         .wantCode = 401,
         .wantAsked = 1,
         .wantRequests = 4,
         .wantInLastRequest = "\r\nAuthorization: Basic dXNlcjpwYXNz\r\n"},
        {.name = "proxy: credentials given",
         .answers = {kBasic407, kOk},
         .viaProxy = true,
         .wantAsked = 1,
         .wantRequests = 2,
         .wantInLastRequest = "\r\nProxy-Authorization: Basic dXNlcjpwYXNz\r\n"},
        {.name = "proxy: no handler",
         .answers = {kBasic407},
         .viaProxy = true,
         .handler = Handler::None,
         .wantCode = 407},
        {.name = "proxy: refused each time, the password dropped before every retry",
         .answers = {kBasic407, kBasic407, kBasic407, kBasic407},
         .viaProxy = true,
         .wantCode = 407,
         .wantAsked = 1,
         .wantRequests = 4,
         .wantInLastRequest = "\r\nProxy-Authorization: Basic dXNlcjo=\r\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryIOHandler::Script script;
        for (const auto& answer : c.answers)
            script.ExpectRequest().Send(answer);
        MemoryIOHandler peer({script});
        FakeSystem system;
        TIdHTTP http(nullptr, system, "IdHTTP1");
        http.SetIOHandler(&peer);
        http.HTTPOptions = {hoInProcessAuth};
        if (c.viaProxy) {
            http.ProxyParams().ProxyServer = "127.0.0.1";
            http.ProxyParams().ProxyPort = 8080;
        }
        int asked = 0;
        TIdOnAuthorization authorize = [&](TComponent*, TIdAuthentication* a, bool& handled) {
            ++asked;
            handled = c.handler != Handler::Declines;
            if (c.handler == Handler::GivesCredentials) {
                a->Username = "user";
                a->Password = "pass";
            }
        };
        if (c.handler != Handler::None)
            (c.viaProxy ? http.OnProxyAuthorization : http.OnAuthorization) = authorize;
        if (c.selectScheme)
            http.OnSelectAuthorization = [&](TComponent*, std::string& scheme, const auto&) {
                scheme = c.selectScheme;
            };

        TMemoryStream body;
        int code = 0;
        try {
            http.Get("http://127.0.0.1/private", body);
        } catch (const EIdHTTPProtocolException& e) {
            code = e.ReplyErrorCode();
        }
        EXPECT_EQ(code, c.wantCode);
        EXPECT_EQ(asked, c.wantAsked);
        const auto requests = peer.Requests();
        ASSERT_EQ(requests.size(), c.wantRequests);
        if (c.wantCode == 0) {
            EXPECT_EQ(body.ToString(), "ok");
        }
        if (c.wantInLastRequest) {
            EXPECT_NE(requests.back().find(c.wantInLastRequest), std::string::npos) << requests.back();
        }
    }
}

} // namespace
