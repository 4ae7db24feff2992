#include "platform/runtime/Base64.h"

#include <array>
#include <cstdint>

namespace {

constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int, 256> MakeReverse()
{
    std::array<int, 256> r{};
    for (int& v : r)
        v = -1;
    for (std::size_t i = 0; i < kAlphabet.size(); ++i)
        r[static_cast<unsigned char>(kAlphabet[i])] = static_cast<int>(i);
    return r;
}

constexpr std::array<int, 256> kReverse = MakeReverse();

} // namespace

std::string Base64Encode(std::string_view bytes)
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const std::uint32_t v = (std::uint32_t{static_cast<unsigned char>(bytes[i])} << 16) |
                                (std::uint32_t{static_cast<unsigned char>(bytes[i + 1])} << 8) |
                                static_cast<unsigned char>(bytes[i + 2]);
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += kAlphabet[(v >> 6) & 63];
        out += kAlphabet[v & 63];
    }
    if (const std::size_t rest = bytes.size() - i; rest > 0) {
        std::uint32_t v = std::uint32_t{static_cast<unsigned char>(bytes[i])} << 16;
        if (rest == 2)
            v |= std::uint32_t{static_cast<unsigned char>(bytes[i + 1])} << 8;
        out += kAlphabet[(v >> 18) & 63];
        out += kAlphabet[(v >> 12) & 63];
        out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
        out += '=';
    }
    return out;
}

std::optional<std::string> Base64Decode(std::string_view text)
{
    if (text.size() % 4 != 0)
        return std::nullopt;
    std::string out;
    out.reserve(text.size() / 4 * 3);
    for (std::size_t i = 0; i < text.size(); i += 4) {
        const bool last = i + 4 == text.size();
        int pad = 0;
        if (last && text[i + 3] == '=')
            pad = text[i + 2] == '=' ? 2 : 1;
        std::uint32_t v = 0;
        for (int k = 0; k < 4; ++k) {
            const int d = k >= 4 - pad ? 0 : kReverse[static_cast<unsigned char>(text[i + k])];
            if (d < 0)
                return std::nullopt;
            v = (v << 6) | static_cast<std::uint32_t>(d);
        }
        // Bits that padding leaves over must be zero; otherwise two texts would decode alike.
        if ((pad == 1 && (v & 0xFF) != 0) || (pad == 2 && (v & 0xFFFF) != 0))
            return std::nullopt;
        out += static_cast<char>((v >> 16) & 0xFF);
        if (pad < 2)
            out += static_cast<char>((v >> 8) & 0xFF);
        if (pad < 1)
            out += static_cast<char>(v & 0xFF);
    }
    return out;
}
