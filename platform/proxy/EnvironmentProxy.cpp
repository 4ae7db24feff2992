#include "platform/proxy/EnvironmentProxy.h"

#include "platform/proxy/NoProxy.h"
#include "platform/proxy/ProxyAddress.h"

#include <cctype>

namespace platform {
namespace {

std::string Upper(std::string s)
{
    for (char& c : s)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return s;
}

// The first of the names that is set to something; its name comes back in `found`.
std::optional<std::string> FirstSet(const EnvironmentLookup& lookup, std::initializer_list<std::string> names,
                                    std::string& found)
{
    for (const std::string& name : names) {
        auto value = lookup(name);
        if (value && !value->empty()) {
            found = name;
            return value;
        }
    }
    return std::nullopt;
}

} // namespace

ProxyRoute RouteFromEnvironment(const std::string& url, const EnvironmentLookup& lookup)
{
    const TargetAddress target = SplitTargetAddress(url);
    std::string name;
    if (const auto noProxy = FirstSet(lookup, {"no_proxy", "NO_PROXY"}, name)) {
        if (NoProxyMatches(*noProxy, target))
            return {.Source = name};
    }
    const std::string schemeVariable = target.Scheme + "_proxy";
    std::optional<std::string> proxy;
    if (target.Scheme == "http")
        proxy = FirstSet(lookup, {schemeVariable}, name);
    else
        proxy = FirstSet(lookup, {schemeVariable, Upper(schemeVariable)}, name);
    if (!proxy)
        proxy = FirstSet(lookup, {"all_proxy", "ALL_PROXY"}, name);
    if (!proxy)
        return {};
    return ParseProxyAddress(*proxy, name);
}

} // namespace platform
