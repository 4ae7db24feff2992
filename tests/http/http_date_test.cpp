// Internet date texts: the writer, the lenient parser, and the local offset.

#include "http/IdDateTime.h"
#include "http/IdException.h"
#include "tests/support/FakeSystem.h"

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>

namespace {

TDateTime At(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    TSystemTime t;
    t.year = y;
    t.month = mo;
    t.day = d;
    t.hour = h;
    t.minute = mi;
    t.second = s;
    return EncodeDateTime(t);
}

// Equal to the second; the parser works in whole seconds.
void ExpectSameSecond(TDateTime got, TDateTime want, const char* text)
{
    EXPECT_LT(std::fabs(got - want) * kSecondsPerDay, 0.5) << text << ": got " << got << " want " << want;
}

TEST(InternetDate, WritesLocalTimeWithTheLocalOffset)
{
    struct Case {
        TDateTime when;
        int offset;
        const char* want;
    } cases[] = {
        {.when = At(2021, 6, 9, 10, 18, 14), .offset = 120, .want = "Wed, 9 Jun 2021 10:18:14 +0200"},
        {.when = At(1994, 11, 6, 8, 49, 37), .offset = 0, .want = "Sun, 6 Nov 1994 08:49:37 +0000"},
        {.when = At(2000, 2, 29, 23, 59, 59), .offset = -300, .want = "Tue, 29 Feb 2000 23:59:59 -0500"},
        {.when = At(2024, 12, 31), .offset = 330, .want = "Tue, 31 Dec 2024 00:00:00 +0530"},
        {.when = At(2023, 1, 1, 0, 0, 1), .offset = -210, .want = "Sun, 1 Jan 2023 00:00:01 -0330"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(DateTimeToInternetStr(c.when, c.offset), c.want);
    EXPECT_EQ(UTCOffsetToStr(60), "+0100");
    EXPECT_EQ(UTCOffsetToStr(-45), "-0045");
}

TEST(InternetDate, ParsesTheFormsServersSend)
{
    struct Case {
        const char* text;
        int localOffset;
        TDateTime want;
    } cases[] = {
        {.text = "Wed, 09-Jun-2021 10:18:14 GMT", .localOffset = 0, .want = At(2021, 6, 9, 10, 18, 14)},
        {.text = "Sunday, 06-Nov-94 08:49:37 GMT", .localOffset = 0, .want = At(1994, 11, 6, 8, 49, 37)},
        {.text = "Sun Nov 6 08:49:37 1994", .localOffset = 0, .want = At(1994, 11, 6, 8, 49, 37)},
        {.text = "Sun Nov  6 08:49:37 1994", .localOffset = 0, .want = At(1994, 11, 6, 8, 49, 37)},
        {.text = "Sun, 06 Nov 1994 08:49:37 GMT", .localOffset = 0, .want = At(1994, 11, 6, 8, 49, 37)},
        // The zone is taken off, the local offset added.
        {.text = "Thu, 01 Jan 1970 00:00:00 +0100", .localOffset = 0, .want = At(1969, 12, 31, 23, 0, 0)},
        {.text = "Thu, 01 Jan 1970 00:00:00 -0230", .localOffset = 60, .want = At(1970, 1, 1, 3, 30, 0)},
        {.text = "Sun, 06 Nov 1994 08:49:37 GMT", .localOffset = 120, .want = At(1994, 11, 6, 10, 49, 37)},
        // What the writer produces reads back.
        {.text = "Wed, 9 Jun 2021 10:18:14 +0200", .localOffset = 120, .want = At(2021, 6, 9, 10, 18, 14)},
        {.text = "  wed, 9 jun 2021 10:18:14 +0200  ", .localOffset = 120, .want = At(2021, 6, 9, 10, 18, 14)},
        // Two-digit years: below 80 are this century.
        {.text = "01-Jan-79", .localOffset = 0, .want = At(2079, 1, 1)},
        {.text = "01-Jan-80", .localOffset = 0, .want = At(1980, 1, 1)},
        // No time, no zone; a day that is not a number counts as 1.
        {.text = "15 Mar 2020", .localOffset = 0, .want = At(2020, 3, 15)},
        {.text = "xx Mar 2020", .localOffset = 0, .want = At(2020, 3, 1)},
        // A zone without a sign or too short counts as 0.
        {.text = "15 Mar 2020 12:00:00 EST", .localOffset = 0, .want = At(2020, 3, 15, 12)},
        {.text = "15 Mar 2020 12:00:00 X0100", .localOffset = 0, .want = At(2020, 3, 15, 12)},
        // Missing seconds read as 0.
        {.text = "15 Mar 2020 12:30 GMT", .localOffset = 0, .want = At(2020, 3, 15, 12, 30)},
        // A weekday without its comma; the month first without a time; asctime without a weekday.
        {.text = "Sun 06 Nov 1994 08:49:37 GMT", .localOffset = 0, .want = At(1994, 11, 6, 8, 49, 37)},
        {.text = "Nov 6 1994", .localOffset = 0, .want = At(1994, 11, 6)},
        {.text = "Nov 6 08:49:37 1994", .localOffset = 0, .want = At(1994, 11, 6, 8, 49, 37)},
        {.text = "6-Nov-1994 08:49", .localOffset = 0, .want = At(1994, 11, 6, 8, 49)},
        {.text = "01-Jan-99", .localOffset = 0, .want = At(1999, 1, 1)},
        {.text = "01 Jan 00", .localOffset = 0, .want = At(2000, 1, 1)},
        // Zones: minutes count; a sign inside the digits, or too few digits, count as 0.
        {.text = "15 Mar 2020 12:00:00 +0130", .localOffset = 0, .want = At(2020, 3, 15, 10, 30)},
        {.text = "15 Mar 2020 12:00:00   -0100", .localOffset = 0, .want = At(2020, 3, 15, 13)},
        {.text = "15 Mar 2020 12:00:00 +01+0", .localOffset = 0, .want = At(2020, 3, 15, 12)},
        {.text = "15 Mar 2020 12:00:00 +-100", .localOffset = 0, .want = At(2020, 3, 15, 12)},
        {.text = "15 Mar 2020 12:00:00 +015", .localOffset = 0, .want = At(2020, 3, 15, 12)},
    };
    for (const auto& c : cases)
        ExpectSameSecond(GMTToLocalDateTime(c.text, c.localOffset), c.want, c.text);
}

TEST(InternetDate, UnreadableTextGivesTheDayZeroPlusTheLocalOffset)
{
    const char* texts[] = {
        "",
        "   ",
        "garbage",
        "Wed,",
        "31 Feb 2021 00:00:00 GMT", // no such day
        "09 Foo 2021",              // no such month
        "09 Jun 2021 24:00:00 GMT", // no such hour
        "09 Jun 2021 10:60:00 GMT",
        "09 Jun 2021 10:00:60 GMT",
        "09 Jun 2021 -1:00:00 GMT",
        "09 Jun 12345",
    };
    for (const char* t : texts) {
        ExpectSameSecond(GMTToLocalDateTime(t, 0), 0.0, t);
        ExpectSameSecond(GMTToLocalDateTime(t, 90), 90 / kMinutesPerDay, t);
    }
}

TEST(InternetDate, LocalOffsetComesFromTheSystem)
{
    FakeSystem system;
    system.biasMinutes = -60;
    EXPECT_EQ(LocalOffsetFromUTC(system), 60);
    system.biasMinutes = 300;
    EXPECT_EQ(LocalOffsetFromUTC(system), -300);

    struct NoZone : FakeSystem {
        int UtcBiasMinutes() override { throw std::runtime_error("no zone"); }
    } broken;
    try {
        LocalOffsetFromUTC(broken);
        FAIL();
    } catch (const EIdFailedToRetrieveTimeZoneInfo& e) {
        EXPECT_EQ(e.Message(), "Failed attempting to retrieve time zone information.");
        EXPECT_STREQ(e.ClassName(), "EIdFailedToRetrieveTimeZoneInfo");
    }
}

} // namespace
