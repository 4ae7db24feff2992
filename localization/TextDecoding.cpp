#include "localization/TextDecoding.h"

#include "platform/system/CodePage.h"

std::u16string Utf8ToWide(std::string_view bytes)
{
    std::u16string out;
    out.reserve(bytes.size());
    const std::size_t n = bytes.size();
    std::size_t i = 0;
    // A following byte must be present and in 128..191; it adds its low 6 bits.
    auto follow = [&](char16_t& ch) {
        if (i >= n)
            return false;
        auto b = static_cast<unsigned char>(bytes[i++]);
        if ((b & 0xC0) != 0x80)
            return false;
        ch = static_cast<char16_t>((ch << 6) | (b & 0x3F));
        return true;
    };
    while (i < n) {
        auto lead = static_cast<unsigned char>(bytes[i++]);
        if (lead < 0x80) {
            out += static_cast<char16_t>(lead);
            continue;
        }
        char16_t ch;
        bool ok;
        if (lead & 0x20) {
            ch = static_cast<char16_t>(lead & 0x0F);
            ok = follow(ch) && follow(ch);
        } else {
            ch = static_cast<char16_t>(lead & 0x1F);
            ok = follow(ch);
        }
        if (!ok)
            return {};
        out += ch;
    }
    return out;
}

std::string WideToNarrow(std::u16string_view text) { return platform::WideToCodePage(text); }

std::string DecodeUtf8Text(std::string_view bytes) { return WideToNarrow(Utf8ToWide(bytes)); }
