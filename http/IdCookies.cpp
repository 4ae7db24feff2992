#include "http/IdCookies.h"

#include "platform/runtime/Strings.h"

TIdCookieList& TIdCookies::DomainList(std::string_view domain)
{
    for (auto& d : domains_)
        if (SameText(d.key, domain))
            return *d.cookies;
    domains_.push_back({std::string(domain), std::make_unique<TIdCookieList>()});
    return *domains_.back().cookies;
}

std::size_t TIdCookies::Count() const
{
    std::size_t n = 0;
    for (const auto& d : domains_)
        n += d.cookies->Count();
    return n;
}
