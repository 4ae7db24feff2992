#pragma once
// Date and time as days since 1899-12-30 with the time of day as the fraction (double),
// the form in which local times are compared by the progress display.

#include <cstdint>

using TDateTime = double;

struct TSystemTime {
    int year = 1899, month = 12, day = 30;
    int hour = 0, minute = 0, second = 0, millisecond = 0;
};

TDateTime EncodeDateTime(const TSystemTime& t);
TSystemTime DecodeDateTime(TDateTime d);
