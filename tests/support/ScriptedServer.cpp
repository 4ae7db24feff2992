#include "tests/support/ScriptedServer.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

namespace testsupport {

namespace {

// Sends everything, riding out partial sends; false when the peer is gone. Adds what went
// out to *sent.
bool SendAll(int fd, const char* data, std::size_t size, std::atomic<std::int64_t>* sent = nullptr)
{
    while (size > 0) {
        const ssize_t n = ::send(fd, data, size, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        if (sent)
            *sent += n;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

// Reads what is pending without blocking, so that a close sends FIN rather than the RST
// that Linux sends when a socket is closed with unread bytes.
void DrainPending(int fd, std::string* into)
{
    char buf[4096];
    for (;;) {
        const ssize_t n = ::recv(fd, buf, sizeof buf, MSG_DONTWAIT);
        if (n <= 0)
            return;
        if (into)
            into->append(buf, static_cast<std::size_t>(n));
    }
}

} // namespace

ScriptedServer::ScriptedServer(std::vector<Script> scripts, int backlog) : scripts_(std::move(scripts))
{
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0)
        throw std::runtime_error("ScriptedServer: pipe failed");
    wakeRead_ = pipeFds[0];
    wakeWrite_ = pipeFds[1];

    listenFd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0)
        throw std::runtime_error("ScriptedServer: socket failed");
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (::bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(listenFd_, backlog) != 0 ||
        ::getsockname(listenFd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0)
        throw std::runtime_error(std::string("ScriptedServer: cannot listen: ") + std::strerror(errno));
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
}

ScriptedServer::~ScriptedServer()
{
    Stop();
    ::close(listenFd_);
    ::close(wakeRead_);
    ::close(wakeWrite_);
}

void ScriptedServer::Stop()
{
    if (!stopping_.exchange(true)) {
        const char byte = 1;
        [[maybe_unused]] auto n = ::write(wakeWrite_, &byte, 1);
    }
    if (thread_.joinable())
        thread_.join();
}

std::vector<std::string> ScriptedServer::Requests() const
{
    std::lock_guard lock(mutex_);
    return requests_;
}

std::string ScriptedServer::Discarded() const
{
    std::lock_guard lock(mutex_);
    return discarded_;
}

namespace {

bool WaitCount(const std::atomic<int>& value, int count, int timeoutMs)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
    while (value.load() < count) {
        if (std::chrono::steady_clock::now() >= deadline)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

} // namespace

bool ScriptedServer::WaitAccepted(int count, int timeoutMs) const { return WaitCount(accepted_, count, timeoutMs); }

bool ScriptedServer::WaitFinished(int count, int timeoutMs) const { return WaitCount(finished_, count, timeoutMs); }

bool ScriptedServer::Pause(int ms)
{
    pollfd p{wakeRead_, POLLIN, 0};
    return ::poll(&p, 1, ms) == 0 && !stopping_.load();
}

bool ScriptedServer::SendUnlessStopped(int fd, std::string_view bytes)
{
    // A peer that stops reading fills the socket's buffer; the wait for room also watches
    // the stop signal, so that Stop never hangs behind a send.
    while (!bytes.empty()) {
        const ssize_t n = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n > 0) {
            sent_ += n;
            bytes.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)
            return false;
        pollfd p[2] = {{fd, POLLOUT, 0}, {wakeRead_, POLLIN, 0}};
        if (::poll(p, 2, -1) < 0 && errno != EINTR)
            return false;
        if ((p[1].revents & POLLIN) || stopping_.load())
            return false;
    }
    return true;
}

bool ScriptedServer::WaitReadable(int fd, int timeoutMs)
{
    pollfd p[2] = {{fd, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
    for (;;) {
        const int n = ::poll(p, 2, timeoutMs);
        if (n < 0 && errno == EINTR)
            continue;
        return n > 0 && !(p[1].revents & POLLIN) && !stopping_.load();
    }
}

void ScriptedServer::Run()
{
    std::size_t index = 0;
    for (;;) {
        pollfd p[2] = {{listenFd_, POLLIN, 0}, {wakeRead_, POLLIN, 0}};
        const int n = ::poll(p, 2, -1);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || (p[1].revents & POLLIN) || stopping_.load())
            return;
        const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++accepted_;
        if (index < scripts_.size())
            Serve(fd, scripts_[index++]);
        else
            ::close(fd);
        ++finished_;
    }
}

void ScriptedServer::Serve(int fd, const Script& script)
{
    std::string pending; // bytes read beyond the last recorded request
    bool open = true;
    for (const Step& step : script.Steps()) {
        if (!open || stopping_.load())
            break;
        switch (step.Kind) {
        case StepKind::ExpectRequest: {
            for (;;) {
                const auto end = pending.find("\r\n\r\n");
                if (end != std::string::npos) {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(pending.substr(0, end + 4));
                    pending.erase(0, end + 4);
                    break;
                }
                char buf[4096];
                ssize_t got = -1;
                if (WaitReadable(fd, -1))
                    got = ::recv(fd, buf, sizeof buf, 0);
                if (got <= 0) {
                    std::lock_guard lock(mutex_);
                    requests_.push_back(pending);
                    pending.clear();
                    break;
                }
                pending.append(buf, static_cast<std::size_t>(got));
            }
            break;
        }
        case StepKind::Send:
            SendAll(fd, step.Bytes.data(), step.Bytes.size(), &sent_);
            break;
        case StepKind::SendRepeated:
            for (std::size_t i = 0; step.Times == 0 || i < step.Times; ++i)
                if (!SendUnlessStopped(fd, step.Bytes))
                    break;
            break;
        case StepKind::SendSlowly:
            for (std::size_t at = 0; at < step.Bytes.size(); at += step.Chunk) {
                if (at > 0 && !Pause(step.DelayMs))
                    break;
                if (!SendAll(fd, step.Bytes.data() + at, std::min(step.Chunk, step.Bytes.size() - at), &sent_))
                    break;
            }
            break;
        case StepKind::Sleep:
            Pause(step.DelayMs);
            break;
        case StepKind::HalfClose:
            ::shutdown(fd, SHUT_WR);
            break;
        case StepKind::WaitPeerClose: {
            std::string got;
            char buf[4096];
            while (WaitReadable(fd, -1)) {
                const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
                if (n <= 0)
                    break;
                got.append(buf, static_cast<std::size_t>(n));
            }
            std::lock_guard lock(mutex_);
            discarded_ += pending + got;
            pending.clear();
            break;
        }
        case StepKind::Reset: {
            linger lg{1, 0};
            ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &lg, sizeof lg);
            ::close(fd);
            open = false;
            break;
        }
        case StepKind::Close:
            ::shutdown(fd, SHUT_WR);
            DrainPending(fd, nullptr);
            ::close(fd);
            open = false;
            break;
        }
    }
    if (open) {
        ::shutdown(fd, SHUT_WR);
        DrainPending(fd, nullptr);
        ::close(fd);
    }
}

} // namespace testsupport
