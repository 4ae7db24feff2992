#include "platform/proxy/ProxyAddress.h"

#include "platform/runtime/Decimal.h"

#include <cctype>

namespace platform {
namespace {

constexpr int kMaxPort = 65535;

std::string Lower(std::string_view s)
{
    std::string r(s);
    for (char& c : r)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return r;
}

std::string_view Trim(std::string_view s)
{
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front())))
        s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back())))
        s.remove_suffix(1);
    return s;
}

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// A port text of 1 to 5 digits within range; -1 otherwise.
int ReadPort(std::string_view text)
{
    const auto port = ParseDecimal(text, kMaxPort, 5);
    return port && *port >= 1 ? static_cast<int>(*port) : -1;
}

struct HostPort {
    std::string host;
    std::string_view portText;
    bool bracketed = false;
};

// "host", "host:port", "[v6]" or "[v6]:port".
HostPort SplitHostPort(std::string_view s)
{
    HostPort hp;
    if (!s.empty() && s.front() == '[') {
        const auto close = s.find(']');
        if (close == std::string_view::npos)
            return {std::string(s.substr(1)), {}, true};
        hp.host = std::string(s.substr(1, close - 1));
        hp.bracketed = true;
        s.remove_prefix(close + 1);
        if (!s.empty() && s.front() == ':')
            hp.portText = s.substr(1);
        return hp;
    }
    const auto colon = s.rfind(':');
    // More than one colon without brackets: an IPv6 address without a port.
    if (colon != std::string_view::npos && s.find(':') == colon) {
        hp.host = std::string(s.substr(0, colon));
        hp.portText = s.substr(colon + 1);
    } else {
        hp.host = std::string(s);
    }
    return hp;
}

ProxyRoute Refuse(const std::string& source, const std::string& what)
{
    ProxyRoute r;
    r.Source = source;
    r.Problem = "The proxy set by " + source + " cannot be used: " + what + ".";
    return r;
}

} // namespace

std::string PercentDecode(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = HexValue(text[i + 1]);
            const int lo = HexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

ProxyRoute ParseProxyAddress(std::string_view text, const std::string& source)
{
    text = Trim(text);
    if (text.size() > kMaxProxyAddressLength)
        return Refuse(source, "the address is longer than " + std::to_string(kMaxProxyAddressLength) + " bytes");
    const auto schemeEnd = text.find("://");
    if (schemeEnd != std::string_view::npos) {
        const std::string scheme = Lower(text.substr(0, schemeEnd));
        if (scheme != "http")
            return Refuse(source, "its scheme \"" + scheme + "\" is not supported (only http:// proxies are)");
        text.remove_prefix(schemeEnd + 3);
    }
    // The authority ends at the first "/", "?" or "#"; a path after it means nothing here.
    text = text.substr(0, text.find_first_of("/?#"));
    ProxyRoute route;
    route.Source = source;
    const auto at = text.rfind('@');
    if (at != std::string_view::npos) {
        const std::string_view userInfo = text.substr(0, at);
        const auto colon = userInfo.find(':');
        route.Username = PercentDecode(userInfo.substr(0, colon));
        if (colon != std::string_view::npos)
            route.Password = PercentDecode(userInfo.substr(colon + 1));
        text.remove_prefix(at + 1);
    }
    const HostPort hp = SplitHostPort(text);
    if (hp.host.empty())
        return Refuse(source, "it names no host");
    route.Host = hp.host;
    route.Port = kDefaultProxyPort;
    if (!hp.portText.empty()) {
        route.Port = ReadPort(hp.portText);
        if (route.Port < 0)
            return Refuse(source, "the port of " + hp.host + " is not a port number");
    }
    return route;
}

TargetAddress SplitTargetAddress(std::string_view url)
{
    TargetAddress t;
    t.Scheme = "http";
    const auto schemeEnd = url.find("://");
    if (schemeEnd != std::string_view::npos) {
        t.Scheme = Lower(url.substr(0, schemeEnd));
        url.remove_prefix(schemeEnd + 3);
    }
    url = url.substr(0, url.find_first_of("/?#"));
    const auto at = url.rfind('@');
    if (at != std::string_view::npos)
        url.remove_prefix(at + 1);
    const HostPort hp = SplitHostPort(url);
    t.Host = hp.host;
    t.Port = ReadPort(hp.portText);
    if (t.Port < 0)
        t.Port = t.Scheme == "https" ? 443 : 80;
    return t;
}

} // namespace platform
