#pragma once
// The header values that describe a message body, shared by requests and answers, and the
// raw header list they are written to or read from.

#include "http/IdHeaderList.h"
#include "platform/runtime/DateTime.h"
#include "platform/system/forward.h"

#include <cstdint>
#include <string>

class TIdEntityHeaderInfo {
public:
    TIdEntityHeaderInfo() = default;
    virtual ~TIdEntityHeaderInfo() = default;

    // Every value back to its default; the raw list is emptied too.
    virtual void Clear();

    std::string CacheControl;
    std::string Connection;
    std::string ContentEncoding;
    std::string ContentLanguage;
    std::int64_t ContentLength = -1; // -1: none
    std::int64_t ContentRangeStart = 0;
    std::int64_t ContentRangeEnd = 0;
    std::string ContentType = "text/html";
    std::string ContentVersion;
    TIdHeaderList CustomHeaders;
    // Local date-times; 0 means none.
    TDateTime Date = 0;
    TDateTime Expires = 0;
    TDateTime LastModified = 0;
    std::string Pragma;

    // The lines as received or as about to be sent.
    TIdHeaderList RawHeaders{TIdHeaderList::kMessageFoldLength};

protected:
    // Empties the raw list and writes the entity lines, custom lines last. Dates are
    // written with the system's local offset, read only when a date is set.
    void SetEntityHeaders(platform::System& system);
};
