#pragma once
// A child process for tests: started from an argument list with its standard output and
// standard error captured, read line by line while it runs (for a server that prints its
// port) or collected whole when it ends. The destructor ends a child that still runs.

#include <string>
#include <vector>

namespace testsupport {

// How long a wait of the tests may last before it counts as a hang. Every wait ends on an
// event (a line, a process ending, a run ending the program); this bound only turns a hang
// into a failure with a message before CTest's own time-out of the test, so it is far
// above what anything takes on a loaded machine.
inline constexpr int kHangMs = 200000;

class ChildProcess {
public:
    // Starts argv[0] (looked up in PATH) with the arguments. Throws std::runtime_error when
    // the process cannot be started.
    explicit ChildProcess(const std::vector<std::string>& argv);
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    // The next line of standard output without its line feed; "" when none came within
    // the time or the output ended.
    std::string ReadLine(int timeoutMs = kHangMs);
    // Waits for the end and collects what is left of both outputs; the exit status, or -1
    // after timeoutMs (the child is then killed) or when a signal ended it.
    int Wait(int timeoutMs = kHangMs);
    // Asks the child to end (SIGTERM) and waits for it.
    void Stop();
    // Ends the child at once (SIGKILL), as a crash or a killed session would, and reaps it.
    void Kill();

    const std::string& Stdout() const { return out_; }
    const std::string& Stderr() const { return err_; }

private:
    // Reads what is available from both pipes for up to timeoutMs; false when both ended.
    bool Pump(int timeoutMs);

    int pid_ = -1;
    int outFd_ = -1;
    int errFd_ = -1;
    std::string out_;
    std::string err_;
    std::size_t lineStart_ = 0; // how far ReadLine has consumed out_
    bool ended_ = false;
    int status_ = -1;
};

// One run of a program the build made (in UPDATER_BIN_DIR, else the current folder) to its
// end: the exit status (as Wait gives it) and both outputs.
struct ToolRun {
    int status;
    std::string out;
    std::string err;
};
ToolRun RunTool(const std::string& name, const std::vector<std::string>& args, int timeoutMs = kHangMs);

} // namespace testsupport
