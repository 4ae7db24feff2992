#pragma once
// The settings-file ("update.ini", "webinfo.ini") lookup as a function over the file's
// bytes, so that any backend and the tests share one reading of the format: section
// and key names match without regard to case, an absent section or key gives the
// default, and a value is returned at most kMaxProfileValue characters long.

#include <cstddef>
#include <string>
#include <string_view>

constexpr std::size_t kMaxProfileValue = 2047;

std::string ReadProfileString(std::string_view fileBytes, std::string_view section,
                              std::string_view key, std::string_view def);
