#include "platform/proxy/WindowsProxyList.h"

#include <cctype>
#include <vector>

namespace platform {
namespace {

char Lower(char c) { return static_cast<char>(std::tolower(static_cast<unsigned char>(c))); }

std::vector<std::string_view> SplitEntries(std::string_view list, std::string_view separators)
{
    std::vector<std::string_view> entries;
    while (!list.empty()) {
        const auto end = list.find_first_of(separators);
        const std::string_view entry = list.substr(0, end);
        if (!entry.empty())
            entries.push_back(entry);
        if (end == std::string_view::npos)
            break;
        list.remove_prefix(end + 1);
    }
    return entries;
}

// "*" any run of characters, "?" one character; without regard to case.
bool WildcardMatch(std::string_view pattern, std::string_view text)
{
    std::size_t p = 0;
    std::size_t t = 0;
    std::size_t star = std::string_view::npos;
    std::size_t resume = 0;
    while (t < text.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || Lower(pattern[p]) == Lower(text[t]))) {
            ++p;
            ++t;
        } else if (p < pattern.size() && pattern[p] == '*') {
            star = p++;
            resume = t;
        } else if (star != std::string_view::npos) {
            p = star + 1;
            t = ++resume;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

std::string_view WithoutScheme(std::string_view entry)
{
    const auto at = entry.find("://");
    return at == std::string_view::npos ? entry : entry.substr(at + 3);
}

} // namespace

ProxyRoute PickFromProxyList(std::string_view list, const TargetAddress& target, const std::string& source)
{
    std::string_view chosen;
    bool found = false;
    for (const std::string_view entry : SplitEntries(list, "; \t")) {
        const auto equals = entry.find('=');
        if (equals == std::string_view::npos) {
            if (!found) {
                chosen = entry;
                found = true;
            }
            continue;
        }
        std::string scheme(entry.substr(0, equals));
        for (char& c : scheme)
            c = Lower(c);
        if (scheme == target.Scheme) {
            chosen = entry.substr(equals + 1);
            found = true;
            break;
        }
    }
    if (!found)
        return {.Source = source};
    ProxyRoute route = ParseProxyAddress(WithoutScheme(chosen), source);
    // ParseProxyAddress gives curl's default port; the Windows settings mean port 80.
    if (route.Problem.empty() && WithoutScheme(chosen).find(':') == std::string_view::npos)
        route.Port = kWindowsDefaultProxyPort;
    return route;
}

bool BypassListMatches(std::string_view list, const TargetAddress& target)
{
    const std::string hostPort = target.Host + ":" + std::to_string(target.Port);
    for (std::string_view entry : SplitEntries(list, ";, \t")) {
        if (entry == "<local>") {
            if (target.Host.find('.') == std::string::npos && target.Host.find(':') == std::string::npos)
                return true;
            continue;
        }
        entry = WithoutScheme(entry);
        const bool withPort = entry.find(':') != std::string_view::npos && entry.front() != '[';
        if (WildcardMatch(entry, withPort ? std::string_view(hostPort) : std::string_view(target.Host)))
            return true;
    }
    return false;
}

} // namespace platform
