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
#include "http/forward.h"
#include "platform/system/forward.h"

#include <functional>
#include <string>
#include <string_view>

enum TIdCookieKind { ckRFC2109, ckRFC2965 };

using TOnManagerEvent = std::function<void(TIdCookieManager* ASender, TIdCookies* ACookieCollection)>;
using TOnNewCookieEvent = std::function<void(TIdCookieManager* ASender, TIdNetscapeCookie* ACookie, bool& VAccept)>;

class TIdCookieManager : public TComponent {
public:
    // Bounds on what servers can make the store keep; http/README.md says why each is
    // where it is. Past each, the store drops cookies silently, as it drops invalid ones.
    // A cookie text (the whole "Set-cookie" value) longer than this is dropped.
    static constexpr std::size_t MaxCookieTextLength = 8192;
    // A new cookie for a domain that holds this many drops the domain's oldest.
    static constexpr std::size_t MaxCookiesPerDomain = 50;
    // A new cookie for a store that holds this many drops the store's oldest. The domain
    // index is kept to as many keys: empty domain lists leave it when it is full.
    static constexpr std::size_t MaxCookies = 3000;
    // The longest "Cookie" value built for a request; cookies that would make it longer
    // are left out of it (they stay stored).
    static constexpr std::size_t MaxCookieListLength = 16384;

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
    // newcomer's values. A text over MaxCookieTextLength is dropped unread; a new name
    // beyond MaxCookiesPerDomain or MaxCookies first drops the oldest cookie of the domain
    // or of the store.
    void AddCookie(std::string_view text, std::string_view host, TIdCookieKind kind = ckRFC2109);
    // Every "Set-cookie" value of an answer in order, then every "Set-cookie2" value.
    void AddServerCookies(const TIdHeaderList& headers, std::string_view host);

    // Removes every cookie whose expiry lies before now.
    void CleanupCookieList();

    // The "Cookie" value for a request to the URL: the cookies of the domains the host lies
    // in whose path is a prefix of the URL's path, that have a value, and that are not
    // secure unless the connection is; longer paths first, leaving out each one that would
    // make the value longer than MaxCookieListLength. "" when none.
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
