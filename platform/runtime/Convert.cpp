#include "platform/runtime/Convert.h"

#include "platform/runtime/Decimal.h"
#include "platform/runtime/Exception.h"

#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace {

// Where the digits of an integer text start, after blanks, a sign and a hexadecimal prefix.
struct IntegerPrefix {
    bool negative = false;
    unsigned base = 10;
    std::size_t digitsAt = 0;
};

IntegerPrefix ReadIntegerPrefix(std::string_view s)
{
    IntegerPrefix p;
    std::size_t& i = p.digitsAt;
    while (i < s.size() && s[i] == ' ')
        ++i;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        p.negative = s[i] == '-';
        ++i;
    }
    if (i < s.size() && s[i] == '$') {
        p.base = 16;
        ++i;
    } else if (i + 1 < s.size() && s[i] == '0' && (s[i + 1] == 'x' || s[i + 1] == 'X')) {
        p.base = 16;
        i += 2;
    }
    return p;
}

// The value of c as a digit of the base, or nullopt.
std::optional<unsigned> DigitValue(char c, unsigned base)
{
    if (c >= '0' && c <= '9')
        return static_cast<unsigned>(c - '0');
    if (base == 16 && c >= 'a' && c <= 'f')
        return static_cast<unsigned>(c - 'a' + 10);
    if (base == 16 && c >= 'A' && c <= 'F')
        return static_cast<unsigned>(c - 'A' + 10);
    return std::nullopt;
}

// The digits (at least one, nothing else) as a magnitude of at most `limit`.
std::optional<unsigned long long> ReadMagnitude(std::string_view digits, unsigned base, unsigned long long limit)
{
    if (base == 10)
        return ParseDecimal(digits, limit);
    if (digits.empty())
        return std::nullopt;
    unsigned long long v = 0;
    for (const char c : digits) {
        const auto d = DigitValue(c, base);
        if (!d || v > (limit - *d) / base)
            return std::nullopt;
        v = v * base + *d;
    }
    return v;
}

} // namespace

std::optional<std::int64_t> TryStrToInt64(std::string_view s)
{
    const IntegerPrefix p = ReadIntegerPrefix(s);
    const unsigned long long limit = p.negative ? 0x8000000000000000ull : 0x7FFFFFFFFFFFFFFFull;
    const auto v = ReadMagnitude(s.substr(p.digitsAt), p.base, limit);
    if (!v)
        return std::nullopt;
    if (p.negative)
        return *v == 0x8000000000000000ull ? std::numeric_limits<std::int64_t>::min() : -static_cast<std::int64_t>(*v);
    return static_cast<std::int64_t>(*v);
}

std::optional<int> TryStrToInt(std::string_view s)
{
    auto v = TryStrToInt64(s);
    if (!v || *v < std::numeric_limits<int>::min() || *v > std::numeric_limits<int>::max())
        return std::nullopt;
    return static_cast<int>(*v);
}

int StrToInt(std::string_view s)
{
    auto v = TryStrToInt(s);
    if (!v)
        throw EConvertError("'" + std::string(s) + "' is not a valid integer value");
    return *v;
}

namespace {

std::string_view TrimBlanks(std::string_view s)
{
    while (!s.empty() && s.front() == ' ')
        s.remove_prefix(1);
    while (!s.empty() && s.back() == ' ')
        s.remove_suffix(1);
    return s;
}

// Copies a sign at i, if there is one, onto canon.
void CopySign(std::string_view s, std::size_t& i, std::string& canon)
{
    if (i < s.size() && (s[i] == '+' || s[i] == '-'))
        canon += s[i++];
}

// Copies the digits at i onto canon; returns how many there were.
std::size_t CopyDigits(std::string_view s, std::size_t& i, std::string& canon)
{
    const std::size_t start = i;
    while (i < s.size() && s[i] >= '0' && s[i] <= '9')
        canon += s[i++];
    return i - start;
}

// The whole of s when it is a number by the rule, rewritten with '.' for the separator.
std::optional<std::string> CanonicalFloatText(std::string_view s, char separator)
{
    std::size_t i = 0;
    std::string canon;
    CopySign(s, i, canon);
    std::size_t mantissaChars = CopyDigits(s, i, canon);
    if (i < s.size() && s[i] == separator) {
        canon += '.';
        ++i;
        mantissaChars += 1 + CopyDigits(s, i, canon);
    }
    if (mantissaChars == 0)
        return std::nullopt;
    if (i < s.size() && (s[i] == 'e' || s[i] == 'E')) {
        canon += 'e';
        ++i;
        CopySign(s, i, canon);
        if (CopyDigits(s, i, canon) == 0)
            return std::nullopt;
    }
    if (i != s.size())
        return std::nullopt;
    return canon;
}

// Reads a canonical text without the C library's locale: once the toolkit has switched the
// process to the user's locale, strtod would stop at the "." written there under a ","
// locale.
std::optional<double> ReadCanonicalFloat(std::string_view canon)
{
    const bool negative = !canon.empty() && canon[0] == '-';
    std::string_view digits(canon);
    if (!digits.empty() && (digits[0] == '+' || digits[0] == '-'))
        digits.remove_prefix(1);
    // A lone separator ("." or "-.") is accepted by the rule and reads as zero.
    if (digits == "." || (digits.size() > 1 && digits[0] == '.' && (digits[1] == 'e')))
        return negative ? -0.0 : 0.0;
    double value = 0;
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (ec == std::errc::result_out_of_range) {
        // As strtod: too large is infinite, too small is zero.
        const bool tiny = digits.find("e-") != std::string_view::npos;
        value = tiny ? 0.0 : std::numeric_limits<double>::infinity();
    } else if (ec != std::errc() || end != digits.data() + digits.size()) {
        return std::nullopt; // cannot happen for a text the rule accepted
    }
    return negative ? -value : value;
}

} // namespace

std::optional<double> TryStrToFloat(std::string_view s, char separator)
{
    const auto canon = CanonicalFloatText(TrimBlanks(s), separator);
    if (!canon)
        return std::nullopt;
    return ReadCanonicalFloat(*canon);
}

std::string FormatFixed2(double value, char separator)
{
    if (!std::isfinite(value)) {
        char buf[16];
        std::snprintf(buf, sizeof buf, "%.2f", value);
        return buf;
    }
    // Two decimals, an exact half rounded away from zero (2.125 shows 2.13), which printf's
    // rounding to even does not do. The decision is taken on the value's exact decimal
    // expansion, so a value just below a half (2.135 is 2.13499... in binary) stays below.
    char buf[400];
    std::snprintf(buf, sizeof buf, "%.70f", std::fabs(value));
    std::string digits(buf);
    const std::size_t point = digits.find('.');
    const bool up = digits[point + 3] >= '5';
    std::string r = digits.substr(0, point) + digits.substr(point + 1, 2); // hundredths, as digits
    if (up) {
        std::size_t i = r.size();
        while (i > 0 && r[i - 1] == '9')
            r[--i] = '0';
        if (i == 0)
            r.insert(r.begin(), '1');
        else
            ++r[i - 1];
    }
    r.insert(r.size() - 2, 1, separator);
    if (std::signbit(value) && r.find_first_not_of(std::string("0") + separator) != std::string::npos)
        r.insert(r.begin(), '-');
    return r;
}
