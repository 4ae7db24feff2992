#pragma once
// A port on 127.0.0.1 where nothing listens, held for as long as the object lives: its
// socket is bound but never listens, so a connection to it is refused, and no server that
// another test starts on port 0 meanwhile can be given the same port (as it could be once
// a probe socket was closed again). POSIX only.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace testsupport {

class ReservedPort {
public:
    ReservedPort()
    {
        fd_ = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&a), &len) == 0)
            port_ = ntohs(a.sin_port);
    }
    ~ReservedPort()
    {
        if (fd_ >= 0)
            close(fd_);
    }
    ReservedPort(const ReservedPort&) = delete;
    ReservedPort& operator=(const ReservedPort&) = delete;

    // 0 when no port could be bound.
    int Port() const { return port_; }

private:
    int fd_ = -1;
    int port_ = 0;
};

} // namespace testsupport
