#include "platform/runtime/Convert.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/runtime/Strings.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"

#include <gtest/gtest.h>

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

TEST(Convert, IntegersInDecimalAndHexadecimal)
{
    EXPECT_EQ(TryStrToInt("12"), 12);
    EXPECT_EQ(TryStrToInt("-1"), -1);
    EXPECT_EQ(TryStrToInt("0x1"), 1);
    EXPECT_EQ(TryStrToInt("$1F"), 31);
    EXPECT_EQ(TryStrToInt("true"), std::nullopt);
    EXPECT_EQ(TryStrToInt(""), std::nullopt);
    EXPECT_EQ(TryStrToInt("2147483648"), std::nullopt);
    try {
        StrToInt("=");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_EQ(e.Message(), "'=' is not a valid integer value");
    }
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
    };
    for (const auto& c : cases)
        EXPECT_EQ(TryStrToFloat(c.text, c.sep), c.want) << c.text << " sep " << c.sep;
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
