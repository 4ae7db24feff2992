#pragma once
// Small helpers that the loopback tests share: the source folder the test scripts live in,
// and a body whose every byte depends on its position, so that a lost, doubled or moved
// byte shows.

#include <cstddef>
#include <cstdlib>
#include <string>

namespace testsupport {

// UPDATER_SOURCE_DIR, which CTest sets; "." without it.
inline std::string SourceDir()
{
    const char* dir = std::getenv("UPDATER_SOURCE_DIR");
    return dir ? dir : ".";
}

// n bytes of 0, 1, ... 250, 0, 1, ... (251 is prime, so no power-of-two piece lines up).
inline std::string Pattern(std::size_t n)
{
    std::string s(n, '\0');
    for (std::size_t i = 0; i < n; ++i)
        s[i] = static_cast<char>(i % 251);
    return s;
}

} // namespace testsupport
