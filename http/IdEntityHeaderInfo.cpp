#include "http/IdEntityHeaderInfo.h"

#include "http/IdDateTime.h"

void TIdEntityHeaderInfo::Clear()
{
    CacheControl.clear();
    Connection.clear();
    ContentEncoding.clear();
    ContentLanguage.clear();
    ContentLength = -1;
    ContentRangeStart = 0;
    ContentRangeEnd = 0;
    ContentType = "text/html";
    ContentVersion.clear();
    CustomHeaders.Clear();
    Date = 0;
    Expires = 0;
    LastModified = 0;
    Pragma.clear();
    RawHeaders.Clear();
}

void TIdEntityHeaderInfo::SetEntityHeaders(platform::System& system)
{
    TIdHeaderList& h = RawHeaders;
    h.Clear();
    auto put = [&h](const char* name, const std::string& value) {
        if (!value.empty())
            h.SetValue(name, value);
    };
    put("Connection", Connection);
    put("Content-Version", ContentVersion);
    put("Content-Encoding", ContentEncoding);
    put("Content-Language", ContentLanguage);
    put("Content-Type", ContentType);
    if (ContentLength >= 0)
        h.SetValue("Content-Length", std::to_string(ContentLength));
    put("Cache-control", CacheControl);
    if (Date > 0)
        h.SetValue("Date", DateTimeToInternetStr(Date, LocalOffsetFromUTC(system)));
    if (Expires > 0)
        h.SetValue("Expires", DateTimeToInternetStr(Expires, LocalOffsetFromUTC(system)));
    put("Pragma", Pragma);
    if (!CustomHeaders.Empty())
        h.AddStrings(CustomHeaders);
}
