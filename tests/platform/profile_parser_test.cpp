#include "platform/system/ProfileParser.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

using namespace std::string_literals;

namespace {

struct LookupCase {
    const char* name;
    std::string file;
    const char* section = "s";
    const char* key = "k";
    std::string want;
};

TEST(ProfileParser, LookupRules)
{
    const std::string def = "DEF";
    const LookupCase cases[] = {
        {.name = "plain", .file = "[s]\nk=v\n", .want = "v"},
        {.name = "names ignore case",
         .file = "[CURRENT]\nBUILDID=7\n",
         .section = "Current",
         .key = "buildId",
         .want = "7"},
        {.name = "absent key", .file = "[s]\nother=1\n", .want = def},
        {.name = "absent section", .file = "[t]\nk=1\n", .want = def},
        {.name = "empty file", .file = "", .want = def},
        {.name = "key before any section", .file = "k=1\n[s]\n", .want = def},
        {.name = "key of a later section", .file = "[s]\n[t]\nk=1\n", .want = def},
        {.name = "comment lines", .file = "[s]\n;k=1\n  ; k=2\nk=3\n", .want = "3"},
        {.name = "semicolon inside a value stays", .file = "[s]\nk=a ; b\n", .want = "a ; b"},
        {.name = "blanks and tabs trimmed", .file = "[s]\n \t k \t=  2.1 \t\n", .want = "2.1"},
        {.name = "double quotes removed", .file = "[s]\nk=\" a b \"\n", .want = " a b "},
        {.name = "single quotes removed", .file = "[s]\nk='x'\n", .want = "x"},
        {.name = "one pair only", .file = "[s]\nk=\"\"x\"\"\n", .want = "\"x\""},
        {.name = "mismatched quotes kept", .file = "[s]\nk=\"x'\n", .want = "\"x'"},
        {.name = "lone quote kept", .file = "[s]\nk=\"\n", .want = "\""},
        {.name = "empty quotes give empty", .file = "[s]\nk=\"\"\n", .want = ""},
        {.name = "first key wins", .file = "[s]\nk=1\nK=2\n", .want = "1"},
        {.name = "empty first value wins", .file = "[s]\nk=\nk=2\n", .want = ""},
        {.name = "first section wins", .file = "[s]\nk=1\n[S]\nk=2\n", .want = "1"},
        {.name = "later duplicate section unread", .file = "[s]\nx=1\n[s]\nk=2\n", .want = def},
        {.name = "CR LF lines", .file = "[s]\r\nk=1\r\nj=2\r\n", .want = "1"},
        {.name = "CR-only lines", .file = "[s]\rj=0\rk=1\r", .want = "1"},
        {.name = "mixed line ends", .file = "[t]\r\n\r[s]\n\rk=1", .want = "1"},
        {.name = "no final line end", .file = "[s]\nk=last", .want = "last"},
        {.name = "section name trimmed", .file = "[  s  ]\nk=1\n", .want = "1"},
        {.name = "text after bracket ignored", .file = "[s] ; note\nk=1\n", .want = "1"},
        {.name = "unclosed bracket", .file = "[s\nk=1\n", .want = "1"},
        {.name = "equals inside value", .file = "[s]\nk=http://h/?a=1&b=2\n", .want = "http://h/?a=1&b=2"},
        {.name = "line without equals ignored", .file = "[s]\nk\nk=1\n", .want = "1"},
        {.name = "empty key never matches", .file = "[s]\n=1\n", .key = "", .want = def},
        {.name = "byte-order mark skipped", .file = "\xEF\xBB\xBF[s]\nk=1\n", .want = "1"},
        {.name = "NUL ends a value", .file = "[s]\nk=ab\0cd\n"s, .want = "ab"},
        {.name = "NUL around a header", .file = "\0[s]\0\nk=1\n"s, .want = "1"},
        {.name = "only A-Z fold", .file = "[\xC3\x89t\xC3\xA9]\nk=1\n", .section = "\xC3\xA9t\xC3\xA9", .want = def},
        {.name = "UTF-8 value kept", .file = "[s]\nk=Mise \xC3\xA0 jour\n", .want = "Mise \xC3\xA0 jour"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ReadProfileString(c.file, c.section, c.key, def), c.want) << c.name;
}

TEST(ProfileParser, ValuesAreCutAtTheLimit)
{
    struct Case {
        const char* name;
        std::string value;
        std::string want;
    } cases[] = {
        {.name = "3000 characters", .value = std::string(3000, 'x'), .want = std::string(kMaxProfileValue, 'x')},
        {.name = "exactly the limit",
         .value = std::string(kMaxProfileValue, 'y'),
         .want = std::string(kMaxProfileValue, 'y')},
        {.name = "one over",
         .value = std::string(kMaxProfileValue + 1, 'z'),
         .want = std::string(kMaxProfileValue, 'z')},
        {.name = "quoted 3000",
         .value = "\"" + std::string(3000, 'q') + "\"",
         .want = std::string(kMaxProfileValue, 'q')},
        // A two-byte character that the cut would split is dropped whole; one that fits stays.
        {.name = "split character dropped",
         .value = std::string(2046, 'a') + "\xC3\xA9tc",
         .want = std::string(2046, 'a')},
        {.name = "whole character kept",
         .value = std::string(2045, 'a') + "\xC3\xA9tc",
         .want = std::string(2045, 'a') + "\xC3\xA9"},
        {.name = "split 3-byte character",
         .value = std::string(2045, 'a') + "\xE2\x82\xAC",
         .want = std::string(2045, 'a')},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(ReadProfileString("[web]\nwhatnews=" + c.value + "\n", "web", "whatnews", ""), c.want) << c.name;
    }
    EXPECT_EQ(kMaxProfileValue, 2047u);
    // The default is the caller's own text and is returned as given.
    EXPECT_EQ(ReadProfileString("", "s", "k", std::string(3000, 'd')).size(), 3000u);
}

TEST(ProfileParser, BinaryJunkNeverBreaksIt)
{
    // Random files over an alphabet rich in the characters that matter to the format.
    const std::string alphabet = "[]=;\"'\r\n\t \0\xEF\xBB\xBFsSkK=x\x80\xFF"s;
    std::mt19937 rng(12345);
    for (int round = 0; round < 3000; ++round) {
        std::string file(rng() % 200, '\0');
        for (char& ch : file)
            ch = (rng() % 4 == 0) ? static_cast<char>(rng() % 256) : alphabet[rng() % alphabet.size()];
        const std::string got = ReadProfileString(file, round % 2 ? "s" : "S", "k", "<def>");
        EXPECT_EQ(got.find('\0'), std::string::npos) << round;
        EXPECT_EQ(got.find_first_of("\r\n"), std::string::npos) << round;
        if (got != "<def>") {
            // A found value is a piece of the file after an "=".
            EXPECT_LT(got.size(), file.size()) << round;
            EXPECT_NE(file.find('='), std::string::npos) << round;
            EXPECT_NE(file.find(got), std::string::npos) << round;
        }
    }
}

} // namespace
