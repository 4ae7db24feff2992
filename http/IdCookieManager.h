#pragma once
// The cookie store of an HTTP client: takes the cookies of every answer, keeps the valid
// ones in memory by domain and name, drops expired ones, and gives the "Cookie" value for
// each request.
//
// Locking: adding, cleaning up and destroying take the collection's write lock, building a
// "Cookie" value its read lock (after the clean-up has released the write lock). Event
// handlers run without the lock held.

#include "http/IdCookies.h"
#include "platform/ui/Component.h"

#include <functional>
#include <string>
#include <string_view>

class TIdHeaderList;
class TIdURI;
class TIdCookieManager;

namespace platform {
class System;
}

enum TIdCookieKind { ckRFC2109, ckRFC2965 };

using TOnManagerEvent = std::function<void(TIdCookieManager* ASender, TIdCookies* ACookieCollection)>;
using TOnNewCookieEvent = std::function<void(TIdCookieManager* ASender, TIdNetscapeCookie* ACookie, bool& VAccept)>;

class TIdCookieManager : public TComponent {
public:
    // The system gives the clock and the local offset; it is borrowed and must outlive the
    // store.
    TIdCookieManager(TComponent* owner, platform::System& system);
    // Cleans up, raises OnDestroy, then frees every cookie.
    ~TIdCookieManager() override;
    UPDATER_CLASS_NAME(TIdCookieManager)

    // Raises OnCreate; the creator calls it once the handlers are assigned.
    void NotifyCreated();

    // Parses the text into a new cookie of the kind, defaults its domain to the host, drops
    // it when it is not valid for the host or OnNewCookie refuses it, and otherwise stores it:
    // a new name is appended to its domain, a known name keeps its place and takes the
    // newcomer's values.
    void AddCookie(std::string_view text, std::string_view host, TIdCookieKind kind = ckRFC2109);
    // Every "Set-cookie" value of an answer in order, then every "Set-cookie2" value.
    void AddServerCookies(const TIdHeaderList& headers, std::string_view host);

    // Removes every cookie whose expiry lies before now.
    void CleanupCookieList();

    // The "Cookie" value for a request to the URL: the cookies of the domains the host lies
    // in whose path is a prefix of the URL's path, that have a value, and that are not
    // secure unless the connection is; longer paths first. "" when none.
    std::string GenerateCookieList(const TIdURI& url, bool secure = false);

    TIdCookies& CookieCollection() { return cookies_; }

    TOnManagerEvent OnCreate;
    TOnManagerEvent OnDestroy;
    TOnNewCookieEvent OnNewCookie;

private:
    platform::System& system_;
    TIdCookies cookies_;
};

// Whether cookies stored under the domain key go to the host: a host-only key (no leading
// ".") needs the same host, a domain key a host that ends with it, so a cookie for
// "example.com" never reaches "badexample.com" or "example.com.evil".
bool HostInCookieDomain(std::string_view host, std::string_view domainKey);
