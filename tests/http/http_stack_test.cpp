// The socket stack: error texts byte for byte, host lookup order, dotted quads, the
// tolerated-error lists, the process-wide stack's life, and the Linux error mapping.
#include "FakeSockets.h"
#include "http/IdComponent.h"
#include "http/IdException.h"
#include "http/IdStack.h"
#include "platform/posix/PosixSockets.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <chrono>
#include <netdb.h>

namespace {

struct ErrorTextCase {
    int number;
    const char* text;
};

} // namespace

TEST(SocketErrorText, EveryNumberOfTheTableByteForByte)
{
    const ErrorTextCase cases[] = {
        {.number = 10004, .text = "Interrupted system call."},
        {.number = 10009, .text = "Bad file number."},
        {.number = 10013, .text = "Access denied."},
        {.number = 10014, .text = "Bad address."},
        {.number = 10022, .text = "Invalid argument."},
        {.number = 10024, .text = "Too many open files."},
        {.number = 10035, .text = "Operation would block. "},
        {.number = 10036, .text = "Operation now in progress."},
        {.number = 10037, .text = "Operation already in progress."},
        {.number = 10038, .text = "Socket operation on non-socket."},
        {.number = 10039, .text = "Destination address required."},
        {.number = 10040, .text = "Message too long."},
        {.number = 10041, .text = "Protocol wrong type for socket."},
        {.number = 10042, .text = "Bad protocol option."},
        {.number = 10043, .text = "Protocol not supported."},
        {.number = 10044, .text = "Socket type not supported."},
        {.number = 10045, .text = "Operation not supported on socket."},
        {.number = 10046, .text = "Protocol family not supported."},
        {.number = 10047, .text = "Address family not supported by protocol family."},
        {.number = 10048, .text = "Address already in use."},
        {.number = 10049, .text = "Cannot assign requested address."},
        {.number = 10050, .text = "Network is down."},
        {.number = 10051, .text = "Network is unreachable."},
        {.number = 10052, .text = "Net dropped connection or reset."},
        {.number = 10053, .text = "Software caused connection abort."},
        {.number = 10054, .text = "Connection reset by peer."},
        {.number = 10055, .text = "No buffer space available."},
        {.number = 10056, .text = "Socket is already connected."},
        {.number = 10057, .text = "Socket is not connected."},
        {.number = 10058, .text = "Cannot send or receive after socket is closed."},
        {.number = 10059, .text = "Too many references, cannot splice."},
        {.number = 10060, .text = "Connection timed out."},
        {.number = 10061, .text = "Connection refused."},
        {.number = 10062, .text = "Too many levels of symbolic links."},
        {.number = 10063, .text = "File name too long."},
        {.number = 10064, .text = "Host is down."},
        {.number = 10065, .text = "No route to host."},
        {.number = 10066, .text = "Directory not empty"},
        {.number = 11001, .text = "Host not found."},
        // Numbers without a text: the number and a line break, nothing more.
        {.number = 11002, .text = ""},
        {.number = 11004, .text = ""},
        {.number = 0, .text = ""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TIdStack::SocketErrorText(c.number), "Socket Error # " + std::to_string(c.number) + "\r\n" + c.text)
            << c.number;
    EXPECT_EQ(TIdStack::SocketErrorText(11004), "Socket Error # 11004\r\n");
    EXPECT_EQ(TIdStack::SocketErrorText(10061), "Socket Error # 10061\r\nConnection refused.");
}

TEST(SocketErrorText, ThrownErrorsCarryTheNumberAndTheText)
{
    try {
        TIdStack::ThrowSocketError(10054);
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10054);
        EXPECT_EQ(e.Message(), "Socket Error # 10054\r\nConnection reset by peer.");
        EXPECT_STREQ(e.ClassName(), "EIdSocketError");
    }
}

TEST(IdStack, DottedQuadsAndAddressConversions)
{
    struct Case {
        const char* text;
        bool dotted;
    };
    const Case cases[] = {
        {.text = "10.0.0.1", .dotted = true},        {.text = "0.0.0.0", .dotted = true},
        {.text = "255.255.255.255", .dotted = true}, {.text = "010.1.1.1", .dotted = true},
        {.text = "10.0.0", .dotted = false},         {.text = "10.0.0.1.5", .dotted = false},
        {.text = "256.1.1.1", .dotted = false},      {.text = "1.2.3.256", .dotted = false},
        {.text = "1..2.3", .dotted = false},         {.text = "a.b.c.d", .dotted = false},
        {.text = "1.2.3.", .dotted = false},         {.text = "", .dotted = false},
        {.text = " 1.2.3.4", .dotted = false},       {.text = "-1.2.3.4", .dotted = false},
        {.text = "0x1.2.3.4", .dotted = false},      {.text = "example.org", .dotted = false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(TIdStack::IsDottedQuad(c.text), c.dotted) << c.text;

    EXPECT_EQ(TIdStack::DottedToAddress("192.168.1.20"), (std::array<std::uint8_t, 4>{192, 168, 1, 20}));
    EXPECT_EQ(TIdStack::AddressToDotted({10, 0, 0, 7}), "10.0.0.7");
    EXPECT_EQ(TIdStack::AddressToDotted(TIdStack::DottedToAddress("010.001.000.9")), "10.1.0.9");
    EXPECT_EQ(TIdStack::DottedToAddress("not.an.address"), (std::array<std::uint8_t, 4>{0, 0, 0, 0}));
}

TEST(IdStack, LookupHostTriesLocalhostThenDottedQuadsThenTheResolver)
{
    FakeSockets fake;
    fake.hosts["updates.example"] = "192.0.2.5";
    fake.hosts["10.0.0"] = "10.0.0.0";
    TIdStack stack(fake);

    EXPECT_EQ(stack.LookupHost("localhost"), "127.0.0.1");
    EXPECT_EQ(stack.LookupHost("LocalHost"), "127.0.0.1");
    EXPECT_EQ(stack.LookupHost("10.0.0.1"), "10.0.0.1");
    EXPECT_EQ(fake.lookups, 0);

    EXPECT_EQ(stack.LookupHost("updates.example"), "192.0.2.5");
    EXPECT_EQ(stack.LookupHost("10.0.0"), "10.0.0.0"); // not a dotted quad: looked up
    EXPECT_EQ(fake.lookups, 2);

    try {
        stack.LookupHost("nowhere.example");
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 11001);
        EXPECT_EQ(e.Message(), "Socket Error # 11001\r\nHost not found.");
    }
    EXPECT_EQ(stack.LastSocketError(), 11001);
}

TEST(IdStack, CheckSocketResultToleratesOnlyTheListedNumbers)
{
    FakeSockets fake;
    fake.error = platform::WsaEConnAborted;
    TIdStack stack(fake);
    EXPECT_FALSE(stack.CheckSocketResult(0));
    EXPECT_FALSE(stack.CheckSocketResult(42, {10053}));

    EXPECT_EQ(stack.Recv(1, nullptr, 0), -1);
    EXPECT_TRUE(stack.CheckSocketResult(-1, {10058, 10053}));
    EXPECT_EQ(stack.LastSocketError(), 10053);

    EXPECT_EQ(stack.Recv(1, nullptr, 0), -1);
    try {
        stack.CheckSocketResult(-1, {10058, 10054});
        FAIL();
    } catch (const EIdSocketError& e) {
        EXPECT_EQ(e.LastError(), 10053);
        EXPECT_EQ(e.Message(), "Socket Error # 10053\r\nSoftware caused connection abort.");
    }
}

TEST(IdStack, SocketCreationAndSelectLimits)
{
    FakeSockets fake;
    TIdStack stack(fake);
    try {
        stack.OpenSocket(platform::SockStream, 0);
        FAIL();
    } catch (const EIdInvalidSocket& e) {
        EXPECT_EQ(e.Message(), "Cannot allocate socket.");
    }
    std::vector<platform::TSocket> many(TIdStack::MaxSelectSockets + 1, 3);
    try {
        stack.SelectReadable(many, 0);
        FAIL();
    } catch (const EIdStackSetSizeExceeded& e) {
        EXPECT_EQ(e.Message(), "Set Size Exceeded.");
    }
    // A select failure answers -1 without an exception.
    std::vector<platform::TSocket> one{3};
    EXPECT_EQ(stack.SelectReadable(one, 0), -1);
}

TEST(IdStack, OneSharedStackWhileComponentsLiveAndOneStartUpPerProcess)
{
    ASSERT_EQ(TIdStack::InstanceCount(), 0);
    FakeSockets fake;
    TIdStack::UseSockets(&fake);
    {
        TIdComponent first(nullptr);
        EXPECT_TRUE(TIdStack::StackStarted());
        TIdStack* shared = &GlobalStack();
        {
            TIdComponent second(nullptr);
            EXPECT_EQ(TIdStack::InstanceCount(), 2);
            EXPECT_EQ(&GlobalStack(), shared);
        }
        EXPECT_EQ(TIdStack::InstanceCount(), 1);
    }
    EXPECT_EQ(TIdStack::InstanceCount(), 0);
    EXPECT_THROW(GlobalStack(), EIdStackError);
    {
        TIdComponent again(nullptr); // a new stack, without a second start-up
        EXPECT_EQ(TIdStack::InstanceCount(), 1);
    }
    EXPECT_LE(fake.startups, 1);
    TIdStack::UseSockets(nullptr);
}

TEST(IdStack, SelectReadableWaitsForDataAndAZeroWaitPollsOnce)
{
    testsupport::ScriptedServer server({testsupport::ScriptedServer::Script().Sleep(100).Send("x").WaitPeerClose()});
    TIdStack stack(platform::SystemSockets());
    const platform::TSocket s = stack.OpenSocket(platform::SockStream, 0);
    ASSERT_EQ(stack.Connect(s, "127.0.0.1", server.Port()), 0);

    std::vector<platform::TSocket> set{s};
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(stack.SelectReadable(set, 0), 0);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_TRUE(set.empty()); // only ready sockets stay

    set = {s};
    start = std::chrono::steady_clock::now();
    EXPECT_EQ(stack.SelectReadable(set, TimeoutInfinite), 1);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(50));
    EXPECT_EQ(set, std::vector<platform::TSocket>{s});
    stack.CloseSocket(s);
}

TEST(PosixSockets, NativeFailuresMapToWindowsSocketsNumbers)
{
    struct Case {
        int native;
        int wsa;
    };
    const Case errnoCases[] = {
        {.native = ECONNREFUSED, .wsa = 10061}, {.native = ETIMEDOUT, .wsa = 10060},
        {.native = ECONNRESET, .wsa = 10054},   {.native = ECONNABORTED, .wsa = 10053},
        {.native = EPIPE, .wsa = 10058},        {.native = EADDRINUSE, .wsa = 10048},
        {.native = EHOSTUNREACH, .wsa = 10065}, {.native = ENETUNREACH, .wsa = 10051},
        {.native = EWOULDBLOCK, .wsa = 10035},  {.native = ENOTSOCK, .wsa = 10038},
        {.native = EBADF, .wsa = 10009},        {.native = EINPROGRESS, .wsa = 10036},
    };
    for (const auto& c : errnoCases)
        EXPECT_EQ(platform::SocketErrorFromErrno(c.native), c.wsa) << c.native;
    EXPECT_EQ(platform::SocketErrorFromResolver(EAI_NONAME), 11001);
    EXPECT_EQ(platform::SocketErrorFromResolver(EAI_AGAIN), 11002);
    EXPECT_EQ(platform::SocketErrorFromResolver(EAI_FAIL), 11003);
}

TEST(PosixSockets, ARefusedConnectAndAnUnknownHostReportTheirNumbers)
{
    platform::Sockets& sockets = platform::SystemSockets();
    // A port that was just free: bind, read it back, close.
    platform::TSocket probe = sockets.Socket(platform::SockStream, 0);
    ASSERT_EQ(sockets.Bind(probe, "127.0.0.1", 0), 0);
    std::string ip;
    int port = 0;
    ASSERT_EQ(sockets.GetSockName(probe, ip, port), 0);
    sockets.Close(probe);

    platform::TSocket s = sockets.Socket(platform::SockStream, 0);
    EXPECT_EQ(sockets.Connect(s, "127.0.0.1", port), platform::SocketError);
    EXPECT_EQ(sockets.LastError(), 10061);
    sockets.Close(s);

    std::string dotted;
    // An empty name fails without a query leaving the machine.
    EXPECT_EQ(sockets.GetHostByName("", dotted), platform::SocketError);
    EXPECT_EQ(sockets.LastError(), 11001);
}
