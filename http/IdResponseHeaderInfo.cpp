#include "http/IdResponseHeaderInfo.h"

#include "http/IdDateTime.h"
#include "http/IdHTTPBodyFraming.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

#include <optional>

namespace {

// Optional sign and decimal digits, trimmed; nothing when it is anything else or does not
// fit 64 bits.
std::optional<std::int64_t> DecimalInt64(std::string_view text)
{
    const std::string s = Trim(text);
    const bool negative = !s.empty() && s[0] == '-';
    const std::size_t digitsAt = !s.empty() && (s[0] == '-' || s[0] == '+') ? 1 : 0;
    const auto v = ParseDecimal(std::string_view(s).substr(digitsAt), static_cast<std::uint64_t>(INT64_MAX));
    if (!v)
        return std::nullopt;
    return negative ? -static_cast<std::int64_t>(*v) : static_cast<std::int64_t>(*v);
}

} // namespace

void TIdResponseHeaderInfo::Clear()
{
    TIdEntityHeaderInfo::Clear();
    Location.clear();
    Server.clear();
    ProxyConnection.clear();
    TransferEncoding.clear();
    HasContentLength = false;
    WWWAuthenticate.clear();
    ProxyAuthenticate.clear();
}

void TIdResponseHeaderInfo::ProcessHeaders(platform::System& system)
{
    const TIdHeaderList& h = RawHeaders;
    Location = h.Values("Location");
    Server = h.Values("Server");
    ProxyConnection = h.Values("Proxy-Connection");
    TransferEncoding = h.Values("Transfer-Encoding");

    ContentRangeStart = 0;
    ContentRangeEnd = 0;
    const std::string range = h.Values("Content-Range");
    if (!range.empty()) {
        // "bytes 0-99/200": the unit is ignored, then the start up to "-", the end up to "/".
        std::string_view rest = range;
        const auto blank = rest.find(' ');
        rest = blank == std::string_view::npos ? std::string_view() : rest.substr(blank + 1);
        const auto dash = rest.find('-');
        const auto start = DecimalInt64(rest.substr(0, dash));
        const std::string_view afterDash = dash == std::string_view::npos ? std::string_view() : rest.substr(dash + 1);
        const auto end = DecimalInt64(afterDash.substr(0, afterDash.find('/')));
        if (start && end) {
            ContentRangeStart = *start;
            ContentRangeEnd = *end;
        }
    }

    WWWAuthenticate = h.Extract("WWW-Authenticate");
    ProxyAuthenticate = h.Extract("Proxy-Authenticate");

    Connection = h.Values("Connection");
    ContentVersion = h.Values("Content-Version");
    ContentEncoding = h.Values("Content-Encoding");
    ContentLanguage = h.Values("Content-Language");
    ContentType = h.Values("Content-Type");
    Pragma = h.Values("Pragma");
    ContentLength = ParseContentLength(h.Values("Content-Length"));
    HasContentLength = ContentLength >= 0;

    const std::string date = h.Values("Date");
    const std::string lastModified = h.Values("Last-Modified");
    const std::string expires = h.Values("Expires");
    Date = 0;
    LastModified = 0;
    Expires = 0;
    if (date.empty() && lastModified.empty() && expires.empty())
        return;
    const int offset = LocalOffsetFromUTC(system);
    if (!date.empty())
        Date = GMTToLocalDateTime(date, offset);
    if (!lastModified.empty())
        LastModified = GMTToLocalDateTime(lastModified, offset);
    if (!expires.empty()) {
        if (const auto seconds = DecimalInt64(expires))
            Expires = system.Now() + static_cast<double>(*seconds) / kSecondsPerDay;
        else
            Expires = GMTToLocalDateTime(expires, offset);
    }
}
