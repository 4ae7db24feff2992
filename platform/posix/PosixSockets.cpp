#include "platform/posix/PosixSockets.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace platform {

namespace {

thread_local int tLastError = 0;

enum class Source { Errno, Resolver };

struct ErrorMapping {
    Source source;
    int native;
    int wsa;
};

// The one table from native failures to Windows Sockets 2 numbers.
constexpr ErrorMapping kErrorMap[] = {
    {Source::Errno, EINTR, WsaEIntr},
    {Source::Errno, EBADF, WsaEBadF},
    {Source::Errno, EACCES, WsaEAcces},
    {Source::Errno, EPERM, WsaEAcces},
    {Source::Errno, EFAULT, WsaEFault},
    {Source::Errno, EINVAL, WsaEInval},
    {Source::Errno, EMFILE, WsaEMFile},
    {Source::Errno, ENFILE, WsaEMFile},
    {Source::Errno, EAGAIN, WsaEWouldBlock},
    {Source::Errno, EINPROGRESS, WsaEInProgress},
    {Source::Errno, EALREADY, WsaEAlready},
    {Source::Errno, ENOTSOCK, WsaENotSock},
    {Source::Errno, EDESTADDRREQ, WsaEDestAddrReq},
    {Source::Errno, EMSGSIZE, WsaEMsgSize},
    {Source::Errno, EPROTOTYPE, WsaEProtoType},
    {Source::Errno, ENOPROTOOPT, WsaENoProtoOpt},
    {Source::Errno, EPROTONOSUPPORT, WsaEProtoNoSupport},
    {Source::Errno, ESOCKTNOSUPPORT, WsaESocktNoSupport},
    {Source::Errno, EOPNOTSUPP, WsaEOpNotSupp},
    {Source::Errno, EPFNOSUPPORT, WsaEPfNoSupport},
    {Source::Errno, EAFNOSUPPORT, WsaEAfNoSupport},
    {Source::Errno, EADDRINUSE, WsaEAddrInUse},
    {Source::Errno, EADDRNOTAVAIL, WsaEAddrNotAvail},
    {Source::Errno, ENETDOWN, WsaENetDown},
    {Source::Errno, ENETUNREACH, WsaENetUnreach},
    {Source::Errno, ENETRESET, WsaENetReset},
    {Source::Errno, ECONNABORTED, WsaEConnAborted},
    {Source::Errno, ECONNRESET, WsaEConnReset},
    {Source::Errno, ENOBUFS, WsaENoBufs},
    {Source::Errno, ENOMEM, WsaENoBufs},
    {Source::Errno, EISCONN, WsaEIsConn},
    {Source::Errno, ENOTCONN, WsaENotConn},
    {Source::Errno, ESHUTDOWN, WsaEShutdown},
    // A send after our own shutdown, or into a connection the peer has torn down.
    {Source::Errno, EPIPE, WsaEShutdown},
    {Source::Errno, ETOOMANYREFS, WsaETooManyRefs},
    {Source::Errno, ETIMEDOUT, WsaETimedOut},
    {Source::Errno, ECONNREFUSED, WsaEConnRefused},
    {Source::Errno, ELOOP, WsaELoop},
    {Source::Errno, ENAMETOOLONG, WsaENameTooLong},
    {Source::Errno, EHOSTDOWN, WsaEHostDown},
    {Source::Errno, EHOSTUNREACH, WsaEHostUnreach},
    {Source::Errno, ENOTEMPTY, WsaENotEmpty},
    {Source::Resolver, EAI_NONAME, WsaHostNotFound},
    {Source::Resolver, EAI_NODATA, WsaNoData},
    {Source::Resolver, EAI_ADDRFAMILY, WsaNoData},
    {Source::Resolver, EAI_AGAIN, WsaTryAgain},
    {Source::Resolver, EAI_FAIL, WsaNoRecovery},
    {Source::Resolver, EAI_MEMORY, WsaENoBufs},
};

int Lookup(Source source, int native)
{
    for (const auto& m : kErrorMap)
        if (m.source == source && m.native == native)
            return m.wsa;
    return native;
}

int Fail(int wsa)
{
    tLastError = wsa;
    return SocketError;
}

int FailErrno() { return Fail(SocketErrorFromErrno(errno)); }

int Fd(TSocket s) { return static_cast<int>(s); }

bool ToAddress(const std::string& ip, int port, sockaddr_in& addr)
{
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    if (ip.empty()) {
        addr.sin_addr.s_addr = htonl(INADDR_ANY);
        return true;
    }
    return ::inet_pton(AF_INET, ip.c_str(), &addr.sin_addr) == 1;
}

void FromAddress(const sockaddr_in& addr, std::string& ip, int& port)
{
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &addr.sin_addr, text, sizeof text);
    ip = text;
    port = ntohs(addr.sin_port);
}

template <typename Call>
int NameOf(TSocket s, std::string& ip, int& port, Call call)
{
    sockaddr_in addr{};
    socklen_t len = sizeof addr;
    if (call(Fd(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return FailErrno();
    FromAddress(addr, ip, port);
    return 0;
}

// Waits for a non-blocking connect on fd to end, or for wakeFd to be signalled (the
// socket is being closed); 0 when connected, otherwise the error number.
int WaitForConnect(int fd, int wakeFd)
{
    pollfd fds[2] = {{fd, POLLOUT, 0}, {wakeFd, POLLIN, 0}};
    int n;
    do {
        n = ::poll(fds, 2, -1);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return SocketErrorFromErrno(errno);
    if (fds[1].revents & POLLIN)
        return WsaENotSock;
    int soError = 0;
    socklen_t len = sizeof soError;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &len) != 0)
        soError = errno;
    return soError != 0 ? SocketErrorFromErrno(soError) : 0;
}

// Connects fd without blocking in connect() itself, so that a signal on wakeFd can end the
// wait; the descriptor's flags are as before afterwards. 0 or the error number.
int ConnectInterruptibly(int fd, const sockaddr_in& addr, int wakeFd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0)
        return SocketErrorFromErrno(errno);
    int error = 0;
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0)
        error = errno == EINPROGRESS ? WaitForConnect(fd, wakeFd) : SocketErrorFromErrno(errno);
    ::fcntl(fd, F_SETFL, flags);
    return error;
}

} // namespace

int SocketErrorFromErrno(int errnoValue)
{
    if (errnoValue == EWOULDBLOCK)
        errnoValue = EAGAIN;
    return Lookup(Source::Errno, errnoValue);
}

int SocketErrorFromResolver(int eaiValue) { return Lookup(Source::Resolver, eaiValue); }

Sockets& SystemSockets()
{
    static PosixSockets sockets;
    return sockets;
}

int PosixSockets::Startup(int)
{
    return 0; // nothing to load or start on this platform
}

void PosixSockets::Cleanup() {}

TSocket PosixSockets::Socket(int type, int protocol)
{
    if (type != SockStream) {
        Fail(WsaESocktNoSupport);
        return InvalidSocket;
    }
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, protocol);
    if (fd < 0) {
        FailErrno();
        return InvalidSocket;
    }
    return fd;
}

int PosixSockets::Bind(TSocket s, const std::string& ip, int port)
{
    sockaddr_in addr;
    if (!ToAddress(ip, port, addr))
        return Fail(WsaEAddrNotAvail);
    if (::bind(Fd(s), reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0)
        return FailErrno();
    return 0;
}

bool PosixSockets::CancelPendingConnect(TSocket s, std::unique_lock<std::mutex>&)
{
    auto it = pending_.find(s);
    if (it == pending_.end())
        return false;
    if (!it->second->cancelled) {
        it->second->cancelled = true;
        const std::uint64_t one = 1;
        [[maybe_unused]] auto n = ::write(it->second->wakeFd, &one, sizeof one);
    }
    return true;
}

int PosixSockets::Connect(TSocket s, const std::string& ip, int port)
{
    sockaddr_in addr;
    if (!ToAddress(ip, port, addr))
        return Fail(WsaEAddrNotAvail);

    PendingConnect pending{::eventfd(0, EFD_CLOEXEC)};
    if (pending.wakeFd < 0)
        return FailErrno();
    {
        std::lock_guard lock(mutex_);
        if (cancelledEarly_.count(s)) {
            ::close(pending.wakeFd);
            return Fail(WsaENotSock);
        }
        pending_[s] = &pending;
    }

    int error = ConnectInterruptibly(Fd(s), addr, pending.wakeFd);

    {
        std::lock_guard lock(mutex_);
        if (pending.cancelled)
            error = WsaENotSock; // closed under us, even if the handshake had just completed
        pending_.erase(s);
    }
    connectEnded_.notify_all();
    ::close(pending.wakeFd);
    return error == 0 ? 0 : Fail(error);
}

std::int64_t PosixSockets::Recv(TSocket s, void* buffer, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::recv(Fd(s), buffer, length, 0);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return FailErrno();
    }
}

std::int64_t PosixSockets::Send(TSocket s, const void* buffer, std::size_t length)
{
    for (;;) {
        const ssize_t n = ::send(Fd(s), buffer, length, MSG_NOSIGNAL);
        if (n >= 0)
            return n;
        if (errno != EINTR)
            return FailErrno();
    }
}

int PosixSockets::Shutdown(TSocket s, int how)
{
    {
        // A socket still connecting has nothing to shut down; Linux would turn the
        // shutdown into a reset of the attempt. The attempt is ended as by a close.
        std::unique_lock lock(mutex_);
        if (CancelPendingConnect(s, lock))
            return Fail(WsaENotConn);
    }
    const int native = how == SdReceive ? SHUT_RD : how == SdSend ? SHUT_WR : SHUT_RDWR;
    if (::shutdown(Fd(s), native) != 0) {
        const int error = errno;
        if (error == ENOTCONN) {
            std::lock_guard lock(mutex_);
            cancelledEarly_.insert(s);
        }
        errno = error;
        return FailErrno();
    }
    return 0;
}

int PosixSockets::Close(TSocket s)
{
    {
        // The descriptor is closed only after a connect on it has left poll(), so that
        // its number cannot be reused under the connecting thread.
        std::unique_lock lock(mutex_);
        if (CancelPendingConnect(s, lock))
            connectEnded_.wait(lock, [&] { return pending_.count(s) == 0; });
        cancelledEarly_.erase(s);
    }
    if (::close(Fd(s)) != 0)
        return FailErrno();
    return 0;
}

int PosixSockets::GetSockName(TSocket s, std::string& ip, int& port) { return NameOf(s, ip, port, ::getsockname); }

int PosixSockets::GetPeerName(TSocket s, std::string& ip, int& port) { return NameOf(s, ip, port, ::getpeername); }

int PosixSockets::SetSockOpt(TSocket s, int level, int option, const void* value, int length)
{
    int nativeLevel = level;
    int nativeOption = option;
    if (level == SolSocket)
        nativeLevel = SOL_SOCKET;
    else if (level == IpProtoTcp && option == TcpNoDelay)
        nativeOption = TCP_NODELAY;
    if (::setsockopt(Fd(s), nativeLevel, nativeOption, value, static_cast<socklen_t>(length)) != 0)
        return FailErrno();
    return 0;
}

int PosixSockets::SelectReadable(std::vector<TSocket>& sockets, int timeoutMs)
{
    std::vector<pollfd> fds;
    fds.reserve(sockets.size());
    for (TSocket s : sockets)
        fds.push_back({Fd(s), POLLIN, 0});
    int n;
    do {
        n = ::poll(fds.data(), fds.size(), timeoutMs < 0 ? -1 : timeoutMs);
    } while (n < 0 && errno == EINTR);
    if (n < 0)
        return FailErrno();
    std::vector<TSocket> ready;
    for (std::size_t i = 0; i < fds.size(); ++i) {
        if (fds[i].revents & POLLNVAL)
            return Fail(WsaENotSock);
        // An error or hang-up is readable too: the receive then reports it.
        if (fds[i].revents & (POLLIN | POLLERR | POLLHUP))
            ready.push_back(sockets[i]);
    }
    sockets = std::move(ready);
    return static_cast<int>(sockets.size());
}

int PosixSockets::GetHostByName(const std::string& name, std::string& dotted)
{
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* result = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &result);
    if (rc != 0)
        return Fail(rc == EAI_SYSTEM ? SocketErrorFromErrno(errno) : SocketErrorFromResolver(rc));
    std::string ip;
    int port = 0;
    FromAddress(*reinterpret_cast<const sockaddr_in*>(result->ai_addr), ip, port);
    ::freeaddrinfo(result);
    dotted = ip;
    return 0;
}

int PosixSockets::LastError() { return tLastError; }

} // namespace platform
