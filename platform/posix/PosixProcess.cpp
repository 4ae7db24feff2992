// Starting programs and opening addresses on Linux.

#include "platform/posix/PosixSystem.h"

#include <cerrno>
#include <chrono>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace platform {

namespace {

class PosixProcess : public Process {
public:
    explicit PosixProcess(pid_t pid) : pid_(pid) {}
    ~PosixProcess() override
    {
        // A program still running keeps running; reap it later if it has ended by now so
        // that it does not stay a zombie while we live.
        if (!ended_)
            waitpid(pid_, nullptr, WNOHANG);
    }

    WaitResult Wait(int ms) override
    {
        if (ended_)
            return WaitResult::Ended;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
        for (;;) {
            int status = 0;
            pid_t r = waitpid(pid_, &status, WNOHANG);
            if (r == pid_) {
                ended_ = true;
                if (WIFEXITED(status))
                    exitCode_ = WEXITSTATUS(status);
                else if (WIFSIGNALED(status))
                    exitCode_ = 128 + WTERMSIG(status);
                return WaitResult::Ended;
            }
            if (r < 0 && errno != EINTR)
                return WaitResult::Failed; // not our child any more: nothing to wait for
            if (std::chrono::steady_clock::now() >= deadline)
                return WaitResult::Timeout;
            std::this_thread::sleep_for(std::chrono::milliseconds(2));
        }
    }

    std::optional<int> ExitCode() const override { return exitCode_; }

private:
    pid_t pid_;
    bool ended_ = false;
    std::optional<int> exitCode_;
};

} // namespace

std::unique_ptr<Process> PosixSystem::StartProcess(const std::string& path, const std::vector<std::string>& args)
{
    // A downloaded installer arrives without execute permission. Only a regular file is
    // started: a link put in its place would start, and make executable, another file.
    struct stat st {};
    if (lstat(path.c_str(), &st) != 0)
        return nullptr; // errno says why
    if (!S_ISREG(st.st_mode)) {
        errno = S_ISLNK(st.st_mode) ? ELOOP : EACCES;
        return nullptr;
    }
    if ((st.st_mode & 0111) != 0111)
        chmod(path.c_str(), st.st_mode | 0111);

    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(path.c_str()));
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);

    pid_t pid = 0;
    int err = posix_spawn(&pid, path.c_str(), nullptr, nullptr, argv.data(), environ);
    if (err != 0) {
        errno = err;
        return nullptr;
    }
    return std::make_unique<PosixProcess>(pid);
}

bool PosixSystem::OpenDocument(const std::string& target, const std::string& workDir)
{
    // The opener runs detached behind a short-lived shell, so no child is left to reap.
    const char* script = "cd \"$2\" 2>/dev/null; xdg-open \"$1\" >/dev/null 2>&1 </dev/null &";
    std::vector<char*> argv{const_cast<char*>("/bin/sh"),
                            const_cast<char*>("-c"),
                            const_cast<char*>(script),
                            const_cast<char*>("sh"),
                            const_cast<char*>(target.c_str()),
                            const_cast<char*>(workDir.c_str()),
                            nullptr};
    pid_t pid = 0;
    if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return true;
}

} // namespace platform
