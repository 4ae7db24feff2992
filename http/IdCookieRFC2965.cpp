#include "http/IdCookieRFC2965.h"

#include "platform/runtime/Decimal.h"
#include "platform/runtime/Strings.h"

void TIdCookieRFC2965::LoadProperties(const std::vector<std::string>& items)
{
    TIdCookieRFC2109::LoadProperties(items);
    CommentURL = Attribute(items, "CommentURL");
    Discard = HasFlag(items, "DISCARD");

    PortList.clear();
    const std::string port = Attribute(items, "Port");
    if (port.empty()) {
        PortList.push_back(80);
    } else if (port.size() >= 2 && port.front() == '"' && port.back() == '"') {
        // A quoted list of numbers, separated by commas or blanks. An element that is not a
        // number is left out: the list plays no part in choosing cookies, so it must not be
        // able to fail the download that carried the cookie.
        const std::string inner = port.substr(1, port.size() - 2);
        std::string element;
        auto flush = [this, &element] {
            if (element.empty())
                return;
            if (const auto port = ParseDecimal(element, kDecimalNoMaximum, 9))
                PortList.push_back(static_cast<int>(*port));
            element.clear();
        };
        for (char c : inner) {
            if (c == ',' || c == ' ' || c == '\t')
                flush();
            else
                element += c;
        }
        flush();
        if (Trim(inner).empty())
            PortList.push_back(80);
    }
}

void TIdCookieRFC2965::Assign(const TIdNetscapeCookie& other)
{
    TIdCookieRFC2109::Assign(other);
    if (auto* o = dynamic_cast<const TIdCookieRFC2965*>(&other)) {
        CommentURL = o->CommentURL;
        Discard = o->Discard;
        PortList = o->PortList;
    } else {
        CommentURL.clear();
        Discard = false;
        PortList.clear();
    }
}
