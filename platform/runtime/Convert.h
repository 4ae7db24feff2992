#pragma once
// Number texts: integers in decimal or hexadecimal ("0x", "0X" or "$" prefix), and
// floating-point texts with a given decimal separator.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

// Decimal or hexadecimal integer with an optional sign and leading blanks; nothing else.
std::optional<std::int64_t> TryStrToInt64(std::string_view s);
// As TryStrToInt64, limited to 32 bits; throws EConvertError "'%s' is not a valid integer value".
int StrToInt(std::string_view s);
std::optional<int> TryStrToInt(std::string_view s);

// Blanks, sign, digits, optionally `separator` and digits, optionally an exponent, blanks.
// At least one digit or the separator must come before the exponent.
std::optional<double> TryStrToFloat(std::string_view s, char separator);

// "0.00": at least one digit, exactly two decimals, rounded, with the given separator.
std::string FormatFixed2(double value, char separator);
