#include "http/IdHeaderList.h"

#include "platform/runtime/Strings.h"

namespace {

bool IsContinuation(const std::string& line) { return !line.empty() && (line[0] == ' ' || line[0] == '\t'); }

bool IsFoldBreak(char c) { return c == ' ' || c == '\t' || c == ','; }
bool IsSkippedAfterBreak(char c) { return IsFoldBreak(c) || c == '\r' || c == '\n'; }

} // namespace

void TIdHeaderList::AddStrings(const TIdHeaderList& other)
{
    lines_.insert(lines_.end(), other.lines_.begin(), other.lines_.end());
}

std::string TIdHeaderList::Names(std::size_t i) const
{
    const std::string& line = lines_[i];
    size_t colon = line.find(':');
    return colon == std::string::npos ? std::string() : line.substr(0, colon);
}

int TIdHeaderList::IndexOfName(std::string_view name) const
{
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameText(std::string_view(line).substr(0, colon), name))
            return static_cast<int>(i);
    }
    return -1;
}

std::size_t TIdHeaderList::ContinuationCount(std::size_t i) const
{
    std::size_t n = 0;
    while (i + 1 + n < lines_.size() && IsContinuation(lines_[i + 1 + n]))
        ++n;
    return n;
}

std::string TIdHeaderList::ValueAt(std::size_t i) const
{
    const std::string& line = lines_[i];
    std::string value = Trim(std::string_view(line).substr(line.find(':') + 1));
    const std::size_t n = ContinuationCount(i);
    // Each continuation line joins as trimmed-so-far + " " + trimmed line. The value grows in
    // place: rebuilding it for every line would let a server that sends many short
    // continuation lines make the read cost time in the square of the block's size.
    for (std::size_t k = 1; k <= n; ++k) {
        while (!value.empty() && static_cast<unsigned char>(value.back()) <= 32)
            value.pop_back();
        // An empty value so far has no blank to keep: the trim would remove it again.
        if (!value.empty())
            value += ' ';
        value += Trim(lines_[i + k]);
    }
    return Trim(value);
}

std::string TIdHeaderList::Values(std::string_view name) const
{
    int i = IndexOfName(name);
    return i < 0 ? std::string() : ValueAt(static_cast<std::size_t>(i));
}

std::vector<std::string> TIdHeaderList::Extract(std::string_view name) const
{
    std::vector<std::string> values;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        const std::string& line = lines_[i];
        size_t colon = line.find(':');
        if (colon != std::string::npos && SameText(std::string_view(line).substr(0, colon), name))
            values.push_back(ValueAt(i));
    }
    return values;
}

void TIdHeaderList::SetValue(std::string_view name, std::string_view value)
{
    int found = IndexOfName(name);
    std::size_t at = lines_.size();
    if (found >= 0) {
        at = static_cast<std::size_t>(found);
        auto first = lines_.begin() + static_cast<std::ptrdiff_t>(at);
        lines_.erase(first, first + 1 + static_cast<std::ptrdiff_t>(ContinuationCount(at)));
    }
    if (value.empty())
        return;
    std::string line(name);
    line += ": ";
    line += value;
    auto pieces = FoldLine(line, foldLength_);
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), pieces.begin(), pieces.end());
}

std::vector<std::string> TIdHeaderList::FoldLine(std::string_view line, int foldLength)
{
    std::vector<std::string> pieces;
    const std::size_t limit = foldLength > 0 ? static_cast<std::size_t>(foldLength) : 0;
    std::size_t start = 0;   // first character of the current piece
    std::size_t breakAt = 0; // last break character of the current piece, when hasBreak
    bool hasBreak = false;
    bool quoted = false;
    std::size_t i = 0;
    while (i < line.size()) {
        const char c = line[i];
        if (c == '"')
            quoted = !quoted;
        else if (!quoted && IsFoldBreak(c) && i > start) {
            breakAt = i;
            hasBreak = true;
        }
        ++i;
        // The piece has run past the fold length: cut it after the last break seen. A quoted
        // stretch is never cut, and a piece without a break stays long.
        const std::size_t lead = pieces.empty() ? 0 : 1; // the blank that starts a continuation
        if (limit > 0 && !quoted && hasBreak && lead + i - start > limit) {
            pieces.push_back(TrimRight(line.substr(start, breakAt - start + 1)));
            std::size_t next = breakAt + 1;
            while (next < line.size() && IsSkippedAfterBreak(line[next]))
                ++next;
            start = next;
            i = next;
            hasBreak = false;
            quoted = false; // breaks are only taken outside quotes
        }
    }
    if (start < line.size() || pieces.empty())
        pieces.push_back(TrimRight(line.substr(start)));
    for (std::size_t k = 1; k < pieces.size(); ++k)
        pieces[k].insert(0, " ");
    return pieces;
}
