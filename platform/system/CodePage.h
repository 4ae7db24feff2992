#pragma once
// The platform's narrow code page: UTF-8 on Linux, the ANSI code page on Windows.

#include <string>
#include <string_view>

namespace platform {

// 16-bit characters to the narrow code page. A character the code page cannot hold becomes
// its substitute (U+FFFD in UTF-8, the code page's default character elsewhere); a lone
// surrogate, which no narrow text can hold, is such a character.
std::string WideToCodePage(std::u16string_view text);

} // namespace platform
