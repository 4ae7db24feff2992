#include "http/IdHTTPStatus.h"

#include "platform/runtime/Decimal.h"
#include "platform/runtime/Strings.h"

#include <limits>

namespace {

// A decimal integer with an optional sign and nothing else; no hexadecimal prefixes, since
// a status code is three digits and anything else is a broken line.
std::optional<int> DecimalInt(std::string_view s)
{
    std::size_t i = 0;
    bool negative = false;
    if (i < s.size() && (s[i] == '+' || s[i] == '-')) {
        negative = s[i] == '-';
        ++i;
    }
    const auto value = ParseDecimal(s.substr(i), std::numeric_limits<int>::max());
    if (!value)
        return std::nullopt;
    const auto magnitude = static_cast<int>(*value);
    return negative ? -magnitude : magnitude;
}

} // namespace

int StatusCodeOf(std::string_view statusLine)
{
    const auto blank = statusLine.find(' ');
    if (blank == std::string_view::npos)
        return -1;
    const std::string rest = Trim(statusLine.substr(blank + 1));
    const std::string_view word = std::string_view(rest).substr(0, rest.find(' '));
    return DecimalInt(word).value_or(-1);
}

std::optional<std::string> ResponseVersionOf(std::string_view statusLine)
{
    if (statusLine.size() < 8)
        return std::nullopt;
    const std::string_view v = statusLine.substr(5, 3);
    if (v == "1.0" || v == "1.1")
        return std::string(v);
    return std::nullopt;
}

TIdHTTPStatusAction ClassifyStatus(int code, bool hasLocation)
{
    // An interim 100 is skipped before anything else is looked at, a Location on it included.
    if (code == kStatusContinue)
        return TIdHTTPStatusAction::Continue;
    const int cls = code / 100; // -1 gives class 0
    if ((cls == 3 && code != 304) || hasLocation)
        return TIdHTTPStatusAction::Redirect;
    if (cls == 2)
        return TIdHTTPStatusAction::Success;
    if (code == 401)
        return TIdHTTPStatusAction::Authorize;
    if (code == 407)
        return TIdHTTPStatusAction::ProxyAuthorize;
    return TIdHTTPStatusAction::Fail;
}

bool StatusHasNoBody(int code) { return (code >= 100 && code < 200) || code == 204 || code == 304; }

TIdRedirectDecision DecideRedirect(bool handleRedirects, int redirectCount, int redirectMaximum, bool handled)
{
    if (!handled)
        return TIdRedirectDecision::Fail;
    if (handleRedirects && redirectCount < redirectMaximum)
        return TIdRedirectDecision::Follow;
    return TIdRedirectDecision::Finish;
}
