#pragma once
// The proxy on Linux: the environment, read as curl reads it (platform/proxy/
// EnvironmentProxy.h). The desktop's own proxy settings are not read; see the README's
// "Networks with a proxy" for why.

#include "platform/proxy/ProxyResolver.h"

namespace platform {

class PosixProxyResolver : public ProxyResolver {
public:
    ProxyRoute RouteFor(const std::string& url) override;
};

} // namespace platform
