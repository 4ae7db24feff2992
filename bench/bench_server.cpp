// A small, fast HTTP/1.1 server for the download benchmark. It listens on 127.0.0.1 with a
// port chosen by the system, prints "PORT <n>" on standard output, and serves bodies made
// of a fixed pseudo-random pattern, so that two clients' files can be compared byte for byte:
//
//   /sized/N          Content-Length N, then N bytes; the connection stays open
//   /chunked/N[/K]    N bytes in chunks of K bytes (default 65536), then the last chunk
//   /close/N          no length: N bytes, then the server closes the connection
//   /stall/MS/N       Content-Length N, the head at once, the body after MS milliseconds
//   /update/KIND/N[/M]/index.php…  the updater's check answer, offering /KIND/N[/M] as the installer
//
// "bench_server --select-loop SECONDS" instead runs a bare loop of 1 ms selects on an idle
// socket for that long: the floor against which the anti-freeze's idle CPU is judged.
//
// Every connection has its own thread. Bodies are sent from one 1 MiB buffer with plain
// send() calls, which on loopback is far faster than any client under test.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/select.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr std::size_t kPatternSize = 1 << 20;
std::vector<char> g_pattern;

bool SendAll(int fd, const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

bool SendText(int fd, const std::string& text) { return SendAll(fd, text.data(), text.size()); }

// The body bytes from offset `from` on, `count` of them; the pattern repeats every 1 MiB.
bool SendBody(int fd, std::uint64_t from, std::uint64_t count)
{
    while (count > 0) {
        const std::size_t offset = static_cast<std::size_t>(from % kPatternSize);
        const std::size_t piece = static_cast<std::size_t>(std::min<std::uint64_t>(count, kPatternSize - offset));
        if (!SendAll(fd, g_pattern.data() + offset, piece))
            return false;
        from += piece;
        count -= piece;
    }
    return true;
}

// Reads one request head into `head`; false when the client closed first.
bool ReadHead(int fd, std::string& pending, std::string& head)
{
    for (;;) {
        const auto end = pending.find("\r\n\r\n");
        if (end != std::string::npos) {
            head = pending.substr(0, end + 4);
            pending.erase(0, end + 4);
            return true;
        }
        char buf[4096];
        const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0)
            return false;
        pending.append(buf, static_cast<std::size_t>(n));
    }
}

std::vector<std::string> PathParts(const std::string& head)
{
    std::vector<std::string> parts;
    const auto sp1 = head.find(' ');
    const auto sp2 = head.find(' ', sp1 + 1);
    if (sp1 == std::string::npos || sp2 == std::string::npos)
        return parts;
    const std::string path = head.substr(sp1 + 1, sp2 - sp1 - 1);
    std::size_t pos = 1;
    while (pos <= path.size()) {
        auto slash = path.find('/', pos);
        if (slash == std::string::npos)
            slash = path.size();
        parts.push_back(path.substr(pos, slash - pos));
        pos = slash + 1;
    }
    return parts;
}

std::uint64_t Number(const std::vector<std::string>& parts, std::size_t i, std::uint64_t def)
{
    return i < parts.size() && !parts[i].empty() ? std::strtoull(parts[i].c_str(), nullptr, 10) : def;
}

void Serve(int fd)
{
    std::string pending, head;
    while (ReadHead(fd, pending, head)) {
        const auto parts = PathParts(head);
        const std::string kind = parts.empty() ? "" : parts[0];
        bool ok = true;
        if (kind == "update" && parts.size() >= 3) {
            // The check answer of the updater's run: a newer build whose installer is the
            // body named by the rest of the base address.
            std::string setup;
            for (std::size_t i = 1; i < parts.size() && parts[i].rfind("index.php", 0) != 0; ++i)
                setup += "/" + parts[i];
            const std::string web =
                "[web]\r\nbuildId=999999\r\nversion=9.9\r\nwhatnews=bench\r\nSetupPath=" + setup + "\r\n";
            ok = SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(web.size()) + "\r\n\r\n" + web);
        } else if (kind == "sized") {
            const auto n = Number(parts, 1, 0);
            ok = SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n") &&
                 SendBody(fd, 0, n);
        } else if (kind == "chunked") {
            const auto n = Number(parts, 1, 0);
            const auto k = std::max<std::uint64_t>(1, Number(parts, 2, 65536));
            ok = SendText(fd, "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n");
            char line[32];
            for (std::uint64_t at = 0; ok && at < n; at += k) {
                const auto piece = std::min(k, n - at);
                std::snprintf(line, sizeof line, "%llx\r\n", static_cast<unsigned long long>(piece));
                ok = SendText(fd, line) && SendBody(fd, at, piece) && SendText(fd, "\r\n");
            }
            ok = ok && SendText(fd, "0\r\n\r\n");
        } else if (kind == "close") {
            const auto n = Number(parts, 1, 0);
            SendText(fd, "HTTP/1.1 200 OK\r\nConnection: close\r\n\r\n") && SendBody(fd, 0, n);
            break;
        } else if (kind == "stall") {
            const auto ms = Number(parts, 1, 10000);
            const auto n = Number(parts, 2, 0);
            ok = SendText(fd, "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(n) + "\r\n\r\n");
            std::this_thread::sleep_for(std::chrono::milliseconds(ms));
            ok = ok && SendBody(fd, 0, n);
        } else {
            ok = SendText(fd, "HTTP/1.1 404 Not Found\r\nContent-Length: 0\r\n\r\n");
        }
        if (!ok)
            break;
    }
    ::shutdown(fd, SHUT_WR);
    ::close(fd);
}

} // namespace

// What a wait in 1 ms slices costs at the least, with nothing else done between slices.
int SelectLoop(int seconds)
{
    int pair[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, pair) != 0)
        return 1;
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (std::chrono::steady_clock::now() < until) {
        fd_set readable;
        FD_ZERO(&readable);
        FD_SET(pair[0], &readable);
        timeval tv{0, 1000};
        ::select(pair[0] + 1, &readable, nullptr, nullptr, &tv);
    }
    return 0;
}

int main(int argc, char** argv)
{
    if (argc == 3 && std::string(argv[1]) == "--select-loop")
        return SelectLoop(std::atoi(argv[2]));
    std::signal(SIGPIPE, SIG_IGN);
    g_pattern.resize(kPatternSize);
    std::uint32_t x = 0x9e3779b9u;
    for (auto& c : g_pattern) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = static_cast<char>(x);
    }

    const int listenFd = ::socket(AF_INET, SOCK_STREAM, 0);
    const int one = 1;
    ::setsockopt(listenFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t len = sizeof addr;
    if (::bind(listenFd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd, 64) != 0 ||
        ::getsockname(listenFd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        std::perror("bench_server");
        return 1;
    }
    std::printf("PORT %d\n", ntohs(addr.sin_port));
    std::fflush(stdout);
    for (;;) {
        const int fd = ::accept(listenFd, nullptr, nullptr);
        if (fd < 0) {
            if (errno == EINTR)
                continue;
            std::perror("accept");
            return 1;
        }
        std::thread(Serve, fd).detach();
    }
}
