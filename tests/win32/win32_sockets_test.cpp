// The Windows Sockets 2 backend under wine: the entry points are stubs until the library is
// loaded, the stack reports the library's own failures as EIdWS2StubError, and native
// failures arrive as Windows Sockets 2 numbers. The application's socket wait sleeps until
// data, a close or a message comes, instead of waking every slice.

#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdStack.h"
#include "http/IdTCPClient.h"
#include "platform/win32/Win32Application.h"
#include "platform/win32/Win32Sockets.h"
#include "platform/win32/WindowsHeaders.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

namespace {

TEST(Win32Sockets, EntriesAreStubsUntilTheLibraryIsLoaded)
{
    platform::Win32Sockets sockets;
    sockets.Cleanup();
    ASSERT_FALSE(platform::Win32Sockets::Loaded());
    try {
        sockets.Socket(platform::SockStream, platform::IpProtoTcp);
        FAIL() << "a stub let the call through";
    } catch (const platform::SocketLibraryError& e) {
        EXPECT_EQ(e.Title(), "Error on call Winsock2 library function socket");
        EXPECT_EQ(e.SystemError(), 10093);
        EXPECT_EQ(e.Message(), e.Title() + ": " + e.SystemText());
    }
    // Through the stack the same failure is the network family's own class.
    TIdStack::UseSockets(&sockets);
    EXPECT_EQ(sockets.Startup(TIdStack::RequestedVersion), 0);
    EXPECT_TRUE(platform::Win32Sockets::Loaded());
    TIdStack stack(sockets);
    sockets.Cleanup();
    try {
        stack.OpenSocket(platform::SockStream, platform::IpProtoTcp);
        FAIL() << "a stub let the call through";
    } catch (const EIdWS2StubError& e) {
        EXPECT_EQ(e.Title(), "Error on call Winsock2 library function socket");
        EXPECT_EQ(e.Win32Error(), 10093);
    }
    TIdStack::UseSockets(nullptr);
    EXPECT_EQ(sockets.Startup(TIdStack::RequestedVersion), 0);
}

TEST(Win32Sockets, NativeFailuresCarryWindowsSocketsNumbers)
{
    platform::Sockets& sockets = platform::SystemSockets();
    ASSERT_EQ(sockets.Startup(0x0202), 0);
    ASSERT_NE(std::find(platform::SocketEntryNames().begin(), platform::SocketEntryNames().end(),
                        std::string("__WSAFDIsSet")),
              platform::SocketEntryNames().end());

    // A port that was just free: bind one, read it back, close it.
    platform::TSocket probe = sockets.Socket(platform::SockStream, platform::IpProtoTcp);
    ASSERT_NE(probe, platform::InvalidSocket);
    ASSERT_EQ(sockets.Bind(probe, "127.0.0.1", 0), 0);
    std::string ip;
    int port = 0;
    ASSERT_EQ(sockets.GetSockName(probe, ip, port), 0);
    EXPECT_EQ(ip, "127.0.0.1");
    EXPECT_GT(port, 0);
    sockets.Close(probe);

    platform::TSocket s = sockets.Socket(platform::SockStream, platform::IpProtoTcp);
    EXPECT_EQ(sockets.Connect(s, "127.0.0.1", port), platform::SocketError);
    EXPECT_EQ(sockets.LastError(), platform::WsaEConnRefused);
    sockets.Close(s);

    // A shutdown before the connect began makes it fail at once.
    s = sockets.Socket(platform::SockStream, platform::IpProtoTcp);
    sockets.Shutdown(s, platform::SdBoth);
    EXPECT_EQ(sockets.Connect(s, "127.0.0.1", port), platform::SocketError);
    EXPECT_EQ(sockets.LastError(), platform::WsaENotSock);
    sockets.Close(s);

    std::string dotted;
    EXPECT_EQ(sockets.GetHostByName("no-such-host.invalid", dotted), platform::SocketError);
    EXPECT_EQ(sockets.LastError(), platform::WsaHostNotFound);

    std::vector<platform::TSocket> none;
    EXPECT_EQ(sockets.SelectReadable(none, 0), 0);
}

// A listening socket on loopback and the connection it accepts from a client.
struct Listener {
    SOCKET socket = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    SOCKET peer = INVALID_SOCKET;
    int port = 0;
    Listener()
    {
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = ::htonl(INADDR_LOOPBACK);
        int len = sizeof addr;
        ::bind(socket, reinterpret_cast<sockaddr*>(&addr), sizeof addr);
        ::listen(socket, 1);
        ::getsockname(socket, reinterpret_cast<sockaddr*>(&addr), &len);
        port = ::ntohs(addr.sin_port);
    }
    void Accept() { peer = ::accept(socket, nullptr, nullptr); }
    ~Listener()
    {
        if (peer != INVALID_SOCKET)
            ::closesocket(peer);
        ::closesocket(socket);
    }
};

bool timerFired = false;
void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD) { timerFired = true; }

TEST(Win32Application, ASocketWaitSleepsUntilDataACloseOrAMessage)
{
    WSADATA data{};
    ASSERT_EQ(::WSAStartup(0x0202, &data), 0);
    platform::Win32Application app;
    TIdAntiFreeze freeze(nullptr, app);
    freeze.SetIdleTimeOut(1);
    Listener listener;
    TIdTCPClient client(nullptr);
    client.SetHost("127.0.0.1");
    client.SetPort(listener.port);
    client.OpenConnection();
    listener.Accept();
    ASSERT_NE(listener.peer, INVALID_SOCKET);
    auto& handle = *static_cast<TIdIOHandlerSocket&>(*client.IOHandler()).Binding();
    const platform::TSocket s = handle.OsSocket();

    // Data after a silence: the read wait sleeps through it (in 1 ms slices it would handle
    // the messages some 300 times), and the socket reads blocking again afterwards.
    std::thread sender([&] {
        ::Sleep(300);
        ::send(listener.peer, "a", 1, 0);
        ::Sleep(100);
        ::send(listener.peer, "b", 1, 0);
    });
    int before = app.ProcessCount();
    EXPECT_TRUE(handle.WaitReadable(TimeoutInfinite));
    EXPECT_LE(app.ProcessCount() - before, 3);
    char got[2] = {};
    EXPECT_EQ(::recv(static_cast<SOCKET>(s), got, 1, 0), 1);
    EXPECT_EQ(::recv(static_cast<SOCKET>(s), got + 1, 1, 0), 1); // waits for "b": blocking
    EXPECT_EQ(std::string(got, 2), "ab");
    sender.join();

    // A message ends the wait and is handled; the socket has nothing to read.
    timerFired = false;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, OnTimer);
    before = app.ProcessCount();
    EXPECT_TRUE(app.WaitSocketOrMessage(s, -1));
    ::KillTimer(nullptr, timer);
    EXPECT_TRUE(timerFired);
    EXPECT_EQ(app.ProcessCount() - before, 1);
    std::vector<platform::TSocket> readable{s};
    EXPECT_EQ(platform::SystemSockets().SelectReadable(readable, 0), 0);

    // The peer's close after a silence ends the wait as data does.
    std::thread closer([&] {
        ::Sleep(300);
        ::shutdown(listener.peer, SD_SEND);
    });
    before = app.ProcessCount();
    EXPECT_TRUE(handle.WaitReadable(TimeoutInfinite));
    EXPECT_LE(app.ProcessCount() - before, 3);
    EXPECT_EQ(::recv(static_cast<SOCKET>(s), got, 1, 0), 0);
    closer.join();

    // Off the main thread the application cannot wait: the caller keeps its slices.
    bool waited = true;
    std::thread([&] { waited = app.WaitSocketOrMessage(s, 0); }).join();
    EXPECT_FALSE(waited);
    client.CloseConnection();
}

} // namespace
