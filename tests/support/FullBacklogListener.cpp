#include "tests/support/FullBacklogListener.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <stdexcept>

namespace testsupport {

FullBacklogListener::FullBacklogListener()
{
    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    // A backlog of 0 leaves room for one queued connection on Linux.
    if (listenFd_ < 0 || ::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listenFd_, 0) != 0 || ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error("FullBacklogListener: cannot listen");
    port_ = ntohs(addr.sin_port);

    // Fill the queue: connect without blocking until a connect no longer completes.
    for (int i = 0; i < 8; ++i) {
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        fillers_.push_back(fd);
        if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0)
            continue;
        pollfd p{fd, POLLOUT, 0};
        if (errno != EINPROGRESS || ::poll(&p, 1, 200) == 0)
            return; // this one is left hanging: the queue is full
    }
    throw std::runtime_error("FullBacklogListener: the accept queue never filled");
}

FullBacklogListener::~FullBacklogListener()
{
    for (int fd : fillers_)
        ::close(fd);
    ::close(listenFd_);
}

} // namespace testsupport
