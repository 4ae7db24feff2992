#pragma once
// A cookie from a "Set-cookie2" line: adds the comment address, the discard flag and the
// port list.

#include "http/IdCookieRFC2109.h"

#include <vector>

class TIdCookieRFC2965 : public TIdCookieRFC2109 {
public:
    explicit TIdCookieRFC2965(platform::System& system) : TIdCookieRFC2109(system, cfRFC2965) {}

    void Assign(const TIdNetscapeCookie& other) override;

    std::string CommentURL;
    bool Discard = false;
    // From the "Port" attribute: [80] when it is missing or empty, the numbers of a quoted
    // list otherwise. Not used when choosing cookies for a request.
    std::vector<int> PortList;

protected:
    void LoadProperties(const std::vector<std::string>& items) override;
};
