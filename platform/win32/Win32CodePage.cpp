// The narrow code page on Windows: the ANSI code page, through WideCharToMultiByte.

#include "platform/system/CodePage.h"
#include "platform/win32/WindowsHeaders.h"

namespace platform {

std::string WideToCodePage(std::u16string_view text)
{
    if (text.empty())
        return {};
    const auto* wide = reinterpret_cast<const wchar_t*>(text.data());
    const int count = static_cast<int>(text.size());
    const int n = ::WideCharToMultiByte(CP_ACP, 0, wide, count, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<std::size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        ::WideCharToMultiByte(CP_ACP, 0, wide, count, out.data(), n, nullptr, nullptr);
    return out;
}

} // namespace platform
