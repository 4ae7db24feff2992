#pragma once
// Which network interface counts as a connection for the connection test.

struct sockaddr;

namespace platform {

// True for an interface that is up and running, is not the loopback interface, and has an
// IPv4 or IPv6 address that is neither a loopback nor a link-local address. Link-local
// addresses are left out because every cabled interface gets one without any network
// behind it (IPv6 fe80::/10 always, IPv4 169.254/16 when no address server answered).
bool IsConnectingInterface(unsigned flags, const sockaddr* address);

} // namespace platform
