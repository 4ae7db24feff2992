// The proxy on Windows under wine: the user's settings written where WinHTTP reads them (the
// "DefaultConnectionSettings" value of the Internet Settings connections key, as the
// system's own dialog writes it), resolved by WinHttpProxyResolver, and followed by the
// client through the squid instances that scripts/test-windows.sh runs on the Linux side:
// UPDATER_SQUID_PORT (no authentication), UPDATER_AUTH_SQUID_PORT (Basic, alice and the
// password in UPDATER_AUTH_SQUID_PASSWORD), a PAC script at UPDATER_PAC_URL that sends every
// address to the first squid except those on the host "localhost". The origins are the script's
// HTTP server (UPDATER_REAL_SERVER_PORT) and TLS server ("good" in UPDATER_TLS_PORTS).

#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "platform/runtime/MemoryStream.h"
#include "platform/win32/SchannelTls.h"
#include "platform/win32/WinHttpProxyResolver.h"
#include "tests/support/TestData.h"
#include "tests/support/FakeSystem.h"
#include "update/UpdateProxyResolver.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

std::string Env(const char* name)
{
    const char* v = std::getenv(name);
    return v ? v : "";
}

constexpr const char* kConnectionsKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings\\Connections";
// The flags of the settings value: direct, a static proxy, a PAC address, detection.
constexpr std::uint32_t kDirect = 1;
constexpr std::uint32_t kStaticProxy = 2;
constexpr std::uint32_t kPacScript = 4;

void PutDword(std::string& blob, std::uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        blob += static_cast<char>((v >> (8 * i)) & 0xff);
}

// Writes the settings as the system's dialog does; returns false when the key cannot be
// written.
bool WriteSettings(std::uint32_t flags, const std::string& proxy, const std::string& bypass, const std::string& pac)
{
    std::string blob;
    PutDword(blob, 0x46); // the version mark of the layout
    PutDword(blob, 1);    // a change counter
    PutDword(blob, flags);
    for (const std::string* text : {&proxy, &bypass, &pac}) {
        PutDword(blob, static_cast<std::uint32_t>(text->size()));
        blob += *text;
    }
    blob.append(32, '\0');
    HKEY key;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key, nullptr) !=
        ERROR_SUCCESS)
        return false;
    const LONG rc = ::RegSetValueExA(key, "DefaultConnectionSettings", 0, REG_BINARY,
                                     reinterpret_cast<const BYTE*>(blob.data()), static_cast<DWORD>(blob.size()));
    ::RegCloseKey(key);
    return rc == ERROR_SUCCESS;
}

void RemoveSettings()
{
    HKEY key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kConnectionsKey, 0, KEY_SET_VALUE, &key) == ERROR_SUCCESS) {
        ::RegDeleteValueA(key, "DefaultConnectionSettings");
        ::RegCloseKey(key);
    }
}

using testsupport::Pattern;

std::string TlsPort(const std::string& name)
{
    const std::string ports = "," + Env("UPDATER_TLS_PORTS") + ",";
    const auto at = ports.find("," + name + "=");
    if (at == std::string::npos)
        return "";
    const auto start = at + name.size() + 2;
    return ports.substr(start, ports.find(',', start) - start);
}

struct Outcome {
    std::string body;
    std::string error;
    std::string events;
};

Outcome Fetch(platform::ProxyResolver& resolver, const std::string& url)
{
    FakeSystem system;
    platform::SchannelTls tls;
    TIdHTTP http(nullptr, system);
    http.SetTls(&tls);
    http.SetCAFile(Env("UPDATER_TLS_CERTS") + "/ca.pem");
    http.SetProxyResolver(&resolver);
    Outcome out;
    http.OnStatus = [&out](TComponent*, TIdStatus status, const std::string& text) {
        if (status == hsConnecting)
            out.events += text + "\n";
    };
    TMemoryStream body;
    try {
        http.Get(url, body);
    } catch (const Exception& e) {
        out.error = std::string(e.ClassName()) + ": " + e.Message();
    }
    out.body = body.ToString();
    return out;
}

struct WindowsSettings : ::testing::Test {
    void SetUp() override
    {
        if (Env("UPDATER_SQUID_PORT").empty())
            GTEST_SKIP() << "no squid (scripts/test-windows.sh starts one)";
    }
    void TearDown() override { RemoveSettings(); }
};

TEST_F(WindowsSettings, StaticProxyBypassListAndPacScript)
{
    const std::string squid = "127.0.0.1:" + Env("UPDATER_SQUID_PORT");
    const std::string viaSquid = "proxy " + squid;
    struct Case {
        const char* name;
        std::uint32_t flags;
        std::string proxy;
        std::string bypass;
        std::string pac;
        std::string path;
        std::string connecting;
        std::string host = "127.0.0.1";
    } cases[] = {
        {.name = "a static proxy",
         .flags = kDirect | kStaticProxy,
         .proxy = squid,
         .bypass = "",
         .pac = "",
         .path = "/sized/5000",
         .connecting = viaSquid + " (from the Windows settings)"},
        {.name = "a static proxy per scheme",
         .flags = kDirect | kStaticProxy,
         .proxy = "https=127.0.0.1:9;http=" + squid,
         .bypass = "",
         .pac = "",
         .path = "/sized/5000",
         .connecting = viaSquid + " (from the Windows settings)"},
        {.name = "the bypass list",
         .flags = kDirect | kStaticProxy,
         .proxy = "127.0.0.1:9",
         .bypass = "<local>;127.0.0.*",
         .pac = "",
         .path = "/sized/5000",
         .connecting =
             "127.0.0.1:" + Env("UPDATER_REAL_SERVER_PORT") + " (direct, from the Windows settings' bypass list)"},
        {.name = "a PAC script that names the proxy",
         .flags = kDirect | kPacScript,
         .proxy = "",
         .bypass = "",
         .pac = Env("UPDATER_PAC_URL"),
         .path = "/sized/5000",
         .connecting = viaSquid + " (from the PAC script " + Env("UPDATER_PAC_URL") + ")"},
        {.name = "a PAC script that says DIRECT",
         .flags = kDirect | kPacScript,
         .proxy = "",
         .bypass = "",
         .pac = Env("UPDATER_PAC_URL"),
         .path = "/sized/5000",
         .connecting = "localhost:" + Env("UPDATER_REAL_SERVER_PORT") + " (direct, from the PAC script " +
                       Env("UPDATER_PAC_URL") + ")",
         .host = "localhost"},
        {.name = "a PAC script that cannot be fetched: direct",
         .flags = kDirect | kPacScript,
         .proxy = "",
         .bypass = "",
         .pac = "http://127.0.0.1:9/none.pac",
         .path = "/sized/5000",
         .connecting = "127.0.0.1:" + Env("UPDATER_REAL_SERVER_PORT") +
                       " (direct, from the Windows settings: the PAC script http://127.0.0.1:9/none.pac could not be "
                       "run)"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_TRUE(WriteSettings(c.flags, c.proxy, c.bypass, c.pac));
        platform::WinHttpProxyResolver system;
        UpdateProxyResolver resolver(&system, "", "update.ini");
        const Outcome out = Fetch(resolver, "http://" + c.host + ":" + Env("UPDATER_REAL_SERVER_PORT") + c.path);
        EXPECT_EQ(out.error, "");
        EXPECT_TRUE(out.body == Pattern(5000)) << out.body.size() << " bytes";
        EXPECT_EQ(out.events, "Connecting to " + c.connecting + ".\n");
    }
}

// update.ini's proxy with credentials over the settings, https through the tunnel with
// Schannel verifying the server inside it, and a wrong password.
TEST_F(WindowsSettings, CredentialsAndTheTunnelFromUpdateIni)
{
    const std::string port = TlsPort("good");
    ASSERT_FALSE(port.empty());
    ASSERT_TRUE(WriteSettings(kDirect | kStaticProxy, "127.0.0.1:9", "", ""));
    const std::string squid = "127.0.0.1:" + Env("UPDATER_AUTH_SQUID_PORT");
    const std::string password = Env("UPDATER_AUTH_SQUID_PASSWORD");
    struct Case {
        const char* name;
        std::string setting;
        std::string error;
    } cases[] = {
        {.name = "the right password", .setting = "http://alice:" + password + "@" + squid, .error = ""},
        {.name = "a wrong one",
         .setting = "http://alice:wrong-pass@" + squid,
         .error = "EIdHTTPProtocolException: The proxy " + squid +
                  " (from update.ini) answered: HTTP/1.1 407 Proxy Authentication Required"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        platform::WinHttpProxyResolver system;
        UpdateProxyResolver resolver(&system, c.setting, "update.ini");
        const Outcome out = Fetch(resolver, "https://localhost:" + port + "/sized/70000");
        EXPECT_EQ(out.error, c.error);
        if (c.error.empty()) {
            EXPECT_TRUE(out.body == Pattern(70000)) << out.body.size() << " bytes";
        }
        EXPECT_EQ(out.events, "Connecting to proxy " + squid + " (from update.ini).\n");
        EXPECT_EQ(out.error.find("wrong-pass"), std::string::npos);
        EXPECT_EQ(out.events.find(password), std::string::npos);
    }
}

} // namespace
