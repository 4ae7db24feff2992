#pragma once
// The socket calls on Windows: Windows Sockets 2, loaded on first use with LoadLibraryA
// ("WS2_32.DLL") and reached only through a table of entry points resolved by name. Until
// the library is loaded every entry is a stub that raises SocketLibraryError "Error on call
// Winsock2 library function NAME" with error 10093; the first call through an entry after
// loading resolves the function and binds the entry to it. Failures are already Windows
// Sockets 2 numbers.

#include "platform/sockets/Sockets.h"

#include <condition_variable>
#include <map>
#include <mutex>
#include <set>

namespace platform {

class Win32Sockets : public Sockets {
public:
    // Loads the library (once) and calls its start-up with `version`.
    int Startup(int version) override;
    // The library's clean-up when it was started, then unloads it: every entry is a stub
    // again.
    void Cleanup() override;

    TSocket Socket(int type, int protocol) override;
    int Bind(TSocket s, const std::string& ip, int port) override;
    // A non-blocking connect waited for in short slices, so that a Shutdown or Close from
    // another thread ends it (closing a socket does not reliably wake a blocked connect).
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

    // Whether the library is loaded now.
    static bool Loaded();

private:
    int Fail(int wsa);

    std::mutex mutex_;
    std::condition_variable connectEnded_;
    // Sockets with a connect in progress, and those whose connect is to end at once.
    std::set<TSocket> connecting_;
    std::set<TSocket> cancelled_;
    bool started_ = false;
};

// What ended a WaitSocketOrQueue.
enum class SocketWaitEnd { Socket, Messages, TimeUp, Failed };

// Sleeps until the socket has data or its peer's close to read, a message is in the calling
// thread's queue, or `timeoutMs` passes (-1: no limit), in one wait of the system (no slices).
// The socket is in event mode only for the wait and blocking again afterwards. Failed: the
// socket could not be waited on (closed, or not a socket).
SocketWaitEnd WaitSocketOrQueue(TSocket s, int timeoutMs);

// The names the entry table resolves, in table order.
const std::vector<const char*>& SocketEntryNames();

} // namespace platform
