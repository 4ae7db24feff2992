#include "http/IdStack.h"

#include "http/IdException.h"
#include "platform/runtime/Decimal.h"

#include <algorithm>
#include <memory>
#include <mutex>

namespace {

struct ErrorText {
    int number;
    const char* text;
};

// The fixed English texts of the socket errors, by Windows Sockets 2 number.
constexpr ErrorText kErrorTexts[] = {
    {10004, "Interrupted system call."},
    {10009, "Bad file number."},
    {10013, "Access denied."},
    {10014, "Bad address."},
    {10022, "Invalid argument."},
    {10024, "Too many open files."},
    {10035, "Operation would block. "},
    {10036, "Operation now in progress."},
    {10037, "Operation already in progress."},
    {10038, "Socket operation on non-socket."},
    {10039, "Destination address required."},
    {10040, "Message too long."},
    {10041, "Protocol wrong type for socket."},
    {10042, "Bad protocol option."},
    {10043, "Protocol not supported."},
    {10044, "Socket type not supported."},
    {10045, "Operation not supported on socket."},
    {10046, "Protocol family not supported."},
    {10047, "Address family not supported by protocol family."},
    {10048, "Address already in use."},
    {10049, "Cannot assign requested address."},
    {10050, "Network is down."},
    {10051, "Network is unreachable."},
    {10052, "Net dropped connection or reset."},
    {10053, "Software caused connection abort."},
    {10054, "Connection reset by peer."},
    {10055, "No buffer space available."},
    {10056, "Socket is already connected."},
    {10057, "Socket is not connected."},
    {10058, "Cannot send or receive after socket is closed."},
    {10059, "Too many references, cannot splice."},
    {10060, "Connection timed out."},
    {10061, "Connection refused."},
    {10062, "Too many levels of symbolic links."},
    {10063, "File name too long."},
    {10064, "Host is down."},
    {10065, "No route to host."},
    {10066, "Directory not empty"},
    {11001, "Host not found."},
};

// The process-wide state: one lock guards the count of components and the creation and
// freeing of the stack.
std::mutex gStackLock;
int gInstanceCount = 0;
std::unique_ptr<TIdStack> gStack;
std::atomic<platform::Sockets*> gSockets{nullptr};
bool gStackStarted = false;

// Cleans the platform's socket library up at process end once it has been started.
// Created after the library's object, so it is destroyed before it.
struct StackCleanup {
    StackCleanup() { platform::SystemSockets(); }
    ~StackCleanup() { platform::SystemSockets().Cleanup(); }
};

// One part of a dotted quad: decimal digits only (no sign, blank or hexadecimal form, as
// the text goes on to the connect unchanged), value 0 to 255.
bool ParseOctet(std::string_view part, std::uint8_t& value)
{
    const auto v = ParseDecimal(part, 255);
    if (!v)
        return false;
    value = static_cast<std::uint8_t>(*v);
    return true;
}

bool ParseDotted(std::string_view text, std::array<std::uint8_t, 4>& address)
{
    for (int i = 0; i < 3; ++i) {
        const auto dot = text.find('.');
        if (dot == std::string_view::npos || !ParseOctet(text.substr(0, dot), address[i]))
            return false;
        text.remove_prefix(dot + 1);
    }
    // The fourth part is everything after the third full stop.
    return ParseOctet(text, address[3]);
}

// Dotted text in its plain form ("010.1.1.1" becomes "10.1.1.1"), so that no layer below
// reads a leading zero as octal; other texts pass unchanged.
std::string Canonical(const std::string& ip)
{
    std::array<std::uint8_t, 4> address{};
    return ParseDotted(ip, address) ? TIdStack::AddressToDotted(address) : ip;
}

// Runs one call of the socket library, reporting a failure of the library itself (not
// loaded, a function missing) as EIdWS2StubError.
template <typename Call>
auto Library(Call call)
{
    try {
        return call();
    } catch (const platform::SocketLibraryError& e) {
        throw EIdWS2StubError(e.Title(), e.SystemError(), e.SystemText());
    }
}

} // namespace

TIdStack::TIdStack(platform::Sockets& sockets) : sockets_(sockets)
{
    if (!gStackStarted) {
        if (Library([&] { return sockets_.Startup(RequestedVersion); }) != 0)
            throw EIdStackInitializationFailed();
        gStackStarted = true;
        static StackCleanup cleanup;
    }
}

void TIdStack::Acquire()
{
    std::lock_guard lock(gStackLock);
    if (gInstanceCount == 0) {
        platform::Sockets* sockets = gSockets.load();
        gStack = std::make_unique<TIdStack>(sockets ? *sockets : platform::SystemSockets());
    }
    ++gInstanceCount;
}

void TIdStack::Release()
{
    std::lock_guard lock(gStackLock);
    if (gInstanceCount > 0 && --gInstanceCount == 0)
        gStack.reset();
}

int TIdStack::InstanceCount()
{
    std::lock_guard lock(gStackLock);
    return gInstanceCount;
}

bool TIdStack::StackStarted()
{
    std::lock_guard lock(gStackLock);
    return gStackStarted;
}

void TIdStack::UseSockets(platform::Sockets* sockets) { gSockets.store(sockets); }

TIdStack& GlobalStack()
{
    TIdStack* stack = gStack.get();
    if (!stack)
        throw EIdStackError("No socket stack: no network component exists.");
    return *stack;
}

std::string TIdStack::LookupHost(const std::string& host)
{
    if (host.size() == 9) {
        std::string upper = host;
        std::transform(upper.begin(), upper.end(), upper.begin(),
                       [](char c) { return (c >= 'a' && c <= 'z') ? char(c - 32) : c; });
        if (upper == "LOCALHOST")
            return "127.0.0.1";
    }
    if (IsDottedQuad(host))
        return host;
    std::string dotted;
    const int rc = Library([&] { return sockets_.GetHostByName(host, dotted); });
    CheckSocketResult(rc);
    return dotted;
}

bool TIdStack::IsDottedQuad(std::string_view text)
{
    std::array<std::uint8_t, 4> address{};
    return ParseDotted(text, address);
}

std::array<std::uint8_t, 4> TIdStack::DottedToAddress(std::string_view text)
{
    std::array<std::uint8_t, 4> address{};
    if (!ParseDotted(text, address))
        address = {0, 0, 0, 0};
    return address;
}

std::string TIdStack::AddressToDotted(const std::array<std::uint8_t, 4>& address)
{
    return std::to_string(address[0]) + '.' + std::to_string(address[1]) + '.' + std::to_string(address[2]) + '.' +
           std::to_string(address[3]);
}

std::string TIdStack::SocketErrorText(int number)
{
    const char* text = "";
    for (const auto& e : kErrorTexts)
        if (e.number == number)
            text = e.text;
    return "Socket Error # " + std::to_string(number) + "\r\n" + text;
}

bool TIdStack::CheckSocketResult(std::int64_t result, std::initializer_list<int> ignored)
{
    if (result != platform::SocketError)
        return false;
    const int number = Library([&] { return sockets_.LastError(); });
    lastSocketError_.store(number);
    if (std::find(ignored.begin(), ignored.end(), number) != ignored.end())
        return true;
    ThrowSocketError(number);
}

void TIdStack::ThrowSocketError(int number) { throw EIdSocketError(number, SocketErrorText(number)); }

platform::TSocket TIdStack::OpenSocket(int type, int protocol)
{
    const platform::TSocket s = Library([&] { return sockets_.Socket(type, protocol); });
    if (s == platform::InvalidSocket)
        throw EIdInvalidSocket();
    return s;
}

int TIdStack::SelectReadable(std::vector<platform::TSocket>& sockets, int timeoutMs)
{
    if (sockets.size() > MaxSelectSockets)
        throw EIdStackSetSizeExceeded();
    return Library(
        [&] { return sockets_.SelectReadable(sockets, timeoutMs == TimeoutInfinite ? -1 : std::max(timeoutMs, 0)); });
}

int TIdStack::Bind(platform::TSocket s, const std::string& ip, int port)
{
    return Library([&] { return sockets_.Bind(s, Canonical(ip), port); });
}

int TIdStack::Connect(platform::TSocket s, const std::string& ip, int port)
{
    return Library([&] { return sockets_.Connect(s, Canonical(ip), port); });
}

std::int64_t TIdStack::Recv(platform::TSocket s, void* buffer, std::size_t length)
{
    return Library([&] { return sockets_.Recv(s, buffer, length); });
}

std::int64_t TIdStack::Send(platform::TSocket s, const void* buffer, std::size_t length)
{
    return Library([&] { return sockets_.Send(s, buffer, length); });
}

int TIdStack::Shutdown(platform::TSocket s, int how)
{
    return Library([&] { return sockets_.Shutdown(s, how); });
}

int TIdStack::CloseSocket(platform::TSocket s)
{
    return Library([&] { return sockets_.Close(s); });
}

int TIdStack::GetSockName(platform::TSocket s, std::string& ip, int& port)
{
    return Library([&] { return sockets_.GetSockName(s, ip, port); });
}

int TIdStack::GetPeerName(platform::TSocket s, std::string& ip, int& port)
{
    return Library([&] { return sockets_.GetPeerName(s, ip, port); });
}

int TIdStack::SetSockOpt(platform::TSocket s, int level, int option, const void* value, int length)
{
    return Library([&] { return sockets_.SetSockOpt(s, level, option, value, length); });
}
