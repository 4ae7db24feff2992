// The Windows Sockets 2 backend under wine: the entry points are stubs until the library is
// loaded, the stack reports the library's own failures as EIdWS2StubError, and native
// failures arrive as Windows Sockets 2 numbers.

#include "http/IdException.h"
#include "http/IdStack.h"
#include "platform/win32/Win32Sockets.h"

#include <gtest/gtest.h>

#include <string>
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

} // namespace
