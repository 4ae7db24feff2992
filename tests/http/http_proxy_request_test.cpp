// The request bytes through a proxy, on the memory transport: the whole address as target
// (without user part and bookmark, without a default port), "Proxy-Authorization" only to
// the proxy, "Proxy-Connection" under HTTP/1.0, and the status text that says where the
// connection goes and why (the value the transport's hsConnecting status gives).

#include "http/IdHTTP.h"
#include "platform/proxy/ProxyResolver.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/MemoryIOHandler.h"

#include <gtest/gtest.h>

#include <string>

using testsupport::MemoryIOHandler;

namespace {

class FixedRoute : public platform::ProxyResolver {
public:
    explicit FixedRoute(platform::ProxyRoute route) : route_(std::move(route)) {}
    platform::ProxyRoute RouteFor(const std::string& url) override
    {
        asked = url;
        return route_;
    }
    std::string asked;

private:
    platform::ProxyRoute route_;
};

const platform::ProxyRoute kProxy{
    .Host = "proxy.test", .Port = 3128, .Username = "alice", .Password = "s3cret", .Source = "http_proxy"};

TEST(ProxyRequest, TargetCredentialsAndConnectionLines)
{
    struct Case {
        const char* name;
        platform::ProxyRoute route;
        const char* url;
        TIdHTTPProtocolVersion version = pv1_1;
        std::string requestLine;
        std::string asked;
        bool proxyAuthorization;
        bool proxyConnection = false;
        // The hsConnecting value handed to the transport ("Connecting to %s.").
        std::string connecting = "proxy proxy.test:3128 (from http_proxy)";
    } cases[] = {
        {.name = "user part and bookmark left out, port kept",
         .route = kProxy,
         .url = "http://u:p@Origin.test:8080/a/b.php?x=1#top",
         .requestLine = "GET http://Origin.test:8080/a/b.php?x=1 HTTP/1.1\r\n",
         .asked = "http://Origin.test:8080/a/b.php?x=1",
         .proxyAuthorization = true},
        {.name = "the default port is not written",
         .route = kProxy,
         .url = "http://origin.test/x",
         .requestLine = "GET http://origin.test/x HTTP/1.1\r\n",
         .asked = "http://origin.test/x",
         .proxyAuthorization = true},
        {.name = "HTTP/1.0 asks the proxy to keep the connection",
         .route = kProxy,
         .url = "http://origin.test/x",
         .version = pv1_0,
         .requestLine = "GET http://origin.test/x HTTP/1.0\r\n",
         .asked = "http://origin.test/x",
         .proxyAuthorization = true,
         .proxyConnection = true},
        {.name = "no credentials, no Proxy-Authorization",
         .route = {.Host = "proxy.test", .Port = 3128, .Source = "update.ini"},
         .url = "http://origin.test/x",
         .requestLine = "GET http://origin.test/x HTTP/1.1\r\n",
         .asked = "http://origin.test/x",
         .proxyAuthorization = false,
         .connecting = "proxy proxy.test:3128 (from update.ini)"},
        {.name = "direct by a bypass rule: the origin's own form, no proxy line",
         .route = {.Source = "no_proxy"},
         .url = "http://origin.test:81/x",
         .requestLine = "GET /x HTTP/1.1\r\n",
         .asked = "http://origin.test:81/x",
         .proxyAuthorization = false,
         .connecting = "origin.test:81 (direct, from no_proxy)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MemoryIOHandler peer({MemoryIOHandler::Script().ExpectRequest().Send(
            "HTTP/1.1 200 OK\r\nContent-Length: 2\r\nConnection: close\r\n\r\nok")});
        FakeSystem system;
        TIdHTTP http(nullptr, system);
        http.SetIOHandler(&peer);
        http.ProtocolVersion = c.version;
        FixedRoute resolver(c.route);
        http.SetProxyResolver(&resolver);
        TMemoryStream body;
        http.Get(c.url, body);
        EXPECT_EQ(body.ToString(), "ok");
        EXPECT_EQ(resolver.asked, c.asked);
        ASSERT_EQ(peer.Requests().size(), 1u);
        const std::string request = peer.Requests()[0];
        EXPECT_EQ(request.substr(0, c.requestLine.size()), c.requestLine) << request;
        // Basic of "alice:s3cret"
        EXPECT_EQ(request.find("\r\nProxy-Authorization: Basic YWxpY2U6czNjcmV0\r\n") != std::string::npos,
                  c.proxyAuthorization)
            << request;
        EXPECT_EQ(request.find("\r\nProxy-Connection: keep-alive\r\n") != std::string::npos, c.proxyConnection)
            << request;
        EXPECT_EQ(request.find("\r\nConnection:"), std::string::npos) << request;
        EXPECT_EQ(request.find("s3cret"), std::string::npos);
        EXPECT_EQ(http.ProxyParams().ProxyServer, c.route.Host);
        EXPECT_EQ(peer.ConnectingText, c.connecting);
    }
}

} // namespace
