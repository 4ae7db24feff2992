#pragma once
// The bypass list of the environment ("no_proxy"), read as curl reads it: entries
// separated by commas or blanks; "*" as the whole value bypasses every host; a name
// matches itself and every name below it ("example.com" and ".example.com" both match
// "example.com" and "www.example.com", not "nonexample.com"), without regard to case and
// trailing dots; an IPv4 address matches itself, and "10.0.0.0/8" the addresses in its
// range; an IPv6 address, with or without brackets, matches itself. Beyond curl, an entry
// may end in ":port" and then matches only connections to that port.

#include "platform/proxy/ProxyAddress.h"

#include <string_view>

namespace platform {

bool NoProxyMatches(std::string_view list, const TargetAddress& target);

} // namespace platform
