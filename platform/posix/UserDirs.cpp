#include "platform/posix/UserDirs.h"

namespace platform {

namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

void SkipSpaces(std::string_view& s)
{
    while (!s.empty() && IsSpace(s.front()))
        s.remove_prefix(1);
}

// One line's value for `name`, or nothing when the line does not validly assign it.
std::optional<std::string> ValueOfLine(std::string_view line, std::string_view name, const std::string& home)
{
    SkipSpaces(line);
    if (line.substr(0, name.size()) != name)
        return std::nullopt;
    line.remove_prefix(name.size());
    SkipSpaces(line);
    if (line.empty() || line.front() != '=')
        return std::nullopt;
    line.remove_prefix(1);
    SkipSpaces(line);
    if (line.empty() || line.front() != '"')
        return std::nullopt;
    line.remove_prefix(1);

    std::string text;
    bool closed = false;
    while (!line.empty()) {
        char c = line.front();
        line.remove_prefix(1);
        if (c == '"') {
            closed = true;
            break;
        }
        if (c == '\\' && !line.empty()) {
            c = line.front();
            line.remove_prefix(1);
        }
        text += c;
    }
    if (!closed)
        return std::nullopt;

    constexpr std::string_view kHome = "$HOME";
    if (text.compare(0, kHome.size(), kHome) == 0 && (text.size() == kHome.size() || text[kHome.size()] == '/')) {
        if (home.empty())
            return std::nullopt;
        return home + text.substr(kHome.size());
    }
    if (!text.empty() && text.front() == '/')
        return text;
    return std::nullopt;
}

} // namespace

std::optional<std::string> ReadUserDir(std::string_view fileBytes, std::string_view name, const std::string& home)
{
    std::optional<std::string> found;
    while (!fileBytes.empty()) {
        size_t end = fileBytes.find('\n');
        std::string_view line = fileBytes.substr(0, end);
        fileBytes.remove_prefix(end == std::string_view::npos ? fileBytes.size() : end + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (auto v = ValueOfLine(line, name, home))
            found = std::move(v);
    }
    return found;
}

} // namespace platform
