#include "http/IdDateTime.h"

#include "http/IdException.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

#include <cmath>
#include <cstdio>
#include <optional>

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// A plain decimal integer with an optional sign and at most nine digits; nothing else.
std::optional<int> Decimal(std::string_view s)
{
    const bool neg = !s.empty() && s[0] == '-';
    if (!s.empty() && (s[0] == '+' || s[0] == '-'))
        s.remove_prefix(1);
    const auto v = ParseDecimal(s, kDecimalNoMaximum, 9);
    if (!v)
        return std::nullopt;
    return neg ? -static_cast<int>(*v) : static_cast<int>(*v);
}

// 1 to 12 for an exact three-letter month abbreviation, otherwise 0.
int MonthOf(std::string_view s)
{
    if (s.size() != 3)
        return 0;
    for (int m = 0; m < 12; ++m)
        if (SameText(s, kMonths[m]))
            return m + 1;
    return 0;
}

bool IsWeekday(std::string_view s)
{
    for (const char* d : kWeekdays)
        if (s.size() >= 3 && SameText(s.substr(0, 3), d))
            return true;
    return false;
}

// Takes the text up to the first `sep` out of `rest` (all of it when there is none) and
// drops the separator and the blanks after it.
std::string_view TakeToken(std::string_view& rest, char sep)
{
    size_t at = rest.find(sep);
    std::string_view token = rest.substr(0, at);
    rest = at == std::string_view::npos ? std::string_view() : rest.substr(at + 1);
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
    return token;
}

void SkipBlanks(std::string_view& rest)
{
    while (!rest.empty() && rest.front() == ' ')
        rest.remove_prefix(1);
}

// "Sun,", "Sunday," or "Sun" in front of the date: the word and the blanks after it go.
void SkipWeekday(std::string_view& rest)
{
    if (!IsWeekday(rest))
        return;
    size_t blank = rest.find(' ');
    rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
    SkipBlanks(rest);
}

// The day and the month in either order; a day that is not a number counts as 1, a month
// that is not known as 0.
void TakeDayAndMonth(std::string_view& rest, int& day, int& month)
{
    // "09-Jun-2021" uses dashes, "09 Jun 2021" and "Nov 6 ..." blanks.
    const size_t dash = rest.find('-');
    const size_t blank = rest.find(' ');
    const char sep = (dash != std::string_view::npos && dash >= 1 && dash < blank) ? '-' : ' ';

    std::string_view first = rest.substr(0, rest.find(sep));
    if (MonthOf(first) != 0) {
        month = MonthOf(TakeToken(rest, sep));
        day = Decimal(TakeToken(rest, sep)).value_or(1);
    } else {
        day = Decimal(TakeToken(rest, sep)).value_or(1);
        month = MonthOf(TakeToken(rest, sep));
    }
}

// The year, with two digits widened (below 80: this century). In the asctime form it
// stands at the end, after the time; what is left is then the time.
int TakeYear(std::string_view& rest)
{
    std::string_view yearText = TakeToken(rest, ' ');
    int year = Decimal(yearText).value_or(1900);
    if (year == 1900) {
        year = Decimal(rest).value_or(1900);
        rest = yearText;
    }
    if (year >= 0 && year < 80)
        year += 2000;
    else if (year >= 80 && year <= 99)
        year += 1900;
    return year;
}

// "hh:mm[:ss]" into t when the rest holds a time; false when a part is out of range.
bool TakeTime(std::string_view& rest, TSystemTime& t)
{
    if (rest.find(':') == std::string_view::npos)
        return true;
    std::string_view time = TakeToken(rest, ' ');
    t.hour = Decimal(TakeToken(time, ':')).value_or(0);
    t.minute = Decimal(TakeToken(time, ':')).value_or(0);
    t.second = Decimal(TakeToken(time, ':')).value_or(0);
    return t.hour >= 0 && t.hour <= 23 && t.minute >= 0 && t.minute <= 59 && t.second >= 0 && t.second <= 59;
}

// A "+hhmm" or "-hhmm" zone, after blanks, in minutes; 0 for anything else.
int ZoneMinutes(std::string_view rest)
{
    SkipBlanks(rest);
    if (rest.size() <= 4 || (rest[0] != '+' && rest[0] != '-'))
        return 0;
    auto hh = Decimal(rest.substr(1, 2));
    auto mm = Decimal(rest.substr(3, 2));
    if (hh && mm && *hh >= 0 && *mm >= 0 && rest[1] != '+' && rest[1] != '-' && rest[3] != '+' && rest[3] != '-')
        return (*hh * 60 + *mm) * (rest[0] == '-' ? -1 : 1);
    return 0;
}

// Weekday of a date-time, 0 for Sunday; day 0 (30 December 1899) was a Saturday.
int DayOfWeek(TDateTime d)
{
    auto days = static_cast<long long>(std::floor(d));
    return static_cast<int>(((days + 6) % 7 + 7) % 7);
}

} // namespace

int LocalOffsetFromUTC(platform::System& system)
{
    try {
        return -system.UtcBiasMinutes();
    } catch (const std::exception&) {
        throw EIdFailedToRetrieveTimeZoneInfo();
    }
}

std::string UTCOffsetToStr(int offsetMinutes)
{
    const int a = offsetMinutes < 0 ? -offsetMinutes : offsetMinutes;
    char buf[16];
    std::snprintf(buf, sizeof buf, "%c%02d%02d", offsetMinutes < 0 ? '-' : '+', a / 60 % 100, a % 60);
    return buf;
}

std::string DateTimeToInternetStr(TDateTime local, int localOffsetMinutes)
{
    const TSystemTime t = DecodeDateTime(local);
    char buf[96];
    std::snprintf(buf, sizeof buf, "%s, %d %s %d %02d:%02d:%02d %s", kWeekdays[DayOfWeek(local)], t.day,
                  kMonths[(t.month - 1) % 12], t.year, t.hour, t.minute, t.second,
                  UTCOffsetToStr(localOffsetMinutes).c_str());
    return buf;
}

TDateTime GMTToLocalDateTime(std::string_view text, int localOffsetMinutes)
{
    const double local = localOffsetMinutes / kMinutesPerDay;
    const std::string trimmed = Trim(text);
    std::string_view rest = trimmed;

    SkipWeekday(rest);
    int day, month;
    TakeDayAndMonth(rest, day, month);
    const int year = TakeYear(rest);
    if (!IsValidDate(year, month, day))
        return local;
    TSystemTime t;
    t.year = year;
    t.month = month;
    t.day = day;
    if (!TakeTime(rest, t))
        return local;
    return EncodeDateTime(t) - ZoneMinutes(rest) / kMinutesPerDay + local;
}
