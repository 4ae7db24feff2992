// Internet date texts (answer "Date", "Last-Modified", "Expires" and cookie "expires"
// values) through the lenient parser, and the writer and parser round trip.
//
// Input: two bytes choose the local offset from UTC (-14:00 to +14:00 in minutes); then
// either a date text (first byte even) or, when the first byte is odd, eight bytes of a
// date-time for the writer.

#include "FuzzSupport.h"

#include "http/IdDateTime.h"

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace {

constexpr double kSecond = 1.0 / kSecondsPerDay;
// 1 January 100 and 31 December 9999: the years a written date reads back as (two-digit
// years are read as 19xx or 20xx).
constexpr TDateTime kFirstRoundTrip = -657434.0;
constexpr TDateTime kLastRoundTrip = 2958466.0;
// How far zones can move a date that was read: the text's own zone takes any two digits of
// hours and of minutes ("-9999" is 99 hours and 99 minutes), the local offset up to 14 hours.
constexpr double kFarthestZoneShiftDays = (99 * 60 + 99 + 14 * 60) / kMinutesPerDay;

// Writes the local date-time and reads it back: the same second.
void CheckRoundTrip(TDateTime local, int offset)
{
    const std::string text = DateTimeToInternetStr(local, offset);
    if (local < kFirstRoundTrip + 1 || local > kLastRoundTrip - 1)
        return;
    // A year that reads as 1900 is taken for a missing one, and the reader looks for the
    // year at the end of the text (the asctime form), losing the time and the zone: such a
    // date-time comes back as its day. Long past either way, so never worth more.
    if (DecodeDateTime(local).year == 1900)
        return;
    // Before day 0 the time of day counts backwards (-1.25 is 29 December 1899, 06:00), so a
    // value between -1 and 0, which a zone can push a date on 30 December 1899 to, names
    // the same time as its positive twin and reads back as that one.
    if (local > -1 && local < 0)
        return;
    FUZZ_CHECK(text.size() >= 29 && text.size() <= 31);
    FUZZ_CHECK(text.substr(text.size() - 5) == UTCOffsetToStr(offset));
    const TDateTime back = GMTToLocalDateTime(text, offset);
    // The writer drops the milliseconds; a date-time just below a whole second may also be
    // written as the second before it.
    FUZZ_CHECK(std::fabs(back - local) < 1.001 * kSecond);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size < 2)
        return 0;
    const int offset = static_cast<int>((data[0] << 8 | data[1]) % 1681) - 840;
    FUZZ_CHECK(UTCOffsetToStr(offset).size() == 5);
    data += 2;
    size -= 2;

    if (size >= 9 && (data[0] & 1)) {
        std::uint64_t bits;
        std::memcpy(&bits, data + 1, sizeof bits);
        // Any day from 1 January 100 to 31 December 9999, to the millisecond.
        const double span = kLastRoundTrip - 1 - kFirstRoundTrip;
        const TDateTime local =
            kFirstRoundTrip + 1 +
            std::floor(static_cast<double>(bits % (1ull << 52)) / static_cast<double>(1ull << 52) * span * kMsPerDay) /
                kMsPerDay;
        CheckRoundTrip(local, offset);
        return 0;
    }

    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const TDateTime parsed = GMTToLocalDateTime(text, offset);
    FUZZ_CHECK(std::isfinite(parsed));
    const TDateTime unreadable = offset / kMinutesPerDay;
    if (parsed == unreadable)
        return 0;
    // A date that was read lies within years 1 to 9999, moved by the zones.
    FUZZ_CHECK(parsed >= -693594.0 - kFarthestZoneShiftDays && parsed <= kLastRoundTrip + kFarthestZoneShiftDays);
    // Whole seconds: the parser reads no fractions.
    const double seconds = MillisecondsBetween(unreadable, parsed) / 1000.0;
    FUZZ_CHECK(std::fabs(seconds - std::round(seconds)) < 1e-3);
    CheckRoundTrip(parsed, offset);
    return 0;
}
