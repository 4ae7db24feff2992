// UTF-8 language texts on Windows end in the ANSI code page (Windows-1252 under the test
// prefix's locale), and the built-in French texts are compiled into that code page.

#include "localization/MessageCatalogue.h"
#include "localization/TextDecoding.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Win32CodePage, Utf8TextsBecomeWindows1252)
{
    struct Case {
        const char* name;
        std::string utf8;
        std::string ansi;
    } cases[] = {
        {.name = "ascii", .utf8 = "abc", .ansi = "abc"},
        {.name = "accents", .utf8 = "T\xC3\xA9l\xC3\xA9", .ansi = "T\xE9l\xE9"},
        {.name = "a grave", .utf8 = "Mise \xC3\xA0 jour", .ansi = "Mise \xE0 jour"},
        {.name = "euro", .utf8 = "\xE2\x82\xAC", .ansi = "\x80"},
        {.name = "not in the code page", .utf8 = "\xE4\xB8\xAD", .ansi = "?"},
        {.name = "malformed", .utf8 = "\xC3", .ansi = ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUtf8Text(c.utf8), c.ansi) << c.name;
}

TEST(Win32CodePage, BuiltInFrenchTextsAreWindows1252)
{
    // Entry 62's default holds e-acute: one byte 0xE9 in Windows-1252, never the UTF-8 pair.
    bool sawAccent = false;
    for (int n = 1; n <= TMessageCatalogue::kEntryCount; ++n) {
        const std::string& text = TMessageCatalogue::Default(n);
        EXPECT_EQ(text.find("\xC3"), std::string::npos) << "entry " << n << " is UTF-8";
        sawAccent = sawAccent || text.find('\xE9') != std::string::npos;
    }
    EXPECT_TRUE(sawAccent);
}

} // namespace
