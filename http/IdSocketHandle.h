#pragma once
// One TCP socket with its local and remote addresses.
//
// Threads: ConnectPeer may run on a connect thread while the main thread calls
// ReleaseSocket. A release during a connect shuts the socket down (which ends the
// connect) and leaves the closing of the descriptor to the connecting thread once its
// connect has returned, so that the descriptor number is never reused under it. All
// other members are used by the main thread only.

#include "platform/sockets/Sockets.h"

#include <atomic>
#include <mutex>
#include <optional>
#include <string>

class TIdSocketHandle {
public:
    TIdSocketHandle() = default;
    ~TIdSocketHandle(); // releases the socket
    TIdSocketHandle(const TIdSocketHandle&) = delete;
    TIdSocketHandle& operator=(const TIdSocketHandle&) = delete;

    platform::TSocket OsSocket() const { return osSocket_; }
    bool SocketOpen() const { return socketOpen_.load(); }
    const std::string& IP() const { return ip_; }
    const std::string& RemoteIP() const { return remoteIP_; }
    int Port() const { return port_; }
    int RemotePort() const { return remotePort_; }
    int ClientPortMin() const { return clientPortMin_; }
    int ClientPortMax() const { return clientPortMax_; }

    // Releases any socket, then opens a new one (EIdInvalidSocket "Cannot allocate
    // socket." on failure) and marks it open.
    void CreateSocket(int type = platform::SockStream, int protocol = platform::IpProtoIp);
    // The local address and port, and the range of local ports to try (both 0: none).
    void SetLocal(const std::string& ip, int port, int portMin, int portMax);
    // Binds to the local address, trying the port range from its top down when one is
    // set. EIdCouldNotBindSocket, EIdInvalidPortRange or EIdCanNotBindPortInRange.
    void BindLocal();
    // One bind to IP and Port: false when the address is in use (10048); other errors
    // raise; on success IP and Port are read back from the socket.
    bool TryBindLocal();
    void SetRemote(const std::string& ip, int port);
    // Connects to RemoteIP:RemotePort and returns the library's result; on success the
    // local and remote addresses are read back. Callable from a connect thread.
    int ConnectPeer();
    // Forgets the socket without closing it and empties the remote address (and the local
    // one with resetLocal).
    void ClearAddresses(bool resetLocal);
    // Marks the socket closed first, so that a waiting call sees it at its next check,
    // then shuts the sending direction down and closes it. Nothing when none is open.
    void ReleaseSocket();
    // True when data (or the peer's close) can be received within ms milliseconds
    // (TimeoutInfinite allowed). With the anti-freeze in use the thread sleeps until the
    // socket or a message wakes it and processes the messages, where the application can
    // wait so; elsewhere the wait is cut into slices of its IdleTimeOut with messages
    // processed after each empty one. Raises
    // EIdConnClosedGracefully when the socket has been released, also when that happens
    // inside a message handler during the wait.
    bool WaitReadable(int ms);

private:
    bool SelectOnce(int ms);
    // The wait without slices, through the application's own sleep; nothing when the
    // application cannot wait on a socket.
    std::optional<bool> SleepUntilReadable(int ms);
    void UpdateBindingLocal();
    void UpdateBindingPeer();

    platform::TSocket osSocket_ = platform::InvalidSocket;
    std::atomic<bool> socketOpen_{false};
    std::string ip_;
    std::string remoteIP_;
    int port_ = 0;
    int remotePort_ = 0;
    int clientPortMin_ = 0;
    int clientPortMax_ = 0;

    // Guards the hand-over between a connecting thread and ReleaseSocket.
    std::mutex connectLock_;
    bool connecting_ = false;
    bool closeDeferred_ = false;
};
