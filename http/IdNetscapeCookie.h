#pragma once
// One cookie as a server set it: name, value and attributes parsed from a "Set-cookie"
// text, with the validity rule against the host that sent it. The two derived classes
// differ in their form and in the attributes they read (TIdCookieRFC2109 for "Set-cookie",
// TIdCookieRFC2965 for "Set-cookie2").

#include "platform/runtime/DateTime.h"
#include "platform/system/forward.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

// Netscape: the cookie had no "expires" attribute; otherwise the form of its class.
enum TIdCookieForm { cfNetscape, cfRFC2109, cfRFC2965 };

class TIdNetscapeCookie {
public:
    // The system gives the local time and offset that expiry dates are computed from; it is
    // borrowed and must outlive the cookie.
    explicit TIdNetscapeCookie(platform::System& system) : TIdNetscapeCookie(system, cfNetscape) {}
    virtual ~TIdNetscapeCookie() = default;
    TIdNetscapeCookie(const TIdNetscapeCookie&) = default;

    // Parses a cookie text into this cookie. The text it already holds changes nothing.
    void SetCookieText(std::string_view text);
    const std::string& CookieText() const { return cookieText_; }

    // Takes every parsed value of another cookie (the newcomer that replaces this one).
    virtual void Assign(const TIdNetscapeCookie& other);

    // "name=value", as sent in a "Cookie" line.
    std::string ClientCookie() const { return CookieName + "=" + Value; }

    // Whether a cookie with this domain may be kept from the given host (the request's host
    // as given): an address or a host-only cookie needs the exact host, a domain cookie the
    // exact domain of the host (the host from its first "." on).
    bool IsValidCookie(std::string_view host) const;

    // The local date-time of the expiry; 0 plus the local offset (long past) when the expires
    // text cannot be read. Only meaningful when Expires is not empty.
    TDateTime ExpiresDateTime() const;

    std::string CookieName;
    std::string Value;
    std::string Path;
    std::string Domain;
    std::string Expires;
    bool Secure = false;
    TIdCookieForm Form = cfNetscape;
    std::int64_t MaxAge = -1; // seconds; -1: none
    std::string Version;
    std::string Comment;

protected:
    TIdNetscapeCookie(platform::System& system, TIdCookieForm form) : Form(form), system_(system), classForm_(form) {}

    // The attribute items after the first, names upper-cased ("PATH=/", "SECURE").
    virtual void LoadProperties(const std::vector<std::string>& items);
    // The value of the first item with that name; found is set when there is one.
    static std::string Attribute(const std::vector<std::string>& items, std::string_view name, bool* found = nullptr);
    static bool HasFlag(const std::vector<std::string>& items, std::string_view flag);

    platform::System& system_;

private:
    void SetExpires(std::string text);

    TIdCookieForm classForm_;
    std::string cookieText_;
};

// True for a text whose first four "."-separated parts are decimal numbers from 0 to 255.
bool IsIPv4Address(std::string_view host);
// The name from its first "." on ("a.b.c" gives ".b.c"); a name without "." is its own domain.
std::string DomainOfHost(std::string_view host);
