#include "localization/LangFile.h"

#include "platform/runtime/Convert.h"
#include "platform/runtime/Strings.h"

namespace {

const std::vector<TLangFile::Line> kNoLines;

} // namespace

void TLangFile::AddSection(std::string_view name)
{
    // Assigning a fresh section drops the lines of an earlier one of the same name: only
    // the last occurrence is ever read.
    current_ = UpperCase(name);
    sections_[current_] = Section{};
    hasCurrent_ = true;
}

void TLangFile::AddLine(Line line)
{
    // Lines before the first section header belong to no section and are dropped.
    if (!hasCurrent_)
        return;
    Section& s = sections_[current_];
    if (line.IsKey)
        s.Keys[UpperCase(line.Key)] = s.Lines.size();
    s.Lines.push_back(std::move(line));
}

const TLangFile::Section* TLangFile::Find(std::string_view section) const
{
    auto it = sections_.find(UpperCase(section));
    return it == sections_.end() ? nullptr : &it->second;
}

const TLangFile::Line* TLangFile::FindLine(std::string_view section, std::string_view key) const
{
    const Section* s = Find(section);
    if (!s)
        return nullptr;
    auto it = s->Keys.find(UpperCase(key));
    return it == s->Keys.end() ? nullptr : &s->Lines[it->second];
}

std::string TLangFile::ReadString(std::string_view section, std::string_view key, std::string_view def) const
{
    const Line* line = FindLine(section, key);
    return line ? line->Value : std::string(def);
}

bool TLangFile::ReadBool(std::string_view section, std::string_view key, bool def) const
{
    const Line* line = FindLine(section, key);
    if (!line || line->Value.empty())
        return def;
    // 64 bits: any integer text a person writes counts, not only those of 32 bits.
    auto v = TryStrToInt64(line->Value);
    return v ? *v != 0 : def;
}

bool TLangFile::SectionExists(std::string_view section) const
{
    const Section* s = Find(section);
    return s && !s->Lines.empty();
}

bool TLangFile::ValueExists(std::string_view section, std::string_view key) const
{
    return FindLine(section, key) != nullptr;
}

const std::vector<TLangFile::Line>& TLangFile::SectionLines(std::string_view section) const
{
    const Section* s = Find(section);
    return s ? s->Lines : kNoLines;
}

TLangFile ParseLangFile(std::string_view bytes)
{
    // Nothing after a NUL byte is text.
    if (auto nul = bytes.find('\0'); nul != std::string_view::npos)
        bytes = bytes.substr(0, nul);

    TLangFile file;
    std::size_t pos = 0;
    while (pos < bytes.size()) {
        // Splitting at every CR and every LF reads CR LF as a line end followed by an
        // empty line, which is ignored like any other.
        std::size_t end = bytes.find_first_of("\r\n", pos);
        if (end == std::string_view::npos)
            end = bytes.size();
        std::string line = Trim(bytes.substr(pos, end - pos));
        pos = end + 1;

        if (line.empty() || line.front() == ';')
            continue;
        if (line.front() == '[' && line.back() == ']' && line.size() >= 2) {
            file.AddSection(Trim(std::string_view(line).substr(1, line.size() - 2)));
            continue;
        }
        if (auto eq = line.find('='); eq != std::string::npos)
            file.AddLine({.IsKey = true, .Key = Trim(line.substr(0, eq)), .Value = Trim(line.substr(eq + 1))});
        else
            file.AddLine({.IsKey = false, .Key = std::move(line), .Value = {}});
    }
    return file;
}
