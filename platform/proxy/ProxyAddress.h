#pragma once
// Reading proxy addresses as users write them, in the environment and in "update.ini":
// "[http://][user[:password]@]host[:port][/]", with the user and password percent-decoded
// and port 1080 when none is given (curl's default, so that a value works here as it does
// there). And the parts of a target address that the bypass rules look at.

#include "platform/proxy/ProxyResolver.h"

#include <string>
#include <string_view>

namespace platform {

// The port of a proxy address that names none.
inline constexpr int kDefaultProxyPort = 1080;
// The longest proxy address read; a longer one is a mistake, not a proxy.
inline constexpr std::size_t kMaxProxyAddressLength = 2048;

// The route for a proxy address taken from `source`. A value that cannot be followed (a
// scheme other than http, no host, a bad port, too long) gives a route with Problem set;
// Problem names the source and, when it could be read, the proxy's host and port, never
// the credentials.
ProxyRoute ParseProxyAddress(std::string_view text, const std::string& source);

// "%41" becomes "A"; a "%" not followed by two hex digits stays as it is.
std::string PercentDecode(std::string_view text);

struct TargetAddress {
    std::string Scheme; // lower case; "http" when the address has none
    std::string Host;   // without brackets around an IPv6 address
    int Port = 0;       // the scheme's default (80, 443) when the address names none
};
// The scheme, host and port of an absolute address.
TargetAddress SplitTargetAddress(std::string_view url);

} // namespace platform
