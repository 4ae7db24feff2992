// The two readings of a value's text: comma lists, and UTF-8 decoding into the narrow
// code page (UTF-8 here).

#include "localization/CommaList.h"
#include "localization/TextDecoding.h"

#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

TEST(CommaList, SplitsByEveryRule)
{
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string_view value;
        V want;
    } cases[] = {
        {.name = "empty", .value = "", .want = {}},
        {.name = "blanks only", .value = " \t ", .want = {}},
        {.name = "one item", .value = "abc", .want = {"abc"}},
        {.name = "commas", .value = "a,b,c", .want = {"a", "b", "c"}},
        {.name = "blanks around commas", .value = "  a ,\tb  , c ", .want = {"a", "b", "c"}},
        {.name = "unquoted blank splits", .value = "Open file,Hint", .want = {"Open", "file", "Hint"}},
        {.name = "control splits",
         .value = "a\x01"
                  "b",
         .want = {"a", "b"}},
        {.name = "quoted keeps blanks", .value = "\"Open file\",\"A hint\"", .want = {"Open file", "A hint"}},
        {.name = "doubled quotes", .value = "\"say \"\"hi\"\"\",x", .want = {"say \"hi\"", "x"}},
        {.name = "unterminated quote", .value = "\"rest, of \"\"it", .want = {"rest, of \"it"}},
        {.name = "quote inside unquoted", .value = "ab\"cd,e", .want = {"ab\"cd", "e"}},
        {.name = "item after closing quote", .value = "\"a\"b", .want = {"a", "b"}},
        {.name = "two commas", .value = "a,,b", .want = {"a", "", "b"}},
        {.name = "leading comma", .value = ",a", .want = {"", "a"}},
        {.name = "trailing comma", .value = "a,", .want = {"a", ""}},
        {.name = "comma then blank at end", .value = "a, ", .want = {"a"}},
        {.name = "lone comma", .value = ",", .want = {"", ""}},
        {.name = "empty quoted", .value = "\"\",x", .want = {"", "x"}},
        {.name = "high bytes are not blanks", .value = "caf\xC3\xA9 \xC2\xA0x", .want = {"caf\xC3\xA9", "\xC2\xA0x"}},
        // A NUL (a decoded overlong C0 80) ends the text where it stands.
        {.name = "NUL after a comma", .value = std::string_view("Cancel,\0rest", 12), .want = {"Cancel", ""}},
        {.name = "NUL inside an item", .value = std::string_view("ab\0cd,e", 8), .want = {"ab"}},
        {.name = "NUL after blanks", .value = std::string_view(" \0 x", 4), .want = {}},
        {.name = "NUL in quotes", .value = std::string_view("\"a\0b\",c", 8), .want = {"a"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(SplitCommaList(c.value), c.want) << c.name;
}

TEST(Utf8Decoding, BitFiveRuleAndFailureToEmpty)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::u16string want;
    } cases[] = {
        {.name = "ASCII", .bytes = "Abc 1", .want = u"Abc 1"},
        {.name = "e acute", .bytes = "\xC3\xA9", .want = u"\u00E9"},
        {.name = "three bytes", .bytes = "\xE2\x82\xAC", .want = u"\u20AC"},
        {.name = "overlong two-byte accepted", .bytes = "\xC1\x81", .want = u"A"},
        {.name = "overlong three-byte accepted", .bytes = "\xE0\x81\x81", .want = u"A"},
        {.name = "lead with bit 5 set is three-byte", .bytes = "\xF8\x80\x80", .want = u"\x8000"},
        {.name = "lone 233 then letter", .bytes = "D\xE9t", .want = u""},
        {.name = "lead at end", .bytes = "abc\xC3", .want = u""},
        {.name = "three-byte cut short", .bytes = "\xE2\x82", .want = u""},
        {.name = "four bytes", .bytes = "a\xF0\x9F\x98\x80", .want = u""},
        {.name = "four bytes mid text", .bytes = "a\xF0\x9F\x98\x80z", .want = u""},
        {.name = "empty", .bytes = "", .want = u""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Utf8ToWide(c.bytes), c.want) << c.name;
}

TEST(Utf8Decoding, ConvertsToTheNarrowCodePage)
{
    struct Case {
        const char* name;
        std::string bytes;
        std::string want;
    } cases[] = {
        {.name = "accents survive", .bytes = "T\xC3\xA9l\xC3\xA9", .want = "T\xC3\xA9l\xC3\xA9"},
        {.name = "overlong made canonical", .bytes = "\xC1\x81\xE0\x83\xA9", .want = "A\xC3\xA9"},
        {.name = "euro", .bytes = "\xE2\x82\xAC", .want = "\xE2\x82\xAC"},
        {.name = "surrogate pair joined", .bytes = "\xED\xA0\xBD\xED\xB8\x80", .want = "\xF0\x9F\x98\x80"},
        {.name = "lone surrogate substituted", .bytes = "a\xED\xA0\x80z", .want = "a\xEF\xBF\xBDz"},
        {.name = "broken text empty", .bytes = "\xE9t\xE9", .want = ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DecodeUtf8Text(c.bytes), c.want) << c.name;
}
