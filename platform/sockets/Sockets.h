#pragma once
// The thin socket calls the network stack needs, IPv4 and TCP only. Every call returns
// the library's own result: -1 (SocketError) on failure, the failure's number then being
// LastError() on the calling thread, always a Windows Sockets 2 number (SocketErrors.h).
// Addresses are dotted text and ports are host integers. Implementations are
// thread-safe: a connect runs on its own thread while the main thread may close the
// socket under it.

#include "platform/runtime/Exception.h"
#include "platform/sockets/SocketErrors.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using TSocket = std::intptr_t;
constexpr TSocket InvalidSocket = -1;
constexpr int SocketError = -1;

// Types, protocols, option levels, options and shutdown directions, with the values of
// Windows Sockets 2.
constexpr int SockStream = 1;
constexpr int IpProtoIp = 0;
constexpr int IpProtoTcp = 6;
constexpr int SolSocket = 0xFFFF;
constexpr int TcpNoDelay = 1;
constexpr int SdReceive = 0;
constexpr int SdSend = 1;
constexpr int SdBoth = 2;

// A failure of the socket library itself, raised where the library is loaded or one of its
// functions is first reached: a title, and the system's error number (0 for none) with its
// text. The network stack reports it under its own exception class.
class SocketLibraryError : public Exception {
public:
    SocketLibraryError(std::string title, int systemError, std::string systemText)
        : Exception(systemError == 0 ? title : title + ": " + systemText), title_(std::move(title)),
          systemError_(systemError), systemText_(std::move(systemText))
    {
    }
    const std::string& Title() const noexcept { return title_; }
    int SystemError() const noexcept { return systemError_; }
    const std::string& SystemText() const noexcept { return systemText_; }

private:
    std::string title_;
    int systemError_;
    std::string systemText_;
};

class Sockets {
public:
    virtual ~Sockets() = default;

    // Start-up with the requested version word (0x0202 for 2.2): 0 or an error number.
    // Loads the library first where the platform loads it on use; a library that cannot
    // be loaded raises SocketLibraryError.
    virtual int Startup(int version) = 0;
    virtual void Cleanup() = 0;

    // A new IPv4 socket, or InvalidSocket.
    virtual TSocket Socket(int type, int protocol) = 0;
    // Binds to ip (any address when empty) and port (0: any port).
    virtual int Bind(TSocket s, const std::string& ip, int port) = 0;
    // Blocks until connected or failed. Shutdown or Close of the socket from another
    // thread interrupts it, and a Shutdown that came before the connect began makes it
    // fail at once; it then fails with WsaENotSock, as a connect whose socket was closed
    // under it does. The caller keeps the descriptor from being closed before the
    // connect has started (see TIdSocketHandle).
    virtual int Connect(TSocket s, const std::string& ip, int port) = 0;
    // One receive (flags 0): the count, 0 when the peer has closed, -1 on failure.
    virtual std::int64_t Recv(TSocket s, void* buffer, std::size_t length) = 0;
    // One send (flags 0): the count sent, -1 on failure. Never raises a signal.
    virtual std::int64_t Send(TSocket s, const void* buffer, std::size_t length) = 0;
    virtual int Shutdown(TSocket s, int how) = 0;
    virtual int Close(TSocket s) = 0;
    virtual int GetSockName(TSocket s, std::string& ip, int& port) = 0;
    virtual int GetPeerName(TSocket s, std::string& ip, int& port) = 0;
    virtual int SetSockOpt(TSocket s, int level, int option, const void* value, int length) = 0;

    // Waits until one of the sockets can be read without blocking (data, or the peer's
    // close), at most timeoutMs milliseconds (a negative value: no limit; 0: a poll).
    // Leaves only the ready sockets in the list. Returns their count, 0 on time-out, -1
    // on failure.
    virtual int SelectReadable(std::vector<TSocket>& sockets, int timeoutMs) = 0;

    // The first IPv4 address of a host name as dotted text: 0, or -1 with LastError()
    // WsaHostNotFound (or WsaTryAgain, WsaNoRecovery, WsaNoData). Blocks; thread-safe.
    virtual int GetHostByName(const std::string& name, std::string& dotted) = 0;

    // The last error of the calling thread.
    virtual int LastError() = 0;
};

// The socket library of this platform, provided by the backend that is linked in.
Sockets& SystemSockets();

} // namespace platform
