#include "platform/runtime/Decimal.h"

DecimalPrefix ReadDecimalPrefix(std::string_view text, std::uint64_t maximum, std::size_t maxDigits)
{
    DecimalPrefix r;
    for (const char c : text) {
        if (c < '0' || c > '9' || (maxDigits != 0 && r.Digits == maxDigits))
            break;
        ++r.Digits;
        const auto digit = static_cast<std::uint64_t>(c - '0');
        // Checked before it is added, so that the value never wraps round.
        if (r.TooLarge || maximum < digit || r.Value > (maximum - digit) / 10) {
            r.TooLarge = true;
            r.Value = maximum;
        } else {
            r.Value = r.Value * 10 + digit;
        }
    }
    return r;
}

std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t maximum, std::size_t maxDigits)
{
    // One digit more than allowed is read, so that a text longer than maxDigits is told
    // from one that ends there.
    const DecimalPrefix r = ReadDecimalPrefix(text, maximum, maxDigits == 0 ? 0 : maxDigits + 1);
    if (r.Digits == 0 || r.Digits != text.size() || r.TooLarge || (maxDigits != 0 && r.Digits > maxDigits))
        return std::nullopt;
    return r.Value;
}
