#include "localization/TextDecoding.h"

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

std::string WideToNarrow(std::u16string_view text)
{
    std::string out;
    out.reserve(text.size() * 3);
    auto put = [&out](char32_t cp) {
        if (cp < 0x80) {
            out += static_cast<char>(cp);
        } else if (cp < 0x800) {
            out += static_cast<char>(0xC0 | (cp >> 6));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else if (cp < 0x10000) {
            out += static_cast<char>(0xE0 | (cp >> 12));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (cp >> 18));
            out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (cp & 0x3F));
        }
    };
    constexpr char32_t kSubstitute = 0xFFFD;
    for (std::size_t i = 0; i < text.size(); ++i) {
        char32_t c = text[i];
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            put(0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00));
            ++i;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            put(kSubstitute);
        } else {
            put(c);
        }
    }
    return out;
}

std::string DecodeUtf8Text(std::string_view bytes) { return WideToNarrow(Utf8ToWide(bytes)); }
