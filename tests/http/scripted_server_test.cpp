// The scripted loopback server, driven by raw sockets: the other HTTP tests trust it to
// play its bytes, closes and resets exactly.
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>

using testsupport::ScriptedServer;

namespace {

int Connect(int port)
{
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(static_cast<uint16_t>(port));
    EXPECT_EQ(::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return fd;
}

// Everything until the peer closes; sets *error to the errno of a failed read.
std::string ReadAll(int fd, int* error = nullptr)
{
    std::string all;
    char buf[1024];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n < 0 && error)
            *error = errno;
        if (n <= 0)
            return all;
        all.append(buf, static_cast<size_t>(n));
    }
}

void SendText(int fd, const std::string& text)
{
    ASSERT_EQ(::send(fd, text.data(), text.size(), MSG_NOSIGNAL), static_cast<ssize_t>(text.size()));
}

} // namespace

TEST(ScriptedServer, RecordsRequestsAndPlaysBytesPerConnection)
{
    ScriptedServer server({
        ScriptedServer::Script().ExpectRequest().Send("first").Close(),
        ScriptedServer::Script().ExpectRequest().SendSlowly("slow!", 2, 5).Send("+").Close(),
    });
    ASSERT_GT(server.Port(), 0);

    int fd = Connect(server.Port());
    SendText(fd, "GET /a HTTP/1.1\r\nHost: x\r\n\r\n");
    EXPECT_EQ(ReadAll(fd), "first");
    ::close(fd);

    fd = Connect(server.Port());
    // The request arrives in pieces; the blank line ends it.
    SendText(fd, "GET /b HTTP/1.1\r\n");
    SendText(fd, "\r\n");
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadAll(fd), "slow!+");
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(10));
    ::close(fd);

    ASSERT_TRUE(server.WaitFinished(2));
    EXPECT_EQ(server.Accepted(), 2);
    EXPECT_EQ(server.Requests(),
              (std::vector<std::string>{"GET /a HTTP/1.1\r\nHost: x\r\n\r\n", "GET /b HTTP/1.1\r\n\r\n"}));
}

TEST(ScriptedServer, ResetIsSeenAsConnectionReset)
{
    ScriptedServer server({ScriptedServer::Script().ExpectRequest().Sleep(20).Reset()});
    const int fd = Connect(server.Port());
    SendText(fd, "x\r\n\r\n");
    int error = 0;
    EXPECT_EQ(ReadAll(fd, &error), "");
    EXPECT_EQ(error, ECONNRESET);
    ::close(fd);
}

TEST(ScriptedServer, HalfCloseKeepsReadingUntilPeerCloses)
{
    ScriptedServer server({ScriptedServer::Script().Send("bye").HalfClose().WaitPeerClose()});
    const int fd = Connect(server.Port());
    EXPECT_EQ(ReadAll(fd), "bye");
    SendText(fd, "after half close");
    ::shutdown(fd, SHUT_WR);
    ASSERT_TRUE(server.WaitFinished(1));
    EXPECT_EQ(server.Discarded(), "after half close");
    ::close(fd);
}

TEST(ScriptedServer, ExtraConnectionsAreCountedAndClosedAndStopInterruptsScripts)
{
    ScriptedServer server({ScriptedServer::Script().Sleep(60000)});
    const int first = Connect(server.Port());
    ASSERT_TRUE(server.WaitAccepted(1));
    const int second = Connect(server.Port());
    const auto start = std::chrono::steady_clock::now();
    server.Stop();
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    EXPECT_EQ(server.Accepted(), 1); // the second never left the backlog
    EXPECT_EQ(ReadAll(first), "");
    ::close(first);
    ::close(second);

    ScriptedServer none({});
    const int fd = Connect(none.Port());
    EXPECT_EQ(ReadAll(fd), "");
    ASSERT_TRUE(none.WaitFinished(1));
    EXPECT_EQ(none.Accepted(), 1);
    ::close(fd);
}
