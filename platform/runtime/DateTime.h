#pragma once
// Date and time as days since 1899-12-30 with the time of day as the fraction (double),
// the form in which local times are compared by the progress display, and the calendar
// and unit helpers around it.

#include <cstdint>

using TDateTime = double;

struct TSystemTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

inline constexpr double kMinutesPerDay = 1440.0;
inline constexpr double kSecondsPerDay = 86400.0;
inline constexpr double kMsPerDay = 86400000.0;
// 1970-01-01, where Unix time starts, as a day number.
inline constexpr double kUnixEpochDay = 25569.0;

TDateTime EncodeDateTime(const TSystemTime& t);
TSystemTime DecodeDateTime(TDateTime d);

// A date of the calendar in the years 1 to 9999: the month 1 to 12 and the day within it.
bool IsValidDate(int year, int month, int day);

// Milliseconds from `from` to `to`, negative when `to` is earlier.
double MillisecondsBetween(TDateTime from, TDateTime to);

// Unix time in milliseconds to a day number and back (rounded to whole milliseconds).
TDateTime UnixMsToDateTime(std::int64_t unixMs);
std::int64_t DateTimeToUnixMs(TDateTime t);
