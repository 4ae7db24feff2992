#pragma once
// Internet date texts: the writer used for request headers and cookie expiry, and the
// lenient parser used for answer dates and cookie "expires" values. Both work in local
// time; the local offset from UTC is passed in (minutes east of UTC, +60 for UTC+1) so
// that callers read it once from the system and tests can fix it.

#include "platform/runtime/DateTime.h"
#include "platform/system/forward.h"

#include <string>
#include <string_view>

// The local offset from UTC in minutes (local time minus UTC). A system that cannot tell
// raises EIdFailedToRetrieveTimeZoneInfo "Failed attempting to retrieve time zone information.".
int LocalOffsetFromUTC(platform::System& system);

// "+0100", "-0500", "+0000": sign, two digits of hours, two of minutes.
std::string UTCOffsetToStr(int offsetMinutes);

// "Wed, 9 Jun 2021 10:18:14 +0200": the local date-time written unchanged, followed by the
// local offset.
std::string DateTimeToInternetStr(TDateTime local, int localOffsetMinutes);

// Reads the date forms servers send ("Wed, 09-Jun-2021 10:18:14 GMT", "Sun Nov 6 08:49:37
// 1994", "Thu, 01 Jan 1970 00:00:00 +0100", ...) and returns the local date-time. Text that
// cannot be read gives 0 plus the local offset, a date-time on 30 December 1899, which every
// expiry test treats as long past.
TDateTime GMTToLocalDateTime(std::string_view text, int localOffsetMinutes);
