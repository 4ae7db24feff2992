#include "platform/win32/WinHttpProxyResolver.h"

#include "platform/proxy/ProxyAddress.h"
#include "platform/proxy/WindowsProxyList.h"
// Not WindowsHeaders.h: its wininet.h and winhttp.h declare the same names differently.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winhttp.h>

namespace platform {
namespace {

constexpr const char* kLibraryName = "WINHTTP.DLL";
constexpr const char* kSettingsSource = "the Windows settings";

using GetIEProxyConfigFn = BOOL(WINAPI*)(WINHTTP_CURRENT_USER_IE_PROXY_CONFIG*);
using OpenFn = HINTERNET(WINAPI*)(LPCWSTR, DWORD, LPCWSTR, LPCWSTR, DWORD);
using GetProxyForUrlFn = BOOL(WINAPI*)(HINTERNET, LPCWSTR, WINHTTP_AUTOPROXY_OPTIONS*, WINHTTP_PROXY_INFO*);
using CloseHandleFn = BOOL(WINAPI*)(HINTERNET);

struct WinHttp {
    GetIEProxyConfigFn GetIEProxyConfig = nullptr;
    OpenFn Open = nullptr;
    GetProxyForUrlFn GetProxyForUrl = nullptr;
    CloseHandleFn CloseHandle = nullptr;
};

template <typename Fn>
Fn Entry(HMODULE library, const char* name)
{
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(::GetProcAddress(library, name)));
}

// Loaded once and kept for the process, as the socket library is.
const WinHttp* Library()
{
    static const WinHttp* const library = []() -> const WinHttp* {
        HMODULE module = ::LoadLibraryA(kLibraryName);
        if (!module)
            return nullptr;
        static WinHttp w;
        w.GetIEProxyConfig = Entry<GetIEProxyConfigFn>(module, "WinHttpGetIEProxyConfigForCurrentUser");
        w.Open = Entry<OpenFn>(module, "WinHttpOpen");
        w.GetProxyForUrl = Entry<GetProxyForUrlFn>(module, "WinHttpGetProxyForUrl");
        w.CloseHandle = Entry<CloseHandleFn>(module, "WinHttpCloseHandle");
        if (!w.GetIEProxyConfig || !w.Open || !w.GetProxyForUrl || !w.CloseHandle)
            return nullptr;
        return &w;
    }();
    return library;
}

// A string WinHTTP allocated: its ANSI text, and the memory given back.
std::string TakeString(LPWSTR text)
{
    if (!text)
        return {};
    std::string out;
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size > 1) {
        out.resize(static_cast<std::size_t>(size));
        ::WideCharToMultiByte(CP_ACP, 0, text, -1, out.data(), size, nullptr, nullptr);
        out.resize(static_cast<std::size_t>(size - 1));
    }
    ::GlobalFree(text);
    return out;
}

std::wstring Widen(const std::string& text)
{
    const int size = ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, nullptr, 0);
    std::wstring out(static_cast<std::size_t>(size > 0 ? size : 1), L'\0');
    if (size > 0)
        ::MultiByteToWideChar(CP_ACP, 0, text.c_str(), -1, out.data(), size);
    out.resize(out.size() - 1);
    return out;
}

// The answer of a proxy list and its bypass list for the target.
ProxyRoute RouteFromLists(const std::string& proxy, const std::string& bypass, const TargetAddress& target,
                          const std::string& source)
{
    if (BypassListMatches(bypass, target))
        return {.Source = source + "' bypass list"};
    return PickFromProxyList(proxy, target, source);
}

} // namespace

std::optional<WinHttpProxyResolver::Settings> WinHttpProxyResolver::ReadSettings()
{
    const WinHttp* winhttp = Library();
    if (!winhttp)
        return std::nullopt;
    WINHTTP_CURRENT_USER_IE_PROXY_CONFIG config{};
    if (!winhttp->GetIEProxyConfig(&config))
        return std::nullopt;
    Settings s;
    s.AutoDetect = config.fAutoDetect != FALSE;
    s.AutoConfigUrl = TakeString(config.lpszAutoConfigUrl);
    s.Proxy = TakeString(config.lpszProxy);
    s.Bypass = TakeString(config.lpszProxyBypass);
    return s;
}

std::optional<ProxyRoute> WinHttpProxyResolver::RunScript(const std::string& url, const Settings& settings)
{
    const WinHttp* winhttp = Library();
    HINTERNET session =
        winhttp->Open(L"updater", WINHTTP_ACCESS_TYPE_NO_PROXY, WINHTTP_NO_PROXY_NAME, WINHTTP_NO_PROXY_BYPASS, 0);
    if (!session)
        return std::nullopt;
    const std::wstring scriptUrl = Widen(settings.AutoConfigUrl);
    WINHTTP_AUTOPROXY_OPTIONS options{};
    if (!settings.AutoConfigUrl.empty()) {
        options.dwFlags = WINHTTP_AUTOPROXY_CONFIG_URL;
        options.lpszAutoConfigUrl = scriptUrl.c_str();
    } else {
        options.dwFlags = WINHTTP_AUTOPROXY_AUTO_DETECT;
        options.dwAutoDetectFlags = WINHTTP_AUTO_DETECT_TYPE_DHCP | WINHTTP_AUTO_DETECT_TYPE_DNS_A;
    }
    options.fAutoLogonIfChallenged = TRUE;
    WINHTTP_PROXY_INFO info{};
    const std::wstring wideUrl = Widen(url);
    const BOOL ok = winhttp->GetProxyForUrl(session, wideUrl.c_str(), &options, &info);
    winhttp->CloseHandle(session);
    if (!ok)
        return std::nullopt;
    const std::string proxy = TakeString(info.lpszProxy);
    const std::string bypass = TakeString(info.lpszProxyBypass);
    const std::string source = settings.AutoConfigUrl.empty() ? std::string("the Windows settings' automatic detection")
                                                              : "the PAC script " + settings.AutoConfigUrl;
    if (info.dwAccessType != WINHTTP_ACCESS_TYPE_NAMED_PROXY || proxy.empty())
        return ProxyRoute{.Source = source};
    return RouteFromLists(proxy, bypass, SplitTargetAddress(url), source);
}

ProxyRoute WinHttpProxyResolver::RouteFor(const std::string& url)
{
    if (!settings_)
        settings_ = ReadSettings();
    if (!*settings_)
        return {};
    const Settings& s = **settings_;
    if (s.AutoDetect || !s.AutoConfigUrl.empty()) {
        if (auto route = RunScript(url, s))
            return *route;
        if (s.Proxy.empty()) {
            // A script that cannot be fetched or run means direct, as in browsers.
            return {.Source = s.AutoConfigUrl.empty()
                                  ? std::string(kSettingsSource) + ": automatic detection found no proxy"
                                  : std::string(kSettingsSource) + ": the PAC script " + s.AutoConfigUrl +
                                        " could not be run"};
        }
    }
    if (s.Proxy.empty())
        return {};
    return RouteFromLists(s.Proxy, s.Bypass, SplitTargetAddress(url), kSettingsSource);
}

} // namespace platform
