#pragma once
// The socket stack: the process-wide layer between the connection code and the
// platform's socket calls. It starts the socket library once per process, looks up host
// names, converts IPv4 addresses, waits for readable sockets and turns every socket
// failure into EIdSocketError with the error number and its fixed English text.
//
// One stack, GlobalStack(), exists while at least one network component exists: creating
// a component calls TIdStack::Acquire and freeing it TIdStack::Release, both under one
// process-wide lock.

#include "http/IdGlobal.h"
#include "platform/sockets/Sockets.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>
#include <vector>

class TIdStack {
public:
    // The most sockets one SelectReadable may wait on.
    static constexpr std::size_t MaxSelectSockets = 64;
    // The socket library version asked for at start-up (2.2).
    static constexpr int RequestedVersion = 0x0202;

    // A stack over the given socket calls; starts the library when this process has not
    // started it yet (EIdStackInitializationFailed "Winsock Initialization Error." when
    // that fails). The calls are borrowed and must outlive the stack.
    explicit TIdStack(platform::Sockets& sockets);
    TIdStack(const TIdStack&) = delete;
    TIdStack& operator=(const TIdStack&) = delete;

    // --- The process-wide stack -------------------------------------------------------
    // One more network component: the first creates GlobalStack().
    static void Acquire();
    // One component fewer: the last frees GlobalStack().
    static void Release();
    static int InstanceCount();
    // Whether the socket library has been started in this process.
    static bool StackStarted();
    // The socket calls that stacks created from now on use; null restores the platform's
    // own. For tests that need to provoke failures the system cannot be made to produce.
    static void UseSockets(platform::Sockets* sockets);

    // --- Names and addresses ----------------------------------------------------------
    // "LOCALHOST" in any letter case gives "127.0.0.1" without a lookup; a dotted quad is
    // returned unchanged; any other text is looked up and its first IPv4 address returned.
    // A failed lookup raises EIdSocketError with the library's number (11001 when the
    // host is not found). Blocks without processing messages.
    std::string LookupHost(const std::string& host);
    // Four parts cut at the first three full stops, each a decimal number from 0 to 255.
    static bool IsDottedQuad(std::string_view text);
    // Dotted text to the four address bytes in network order; a text that is not a dotted
    // quad gives 0.0.0.0.
    static std::array<std::uint8_t, 4> DottedToAddress(std::string_view text);
    static std::string AddressToDotted(const std::array<std::uint8_t, 4>& address);

    // --- Errors -------------------------------------------------------------------------
    // "Socket Error # %d\r\n%s" with the number and the text of the table (empty for a
    // number the table lacks).
    static std::string SocketErrorText(int number);
    // A result of -1 fetches the calling thread's last error into LastSocketError(); a
    // number in `ignored` answers true, any other raises EIdSocketError. Any other
    // result answers false.
    bool CheckSocketResult(std::int64_t result, std::initializer_list<int> ignored = {});
    [[noreturn]] static void ThrowSocketError(int number);
    int LastSocketError() const { return lastSocketError_.load(); }
    // The calling thread's last socket error, as the library reports it now.
    int WSGetLastError() { return sockets_.LastError(); }

    // --- Sockets ------------------------------------------------------------------------
    // A new IPv4 socket; EIdInvalidSocket "Cannot allocate socket." on failure.
    platform::TSocket OpenSocket(int type, int protocol);
    // Waits until one of at most MaxSelectSockets sockets is readable; more raise
    // EIdStackSetSizeExceeded "Set Size Exceeded.". timeoutMs may be TimeoutInfinite.
    // Returns the count of ready sockets (only those stay in the list), 0 on time-out,
    // -1 on failure without an exception.
    int SelectReadable(std::vector<platform::TSocket>& sockets, int timeoutMs);

    // Thin calls with the library's own results.
    int Bind(platform::TSocket s, const std::string& ip, int port);
    int Connect(platform::TSocket s, const std::string& ip, int port);
    std::int64_t Recv(platform::TSocket s, void* buffer, std::size_t length);
    std::int64_t Send(platform::TSocket s, const void* buffer, std::size_t length);
    int Shutdown(platform::TSocket s, int how);
    int CloseSocket(platform::TSocket s);
    int GetSockName(platform::TSocket s, std::string& ip, int& port);
    int GetPeerName(platform::TSocket s, std::string& ip, int& port);
    int SetSockOpt(platform::TSocket s, int level, int option, const void* value, int length);

private:
    platform::Sockets& sockets_;
    // Written by the main thread and by a connect thread.
    std::atomic<int> lastSocketError_{0};
};

// The process-wide stack. Only valid while a network component exists.
TIdStack& GlobalStack();
