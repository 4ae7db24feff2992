#include "platform/system/ProfileParser.h"

#include "platform/runtime/Strings.h"

namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return static_cast<unsigned char>(c) <= 32; }

std::string_view TrimView(std::string_view s)
{
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Splits the bytes into lines at CR LF, LF or CR, one call per line.
class LineReader {
public:
    explicit LineReader(std::string_view bytes) : rest_(bytes) {}

    bool Next(std::string_view& line)
    {
        if (done_)
            return false;
        size_t end = rest_.find_first_of("\r\n");
        if (end == std::string_view::npos) {
            line = rest_;
            done_ = true;
            return true;
        }
        line = rest_.substr(0, end);
        size_t skip = (rest_[end] == '\r' && end + 1 < rest_.size() && rest_[end + 1] == '\n') ? 2 : 1;
        rest_.remove_prefix(end + skip);
        return true;
    }

private:
    std::string_view rest_;
    bool done_ = false;
};

// Length of `s` cut to at most `max` bytes without leaving a partial UTF-8 sequence at the end.
size_t CutLength(std::string_view s, size_t max)
{
    if (s.size() <= max)
        return s.size();
    size_t cut = max;
    // Walk back over continuation bytes (10xxxxxx) to the lead byte of the last character.
    size_t lead = cut;
    while (lead > 0 && lead + 3 > cut && (static_cast<unsigned char>(s[lead - 1]) & 0xC0) == 0x80)
        --lead;
    if (lead == 0)
        return cut;
    unsigned char b = static_cast<unsigned char>(s[lead - 1]);
    size_t need = (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : (b & 0xF8) == 0xF0 ? 4 : 0;
    size_t have = cut - (lead - 1);
    // Only a genuine lead byte whose sequence the cut breaks is dropped, with its tail.
    if (need > have)
        return lead - 1;
    return cut;
}

std::string ValueOf(std::string_view raw)
{
    std::string_view v = TrimView(raw);
    if (v.size() >= 2 && (v.front() == '"' || v.front() == '\'') && v.back() == v.front())
        v = v.substr(1, v.size() - 2);
    if (size_t nul = v.find('\0'); nul != std::string_view::npos)
        v = v.substr(0, nul);
    return std::string(v.substr(0, CutLength(v, kMaxProfileValue)));
}

} // namespace

std::string ReadProfileString(std::string_view fileBytes, std::string_view section, std::string_view key,
                              std::string_view def)
{
    if (fileBytes.substr(0, kUtf8Bom.size()) == kUtf8Bom)
        fileBytes.remove_prefix(kUtf8Bom.size());

    // Only the first section with the asked name is searched: its end ends the lookup.
    bool inside = false;
    LineReader lines(fileBytes);
    std::string_view line;
    while (lines.Next(line)) {
        line = TrimView(line);
        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[') {
            if (inside)
                break;
            std::string_view name = line.substr(1);
            name = TrimView(name.substr(0, name.find(']')));
            if (SameText(name, section))
                inside = true;
            continue;
        }
        if (!inside)
            continue;
        size_t eq = line.find('=');
        if (eq == std::string_view::npos)
            continue;
        std::string_view name = TrimView(line.substr(0, eq));
        if (!name.empty() && SameText(name, key))
            return ValueOf(line.substr(eq + 1));
    }
    return std::string(def);
}
