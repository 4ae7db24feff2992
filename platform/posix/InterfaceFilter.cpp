#include "platform/posix/InterfaceFilter.h"

#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstring>

namespace platform {

bool IsConnectingInterface(unsigned flags, const sockaddr* address)
{
    if (address == nullptr || !(flags & IFF_UP) || !(flags & IFF_RUNNING) || (flags & IFF_LOOPBACK))
        return false;
    if (address->sa_family == AF_INET) {
        sockaddr_in in;
        std::memcpy(&in, address, sizeof in);
        const unsigned char* b = reinterpret_cast<const unsigned char*>(&in.sin_addr);
        if (b[0] == 127 || (b[0] == 169 && b[1] == 254) || (b[0] | b[1] | b[2] | b[3]) == 0)
            return false;
        return true;
    }
    if (address->sa_family == AF_INET6) {
        sockaddr_in6 in6;
        std::memcpy(&in6, address, sizeof in6);
        const in6_addr& a = in6.sin6_addr;
        if (IN6_IS_ADDR_LOOPBACK(&a) || IN6_IS_ADDR_LINKLOCAL(&a) || IN6_IS_ADDR_UNSPECIFIED(&a))
            return false;
        return true;
    }
    return false;
}

} // namespace platform
