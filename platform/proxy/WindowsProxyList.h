#pragma once
// The proxy lists of the Windows settings, as WinHTTP hands them over, read without any
// system call so that both backends' tests can run them:
// - a proxy list: entries separated by ";" or blanks, each "[scheme=][http://]host[:port]"
//   ("proxy:8080", "http=proxy:8080;https=secure:8443"). The entry for the target's scheme
//   wins, else the first entry without a scheme; none: direct. Port 80 when none is named.
// - a bypass list: entries separated by ";", "," or blanks; "*" and "?" are wildcards
//   ("*.example.com", "10.*"), matched without regard to case against the host, or against
//   "host:port" when the entry names a port; "<local>" matches every name without a dot.

#include "platform/proxy/ProxyAddress.h"

#include <string>
#include <string_view>

namespace platform {

// The port of a Windows proxy entry that names none.
inline constexpr int kWindowsDefaultProxyPort = 80;

// The route for the target from a proxy list; direct (no host) when no entry applies.
// Source is set on the answer either way.
ProxyRoute PickFromProxyList(std::string_view list, const TargetAddress& target, const std::string& source);

bool BypassListMatches(std::string_view list, const TargetAddress& target);

} // namespace platform
