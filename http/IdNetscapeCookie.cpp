#include "http/IdNetscapeCookie.h"

#include "http/IdDateTime.h"
#include "platform/runtime/Decimal.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>

namespace {

// The last second a written date can carry; later expiry dates are written as this one so
// that they read back instead of turning into an unreadable (and so long past) date.
const TDateTime kLastDate = [] {
    TSystemTime t;
    t.year = 9999;
    t.month = 12;
    t.day = 31;
    t.hour = 23;
    t.minute = 59;
    t.second = 59;
    return EncodeDateTime(t);
}();

// Items of a cookie text: split at ";", each trimmed; a text without ";" is one item as it
// stands.
std::vector<std::string> SplitItems(std::string_view text)
{
    std::vector<std::string> items;
    if (text.find(';') == std::string_view::npos) {
        items.emplace_back(text);
        return items;
    }
    std::string_view rest = text;
    for (size_t semi; (semi = rest.find(';')) != std::string_view::npos;) {
        items.push_back(Trim(rest.substr(0, semi)));
        rest.remove_prefix(semi + 1);
    }
    if (!rest.empty())
        items.push_back(Trim(rest));
    return items;
}

// A decimal integer with an optional sign; values beyond 64 bits saturate, since an
// age of more seconds than that is simply "for ever".
std::optional<std::int64_t> DecimalInt64(std::string_view s)
{
    const size_t i = (!s.empty() && (s[0] == '-' || s[0] == '+')) ? 1 : 0;
    const std::string_view digits = s.substr(i);
    // Read as a prefix, which stops at the maximum instead of refusing what goes beyond it.
    const DecimalPrefix r = ReadDecimalPrefix(digits, std::numeric_limits<std::int64_t>::max());
    if (r.Digits == 0 || r.Digits != digits.size())
        return std::nullopt;
    const auto v = static_cast<std::int64_t>(r.Value);
    return s[0] == '-' ? -v : v;
}

} // namespace

bool IsIPv4Address(std::string_view host)
{
    const std::string h = Trim(host);
    std::string_view rest = h;
    for (int part = 0; part < 4; ++part) {
        size_t dot = rest.find('.');
        if (part < 3 && dot == std::string_view::npos)
            return false;
        std::string_view p = rest.substr(0, dot);
        if (!ParseDecimal(p, 255, 3))
            return false;
        rest = dot == std::string_view::npos ? std::string_view() : rest.substr(dot + 1);
    }
    return true;
}

std::string DomainOfHost(std::string_view host)
{
    size_t dot = host.find('.');
    return std::string(dot == std::string_view::npos ? host : host.substr(dot));
}

std::string TIdNetscapeCookie::Attribute(const std::vector<std::string>& items, std::string_view name, bool* found)
{
    for (const std::string& item : items) {
        size_t eq = item.find('=');
        if (eq != std::string::npos && SameText(std::string_view(item).substr(0, eq), name)) {
            if (found)
                *found = true;
            return item.substr(eq + 1);
        }
    }
    if (found)
        *found = false;
    return {};
}

bool TIdNetscapeCookie::HasFlag(const std::vector<std::string>& items, std::string_view flag)
{
    return std::any_of(items.begin(), items.end(), [flag](const std::string& item) {
        return item.find('=') == std::string::npos && SameText(item, flag);
    });
}

void TIdNetscapeCookie::SetCookieText(std::string_view text)
{
    if (text == cookieText_)
        return;
    cookieText_ = std::string(text);

    std::vector<std::string> items = SplitItems(text);
    const std::string& first = items.front();
    size_t eq = first.find('=');
    CookieName = eq == std::string::npos ? std::string() : first.substr(0, eq);
    Value = eq == std::string::npos ? std::string() : first.substr(eq + 1);
    items.erase(items.begin());

    // Attribute names and flags are matched in upper case; values keep their case.
    for (std::string& item : items) {
        size_t e = item.find('=');
        item = e == std::string::npos ? UpperCase(item) : UpperCase(item.substr(0, e)) + item.substr(e);
    }
    Form = classForm_;
    LoadProperties(items);
}

void TIdNetscapeCookie::SetExpires(std::string text)
{
    Expires = std::move(text);
    if (Expires.empty())
        return;
    const double seconds = (ExpiresDateTime() - system_.Now()) * kSecondsPerDay;
    MaxAge = static_cast<std::int64_t>(std::llround(seconds * 1000.0) / 1000);
}

void TIdNetscapeCookie::LoadProperties(const std::vector<std::string>& items)
{
    Path = Attribute(items, "PATH");
    if (!Path.empty() && Path.front() == '"')
        Path.erase(0, 1);
    if (!Path.empty() && Path.back() == '"')
        Path.pop_back();
    SetExpires(Attribute(items, "EXPIRES"));
    Domain = Attribute(items, "DOMAIN");
    Secure = HasFlag(items, "SECURE");

    bool hasMaxAge = false;
    const std::string maxAge = Attribute(items, "MAX-AGE", &hasMaxAge);
    MaxAge = DecimalInt64(maxAge).value_or(-1);
    // A negative age asks for the cookie to go at once, like 0; read literally it would
    // make the cookie live for ever instead.
    if (hasMaxAge && MaxAge < 0 && DecimalInt64(maxAge))
        MaxAge = 0;
    Version = Attribute(items, "VERSION");
    Comment = Attribute(items, "COMMENT");

    if (Expires.empty()) {
        Form = cfNetscape;
        if (MaxAge >= 0) {
            const TDateTime now = system_.Now();
            const TDateTime until = std::min(now + static_cast<double>(MaxAge) / kSecondsPerDay, kLastDate);
            SetExpires(DateTimeToInternetStr(until, LocalOffsetFromUTC(system_)));
        }
    }
}

void TIdNetscapeCookie::Assign(const TIdNetscapeCookie& other)
{
    CookieName = other.CookieName;
    Value = other.Value;
    Path = other.Path;
    Domain = other.Domain;
    Expires = other.Expires;
    Secure = other.Secure;
    Form = other.Form;
    MaxAge = other.MaxAge;
    Version = other.Version;
    Comment = other.Comment;
    cookieText_ = other.cookieText_;
}

TDateTime TIdNetscapeCookie::ExpiresDateTime() const
{
    return GMTToLocalDateTime(Expires, LocalOffsetFromUTC(system_));
}

bool TIdNetscapeCookie::IsValidCookie(std::string_view host) const
{
    if (IsIPv4Address(host))
        return Domain == host;
    if (host.empty() || host.front() != '.') {
        const bool domainIsHostName = (Domain.empty() || Domain.front() != '.') && !IsIPv4Address(Domain);
        if (domainIsHostName)
            return Domain == host;
        return Domain == DomainOfHost(host);
    }
    return SameText(Domain, DomainOfHost(host));
}
