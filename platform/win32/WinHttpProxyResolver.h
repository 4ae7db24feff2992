#pragma once
// The proxy on Windows: the user's own settings, as WinHTTP reads them
// (WinHttpGetIEProxyConfigForCurrentUser), in the order the system's browser applies them:
//   1. automatic detection and a PAC address: the script run by WinHttpGetProxyForUrl for
//      the address; its answer (a proxy, or direct) stands;
//   2. when no script could be fetched or run: the static proxy with its bypass list
//      ("<local>", wildcards), if one is set, else direct, as browsers do;
//   3. the static proxy and its bypass list alone.
// WINHTTP.DLL is loaded on first use, as WS2_32.DLL is. The settings are read once per
// object; the caller keeps the answer per address (a script run can take seconds).

#include "platform/proxy/ProxyResolver.h"

#include <optional>
#include <string>

namespace platform {

class WinHttpProxyResolver : public ProxyResolver {
public:
    ProxyRoute RouteFor(const std::string& url) override;

    // The user's settings as read, for the route's source texts and the tests.
    struct Settings {
        bool AutoDetect = false;
        std::string AutoConfigUrl;
        std::string Proxy;
        std::string Bypass;
    };
    // Nothing when WINHTTP.DLL or its settings cannot be had.
    static std::optional<Settings> ReadSettings();

private:
    // The script's answer for the address; nothing when it could not be fetched or run.
    std::optional<ProxyRoute> RunScript(const std::string& url, const Settings& settings);

    std::optional<std::optional<Settings>> settings_; // read on first use
};

} // namespace platform
