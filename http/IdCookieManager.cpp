#include "http/IdCookieManager.h"

#include "http/IdCookieRFC2965.h"
#include "http/IdDateTime.h"
#include "http/IdHeaderList.h"
#include "http/IdURI.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"

#include <algorithm>
#include <mutex>
#include <shared_mutex>

bool HostInCookieDomain(std::string_view host, std::string_view domainKey)
{
    if (domainKey.empty())
        return false;
    if (domainKey.front() != '.')
        return SameText(host, domainKey);
    return EndsWithText(host, domainKey);
}

TIdCookieManager::TIdCookieManager(TComponent* owner, platform::System& system) : TComponent(owner), system_(system) {}

TIdCookieManager::~TIdCookieManager()
{
    try {
        CleanupCookieList();
    } catch (...) {
        // The clean-up only frees memory early; the cookies go with the store anyway.
    }
    if (OnDestroy)
        OnDestroy(this, &cookies_);
}

void TIdCookieManager::NotifyCreated()
{
    if (OnCreate)
        OnCreate(this, &cookies_);
}

void TIdCookieManager::AddCookie(std::string_view text, std::string_view host, TIdCookieKind kind)
{
    // Longer than any cookie a server can count on a client to keep; parsing it would
    // only cost time.
    if (text.size() > MaxCookieTextLength)
        return;
    std::unique_ptr<TIdNetscapeCookie> cookie;
    if (kind == ckRFC2965)
        cookie = std::make_unique<TIdCookieRFC2965>(system_);
    else
        cookie = std::make_unique<TIdCookieRFC2109>(system_);
    cookie->SetCookieText(text);
    if (cookie->Domain.empty())
        cookie->Domain = std::string(host);
    if (!cookie->IsValidCookie(host))
        return;

    bool accept = true;
    if (OnNewCookie)
        OnNewCookie(this, cookie.get(), accept);
    if (!accept)
        return;

    std::unique_lock lock(cookies_.Lock());
    TIdCookieList* list = cookies_.FindDomain(cookie->Domain);
    if (list) {
        if (const int at = list->IndexOf(cookie->CookieName); at >= 0) {
            list->Cookie(static_cast<std::size_t>(at)).Assign(*cookie);
            return;
        }
    }
    // A new cookie: room is made within the bounds, the oldest going first, so that a
    // server sending thousands costs neither unbounded memory nor time in later lookups.
    if (list && list->Count() >= MaxCookiesPerDomain)
        list->Delete(0);
    else if (cookies_.Count() >= MaxCookies)
        cookies_.DeleteOldest();
    if (!list) {
        // Fewer than MaxCookies cookies are held now, so dropping the empty lists makes room.
        if (cookies_.DomainCount() >= MaxCookies)
            cookies_.DropEmptyDomains();
        list = &cookies_.DomainList(cookie->Domain);
    }
    std::string name = cookie->CookieName;
    list->Add(std::move(name), std::move(cookie), cookies_.NextSerial());
}

void TIdCookieManager::AddServerCookies(const TIdHeaderList& headers, std::string_view host)
{
    for (const std::string& value : headers.Extract("Set-cookie"))
        AddCookie(value, host, ckRFC2109);
    for (const std::string& value : headers.Extract("Set-cookie2"))
        AddCookie(value, host, ckRFC2965);
}

void TIdCookieManager::CleanupCookieList()
{
    std::unique_lock lock(cookies_.Lock());
    if (cookies_.Count() == 0)
        return;
    const TDateTime now = system_.Now();
    for (std::size_t d = 0; d < cookies_.DomainCount(); ++d) {
        TIdCookieList& list = cookies_.Domain(d);
        for (std::size_t i = list.Count(); i-- > 0;) {
            const TIdNetscapeCookie& c = list.Cookie(i);
            if (!c.Expires.empty() && c.ExpiresDateTime() < now)
                list.Delete(i);
        }
    }
}

std::string TIdCookieManager::GenerateCookieList(const TIdURI& url, bool secure)
{
    CleanupCookieList();

    struct Candidate {
        std::string path; // upper-cased for the order
        const TIdNetscapeCookie* cookie;
    };
    std::vector<Candidate> found;
    std::shared_lock lock(cookies_.Lock());
    for (std::size_t d = 0; d < cookies_.DomainCount(); ++d) {
        if (!HostInCookieDomain(url.Host, cookies_.DomainKey(d)))
            continue;
        const TIdCookieList& list = cookies_.Domain(d);
        for (std::size_t i = list.Count(); i-- > 0;) {
            const TIdNetscapeCookie& c = list.Cookie(i);
            if (!c.Path.empty() && url.Path.compare(0, c.Path.size(), c.Path) == 0 && !c.Value.empty() &&
                (!c.Secure || secure))
                found.push_back({UpperCase(c.Path), &c});
        }
    }
    // Longer paths before their prefixes; among equal paths the order of finding stands.
    std::stable_sort(found.begin(), found.end(),
                     [](const Candidate& a, const Candidate& b) { return a.path > b.path; });
    std::string value;
    for (const Candidate& c : found) {
        const std::string cookie = c.cookie->ClientCookie();
        const std::size_t separator = value.empty() ? 0 : 2;
        if (value.size() + separator + cookie.size() > MaxCookieListLength)
            continue;
        if (separator)
            value += "; ";
        value += cookie;
    }
    return value;
}
