#pragma once
// The socket calls on Linux (BSD sockets), with every native failure reported under its
// Windows Sockets 2 number through one table (SocketErrorFromErrno).

#include "platform/sockets/Sockets.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace platform {

// The Windows Sockets 2 number for an errno value; a value missing from the table is
// passed on unchanged (its text is then empty).
int SocketErrorFromErrno(int errnoValue);
// The Windows Sockets 2 number for a resolver failure (an EAI_ code).
int SocketErrorFromResolver(int eaiValue);

class PosixSockets : public Sockets {
public:
    int Startup(int version) override;
    void Cleanup() override;
    TSocket Socket(int type, int protocol) override;
    int Bind(TSocket s, const std::string& ip, int port) override;
    int Connect(TSocket s, const std::string& ip, int port) override;
    std::int64_t Recv(TSocket s, void* buffer, std::size_t length) override;
    std::int64_t Send(TSocket s, const void* buffer, std::size_t length) override;
    int Shutdown(TSocket s, int how) override;
    int Close(TSocket s) override;
    int GetSockName(TSocket s, std::string& ip, int& port) override;
    int GetPeerName(TSocket s, std::string& ip, int& port) override;
    int SetSockOpt(TSocket s, int level, int option, const void* value, int length) override;
    int SelectReadable(std::vector<TSocket>& sockets, int timeoutMs) override;
    int GetHostByName(const std::string& name, std::string& dotted) override;
    int LastError() override;

private:
    // A connect in progress: close() does not wake a thread blocked in connect() on
    // Linux, so the connect waits in poll() on the socket and on this wake-up descriptor,
    // which Shutdown and Close signal.
    struct PendingConnect {
        int wakeFd;
        bool cancelled = false;
    };
    // Signals a pending connect on s, if any; true when there was one.
    bool CancelPendingConnect(TSocket s, std::unique_lock<std::mutex>& lock);

    std::mutex mutex_;
    std::condition_variable connectEnded_;
    std::map<TSocket, PendingConnect*> pending_;
    // Unconnected sockets shut down before a connect on them began (the connecting thread
    // had not reached poll() yet): that connect fails at once. Close forgets them.
    std::set<TSocket> cancelledEarly_;
};

} // namespace platform
