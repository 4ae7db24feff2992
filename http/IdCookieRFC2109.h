#pragma once
// A cookie from a "Set-cookie" line.

#include "http/IdNetscapeCookie.h"

class TIdCookieRFC2109 : public TIdNetscapeCookie {
public:
    explicit TIdCookieRFC2109(platform::System& system) : TIdNetscapeCookie(system, cfRFC2109) {}

protected:
    TIdCookieRFC2109(platform::System& system, TIdCookieForm form) : TIdNetscapeCookie(system, form) {}
};
