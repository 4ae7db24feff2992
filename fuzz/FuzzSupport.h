#pragma once
// Helpers shared by the fuzz targets: a check that stops the run with a readable message
// (libFuzzer then saves the input), a strict UTF-8 test, and the piece sizes with which a
// reader is fed, so that line ends and chunk boundaries land in every possible place.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#define FUZZ_CHECK(cond)                                                                  \
    do {                                                                                  \
        if (!(cond)) {                                                                    \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #cond); \
            std::abort();                                                                 \
        }                                                                                 \
    } while (0)

namespace fuzz {

// Well-formed UTF-8: shortest forms only, no surrogate code points, nothing above U+10FFFF.
inline bool IsValidUtf8(std::string_view s)
{
    std::size_t i = 0;
    while (i < s.size()) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t len;
        char32_t cp;
        if (b < 0x80) {
            ++i;
            continue;
        } else if ((b & 0xE0) == 0xC0) {
            len = 2;
            cp = b & 0x1F;
        } else if ((b & 0xF0) == 0xE0) {
            len = 3;
            cp = b & 0x0F;
        } else if ((b & 0xF8) == 0xF0) {
            len = 4;
            cp = b & 0x07;
        } else {
            return false;
        }
        if (i + len > s.size())
            return false;
        for (std::size_t k = 1; k < len; ++k) {
            const auto c = static_cast<unsigned char>(s[i + k]);
            if ((c & 0xC0) != 0x80)
                return false;
            cp = (cp << 6) | (c & 0x3F);
        }
        const char32_t minimum = len == 2 ? 0x80 : len == 3 ? 0x800 : 0x10000;
        if (cp < minimum || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
            return false;
        i += len;
    }
    return true;
}

// Piece sizes covering `total` bytes, chosen by `seed`: 0 gives one piece, 1 single bytes,
// anything else sizes from 1 to `seed` drawn by a small generator, so one input byte picks
// among whole, byte-by-byte and ragged feeds.
inline std::vector<std::size_t> PieceSizes(std::size_t total, std::uint8_t seed)
{
    std::vector<std::size_t> sizes;
    if (seed == 0) {
        if (total)
            sizes.push_back(total);
        return sizes;
    }
    std::uint32_t state = seed * 2654435761u + 1;
    std::size_t left = total;
    while (left > 0) {
        state = state * 1103515245u + 12345u;
        std::size_t n = seed == 1 ? 1 : 1 + (state >> 16) % seed;
        if (n > left)
            n = left;
        sizes.push_back(n);
        left -= n;
    }
    return sizes;
}

} // namespace fuzz
