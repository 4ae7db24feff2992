#pragma once
// Small text helpers shared by every layer. All work on narrow bytes; letter-case
// changes touch A-Z / a-z only, so multi-byte characters pass through unchanged.

#include <string>
#include <string_view>
#include <vector>

// Removes every leading and trailing byte with a value of 0 to 32.
std::string Trim(std::string_view s);
std::string TrimLeft(std::string_view s);
std::string TrimRight(std::string_view s);
std::string LowerCase(std::string_view s);
std::string UpperCase(std::string_view s);
bool SameText(std::string_view a, std::string_view b);
// Replaces every occurrence of `from` (exact case), scanning left to right without rescanning
// the inserted text.
std::string ReplaceAll(std::string_view s, std::string_view from, std::string_view to);
bool StartsWithText(std::string_view s, std::string_view prefix);
bool EndsWithText(std::string_view s, std::string_view suffix);
