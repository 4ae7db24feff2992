// Cookie parsing, the validity rule, and the store: domains, replacement, expiry, order of
// the "Cookie" value and the domain rule that keeps cookies from look-alike hosts.

#include "http/IdCookieManager.h"
#include "http/IdCookieRFC2965.h"
#include "http/IdDateTime.h"
#include "http/IdHTTP.h"
#include "http/IdHeaderList.h"
#include "http/IdURI.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/MemoryIOHandler.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

// 2021-06-09 12:00:00 local time, UTC+2.
struct CookieClock : FakeSystem {
    CookieClock()
    {
        now = 44356.5;
        biasMinutes = -120;
    }
};

struct ParseCase {
    const char* name;
    const char* text;
    const char* cookieName;
    const char* value;
    const char* path = "";
    const char* domain = "";
    const char* expires = "";
    bool secure = false;
    TIdCookieForm form = cfNetscape;
    std::int64_t maxAge = -1;
};

TEST(TIdCookieRFC2109, ParsesNameValueAndAttributes)
{
    const ParseCase cases[] = {
        {.name = "plain", .text = "lang=fr; path=/", .cookieName = "lang", .value = "fr", .path = "/"},
        {.name = "no attributes, not trimmed", .text = " a = b ", .cookieName = " a ", .value = " b "},
        {.name = "blanks around the equals sign",
         .text = "name = value; Path=/p",
         .cookieName = "name ",
         .value = " value",
         .path = "/p"},
        {.name = "attribute names in any case, values keep theirs",
         .text = "id=X1; PaTh=\"/Quoted/\"; DoMain=.Example.com; SeCuRe; version=1; comment=Hi There",
         .cookieName = "id",
         .value = "X1",
         .path = "/Quoted/",
         .domain = ".Example.com",
         .secure = true},
        {.name = "first of two same attributes wins",
         .text = "a=1; path=/x; path=/y",
         .cookieName = "a",
         .value = "1",
         .path = "/x"},
        {.name = "secure with a value is not the flag", .text = "a=1; secure=yes", .cookieName = "a", .value = "1"},
        {.name = "value with equals signs", .text = "a=b=c; path=/", .cookieName = "a", .value = "b=c", .path = "/"},
        {.name = "no equals sign", .text = "flag; path=/", .cookieName = "", .value = "", .path = "/"},
        {.name = "expires keeps the class form",
         .text = "a=1; expires=Wed, 09-Jun-2021 12:00:00 GMT",
         .cookieName = "a",
         .value = "1",
         .expires = "Wed, 09-Jun-2021 12:00:00 GMT",
         .form = cfRFC2109},
        {.name = "max-age gives an expiry date",
         .text = "a=1; max-age=3600",
         .cookieName = "a",
         .value = "1",
         .expires = "Wed, 9 Jun 2021 13:00:00 +0200",
         .maxAge = 3600},
        {.name = "max-age not a number", .text = "a=1; max-age=soon", .cookieName = "a", .value = "1"},
        {.name = "negative max-age expires at once",
         .text = "a=1; max-age=-5",
         .cookieName = "a",
         .value = "1",
         .expires = "Wed, 9 Jun 2021 12:00:00 +0200",
         .maxAge = 0},
        {.name = "enormous max-age stays readable",
         .text = "a=1; max-age=999999999999999999999",
         .cookieName = "a",
         .value = "1",
         .expires = "Fri, 31 Dec 9999 23:59:59 +0200",
         .maxAge = 251779060799},
    };
    CookieClock clock;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        TIdCookieRFC2109 cookie(clock);
        cookie.SetCookieText(c.text);
        EXPECT_EQ(cookie.CookieText(), c.text);
        EXPECT_EQ(cookie.CookieName, c.cookieName);
        EXPECT_EQ(cookie.Value, c.value);
        EXPECT_EQ(cookie.Path, c.path);
        EXPECT_EQ(cookie.Domain, c.domain);
        EXPECT_EQ(cookie.Expires, c.expires);
        EXPECT_EQ(cookie.Secure, c.secure);
        EXPECT_EQ(cookie.Form, c.form);
        EXPECT_EQ(cookie.MaxAge, c.maxAge);
    }
    TIdCookieRFC2109 full(clock);
    full.SetCookieText("id=X1; version=1; comment=Hi There");
    EXPECT_EQ(full.Version, "1");
    EXPECT_EQ(full.Comment, "Hi There");
}

TEST(TIdCookieRFC2965, ReadsCommentURLDiscardAndPorts)
{
    CookieClock clock;
    struct Case {
        const char* text;
        std::vector<int> ports;
    } cases[] = {
        {"a=1", {80}},
        {"a=1; Port", {80}},
        {"a=1; Port=", {80}},
        {"a=1; Port=\"\"", {80}},
        {"a=1; Port=\"8080, 81 82\"", {8080, 81, 82}},
        {"a=1; Port=80", {}},
        // A port that is not a number is left out instead of failing the download.
        {"a=1; Port=\"80,x1,443\"", {80, 443}},
    };
    for (const auto& c : cases) {
        TIdCookieRFC2965 cookie(clock);
        cookie.SetCookieText(c.text);
        EXPECT_EQ(cookie.PortList, c.ports) << c.text;
        EXPECT_EQ(cookie.Form, cfNetscape) << c.text;
    }
    TIdCookieRFC2965 cookie(clock);
    cookie.SetCookieText("a=1; commenturl=http://h/why; discard; expires=Wed, 09-Jun-2021 12:00:00 GMT");
    EXPECT_EQ(cookie.CommentURL, "http://h/why");
    EXPECT_TRUE(cookie.Discard);
    EXPECT_EQ(cookie.Form, cfRFC2965);
}

TEST(TIdNetscapeCookie, ValidityAgainstTheSendingHost)
{
    struct Case {
        const char* host;
        const char* domain;
        bool valid;
    } cases[] = {
        {.host = "a.b.c", .domain = "a.b.c", .valid = true},
        {.host = "a.b.c", .domain = ".b.c", .valid = true},
        {.host = "a.b.c", .domain = "b.c", .valid = false},
        {.host = "a.b.c", .domain = ".c", .valid = false},
        {.host = "a.b.c", .domain = ".B.c", .valid = false},
        {.host = "b.c", .domain = "B.c", .valid = false},
        {.host = "b.c", .domain = ".c", .valid = true},
        {.host = "localhost", .domain = "localhost", .valid = true},
        {.host = "localhost", .domain = "other", .valid = false},
        {.host = "10.0.0.1", .domain = "10.0.0.1", .valid = true},
        {.host = "10.0.0.1", .domain = ".0.0.1", .valid = false},
        {.host = "a.b.c", .domain = "10.0.0.1", .valid = false},
        {.host = "256.0.0.1", .domain = ".0.0.1", .valid = true}, // not an address: a name
        {.host = ".b.c", .domain = ".B.C", .valid = true},
    };
    CookieClock clock;
    for (const auto& c : cases) {
        TIdCookieRFC2109 cookie(clock);
        cookie.Domain = c.domain;
        EXPECT_EQ(cookie.IsValidCookie(c.host), c.valid) << c.host << " / " << c.domain;
    }
    EXPECT_TRUE(IsIPv4Address(" 1.2.3.4 "));
    EXPECT_TRUE(IsIPv4Address("1.2.3.4.extra"));
    EXPECT_FALSE(IsIPv4Address("1.2.3"));
    EXPECT_FALSE(IsIPv4Address("1.2.3.x"));
    EXPECT_EQ(DomainOfHost("a.b.c"), ".b.c");
    EXPECT_EQ(DomainOfHost("host"), "host");
}

TIdURI Url(const char* address) { return TIdURI(address); }

struct StoreTest : ::testing::Test {
    CookieClock clock;
    TIdCookieManager store{nullptr, clock};

    std::string ValueFor(const char* address) { return store.GenerateCookieList(Url(address)); }
};

TEST_F(StoreTest, SendsMatchingCookiesByHostAndPath)
{
    store.AddCookie("lang=fr; path=/", "h");
    store.AddCookie("nopath=1", "h");
    store.AddCookie("doc=1; path=/update/index.php", "h");
    store.AddCookie("deep=1; path=/update/files/", "h");
    EXPECT_EQ(store.CookieCollection().Count(), 4u);
    EXPECT_EQ(ValueFor("http://h/update/setup.exe"), "lang=fr");
    EXPECT_EQ(ValueFor("http://h/update/files/x"), "deep=1; lang=fr");
    EXPECT_EQ(ValueFor("http://other/update/"), "");
    // Paths are compared with their case.
    EXPECT_EQ(ValueFor("http://h/UPDATE/files/x"), "lang=fr");
}

TEST_F(StoreTest, DomainCookiesGoOnlyToHostsThatEndWithTheDomain)
{
    store.AddCookie("d=1; path=/; domain=.b.c", "a.b.c");
    store.AddCookie("bad=1; path=/; domain=b.c", "a.b.c");
    store.AddCookie("host=1; path=/", "example.com");
    store.AddCookie("sub=1; path=/; domain=.example.com", "www.example.com");
    ASSERT_EQ(store.CookieCollection().DomainCount(), 3u);
    EXPECT_EQ(store.CookieCollection().DomainKey(0), ".b.c");

    struct Case {
        const char* address;
        const char* want;
    } cases[] = {
        {"http://a.b.c/", "d=1"},
        {"http://x.y.B.C/", "d=1"},
        {"http://b.c/", ""},
        {"http://a.b.c.evil/", ""},
        {"http://example.com/", "host=1"},
        {"http://EXAMPLE.com/", "host=1"},
        {"http://badexample.com.evil/", ""},
        {"http://badexample.com/", ""},
        {"http://www.example.com/", "sub=1"},
        {"http://wwwexample.com/", ""},
        {"http://example.com.evil/", ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ValueFor(c.address), c.want) << c.address;
}

TEST_F(StoreTest, SecureCookiesOnlyOverSecureConnections)
{
    store.AddCookie("s=1; path=/; secure", "h");
    store.AddCookie("p=1; path=/", "h");
    EXPECT_EQ(store.GenerateCookieList(Url("http://h/"), false), "p=1");
    EXPECT_EQ(store.GenerateCookieList(Url("http://h/"), true), "p=1; s=1");
}

TEST_F(StoreTest, OrderIsLongerPathsFirstThenDomainsThenNewestName)
{
    store.AddCookie("p1=a; path=/", "w.h.c");
    store.AddCookie("p2=b; path=/update/", "w.h.c");
    store.AddCookie("dom=c; path=/; domain=.h.c", "w.h.c");
    store.AddCookie("p3=d; path=/", "w.h.c");
    // Domains: "w.h.c" then ".h.c". Within "w.h.c", p3 is newer than p1.
    EXPECT_EQ(ValueFor("http://w.h.c/update/"), "p2=b; p3=d; p1=a; dom=c");
}

TEST_F(StoreTest, SameNameReplacesInPlace)
{
    store.AddCookie("a=1; path=/", "h");
    store.AddCookie("b=1; path=/", "h");
    store.AddCookie("A=2; path=/", "h");
    const TIdCookieList& list = store.CookieCollection().DomainList("h");
    ASSERT_EQ(list.Count(), 2u);
    EXPECT_EQ(list.Key(0), "a");
    EXPECT_EQ(list.Cookie(0).Value, "2");
    EXPECT_EQ(ValueFor("http://h/"), "b=1; A=2");

    // An empty value leaves a cookie that is never sent.
    store.AddCookie("b=; path=/", "h");
    EXPECT_EQ(ValueFor("http://h/"), "A=2");
}

TEST_F(StoreTest, ReplacementCarriesTheNewExpiry)
{
    // A server deletes a cookie by setting it again with a date in the past (PHP writes
    // "deleted" as the value): the stored cookie must go, not live on with the new value.
    store.AddCookie("sid=abc; path=/", "h");
    store.AddCookie("sid=deleted; path=/; expires=Thu, 01-Jan-1970 00:00:01 GMT; Max-Age=0", "h");
    EXPECT_EQ(ValueFor("http://h/"), "");
    EXPECT_EQ(store.CookieCollection().Count(), 0u);

    store.AddCookie("k=1; path=/", "h");
    store.AddCookie("k=2; path=/; max-age=60", "h");
    const TIdNetscapeCookie& k = store.CookieCollection().DomainList("h").Cookie(0);
    EXPECT_EQ(k.Value, "2");
    EXPECT_EQ(k.Expires, "Wed, 9 Jun 2021 12:01:00 +0200");
    clock.now += 61.0 / kSecondsPerDay;
    EXPECT_EQ(ValueFor("http://h/"), "");
}

TEST_F(StoreTest, CleanUpRemovesExpiredAndUnreadableDates)
{
    store.AddCookie("past=1; path=/; expires=Wed, 09-Jun-2021 09:59:59 GMT", "h");   // 11:59:59 local
    store.AddCookie("future=1; path=/; expires=Wed, 09-Jun-2021 10:00:01 GMT", "h"); // 12:00:01 local
    store.AddCookie("junk=1; path=/; expires=someday", "h");
    store.AddCookie("zero=1; path=/; max-age=0", "h");
    store.AddCookie("session=1; path=/", "h");
    EXPECT_EQ(store.CookieCollection().Count(), 5u);
    clock.now += 0.5 / kSecondsPerDay;
    EXPECT_EQ(ValueFor("http://h/"), "session=1; future=1");
    clock.now += 2.0 / kSecondsPerDay;
    store.CleanupCookieList();
    EXPECT_EQ(store.CookieCollection().Count(), 1u);
    // The domain list stays in the index even when it empties.
    EXPECT_EQ(store.CookieCollection().DomainCount(), 1u);
}

TEST_F(StoreTest, TakesSetCookieThenSetCookie2FromAnswerHeaders)
{
    TIdHeaderList headers;
    headers.Add("Set-Cookie2: two=2; path=/; Port=\"81,x\"");
    headers.Add("set-cookie: one=1; path=/");
    headers.Add("Content-Type: text/html");
    headers.Add("SET-COOKIE: uno=1; path=/");
    store.AddServerCookies(headers, "h");
    const TIdCookieList& list = store.CookieCollection().DomainList("h");
    ASSERT_EQ(list.Count(), 3u);
    EXPECT_EQ(list.Key(0), "one");
    EXPECT_EQ(list.Key(1), "uno");
    EXPECT_EQ(list.Key(2), "two");
    EXPECT_NE(dynamic_cast<const TIdCookieRFC2965*>(&list.Cookie(2)), nullptr);
}

TEST_F(StoreTest, OnNewCookieCanRefuse)
{
    std::vector<std::string> seen;
    store.OnNewCookie = [&seen](TIdCookieManager*, TIdNetscapeCookie* c, bool& accept) {
        seen.push_back(c->CookieName);
        accept = c->CookieName != "tracker";
    };
    store.AddCookie("tracker=1; path=/", "h");
    store.AddCookie("keep=1; path=/", "h");
    store.AddCookie("invalid=1; path=/; domain=elsewhere", "h"); // dropped before the event
    EXPECT_EQ(seen, (std::vector<std::string>{"tracker", "keep"}));
    EXPECT_EQ(ValueFor("http://h/"), "keep=1");
}

TEST(TIdCookieManager, DestroyCleansUpThenRaisesOnDestroy)
{
    CookieClock clock;
    std::size_t countAtDestroy = 99;
    {
        TIdCookieManager store(nullptr, clock);
        store.AddCookie("old=1; path=/; expires=Wed, 09-Jun-2021 09:00:00 GMT", "h");
        store.AddCookie("s=1; path=/", "h");
        store.OnDestroy = [&countAtDestroy](TIdCookieManager*, TIdCookies* cookies) {
            countAtDestroy = cookies->Count();
        };
        clock.now += 1.0;
    }
    EXPECT_EQ(countAtDestroy, 1u);
}

TEST(TIdCookieManager, ReadersAndWritersShareTheStore)
{
    CookieClock clock;
    TIdCookieManager store(nullptr, clock);
    // Both writers' cookies fit in the one domain's bound.
    constexpr int kPerWriter = static_cast<int>(TIdCookieManager::MaxCookiesPerDomain / 2);
    std::vector<std::thread> threads;
    for (int w = 0; w < 2; ++w)
        threads.emplace_back([&store, w] {
            for (int i = 0; i < kPerWriter; ++i)
                store.AddCookie("w" + std::to_string(w) + "n" + std::to_string(i) + "=v; path=/", "h");
        });
    std::size_t longest = 0;
    threads.emplace_back([&store, &longest] {
        for (int i = 0; i < 100; ++i)
            longest = std::max(longest, store.GenerateCookieList(TIdURI("http://h/")).size());
    });
    for (auto& t : threads)
        t.join();
    EXPECT_EQ(store.CookieCollection().Count(), 2u * kPerWriter);
    const std::string all = store.GenerateCookieList(TIdURI("http://h/"));
    EXPECT_NE(all.find("w0n" + std::to_string(kPerWriter - 1) + "=v"), std::string::npos);
    EXPECT_NE(all.find("w1n0=v"), std::string::npos);
    EXPECT_LE(longest, all.size());
}

} // namespace

// The client's cookie store: borrowed, handed over, or none. Two Gets on one kept
// connection; the first answer sets a cookie, the second request shows what was sent.
struct ClientStore : ::testing::Test {
    CookieClock clock;
    // Declared before the client, which borrows them and so must go first.
    TIdCookieManager borrowed{nullptr, clock};
    testsupport::MemoryIOHandler peer{{testsupport::MemoryIOHandler::Script()
                                           .ExpectRequest()
                                           .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n"
                                                 "Set-Cookie: a=1; path=/\r\n\r\nhi")
                                           .ExpectRequest()
                                           .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi")}};
    TIdHTTP http{nullptr, clock, "IdHTTP1"};

    ClientStore() { http.SetIOHandler(&peer); }

    // The Cookie line of the second request, empty when it had none.
    std::string CookieSentSecond()
    {
        for (int i = 0; i < 2; ++i) {
            TMemoryStream body;
            http.Get("http://h/update/", body);
        }
        const std::string second = peer.Requests().at(1);
        const auto at = second.find("\r\nCookie: ");
        return at == std::string::npos ? std::string() : second.substr(at + 2, second.find("\r\n", at + 2) - at - 2);
    }
};

TEST_F(ClientStore, ABorrowedStoreIsUsedAndOutlivesTheClient)
{
    http.SetCookieManager(&borrowed);
    EXPECT_EQ(http.CookieManager(), &borrowed);
    EXPECT_EQ(CookieSentSecond(), "Cookie: a=1");
    EXPECT_EQ(borrowed.CookieCollection().Count(), 1u);
    // Setting it again changes nothing; null leaves the client without a store.
    http.SetCookieManager(&borrowed);
    EXPECT_EQ(http.CookieManager(), &borrowed);
    http.SetCookieManager(static_cast<TIdCookieManager*>(nullptr));
    EXPECT_EQ(http.CookieManager(), nullptr);
    EXPECT_EQ(borrowed.GenerateCookieList(Url("http://h/")), "a=1");
}

TEST_F(ClientStore, AHandedOverStoreIsFreedWhenAnotherTakesItsPlace)
{
    auto owned = std::make_unique<TIdCookieManager>(nullptr, clock);
    TIdCookieManager* const handed = owned.get();
    bool freed = false;
    handed->OnDestroy = [&freed](TIdCookieManager*, TIdCookies*) { freed = true; };
    handed->AddCookie("pre=1; path=/", "h");
    http.SetCookieManager(std::move(owned));
    EXPECT_EQ(http.CookieManager(), handed);
    EXPECT_EQ(CookieSentSecond(), "Cookie: a=1; pre=1");
    // Naming the store in use again keeps it.
    http.SetCookieManager(http.CookieManager());
    EXPECT_FALSE(freed);
    EXPECT_EQ(http.CookieManager(), handed);
    http.SetCookieManager(&borrowed);
    EXPECT_TRUE(freed);
    EXPECT_EQ(http.CookieManager(), &borrowed);
}

TEST_F(ClientStore, WithoutAStoreTheClientMakesItsOwnOnlyWhenCookiesAreAllowed)
{
    ASSERT_EQ(http.CookieManager(), nullptr);
    http.AllowCookies = false;
    EXPECT_EQ(CookieSentSecond(), "");
    EXPECT_EQ(http.CookieManager(), nullptr);
}

TEST_F(ClientStore, WithCookiesAllowedTheClientsOwnStoreCarriesTheCookieOn)
{
    ASSERT_EQ(http.CookieManager(), nullptr);
    EXPECT_EQ(CookieSentSecond(), "Cookie: a=1");
    ASSERT_NE(http.CookieManager(), nullptr);
    EXPECT_EQ(http.CookieManager()->CookieCollection().Count(), 1u);
}
