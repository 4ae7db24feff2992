#include "platform/runtime/Convert.h"
#include "platform/runtime/DateTime.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/runtime/Strings.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

TEST(Format, FillsPlaceholdersInOrderAndRejectsMismatches)
{
    EXPECT_EQ(Format("Mise à jour %s", {std::string("App")}), "Mise à jour App");
    EXPECT_EQ(Format("%s-%d-%%-%s", {std::string("a"), std::int64_t{42}, std::string("b")}), "a-42-%-b");
    EXPECT_EQ(Format("%5d|%-3s|", {std::int64_t{7}, std::string("x")}), "    7|x  |");
    // Too few arguments and the wrong kind both fail with the conversion error's text.
    try {
        Format("%s %s", {std::string("a")});
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "Format '%s %s' invalid or incompatible with argument");
    }
    EXPECT_THROW(Format("%d", {std::string("a")}), EConvertError);
    EXPECT_THROW(Format("%q", {std::string("a")}), EConvertError);
    EXPECT_THROW(Format("trailing %", {}), EConvertError);
    EXPECT_EQ(FormatPlaceholders("a %s b %d %% %s"), "sds");
}

TEST(Format, ConversionsWidthsAndPrecisions)
{
    struct Case {
        const char* fmt;
        FormatArg arg;
        const char* want;
    } cases[] = {
        {.fmt = "%u", .arg = std::int64_t{-1}, .want = "18446744073709551615"},
        {.fmt = "%x", .arg = std::int64_t{255}, .want = "FF"},
        {.fmt = "%X", .arg = std::int64_t{-1}, .want = "FFFFFFFFFFFFFFFF"},
        {.fmt = "%.3d", .arg = std::int64_t{-7}, .want = "-007"},
        {.fmt = "%.3d", .arg = std::int64_t{12345}, .want = "12345"},
        {.fmt = "%6.4x", .arg = std::int64_t{10}, .want = "  000A"},
        {.fmt = "%-4d|", .arg = std::int64_t{3}, .want = "3   |"},
        {.fmt = "%D", .arg = std::int64_t{3}, .want = "3"},
        {.fmt = "%.2s", .arg = std::string("abc"), .want = "ab"},
        {.fmt = "%6.2s|", .arg = std::string("abc"), .want = "    ab|"},
        {.fmt = "%-5.9s|", .arg = std::string("abc"), .want = "abc  |"},
        {.fmt = "%1s", .arg = std::string("abc"), .want = "abc"},
        {.fmt = "%f", .arg = 1.5, .want = "1.50"},
        {.fmt = "%.3f", .arg = -1.5, .want = "-1.500"},
        {.fmt = "%7.1F", .arg = 2.0, .want = "    2.0"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(Format(c.fmt, {c.arg}), c.want) << c.fmt;
    // The wrong kind for each conversion, a width beyond 4096 and a cut-off placeholder.
    const struct {
        const char* fmt;
        FormatArg arg;
    } invalid[] = {
        {"%s", std::int64_t{1}}, {"%u", std::string("1")},    {"%x", 1.0},
        {"%f", std::int64_t{1}}, {"%5000d", std::int64_t{1}}, {"%.", std::int64_t{1}},
        {"%-", std::int64_t{1}},
    };
    for (const auto& c : invalid)
        EXPECT_THROW(Format(c.fmt, {c.arg}), EConvertError) << c.fmt;
}

TEST(Convert, IntegersInDecimalAndHexadecimal)
{
    EXPECT_EQ(TryStrToInt("12"), 12);
    EXPECT_EQ(TryStrToInt("-1"), -1);
    EXPECT_EQ(TryStrToInt("0x1"), 1);
    EXPECT_EQ(TryStrToInt("$1F"), 31);
    EXPECT_EQ(TryStrToInt("true"), std::nullopt);
    EXPECT_EQ(TryStrToInt(""), std::nullopt);
    EXPECT_EQ(TryStrToInt("2147483648"), std::nullopt);
    constexpr auto kMin = std::numeric_limits<std::int64_t>::min();
    constexpr auto kMax = std::numeric_limits<std::int64_t>::max();
    struct Case {
        const char* text;
        std::optional<std::int64_t> want;
    } cases[] = {
        {"9223372036854775807", kMax},
        {"9223372036854775808", std::nullopt},
        {"-9223372036854775808", kMin},
        {"-9223372036854775809", std::nullopt},
        {"0x7FFFFFFFFFFFFFFF", kMax},
        {"-0x8000000000000000", kMin},
        {"0xFFFFFFFFFFFFFFFF", std::nullopt},
        {"  +$ff", 255},
        {"0Xa", 10},
        {"00012", 12},
        {"-0", 0},
        {"0", 0},
        {"0x", std::nullopt},
        {"$", std::nullopt},
        {"-", std::nullopt},
        {"$g", std::nullopt},
        {"1a", std::nullopt},
        {"12 ", std::nullopt},
        {"- 1", std::nullopt},
        {"+-1", std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TryStrToInt64(c.text), c.want) << c.text;
    try {
        StrToInt("=");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'=' is not a valid integer value");
    }
}

TEST(Decimal, DigitsOnlyWithinTheMaximumAndTheDigitCount)
{
    constexpr std::uint64_t kAll = kDecimalNoMaximum;
    struct Case {
        const char* text;
        std::uint64_t maximum;
        std::size_t maxDigits;
        std::optional<std::uint64_t> want;
    } cases[] = {
        {"0", kAll, 0, 0},
        {"007", kAll, 0, 7},
        {"18446744073709551615", kAll, 0, kAll},
        {"18446744073709551616", kAll, 0, std::nullopt},
        {"99999999999999999999", kAll, 0, std::nullopt},
        {"255", 255, 0, 255},
        {"256", 255, 0, std::nullopt},
        {"0000000255", 255, 0, 255}, // leading zeros count only against maxDigits
        {"0000000255", 255, 9, std::nullopt},
        {"123456789", kAll, 9, 123456789},
        {"0", 0, 0, 0},
        {"1", 0, 0, std::nullopt},
        {"", kAll, 0, std::nullopt},
        {"+1", kAll, 0, std::nullopt},
        {"-1", kAll, 0, std::nullopt},
        {" 1", kAll, 0, std::nullopt},
        {"1 ", kAll, 0, std::nullopt},
        {"0x1", kAll, 0, std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseDecimal(c.text, c.maximum, c.maxDigits), c.want) << c.text;
    EXPECT_EQ(ParseDecimal(std::string_view("1\0", 2)), std::nullopt); // an embedded NUL is no digit

    // A prefix: the digits up to the first other character or the digit count; beyond the
    // maximum it stops at the maximum and says so.
    const DecimalPrefix octet = ReadDecimalPrefix("1921.168", 255, 3);
    EXPECT_EQ(octet.Digits, 3u);
    EXPECT_EQ(octet.Value, 192u);
    EXPECT_FALSE(octet.TooLarge);
    const DecimalPrefix large = ReadDecimalPrefix("99999999999999999999x", 1000);
    EXPECT_EQ(large.Digits, 20u);
    EXPECT_EQ(large.Value, 1000u);
    EXPECT_TRUE(large.TooLarge);
    EXPECT_EQ(ReadDecimalPrefix("x1").Digits, 0u);
}

TEST(DateTime, CalendarDatesUnixTimeAndElapsedMilliseconds)
{
    struct Date {
        int y, m, d;
        bool valid;
    } dates[] = {
        {2024, 2, 29, true},  {2023, 2, 29, false}, {2000, 2, 29, true},  {2100, 2, 29, false}, {2026, 4, 31, false},
        {2026, 12, 31, true}, {1, 1, 1, true},      {9999, 12, 31, true}, {0, 1, 1, false},     {10000, 1, 1, false},
        {2026, 13, 1, false}, {2026, 0, 1, false},  {2026, 1, 0, false},
    };
    for (const auto& c : dates)
        EXPECT_EQ(IsValidDate(c.y, c.m, c.d), c.valid) << c.y << "-" << c.m << "-" << c.d;

    EXPECT_EQ(UnixMsToDateTime(0), 25569.0); // 1970-01-01 is day 25569 after 1899-12-30
    TSystemTime t;
    t.year = 2026;
    t.month = 12;
    t.day = 8;
    t.hour = 13;
    t.minute = 45;
    t.millisecond = 123;
    EXPECT_EQ(DateTimeToUnixMs(EncodeDateTime(t)), 1796737500123);
    const TSystemTime back = DecodeDateTime(UnixMsToDateTime(1796737500123));
    EXPECT_EQ(back.year * 10000 + back.month * 100 + back.day, 20261208);
    EXPECT_EQ(back.hour * 3600000 + back.minute * 60000 + back.second * 1000 + back.millisecond, 49500123);
    t = {};
    t.year = 1601;
    t.month = 1;
    t.day = 1;
    EXPECT_EQ(DateTimeToUnixMs(EncodeDateTime(t)), -11644473600000); // before the epoch

    const TDateTime a = 46000.5;
    EXPECT_NEAR(MillisecondsBetween(a, a + 1.5 / 86400.0), 1500.0, 1e-3);
    EXPECT_NEAR(MillisecondsBetween(a + 1.0, a), -86400000.0, 1e-3);
}

TEST(Convert, FloatsFollowTheGivenSeparatorOnly)
{
    struct Case {
        const char* text;
        char sep;
        std::optional<double> want;
    } cases[] = {
        {"2013", '.', 2013.0},
        {"2013.5", '.', 2013.5},
        {"2013.5", ',', std::nullopt},
        {"2013,5", ',', 2013.5},
        {"  -1e3  ", '.', -1000.0},
        {".5", '.', 0.5},
        {"1e", '.', std::nullopt},
        {"e3", '.', std::nullopt},
        {"0x10", '.', std::nullopt},
        {"1,000", '.', std::nullopt},
        {"\t1", '.', std::nullopt},
        {"+7.", '.', 7.0},
        {"", '.', std::nullopt},
        {".", '.', 0.0},
        {"-,e7", ',', 0.0},
        {"1e999", '.', std::numeric_limits<double>::infinity()},
        {"1e-999", '.', 0.0},
        {"2013,7", ',', 2013.7},
        {"+", '.', std::nullopt},
        {"1.5e+2", '.', 150.0},
        {"15E-1", '.', 1.5},
        {"1e+", '.', std::nullopt},
        {" 3 ", '.', 3.0},
        {"1.2.3", '.', std::nullopt},
        {"5e2x", '.', std::nullopt},
        {",5", ',', 0.5},
        {".e5", '.', 0.0},
        {"1 2", '.', std::nullopt},
        {"--1", '.', std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TryStrToFloat(c.text, c.sep), c.want) << c.text << " sep " << c.sep;
    EXPECT_TRUE(std::signbit(*TryStrToFloat("-.", '.')));
    EXPECT_TRUE(std::signbit(*TryStrToFloat("-1e-999", '.')));
    EXPECT_EQ(FormatFixed2(2.0, '.'), "2.00");
    EXPECT_EQ(FormatFixed2(0.75, ','), "0,75");
    // Halves away from zero; values just below a half (in binary) stay below.
    struct Rounding {
        double value;
        const char* want;
    } rounding[] = {
        {2.125, "2.13"},
        {0.125, "0.13"},
        {2.135, "2.13"},
        {1.115, "1.11"},
        {0.005, "0.01"},
        {9.995, "9.99"},
        {999.999, "1000.00"},
        {0.0025, "0.00"},
        {-2.125, "-2.13"},
        {-0.001, "0.00"},
        {1234567.895, "1234567.90"},
        {2.124999, "2.12"},
    };
    for (const auto& r : rounding)
        EXPECT_EQ(FormatFixed2(r.value, '.'), r.want) << r.value;
}

TEST(Strings, TrimCaseAndReplace)
{
    EXPECT_EQ(Trim("\t /hidden \x01"), "/hidden");
    EXPECT_EQ(LowerCase("/HIDDEN É"), "/hidden É");
    EXPECT_TRUE(SameText("TUpdateFrm", "tupdatefrm"));
    // The inserted text is not scanned again.
    EXPECT_EQ(ReplaceAll("$appname/x", "$appname", "a$appname"), "a$appname/x");
    EXPECT_EQ(ReplaceAll("a|b%/c", "|", "\r\n"), "a\r\nb%/c");
}

TEST(MemoryStream, GrowsWithWritesAndKeepsBytes)
{
    TMemoryStream m;
    m.Write("abc");
    m.Write(std::string(100000, 'x'));
    EXPECT_EQ(m.Size(), 100003);
    EXPECT_EQ(m.Bytes().substr(0, 4), "abcx");
}

TEST(ComponentModel, OwnershipOrderAndFontFollowing)
{
    TForm form(nullptr, "F");
    auto* a = new TLabel(&form, "Label1");
    auto* b = new TBitBtn(&form, "Btn");
    auto* own = new TLabel(&form, "Own");
    own->SetParentFont(false);
    ASSERT_EQ(form.ComponentCount(), 3);
    EXPECT_EQ(form.Components()[1], b);
    EXPECT_NE(dynamic_cast<TButton*>(b), nullptr);
    EXPECT_EQ(form.FindComponent("label1"), a);
    form.SetFontName("Arial");
    EXPECT_EQ(a->Font().Name, "Arial");
    EXPECT_EQ(own->Font().Name, "MS Sans Serif");
    delete b; // a freed child leaves its owner's list
    EXPECT_EQ(form.ComponentCount(), 2);
}
