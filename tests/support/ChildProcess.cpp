#include "tests/support/ChildProcess.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <stdexcept>

extern char** environ;

namespace testsupport {

namespace {
using Clock = std::chrono::steady_clock;

int Remaining(Clock::time_point until)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(until - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}
} // namespace

ChildProcess::ChildProcess(const std::vector<std::string>& argv)
{
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0)
        throw std::runtime_error("ChildProcess: pipe failed");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], 1);
    posix_spawn_file_actions_adddup2(&actions, err[1], 2);
    std::vector<char*> args;
    for (const auto& a : argv)
        args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    const int rc = ::posix_spawnp(&pid_, args[0], &actions, nullptr, args.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    outFd_ = out[0];
    errFd_ = err[0];
    if (rc != 0) {
        pid_ = -1;
        throw std::runtime_error("ChildProcess: cannot start " + argv.at(0));
    }
}

ChildProcess::~ChildProcess()
{
    if (pid_ > 0 && !ended_)
        Stop();
    if (outFd_ >= 0)
        ::close(outFd_);
    if (errFd_ >= 0)
        ::close(errFd_);
}

bool ChildProcess::Pump(int timeoutMs)
{
    pollfd fds[2];
    nfds_t n = 0;
    if (outFd_ >= 0)
        fds[n++] = {outFd_, POLLIN, 0};
    if (errFd_ >= 0)
        fds[n++] = {errFd_, POLLIN, 0};
    if (n == 0)
        return false;
    if (::poll(fds, n, timeoutMs) <= 0)
        return true;
    for (nfds_t i = 0; i < n; ++i) {
        if (!(fds[i].revents & (POLLIN | POLLHUP | POLLERR)))
            continue;
        char buf[65536];
        const ssize_t got = ::read(fds[i].fd, buf, sizeof buf);
        const bool isOut = fds[i].fd == outFd_;
        if (got > 0) {
            (isOut ? out_ : err_).append(buf, static_cast<std::size_t>(got));
        } else if (got == 0 || errno != EINTR) {
            ::close(fds[i].fd);
            (isOut ? outFd_ : errFd_) = -1;
        }
    }
    return true;
}

std::string ChildProcess::ReadLine(int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    for (;;) {
        const auto lf = out_.find('\n', lineStart_);
        if (lf != std::string::npos) {
            std::string line = out_.substr(lineStart_, lf - lineStart_);
            lineStart_ = lf + 1;
            return line;
        }
        if (Remaining(until) == 0 || !Pump(Remaining(until)))
            return {};
    }
}

int ChildProcess::Wait(int timeoutMs)
{
    const auto until = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while ((outFd_ >= 0 || errFd_ >= 0) && Remaining(until) > 0)
        Pump(Remaining(until));
    for (;;) {
        int status = 0;
        const pid_t r = ::waitpid(pid_, &status, WNOHANG);
        if (r == pid_) {
            ended_ = true;
            status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            return status_;
        }
        if (Remaining(until) == 0) {
            ::kill(pid_, SIGKILL);
            ::waitpid(pid_, &status, 0);
            ended_ = true;
            return -1;
        }
        ::usleep(2000);
    }
}

void ChildProcess::Stop()
{
    if (pid_ <= 0 || ended_)
        return;
    ::kill(pid_, SIGTERM);
    Wait(5000);
}

void ChildProcess::Kill()
{
    if (pid_ <= 0 || ended_)
        return;
    ::kill(pid_, SIGKILL);
    Wait(5000);
}

ToolRun RunTool(const std::string& name, const std::vector<std::string>& args, int timeoutMs)
{
    const char* bin = std::getenv("UPDATER_BIN_DIR");
    std::vector<std::string> argv{std::string(bin ? bin : ".") + "/" + name};
    argv.insert(argv.end(), args.begin(), args.end());
    ChildProcess child(argv);
    const int status = child.Wait(timeoutMs);
    return {status, child.Stdout(), child.Stderr()};
}

} // namespace testsupport
