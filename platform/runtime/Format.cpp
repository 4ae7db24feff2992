#include "platform/runtime/Format.h"

#include "platform/runtime/Decimal.h"
#include "platform/runtime/Exception.h"

#include <cstdio>

namespace {

[[noreturn]] void Invalid(std::string_view fmt)
{
    throw EConvertError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}

struct Placeholder {
    bool left = false;
    int width = -1;
    int precision = -1;
    char conv = 0;
};

// Parses the placeholder starting after '%' at position i; returns the placeholder and advances i.
Placeholder ParsePlaceholder(std::string_view fmt, size_t& i)
{
    Placeholder s;
    if (i < fmt.size() && fmt[i] == '-') {
        s.left = true;
        ++i;
    }
    auto number = [&](int& out) {
        const DecimalPrefix r = ReadDecimalPrefix(fmt.substr(i), 4096);
        if (r.TooLarge)
            Invalid(fmt);
        if (r.Digits > 0)
            out = static_cast<int>(r.Value);
        i += r.Digits;
    };
    number(s.width);
    if (i < fmt.size() && fmt[i] == '.') {
        ++i;
        s.precision = 0;
        number(s.precision);
    }
    if (i >= fmt.size())
        Invalid(fmt);
    char c = fmt[i++];
    if (c >= 'A' && c <= 'Z')
        c = static_cast<char>(c - 'A' + 'a');
    if (c != 's' && c != 'd' && c != 'u' && c != 'x' && c != 'f')
        Invalid(fmt);
    s.conv = c;
    return s;
}

void Pad(std::string& out, const std::string& text, const Placeholder& s)
{
    size_t w = s.width < 0 ? 0 : static_cast<size_t>(s.width);
    if (text.size() >= w) {
        out += text;
    } else if (s.left) {
        out += text;
        out.append(w - text.size(), ' ');
    } else {
        out.append(w - text.size(), ' ');
        out += text;
    }
}

// The argument of the placeholder, which must hold a T.
template <typename T>
const T& ArgOfKind(const FormatArg& a, std::string_view fmt)
{
    const auto* value = std::get_if<T>(&a);
    if (!value)
        Invalid(fmt);
    return *value;
}

// %s: the text, cut to the precision when one is given.
std::string FormatText(const Placeholder& s, const FormatArg& a, std::string_view fmt)
{
    const std::string& str = ArgOfKind<std::string>(a, fmt);
    return s.precision >= 0 ? str.substr(0, static_cast<size_t>(s.precision)) : str;
}

// %d, %u, %x: the integer, its digits widened with zeros to the precision (after a sign).
std::string FormatInteger(const Placeholder& s, const FormatArg& a, std::string_view fmt)
{
    const std::int64_t n = ArgOfKind<std::int64_t>(a, fmt);
    char buf[32];
    if (s.conv == 'd')
        std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n));
    else if (s.conv == 'u')
        std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(n));
    else
        std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(n));
    std::string text = buf;
    if (s.precision <= 0 || text.size() >= static_cast<size_t>(s.precision))
        return text;
    const bool neg = text[0] == '-';
    std::string digits = neg ? text.substr(1) : text;
    digits.insert(0, static_cast<size_t>(s.precision) - digits.size(), '0');
    return neg ? "-" + digits : digits;
}

// %f: fixed-point with the precision's decimals, two when none is given.
std::string FormatFloat(const Placeholder& s, const FormatArg& a, std::string_view fmt)
{
    const double d = ArgOfKind<double>(a, fmt);
    char buf[512];
    std::snprintf(buf, sizeof buf, "%.*f", s.precision < 0 ? 2 : s.precision, d);
    return buf;
}

std::string FormatOne(const Placeholder& s, const FormatArg& a, std::string_view fmt)
{
    switch (s.conv) {
    case 's':
        return FormatText(s, a, fmt);
    case 'f':
        return FormatFloat(s, a, fmt);
    default: // 'd', 'u', 'x': ParsePlaceholder lets no other letter through
        return FormatInteger(s, a, fmt);
    }
}

} // namespace

std::string Format(std::string_view fmt, const std::vector<FormatArg>& args)
{
    std::string out;
    out.reserve(fmt.size() + 32);
    size_t next = 0;
    for (size_t i = 0; i < fmt.size();) {
        char c = fmt[i++];
        if (c != '%') {
            out += c;
            continue;
        }
        if (i < fmt.size() && fmt[i] == '%') {
            out += '%';
            ++i;
            continue;
        }
        Placeholder s = ParsePlaceholder(fmt, i);
        if (next >= args.size())
            Invalid(fmt);
        Pad(out, FormatOne(s, args[next++], fmt), s);
    }
    return out;
}

std::string FormatPlaceholders(std::string_view fmt)
{
    std::string convs;
    for (size_t i = 0; i < fmt.size();) {
        if (fmt[i++] != '%')
            continue;
        if (i < fmt.size() && fmt[i] == '%') {
            ++i;
            continue;
        }
        convs += ParsePlaceholder(fmt, i).conv;
    }
    return convs;
}
