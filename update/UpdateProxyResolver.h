#pragma once
// The proxy the updater uses for each address. A setting of its own ("update.ini",
// [Current] "Proxy": "http://[user:password@]host:port" or "direct"; httpget's --proxy)
// overrides everything; otherwise the platform's answer stands (the environment on Linux,
// the user's settings on Windows). Each address is resolved once: the answer is kept for
// the life of the object, so a PAC script runs once per address, not per request.

#include "platform/proxy/ProxyResolver.h"

#include <map>
#include <string>

// The value of an override that means "no proxy, whatever the system says".
inline constexpr const char* kDirectProxySetting = "direct";

class UpdateProxyResolver : public platform::ProxyResolver {
public:
    // system: the platform's resolver (borrowed; null: direct unless overridden).
    // setting: the override's text ("" none); source: where it came from, for texts
    // ("update.ini", "--proxy").
    UpdateProxyResolver(platform::ProxyResolver* system, std::string setting, std::string source);

    platform::ProxyRoute RouteFor(const std::string& url) override;

private:
    platform::ProxyResolver* system_;
    std::string setting_;
    std::string source_;
    std::map<std::string, platform::ProxyRoute> routes_;
};
