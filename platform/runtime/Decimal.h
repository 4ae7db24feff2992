#pragma once
// Unsigned decimal numbers in texts: the one reader behind every count, size, port, date
// part and status code the program takes from a file, a header or a command line. It knows
// only the digits 0 to 9: a sign, a blank or a prefix is the caller's to allow and remove,
// so that each text keeps its own rules on those.

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <string_view>

inline constexpr std::uint64_t kDecimalNoMaximum = std::numeric_limits<std::uint64_t>::max();

// The whole text as a decimal number: at least one digit and nothing but digits; leading
// zeros read as usual ("007" is 7). Nothing when the value is above `maximum`, or when
// `maxDigits` is not 0 and there are more digits than that (leading zeros count).
std::optional<std::uint64_t> ParseDecimal(std::string_view text, std::uint64_t maximum = kDecimalNoMaximum,
                                          std::size_t maxDigits = 0);

// The digits at the start of a text, for texts where something may follow them.
struct DecimalPrefix {
    std::size_t Digits = 0;  // how many characters were read: the digits, at most maxDigits
    std::uint64_t Value = 0; // their value; `maximum` when they go above it
    bool TooLarge = false;   // the digits went above `maximum`
};

// Reads the digits at the start of `text`, at most `maxDigits` of them when that is not 0.
// Never fails: no digit gives Digits 0.
DecimalPrefix ReadDecimalPrefix(std::string_view text, std::uint64_t maximum = kDecimalNoMaximum,
                                std::size_t maxDigits = 0);
