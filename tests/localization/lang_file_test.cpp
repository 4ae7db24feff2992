// The language-file format as the section store reads it, fed as bytes.

#include "localization/LangFile.h"

#include <gtest/gtest.h>

#include <optional>

using namespace std::string_literals;

namespace {

constexpr const char* kAbsent = "<absent>";

std::optional<std::string> Read(const TLangFile& f, const char* section, const char* key)
{
    std::string v = f.ReadString(section, key, kAbsent);
    if (v == kAbsent)
        return std::nullopt;
    return v;
}

} // namespace

TEST(LangFileFormat, ReadsKeysByEveryRule)
{
    struct Case {
        const char* name;
        std::string bytes;
        const char* section;
        const char* key;
        std::optional<std::string> want; // nullopt: the default comes back
    } cases[] = {
        {.name = "LF", .bytes = "[s]\na=1\nb=2", .section = "s", .key = "b", .want = "2"},
        {.name = "CR alone ends a line", .bytes = "[s]\ra=1\rb=2", .section = "s", .key = "a", .want = "1"},
        {.name = "CR LF", .bytes = "[s]\r\na=1\r\nb=2\r\n", .section = "s", .key = "b", .want = "2"},
        {.name = "LF CR is two ends", .bytes = "[s]\n\ra=1\n\rb=2", .section = "s", .key = "a", .want = "1"},
        {.name = "NUL ends the text", .bytes = "[s]\na=1\0\nb=2"s, .section = "s", .key = "b", .want = std::nullopt},
        {.name = "NUL cuts a value", .bytes = "[s]\na=xy\0z"s, .section = "s", .key = "a", .want = "xy"},
        {.name = "BOM is part of the first line",
         .bytes = "\xEF\xBB\xBF[s]\na=1",
         .section = "s",
         .key = "a",
         .want = std::nullopt},
        {.name = "BOM before a later section",
         .bytes = "\xEF\xBB\xBF[s]\na=1\n[t]\nb=2",
         .section = "t",
         .key = "b",
         .want = "2"},
        {.name = "bytes 0..32 trimmed",
         .bytes = " \t[s]\x01\n\x1f\v a \t= \x02 b c \x1f\n",
         .section = "s",
         .key = "a",
         .want = "b c"},
        {.name = "byte 127 is not trimmed", .bytes = "[s]\na=b\x7f", .section = "s", .key = "a", .want = "b\x7f"},
        {.name = "; comment", .bytes = "[s]\n;a=1", .section = "s", .key = ";a", .want = std::nullopt},
        {.name = "; after blanks is a comment",
         .bytes = "[s]\n   ;a=1",
         .section = "s",
         .key = ";a",
         .want = std::nullopt},
        {.name = "# is ordinary", .bytes = "[s]\n#a=1", .section = "s", .key = "#a", .want = "1"},
        {.name = "; inside a value",
         .bytes = "[s]\na=1 ; not a comment",
         .section = "s",
         .key = "a",
         .want = "1 ; not a comment"},
        {.name = "quotes and # literal",
         .bytes = "[s]\na=\"x, y\" #z",
         .section = "s",
         .key = "a",
         .want = "\"x, y\" #z"},
        {.name = "header trimmed inside",
         .bytes = "[  my section \t]\na=1",
         .section = "my section",
         .key = "a",
         .want = "1"},
        {.name = "unclosed [ is a key line", .bytes = "[s]\n[abc=1", .section = "s", .key = "[abc", .want = "1"},
        {.name = "unclosed [ opens nothing", .bytes = "[s]\n[abc\na=1", .section = "s", .key = "a", .want = "1"},
        {.name = "] not last opens nothing", .bytes = "[s]\n[t]x\na=1", .section = "s", .key = "a", .want = "1"},
        {.name = "lines before first section",
         .bytes = "a=1\n[s]\nb=2",
         .section = "",
         .key = "a",
         .want = std::nullopt},
        {.name = "empty section name", .bytes = "a=1\n[]\nb=2", .section = "", .key = "b", .want = "2"},
        {.name = "key before first =", .bytes = "[s]\na = b = c", .section = "s", .key = "a", .want = "b = c"},
        {.name = "empty value is present", .bytes = "[s]\na=", .section = "s", .key = "a", .want = ""},
        {.name = "blanks around =", .bytes = "[s]\n a  =  \n", .section = "s", .key = "a", .want = ""},
        {.name = "bare line defines no key", .bytes = "[s]\nabc", .section = "s", .key = "abc", .want = std::nullopt},
        {.name = "names ignore case", .bytes = "[SeCtIoN]\nKeY=1", .section = "sEcTiOn", .key = "kEy", .want = "1"},
        {.name = "last key wins", .bytes = "[s]\na=1\nA=2\n", .section = "s", .key = "a", .want = "2"},
        {.name = "last section wins", .bytes = "[s]\na=1\n[t]\n[S]\na=2", .section = "s", .key = "a", .want = "2"},
        {.name = "sections not merged",
         .bytes = "[s]\na=1\nb=1\n[s]\na=2",
         .section = "s",
         .key = "b",
         .want = std::nullopt},
        {.name = "other section", .bytes = "[s]\na=1\n[t]\nb=2", .section = "s", .key = "b", .want = std::nullopt},
        {.name = "missing section", .bytes = "[s]\na=1", .section = "x", .key = "a", .want = std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Read(ParseLangFile(c.bytes), c.section, c.key), c.want) << c.name;
}

TEST(LangFileFormat, SectionAndKeyExistence)
{
    struct Case {
        const char* name;
        const char* bytes;
        bool section;
        bool key; // key "a"
    } cases[] = {
        {.name = "key line", .bytes = "[s]\na=", .section = true, .key = true},
        {.name = "bare line only", .bytes = "[s]\njust text", .section = true, .key = false},
        {.name = "header without lines", .bytes = "[s]\n\n; comment\n", .section = false, .key = false},
        {.name = "empty last duplicate", .bytes = "[s]\na=1\n[s]\n", .section = false, .key = false},
        {.name = "filled last duplicate", .bytes = "[s]\n[s]\na=1", .section = true, .key = true},
        {.name = "absent", .bytes = "[t]\na=1", .section = false, .key = false},
    };
    for (const auto& c : cases) {
        TLangFile f = ParseLangFile(c.bytes);
        EXPECT_EQ(f.SectionExists("S"), c.section) << c.name;
        EXPECT_EQ(f.ValueExists("S", "A"), c.key) << c.name;
    }
}

TEST(LangFileFormat, SectionLinesKeepOrderAndBareLines)
{
    TLangFile f = ParseLangFile("[s]\nb=2\nbare text\na = 1\n");
    const auto& lines = f.SectionLines("S");
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_TRUE(lines[0].IsKey);
    EXPECT_EQ(lines[0].Key, "b");
    EXPECT_FALSE(lines[1].IsKey);
    EXPECT_EQ(lines[1].Key, "bare text");
    EXPECT_EQ(lines[2].Key, "a");
    EXPECT_EQ(lines[2].Value, "1");
    EXPECT_TRUE(f.SectionLines("none").empty());
}

TEST(LangFileFormat, BooleansAreIntegers)
{
    struct Case {
        const char* value; // nullptr: key absent
        bool def;
        bool want;
    } cases[] = {
        {.value = "1", .def = false, .want = true},    {.value = "-1", .def = false, .want = true},
        {.value = "0x1", .def = false, .want = true},  {.value = "0X1f", .def = false, .want = true},
        {.value = "$1", .def = false, .want = true},   {.value = "0", .def = true, .want = false},
        {.value = "0x0", .def = true, .want = false},  {.value = "true", .def = false, .want = false},
        {.value = "true", .def = true, .want = true},  {.value = "", .def = true, .want = true},
        {.value = "", .def = false, .want = false},    {.value = "1.0", .def = false, .want = false},
        {.value = "1 2", .def = false, .want = false}, {.value = "4294967296", .def = false, .want = true},
        {.value = nullptr, .def = true, .want = true}, {.value = nullptr, .def = false, .want = false},
    };
    for (const auto& c : cases) {
        std::string bytes = "[h]\nother=1\n";
        if (c.value)
            bytes += "flag=" + std::string(c.value) + "\n";
        EXPECT_EQ(ParseLangFile(bytes).ReadBool("h", "flag", c.def), c.want)
            << (c.value ? c.value : "(absent)") << " default " << c.def;
    }
}

TEST(LangFileFormat, Utf16FileEndsAtItsFirstZeroByte)
{
    const std::string utf16 = "\xFF\xFE[\0s\0]\0\n\0a\0=\0001\0"s;
    TLangFile f = ParseLangFile(utf16);
    EXPECT_FALSE(f.SectionExists("s"));
    EXPECT_EQ(f.ReadString("s", "a", "d"), "d");
}
