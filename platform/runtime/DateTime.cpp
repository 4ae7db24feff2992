#include "platform/runtime/DateTime.h"

#include <cmath>

namespace {
// Days from 0001-01-01 (proleptic Gregorian) to the given date, by the civil-from-days method.
std::int64_t DaysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468; // days since 1970-01-01
}

void CivilFromDays(std::int64_t z, int& y, int& m, int& d)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const unsigned doe = static_cast<unsigned>(z - era * 146097);
    const unsigned yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t yy = static_cast<std::int64_t>(yoe) + era * 400;
    const unsigned doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const unsigned mp = (5 * doy + 2) / 153;
    d = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    m = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    y = static_cast<int>(yy + (m <= 2));
}

constexpr auto kEpochOffset = static_cast<std::int64_t>(kUnixEpochDay);
constexpr auto kMsPerDayWhole = static_cast<std::int64_t>(kMsPerDay);

bool IsLeapYear(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
} // namespace

bool IsValidDate(int year, int month, int day)
{
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (year < 1 || year > 9999 || month < 1 || month > 12 || day < 1)
        return false;
    return day <= kDays[month - 1] + (month == 2 && IsLeapYear(year) ? 1 : 0);
}

double MillisecondsBetween(TDateTime from, TDateTime to) { return (to - from) * kMsPerDay; }

TDateTime UnixMsToDateTime(std::int64_t unixMs) { return kUnixEpochDay + static_cast<double>(unixMs) / kMsPerDay; }

std::int64_t DateTimeToUnixMs(TDateTime t) { return std::llround((t - kUnixEpochDay) * kMsPerDay); }

TDateTime EncodeDateTime(const TSystemTime& t)
{
    const std::int64_t days =
        DaysFromCivil(t.year, static_cast<unsigned>(t.month), static_cast<unsigned>(t.day)) + kEpochOffset;
    const double frac = (t.hour * 3600000.0 + t.minute * 60000.0 + t.second * 1000.0 + t.millisecond) / kMsPerDay;
    return static_cast<double>(days) + (days >= 0 ? frac : -frac);
}

TSystemTime DecodeDateTime(TDateTime value)
{
    TSystemTime t;
    double whole = std::trunc(value);
    double frac = std::fabs(value - whole);
    auto ms = static_cast<std::int64_t>(std::llround(frac * kMsPerDay));
    if (ms >= kMsPerDayWhole) {
        ms -= kMsPerDayWhole;
        whole += value >= 0 ? 1 : -1;
    }
    CivilFromDays(static_cast<std::int64_t>(whole) - kEpochOffset, t.year, t.month, t.day);
    t.hour = static_cast<int>(ms / 3600000);
    t.minute = static_cast<int>(ms / 60000 % 60);
    t.second = static_cast<int>(ms / 1000 % 60);
    t.millisecond = static_cast<int>(ms % 1000);
    return t;
}
