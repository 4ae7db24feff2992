#include "update/UpdateProxyResolver.h"

#include "platform/proxy/ProxyAddress.h"
#include "platform/runtime/Strings.h"

UpdateProxyResolver::UpdateProxyResolver(platform::ProxyResolver* system, std::string setting, std::string source)
    : system_(system), setting_(Trim(setting)), source_(std::move(source))
{
}

platform::ProxyRoute UpdateProxyResolver::RouteFor(const std::string& url)
{
    const auto known = routes_.find(url);
    if (known != routes_.end())
        return known->second;
    platform::ProxyRoute route;
    if (SameText(setting_, kDirectProxySetting))
        route.Source = source_;
    else if (!setting_.empty())
        route = platform::ParseProxyAddress(setting_, source_);
    else if (system_)
        route = system_->RouteFor(url);
    routes_.emplace(url, route);
    return route;
}
