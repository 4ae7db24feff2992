#include "platform/posix/PosixProxyResolver.h"

#include "platform/proxy/EnvironmentProxy.h"

#include <cstdlib>

namespace platform {

ProxyRoute PosixProxyResolver::RouteFor(const std::string& url)
{
    return RouteFromEnvironment(url, [](const std::string& name) -> std::optional<std::string> {
        const char* value = std::getenv(name.c_str());
        if (!value)
            return std::nullopt;
        return std::string(value);
    });
}

} // namespace platform
