#pragma once
// Message formatting with the placeholders the catalogue texts use:
// %s (text), %d (integer), %u, %x, %% and an optional width/precision ("%5d", "%.2s").
// A placeholder that finds no argument or an argument of the wrong kind raises
// EConvertError "Format '<fmt>' invalid or incompatible with argument", so a
// translated text with the wrong placeholders fails where it is used, not silently.

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

using FormatArg = std::variant<std::string, std::int64_t, double>;

std::string Format(std::string_view fmt, const std::vector<FormatArg>& args);

// The placeholders of a format text in order, as their conversion letters ("ssd").
// Throws EConvertError for a malformed placeholder.
std::string FormatPlaceholders(std::string_view fmt);
