#pragma once
// The proxy of the environment, read as curl reads it, so that a machine set up for the
// command-line tools is set up for the updater too:
//   1. "no_proxy" (else "NO_PROXY"): a target it matches goes directly (see NoProxy.h);
//   2. "<scheme>_proxy" in lower case ("http_proxy", "https_proxy"), and for schemes other
//      than http also in upper case ("HTTPS_PROXY"). "HTTP_PROXY" is never read: a CGI
//      program gets it from a request's "Proxy:" header, so a server could set it;
//   3. "all_proxy", else "ALL_PROXY".
// An empty variable counts as unset. The proxy address is read by ParseProxyAddress; the
// route's Source names the variable that decided, as it is spelled.

#include "platform/proxy/ProxyResolver.h"

#include <functional>
#include <optional>
#include <string>

namespace platform {

// The value of an environment variable; nothing when it is not set.
using EnvironmentLookup = std::function<std::optional<std::string>(const std::string& name)>;

ProxyRoute RouteFromEnvironment(const std::string& url, const EnvironmentLookup& lookup);

} // namespace platform
