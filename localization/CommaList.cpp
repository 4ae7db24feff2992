#include "localization/CommaList.h"

namespace {

// Bytes 1..32: blanks and controls. Byte values are unsigned so that the bytes of
// multi-byte characters (128 and above) are never taken for separators.
bool IsSkippable(char c)
{
    auto u = static_cast<unsigned char>(c);
    return u >= 1 && u <= 32;
}

bool EndsUnquotedItem(char c) { return static_cast<unsigned char>(c) <= 32 || c == ','; }

// The item that starts with the quote at `p`; a doubled quote inside stands for one quote.
// Leaves `p` after the closing quote, or at the end when there is none.
std::string ReadQuotedItem(std::string_view value, std::size_t& p)
{
    std::string item;
    const std::size_t n = value.size();
    ++p;
    while (p < n) {
        if (value[p] != '"') {
            item += value[p++];
        } else if (p + 1 < n && value[p + 1] == '"') {
            item += '"';
            p += 2;
        } else {
            ++p; // the closing quote
            break;
        }
    }
    return item;
}

} // namespace

std::vector<std::string> SplitCommaList(std::string_view value)
{
    // A NUL ends the text (a decoded overlong "C0 80" can put one inside a value). Neither
    // the skip rule (codes 1..32) nor an item (which stops at codes up to 32) would move
    // past it, so without this cut every round would add an empty item, for ever.
    value = value.substr(0, value.find('\0'));
    std::vector<std::string> items;
    const std::size_t n = value.size();
    std::size_t p = 0;
    auto skip = [&] {
        while (p < n && IsSkippable(value[p]))
            ++p;
    };

    skip();
    while (p < n) {
        std::string item;
        if (value[p] == '"') {
            item = ReadQuotedItem(value, p);
        } else {
            std::size_t start = p;
            while (p < n && !EndsUnquotedItem(value[p]))
                ++p;
            item.assign(value.substr(start, p - start));
        }
        items.push_back(std::move(item));

        skip();
        if (p < n && value[p] == ',') {
            if (p + 1 == n)
                items.emplace_back();
            ++p;
            skip();
        }
    }
    return items;
}
