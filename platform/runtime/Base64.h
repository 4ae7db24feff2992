#pragma once
// Base64 with the standard alphabet and "=" padding, as keys and signatures are written in
// settings files. Decoding is strict: a length that is not a multiple of four, a byte
// outside the alphabet, padding anywhere but at the end, or padding bits that are not zero
// give nothing, so one text has exactly one reading.

#include <optional>
#include <string>
#include <string_view>

std::string Base64Encode(std::string_view bytes);
std::optional<std::string> Base64Decode(std::string_view text);
