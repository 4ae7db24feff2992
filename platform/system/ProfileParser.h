#pragma once
// The settings-file ("update.ini", "webinfo.ini") lookup as a function over the file's
// bytes, so that every backend, the tests and the fuzzer share one reading of the format.
//
// Reading rules:
// - A UTF-8 byte-order mark at the very start of the file is skipped, so a file saved by
//   an editor that writes one still has its first section found.
// - Lines end at CR LF, LF or a lone CR. Every line is trimmed of leading and trailing
//   bytes 0 to 32 (blanks, tabs, stray controls).
// - Empty lines and lines whose first byte is ";" are skipped (comments).
// - A line whose first byte is "[" opens a section. Its name is the text up to the first
//   "]" (to the end of the line when there is none), trimmed; anything after "]" is
//   ignored. Lines before the first section belong to no section and are never found.
// - Any other line is "key=value", split at the first "="; the key is trimmed. A line
//   without "=" or with an empty key is ignored.
// - Section and key names match without regard to the case of A-Z/a-z.
// - Only the first section with the asked name is searched, and in it the first line with
//   the asked key wins, even when its value is empty.
// - The value is trimmed. When it is at least two bytes long and begins and ends with the
//   same quote (" or '), that one pair is removed and the text between is kept as it is.
// - A NUL byte ends the value: values are texts, and a NUL could not travel through the
//   system's C-text interfaces anyway.
// - The value is then cut to kMaxProfileValue bytes; when the cut falls inside a UTF-8
//   multi-byte character, that partial character is dropped so the result stays valid text.
// - An absent section or key gives the default, returned unchanged.
// Arbitrary bytes (binary junk, NULs, unbalanced brackets or quotes) are read by the same
// rules and never fail.

#include <cstddef>
#include <string>
#include <string_view>

constexpr std::size_t kMaxProfileValue = 2047;

std::string ReadProfileString(std::string_view fileBytes, std::string_view section, std::string_view key,
                              std::string_view def);
