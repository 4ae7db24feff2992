#include "update/StartupSwitches.h"

#include <gtest/gtest.h>

namespace {

StartupSwitches Scan(std::vector<std::string> args)
{
    args.insert(args.begin(), "/opt/app/update");
    return ScanStartupSwitches(args);
}

} // namespace

TEST(StartupSwitches, HiddenMatchesTrimmedAndLoweredOnly)
{
    struct Case {
        const char* param;
        bool hidden;
    } cases[] = {
        {"/hidden", true},
        {"/HIDDEN", true},
        {"/HiDdEn", true},
        {"\t /hidden \t", true},
        {"\x01/hidden\x1f", true},
        {"/hidden=1", false},
        {"/hiddenx", false},
        {"-hidden", false},
        {"x/hidden", false},
        {"/hid den", false},
        {"", false},
        // Only A-Z are lowered: a non-ASCII letter never matches.
        {"/h\xc3\x8d"
         "dden",
         false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Scan({c.param}).Hidden, c.hidden) << '"' << c.param << '"';
}

TEST(StartupSwitches, SilentIsItsOwnSwitchWithTheSameMatchRule)
{
    EXPECT_TRUE(Scan({" /SILENT\t"}).Silent);
    EXPECT_FALSE(Scan({" /SILENT\t"}).Hidden);
    EXPECT_FALSE(Scan({"/hidden"}).Silent);
    EXPECT_FALSE(Scan({"/silent=1"}).Silent);
    EXPECT_FALSE(Scan({"a", "b", "c", "d", "e", "/silent"}).Silent);
    const StartupSwitches both = Scan({"/hidden", "/silent", "/langid=1"});
    EXPECT_TRUE(both.Hidden && both.Silent);
    EXPECT_EQ(both.LangId, 1);
}

TEST(StartupSwitches, OnlyParametersOneToFiveCount)
{
    EXPECT_TRUE(Scan({"a", "b", "c", "d", "/hidden"}).Hidden);
    EXPECT_FALSE(Scan({"a", "b", "c", "d", "e", "/hidden"}).Hidden);
    EXPECT_EQ(Scan({"a", "b", "c", "d", "/langid=1"}).LangId, 1);
    EXPECT_EQ(Scan({"a", "b", "c", "d", "e", "/langid=1"}).LangId, std::nullopt);
    // The program's own path is never examined.
    EXPECT_FALSE(ScanStartupSwitches({"/hidden"}).Hidden);
    auto none = Scan({});
    EXPECT_FALSE(none.Hidden);
    EXPECT_EQ(none.LangId, std::nullopt);
}

TEST(StartupSwitches, LangIdTakesTheLastCharacterOfTheHighestParameter)
{
    EXPECT_EQ(Scan({"/LANGID=1"}).LangId, 1);
    EXPECT_EQ(Scan({"xx/langid=1"}).LangId, 1);
    EXPECT_EQ(Scan({"/langid=12"}).LangId, 2);
    EXPECT_EQ(Scan({"/langid=0", "/langid=1"}).LangId, 1);
    EXPECT_EQ(Scan({"/langid=1", "/hidden"}).LangId, 1);
    // The switch is not trimmed: a trailing blank is the last character.
    EXPECT_EQ(Scan({"/langid=1 "}).LangId, std::nullopt);
}

TEST(StartupSwitches, InvalidLangIdIsReportedAndIgnored)
{
    auto s = Scan({"/langid="});
    EXPECT_EQ(s.LangId, std::nullopt);
    ASSERT_EQ(s.LangIdErrors.size(), 1u);
    EXPECT_EQ(s.LangIdErrors[0], "'=' is not a valid integer value");
    // An earlier valid switch still counts when a later one is ignored.
    auto t = Scan({"/langid=1", "/langid=x", "/hidden"});
    EXPECT_EQ(t.LangId, 1);
    EXPECT_TRUE(t.Hidden);
    EXPECT_EQ(t.LangIdErrors.at(0), "'x' is not a valid integer value");
}
