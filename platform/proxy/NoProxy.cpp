#include "platform/proxy/NoProxy.h"

#include "platform/runtime/Decimal.h"

#include <cctype>
#include <cstdint>
#include <optional>

namespace platform {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool SameTextView(std::string_view a, std::string_view b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::optional<std::uint32_t> ReadIPv4(std::string_view s)
{
    std::uint32_t value = 0;
    int parts = 0;
    while (parts < 4) {
        const DecimalPrefix part = ReadDecimalPrefix(s, 255, 3);
        if (part.Digits == 0 || part.TooLarge)
            return std::nullopt;
        value = (value << 8) | static_cast<std::uint32_t>(part.Value);
        s.remove_prefix(part.Digits);
        if (++parts < 4) {
            if (s.empty() || s.front() != '.')
                return std::nullopt;
            s.remove_prefix(1);
        }
    }
    if (!s.empty())
        return std::nullopt;
    return value;
}

// "10.0.0.0/8" or "127.0.0.2" against an IPv4 host.
bool MatchesIPv4(std::string_view entry, std::uint32_t host)
{
    int bits = 32;
    const auto slash = entry.find('/');
    if (slash != std::string_view::npos) {
        const auto prefixBits = ParseDecimal(entry.substr(slash + 1), 32);
        if (!prefixBits)
            return false;
        bits = static_cast<int>(*prefixBits);
        entry = entry.substr(0, slash);
    }
    const auto network = ReadIPv4(entry);
    if (!network)
        return false;
    const std::uint32_t mask = bits == 0 ? 0 : ~std::uint32_t{0} << (32 - bits);
    return (*network & mask) == (host & mask);
}

bool MatchesName(std::string_view entry, std::string_view host)
{
    if (!entry.empty() && entry.back() == '.')
        entry.remove_suffix(1);
    if (!entry.empty() && entry.front() == '.')
        entry.remove_prefix(1);
    if (entry.empty())
        return false;
    if (entry.size() == host.size())
        return SameTextView(entry, host);
    return entry.size() < host.size() && host[host.size() - entry.size() - 1] == '.' &&
           SameTextView(entry, host.substr(host.size() - entry.size()));
}

// One entry, its port (when it names one) already checked.
bool MatchesEntry(std::string_view entry, std::string_view host)
{
    if (const auto ip = ReadIPv4(host))
        return MatchesIPv4(entry, *ip);
    if (host.find(':') != std::string_view::npos) // IPv6
        return SameTextView(entry, host);
    return MatchesName(entry, host);
}

// Splits "name:port" and "[v6]:port"; an entry with several colons and no brackets is an
// IPv6 address without a port.
std::string_view EntryHost(std::string_view entry, std::optional<int>& port)
{
    std::string_view hostPart = entry;
    std::string_view portText;
    if (!entry.empty() && entry.front() == '[') {
        const auto close = entry.find(']');
        if (close == std::string_view::npos)
            return entry;
        hostPart = entry.substr(1, close - 1);
        if (close + 1 < entry.size() && entry[close + 1] == ':')
            portText = entry.substr(close + 2);
    } else {
        const auto colon = entry.find(':');
        if (colon != std::string_view::npos && entry.rfind(':') == colon) {
            hostPart = entry.substr(0, colon);
            portText = entry.substr(colon + 1);
        }
    }
    // A port that is not a number, or too large to be one, matches no address.
    if (!portText.empty())
        port = static_cast<int>(ParseDecimal(portText, 65535).value_or(-1));
    return hostPart;
}

} // namespace

bool NoProxyMatches(std::string_view list, const TargetAddress& target)
{
    std::string_view trimmed = list;
    while (!trimmed.empty() && IsBlank(trimmed.front()))
        trimmed.remove_prefix(1);
    while (!trimmed.empty() && IsBlank(trimmed.back()))
        trimmed.remove_suffix(1);
    if (trimmed == "*")
        return true;
    std::string_view host = target.Host;
    if (!host.empty() && host.back() == '.')
        host.remove_suffix(1);
    while (!list.empty()) {
        const auto end = list.find_first_of(", \t");
        const std::string_view entry = list.substr(0, end);
        list = end == std::string_view::npos ? std::string_view() : list.substr(end + 1);
        if (entry.empty())
            continue;
        std::optional<int> port;
        const std::string_view entryHost = EntryHost(entry, port);
        if (port && *port != target.Port)
            continue;
        if (MatchesEntry(entryHost, host))
            return true;
    }
    return false;
}

} // namespace platform
