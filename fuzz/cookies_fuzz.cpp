// Cookie texts from answers into a cookie store, then the "Cookie" value for requests.
//
// Input: the first byte picks the clock and the time zone; the rest is lines. "HOST name"
// makes later answers come from that host (the first host is "www.example.com"), "GET url"
// asks the store for the value of a request to the URL; every other line is a header line
// of the current answer, whose cookies the store takes at the next HOST or GET line and at
// the end. The value is then asked for a few addresses on and around the last host.

#include "FuzzSupport.h"

#include "http/IdCookieList.h"
#include "http/IdCookieManager.h"
#include "http/IdCookieRFC2965.h"
#include "http/IdHeaderList.h"
#include "http/IdURI.h"
#include "platform/runtime/Strings.h"
#include "tests/support/FakeSystem.h"

#include <cstddef>
#include <cstdint>
#include <set>
#include <string>
#include <string_view>

namespace {

bool GoesTo(std::string_view host, std::string_view key)
{
    if (key.empty())
        return false;
    if (key.front() != '.')
        return LowerCase(host) == LowerCase(key);
    return host.size() >= key.size() && LowerCase(host.substr(host.size() - key.size())) == LowerCase(key);
}

void CheckStore(TIdCookieManager& store)
{
    TIdCookies& cookies = store.CookieCollection();
    for (std::size_t d = 0; d < cookies.DomainCount(); ++d) {
        const TIdCookieList& list = cookies.Domain(d);
        for (std::size_t i = 0; i < list.Count(); ++i) {
            const TIdNetscapeCookie& c = list.Cookie(i);
            // A cookie is filed under its own domain and name.
            FUZZ_CHECK(SameText(c.Domain, cookies.DomainKey(d)));
            FUZZ_CHECK(SameText(c.CookieName, list.Key(i)));
            FUZZ_CHECK(c.CookieName.find(';') == std::string::npos && c.Value.find(';') == std::string::npos);
            FUZZ_CHECK(c.MaxAge >= -1);
            if (const auto* c2 = dynamic_cast<const TIdCookieRFC2965*>(&c))
                for (int port : c2->PortList)
                    FUZZ_CHECK(port >= 0);
        }
    }
}

void CheckValue(TIdCookieManager& store, platform::System& system, const std::string& address)
{
    const TIdURI url(address);
    const std::string value = store.GenerateCookieList(url);

    // The clean-up before the value has removed every expired cookie, and only cookies of
    // domains the host lies in, with a value and a path that prefixes the URL's, are sent.
    std::multiset<std::string> allowed;
    TIdCookies& cookies = store.CookieCollection();
    for (std::size_t d = 0; d < cookies.DomainCount(); ++d) {
        const TIdCookieList& list = cookies.Domain(d);
        for (std::size_t i = 0; i < list.Count(); ++i) {
            const TIdNetscapeCookie& c = list.Cookie(i);
            FUZZ_CHECK(c.Expires.empty() || !(c.ExpiresDateTime() < system.Now()));
            if (GoesTo(url.Host, cookies.DomainKey(d)) && !c.Value.empty() && !c.Path.empty() &&
                url.Path.compare(0, c.Path.size(), c.Path) == 0 && !c.Secure)
                allowed.insert(c.ClientCookie());
        }
    }
    std::string_view rest = value;
    while (!rest.empty()) {
        const std::size_t sep = rest.find("; ");
        const std::string piece(rest.substr(0, sep));
        rest = sep == std::string_view::npos ? std::string_view() : rest.substr(sep + 2);
        const auto it = allowed.find(piece);
        FUZZ_CHECK(it != allowed.end());
        allowed.erase(it);
    }
    FUZZ_CHECK(allowed.empty());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    FakeSystem system;
    system.now = 46000.5 + (data[0] - 128) * 37.25;
    system.biasMinutes = (data[0] % 29) * 60 - 840;
    std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);

    TIdCookieManager store(nullptr, system);
    std::string host = "www.example.com";
    TIdHeaderList answer(TIdHeaderList::kMessageFoldLength);
    std::size_t texts = 0;
    auto take = [&] {
        texts += answer.Extract("Set-cookie").size() + answer.Extract("Set-cookie2").size();
        store.AddServerCookies(answer, host);
        answer.Clear();
        FUZZ_CHECK(store.CookieCollection().Count() <= texts);
        CheckStore(store);
    };

    while (!rest.empty()) {
        const std::size_t lf = rest.find('\n');
        std::string_view line = rest.substr(0, lf);
        rest = lf == std::string_view::npos ? std::string_view() : rest.substr(lf + 1);
        if (!line.empty() && line.back() == '\r')
            line.remove_suffix(1);
        if (line.substr(0, 5) == "HOST ") {
            take();
            host = std::string(line.substr(5));
        } else if (line.substr(0, 4) == "GET ") {
            take();
            CheckValue(store, system, std::string(line.substr(4)));
        } else if (!line.empty()) {
            answer.Add(std::string(line));
        }
    }
    take();

    for (const std::string& address : {"http://" + host + "/", "http://" + host + "/update/index.php?x=1",
                                       "http://sub." + host + "/a/b/setup.exe", "http://" + host + ".evil/"})
        CheckValue(store, system, address);
    return 0;
}
