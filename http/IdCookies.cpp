#include "http/IdCookies.h"

#include "platform/runtime/Strings.h"

#include <algorithm>

TIdCookieList& TIdCookies::DomainList(std::string_view domain)
{
    for (auto& d : domains_)
        if (SameText(d.key, domain))
            return *d.cookies;
    domains_.push_back({std::string(domain), std::make_unique<TIdCookieList>()});
    return *domains_.back().cookies;
}

TIdCookieList* TIdCookies::FindDomain(std::string_view domain) const
{
    for (const auto& d : domains_)
        if (SameText(d.key, domain))
            return d.cookies.get();
    return nullptr;
}

bool TIdCookies::DeleteOldest()
{
    // Each list is in order of addition, so the oldest cookie heads one of them.
    TIdCookieList* oldest = nullptr;
    for (const auto& d : domains_)
        if (d.cookies->Count() > 0 && (!oldest || d.cookies->Serial(0) < oldest->Serial(0)))
            oldest = d.cookies.get();
    if (!oldest)
        return false;
    oldest->Delete(0);
    return true;
}

void TIdCookies::DropEmptyDomains()
{
    std::erase_if(domains_, [](const DomainEntry& d) { return d.cookies->Count() == 0; });
}

std::size_t TIdCookies::Count() const
{
    std::size_t n = 0;
    for (const auto& d : domains_)
        n += d.cookies->Count();
    return n;
}
