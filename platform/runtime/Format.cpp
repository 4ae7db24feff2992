#include "platform/runtime/Format.h"

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
        if (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
            out = 0;
            while (i < fmt.size() && fmt[i] >= '0' && fmt[i] <= '9') {
                out = out * 10 + (fmt[i] - '0');
                if (out > 4096)
                    Invalid(fmt);
                ++i;
            }
        }
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
        const FormatArg& a = args[next++];
        std::string text;
        switch (s.conv) {
        case 's': {
            const auto* str = std::get_if<std::string>(&a);
            if (!str)
                Invalid(fmt);
            text = s.precision >= 0 ? str->substr(0, static_cast<size_t>(s.precision)) : *str;
            break;
        }
        case 'd':
        case 'u':
        case 'x': {
            const auto* n = std::get_if<std::int64_t>(&a);
            if (!n)
                Invalid(fmt);
            char buf[32];
            if (s.conv == 'd')
                std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(*n));
            else if (s.conv == 'u')
                std::snprintf(buf, sizeof buf, "%llu", static_cast<unsigned long long>(*n));
            else
                std::snprintf(buf, sizeof buf, "%llX", static_cast<unsigned long long>(*n));
            text = buf;
            if (s.precision > 0 && text.size() < static_cast<size_t>(s.precision)) {
                bool neg = !text.empty() && text[0] == '-';
                std::string digits = neg ? text.substr(1) : text;
                digits.insert(0, static_cast<size_t>(s.precision) - digits.size(), '0');
                text = neg ? "-" + digits : digits;
            }
            break;
        }
        case 'f': {
            const auto* d = std::get_if<double>(&a);
            if (!d)
                Invalid(fmt);
            char buf[512];
            std::snprintf(buf, sizeof buf, "%.*f", s.precision < 0 ? 2 : s.precision, *d);
            text = buf;
            break;
        }
        }
        Pad(out, text, s);
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
