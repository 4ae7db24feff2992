#include "platform/win32/Win32Sockets.h"

#include "platform/runtime/Format.h"
#include "platform/win32/Win32System.h"

#include "platform/win32/WindowsHeaders.h"

#include <atomic>
#include <climits>

namespace platform {

namespace {

constexpr const char* kLibraryName = "WS2_32.DLL";

// The entry points this backend calls, resolved from the library by name.
// clang-format off
#define UPDATER_WS2_ENTRIES(X)                                                                      \
    X(WSAStartup) X(WSACleanup) X(WSAGetLastError) X(WSASetLastError) X(socket) X(bind) X(connect) \
    X(select) X(recv) X(send) X(shutdown) X(closesocket) X(gethostbyname) X(getsockname)            \
    X(getpeername) X(setsockopt) X(getsockopt) X(ioctlsocket) X(htons) X(ntohs) X(htonl) X(ntohl)   \
    X(inet_addr) X(__WSAFDIsSet) X(WSACreateEvent) X(WSACloseEvent) X(WSAEventSelect)
// clang-format on

enum Entry {
#define UPDATER_WS2_ENUM(name) kEntry_##name,
    UPDATER_WS2_ENTRIES(UPDATER_WS2_ENUM)
#undef UPDATER_WS2_ENUM
        kEntryCount
};

const std::vector<const char*> kEntryNames = {
#define UPDATER_WS2_NAME(name) #name,
    UPDATER_WS2_ENTRIES(UPDATER_WS2_NAME)
#undef UPDATER_WS2_NAME
};

// Each entry starts as the stub (null: the call raises) and is bound to the library's
// function on its first call after loading.
std::atomic<void*> gEntries[kEntryCount];
std::mutex gLibraryLock;
HMODULE gLibrary = nullptr;

void* Resolve(Entry e)
{
    if (void* f = gEntries[e].load(std::memory_order_acquire))
        return f;
    std::lock_guard lock(gLibraryLock);
    const char* name = kEntryNames[e];
    const std::string title = Format("Error on call Winsock2 library function %s", {std::string(name)});
    if (!gLibrary)
        throw SocketLibraryError(title, WsaNotInitialised, SystemErrorText(WsaNotInitialised));
    FARPROC f = ::GetProcAddress(gLibrary, name);
    if (!f) {
        const DWORD err = ::GetLastError();
        throw SocketLibraryError(title, static_cast<int>(err), SystemErrorText(err));
    }
    void* p = reinterpret_cast<void*>(f);
    gEntries[e].store(p, std::memory_order_release);
    return p;
}

#define WS2(name) (reinterpret_cast<decltype(&::name)>(Resolve(kEntry_##name)))

SOCKET Native(TSocket s) { return static_cast<SOCKET>(s); }

sockaddr_in ToAddress(const std::string& ip, int port)
{
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = WS2(htons)(static_cast<u_short>(port));
    addr.sin_addr.s_addr = ip.empty() ? WS2(htonl)(INADDR_ANY) : WS2(inet_addr)(ip.c_str());
    return addr;
}

std::string Dotted(const in_addr& a)
{
    const auto* b = reinterpret_cast<const unsigned char*>(&a);
    return std::to_string(b[0]) + '.' + std::to_string(b[1]) + '.' + std::to_string(b[2]) + '.' + std::to_string(b[3]);
}

template <typename Call>
int NameOf(TSocket s, std::string& ip, int& port, Call call)
{
    sockaddr_in addr{};
    int len = sizeof addr;
    if (call(Native(s), reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        return SocketError;
    ip = Dotted(addr.sin_addr);
    port = WS2(ntohs)(addr.sin_port);
    return 0;
}

} // namespace

const std::vector<const char*>& SocketEntryNames() { return kEntryNames; }

Sockets& SystemSockets()
{
    static Win32Sockets sockets;
    return sockets;
}

bool Win32Sockets::Loaded()
{
    std::lock_guard lock(gLibraryLock);
    return gLibrary != nullptr;
}

int Win32Sockets::Startup(int version)
{
    {
        std::lock_guard lock(gLibraryLock);
        if (gLibrary)
            return 0;
        gLibrary = ::LoadLibraryA(kLibraryName);
        if (!gLibrary) {
            const DWORD err = ::GetLastError();
            throw SocketLibraryError(Format("Error on loading Winsock2 library (%s)", {std::string(kLibraryName)}),
                                     static_cast<int>(err), SystemErrorText(err));
        }
    }
    WSADATA data{};
    const int rc = WS2(WSAStartup)(static_cast<WORD>(version), &data);
    std::lock_guard lock(mutex_);
    started_ = rc == 0;
    return rc;
}

void Win32Sockets::Cleanup()
{
    bool started;
    {
        std::lock_guard lock(mutex_);
        started = started_;
        started_ = false;
    }
    if (started)
        WS2(WSACleanup)();
    std::lock_guard lock(gLibraryLock);
    if (gLibrary) {
        ::FreeLibrary(gLibrary);
        gLibrary = nullptr;
    }
    for (auto& e : gEntries)
        e.store(nullptr);
}

int Win32Sockets::Fail(int wsa)
{
    WS2(WSASetLastError)(wsa);
    return SocketError;
}

TSocket Win32Sockets::Socket(int type, int protocol)
{
    const SOCKET s = WS2(socket)(AF_INET, type, protocol);
    return s == INVALID_SOCKET ? InvalidSocket : static_cast<TSocket>(s);
}

int Win32Sockets::Bind(TSocket s, const std::string& ip, int port)
{
    const sockaddr_in addr = ToAddress(ip, port);
    return WS2(bind)(Native(s), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
}

int Win32Sockets::Connect(TSocket s, const std::string& ip, int port)
{
    {
        std::lock_guard lock(mutex_);
        if (cancelled_.erase(s))
            return Fail(WsaENotSock);
        connecting_.insert(s);
    }
    // Whatever way the connect ends, a Close waiting for it may go on.
    struct Leave {
        Win32Sockets& self;
        TSocket s;
        ~Leave()
        {
            std::lock_guard lock(self.mutex_);
            self.connecting_.erase(s);
            self.cancelled_.erase(s);
            self.connectEnded_.notify_all();
        }
    } leave{*this, s};

    u_long nonBlocking = 1;
    if (WS2(ioctlsocket)(Native(s), FIONBIO, &nonBlocking) != 0)
        return SocketError;
    const sockaddr_in addr = ToAddress(ip, port);
    int rc = WS2(connect)(Native(s), reinterpret_cast<const sockaddr*>(&addr), sizeof addr);
    int error = rc == 0 ? 0 : WS2(WSAGetLastError)();
    while (error == WSAEWOULDBLOCK) {
        {
            std::lock_guard lock(mutex_);
            if (cancelled_.count(s))
                return Fail(WsaENotSock);
        }
        fd_set writable;
        fd_set failed;
        writable.fd_count = failed.fd_count = 1;
        writable.fd_array[0] = failed.fd_array[0] = Native(s);
        timeval slice{0, 10000};
        const int n = WS2(select)(0, nullptr, &writable, &failed, &slice);
        if (n < 0) {
            error = WS2(WSAGetLastError)();
            break;
        }
        if (n == 0)
            continue;
        if (failed.fd_count > 0) {
            int soError = 0;
            int len = sizeof soError;
            WS2(getsockopt)(Native(s), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len);
            error = soError ? soError : WSAECONNREFUSED;
        } else {
            error = 0;
        }
    }
    {
        std::lock_guard lock(mutex_);
        if (cancelled_.count(s))
            return Fail(WsaENotSock);
    }
    nonBlocking = 0;
    WS2(ioctlsocket)(Native(s), FIONBIO, &nonBlocking);
    return error == 0 ? 0 : Fail(error);
}

std::int64_t Win32Sockets::Recv(TSocket s, void* buffer, std::size_t length)
{
    const int n = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    return WS2(recv)(Native(s), static_cast<char*>(buffer), n, 0);
}

std::int64_t Win32Sockets::Send(TSocket s, const void* buffer, std::size_t length)
{
    const int n = static_cast<int>(std::min<std::size_t>(length, INT_MAX));
    return WS2(send)(Native(s), static_cast<const char*>(buffer), n, 0);
}

int Win32Sockets::Shutdown(TSocket s, int how)
{
    {
        std::lock_guard lock(mutex_);
        // Ends a connect in progress, or one that has not begun yet.
        cancelled_.insert(s);
        if (!connecting_.count(s)) {
            // A socket that is connected already is only shut down.
            sockaddr_in peer{};
            int len = sizeof peer;
            if (WS2(getpeername)(Native(s), reinterpret_cast<sockaddr*>(&peer), &len) == 0)
                cancelled_.erase(s);
        }
    }
    return WS2(shutdown)(Native(s), how);
}

int Win32Sockets::Close(TSocket s)
{
    std::unique_lock lock(mutex_);
    if (connecting_.count(s)) {
        cancelled_.insert(s);
        connectEnded_.wait(lock, [&] { return connecting_.count(s) == 0; });
    }
    cancelled_.erase(s);
    lock.unlock();
    return WS2(closesocket)(Native(s));
}

int Win32Sockets::GetSockName(TSocket s, std::string& ip, int& port) { return NameOf(s, ip, port, WS2(getsockname)); }

int Win32Sockets::GetPeerName(TSocket s, std::string& ip, int& port) { return NameOf(s, ip, port, WS2(getpeername)); }

int Win32Sockets::SetSockOpt(TSocket s, int level, int option, const void* value, int length)
{
    // The levels and options are Windows Sockets 2 values already.
    return WS2(setsockopt)(Native(s), level, option, static_cast<const char*>(value), length);
}

int Win32Sockets::SelectReadable(std::vector<TSocket>& sockets, int timeoutMs)
{
    if (sockets.empty()) {
        // The library refuses an empty set; waiting on nothing is a sleep.
        if (timeoutMs > 0)
            ::Sleep(static_cast<DWORD>(timeoutMs));
        return 0;
    }
    if (sockets.size() > FD_SETSIZE)
        return Fail(WsaEInval);
    fd_set readable;
    readable.fd_count = 0;
    for (TSocket s : sockets)
        readable.fd_array[readable.fd_count++] = Native(s);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    const int n = WS2(select)(0, &readable, nullptr, nullptr, timeoutMs < 0 ? nullptr : &tv);
    if (n < 0)
        return SocketError;
    // The library leaves exactly the ready sockets in the set.
    std::vector<TSocket> ready;
    for (u_int i = 0; i < readable.fd_count; ++i)
        ready.push_back(static_cast<TSocket>(readable.fd_array[i]));
    sockets = std::move(ready);
    return static_cast<int>(sockets.size());
}

SocketWaitEnd WaitSocketOrQueue(TSocket s, int timeoutMs)
{
    WSAEVENT event = WS2(WSACreateEvent)();
    if (event == WSA_INVALID_EVENT)
        return SocketWaitEnd::Failed;
    // Data already waiting, or a close already received, signals the event at once.
    if (WS2(WSAEventSelect)(Native(s), event, FD_READ | FD_CLOSE) != 0) {
        WS2(WSACloseEvent)(event);
        return SocketWaitEnd::Failed;
    }
    // Messages that are in the queue already, seen or not, end the wait too.
    const DWORD r = ::MsgWaitForMultipleObjectsEx(1, &event, timeoutMs < 0 ? INFINITE : static_cast<DWORD>(timeoutMs),
                                                  QS_ALLINPUT, MWMO_INPUTAVAILABLE);
    // Event mode made the socket non-blocking; the reads after the wait expect it blocking.
    WS2(WSAEventSelect)(Native(s), nullptr, 0);
    u_long nonBlocking = 0;
    WS2(ioctlsocket)(Native(s), FIONBIO, &nonBlocking);
    WS2(WSACloseEvent)(event);
    switch (r) {
    case WAIT_OBJECT_0:
        return SocketWaitEnd::Socket;
    case WAIT_OBJECT_0 + 1:
        return SocketWaitEnd::Messages;
    case WAIT_TIMEOUT:
        return SocketWaitEnd::TimeUp;
    default:
        return SocketWaitEnd::Failed;
    }
}

int Win32Sockets::GetHostByName(const std::string& name, std::string& dotted)
{
    const hostent* h = WS2(gethostbyname)(name.c_str());
    if (!h) {
        const int err = WS2(WSAGetLastError)();
        return Fail(err ? err : WsaHostNotFound);
    }
    if (h->h_addrtype != AF_INET || !h->h_addr_list || !h->h_addr_list[0])
        return Fail(WsaNoData);
    dotted = Dotted(*reinterpret_cast<const in_addr*>(h->h_addr_list[0]));
    return 0;
}

int Win32Sockets::LastError() { return WS2(WSAGetLastError)(); }

} // namespace platform
