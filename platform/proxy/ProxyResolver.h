#pragma once
// Which way a connection to an address goes: straight to the server, or through which HTTP
// proxy with which credentials, and where that answer came from. The client asks once per
// address and follows the answer; it never falls back to another way by itself.

#include <string>

namespace platform {

struct ProxyRoute {
    // The proxy's host name or address; empty: connect directly.
    std::string Host{};
    int Port = 0;
    // Credentials for the proxy's Basic authentication; empty user: none.
    std::string Username{};
    std::string Password{};
    // Where the answer came from, for status texts and the log ("http_proxy", "no_proxy",
    // "update.ini", "--proxy", "the system's settings" ...). Empty: nothing was configured,
    // so the connection goes directly without a reason worth telling.
    std::string Source{};
    // A setting that was found but cannot be followed (a SOCKS proxy, an address that does
    // not parse). The connection must then fail with this text rather than go another way.
    // It never holds a password.
    std::string Problem{};

    bool Direct() const { return Host.empty(); }
};

class ProxyResolver {
public:
    virtual ~ProxyResolver() = default;
    // The route for an absolute address ("http://host:port/path?query", without a user part
    // or bookmark). May take time (a PAC script) and must not throw.
    virtual ProxyRoute RouteFor(const std::string& url) = 0;
};

} // namespace platform
