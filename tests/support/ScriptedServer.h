#pragma once
// A loopback server for integration tests: it listens on 127.0.0.1 with a port chosen by
// the system, runs on its own thread and plays one script per accepted connection, in the
// order the connections arrive. Connections are served one after the other; a connection
// that arrives while a script runs waits in the backlog until that script has ended.
// Connections beyond the scripts given are accepted, counted and closed at once.
//
//   ScriptedServer server({ScriptedServer::Script()
//                              .ExpectRequest()
//                              .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi")
//                              .Close()});
//   ... connect to 127.0.0.1:server.Port() ...
//   EXPECT_EQ(server.Requests().at(0), "GET / HTTP/1.1\r\n...\r\n\r\n");
//
// A script that runs out of steps closes its connection gracefully.

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace testsupport {

class ScriptedServer {
public:
    enum class StepKind {
        ExpectRequest, // read up to and including the first blank line; record it
        Send,          // send bytes at once
        SendSlowly,    // send bytes, Chunk bytes at a time with DelayMs between pieces
        SendRepeated,  // send bytes Times times (0: until the peer is gone or the server stops)
        Sleep,         // wait DelayMs
        Close,         // graceful close (FIN); the script ends
        Reset,         // abortive close (RST, SO_LINGER 0); the script ends
        HalfClose,     // shut down the sending direction; the connection stays readable
        WaitPeerClose, // read and discard until the peer closes or the server stops
    };

    struct Step {
        StepKind Kind;
        std::string Bytes;
        std::size_t Chunk = 0;
        int DelayMs = 0;
        std::size_t Times = 0;
    };

    class Script {
    public:
        Script& ExpectRequest() { return Add({StepKind::ExpectRequest, {}, 0, 0}); }
        Script& Send(std::string bytes) { return Add({StepKind::Send, std::move(bytes), 0, 0}); }
        Script& SendSlowly(std::string bytes, std::size_t chunk, int delayMs)
        {
            return Add({StepKind::SendSlowly, std::move(bytes), chunk == 0 ? 1 : chunk, delayMs});
        }
        // An endless (times 0) or long stream without holding all of it in memory.
        Script& SendRepeated(std::string bytes, std::size_t times = 0)
        {
            return Add({StepKind::SendRepeated, std::move(bytes), 0, 0, times});
        }
        Script& Sleep(int ms) { return Add({StepKind::Sleep, {}, 0, ms}); }
        Script& Close() { return Add({StepKind::Close, {}, 0, 0}); }
        Script& Reset() { return Add({StepKind::Reset, {}, 0, 0}); }
        Script& HalfClose() { return Add({StepKind::HalfClose, {}, 0, 0}); }
        Script& WaitPeerClose() { return Add({StepKind::WaitPeerClose, {}, 0, 0}); }
        const std::vector<Step>& Steps() const { return steps_; }

    private:
        Script& Add(Step step)
        {
            steps_.push_back(std::move(step));
            return *this;
        }
        std::vector<Step> steps_;
    };

    explicit ScriptedServer(std::vector<Script> scripts, int backlog = 16);
    ~ScriptedServer(); // stops the server
    ScriptedServer(const ScriptedServer&) = delete;
    ScriptedServer& operator=(const ScriptedServer&) = delete;

    int Port() const { return port_; }
    // Connections accepted so far.
    int Accepted() const { return accepted_.load(); }
    // Scripts that have run to their end (or were cut short by Stop).
    int Finished() const { return finished_.load(); }
    // The requests recorded by ExpectRequest steps, in order, each up to and including its
    // blank line (or what arrived before the peer closed).
    std::vector<std::string> Requests() const;
    // Bytes the peer sent that no ExpectRequest consumed (read by WaitPeerClose).
    std::string Discarded() const;
    // Bytes sent to peers so far, over every connection.
    std::int64_t Sent() const { return sent_.load(); }
    // Waits until `count` connections have been accepted; false after `timeoutMs`.
    bool WaitAccepted(int count, int timeoutMs = 5000) const;
    // Waits until `count` scripts have finished; false after `timeoutMs`.
    bool WaitFinished(int count, int timeoutMs = 5000) const;
    // Stops accepting, interrupts the running script and joins the thread. Idempotent.
    void Stop();

private:
    void Run();
    void Serve(int fd, const Script& script);
    bool Pause(int ms);                                     // false when stopping
    bool WaitReadable(int fd, int timeoutMs);               // false when stopping
    bool SendUnlessStopped(int fd, std::string_view bytes); // false when stopping or the peer is gone

    std::vector<Script> scripts_;
    int listenFd_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    int port_ = 0;
    std::atomic<int> accepted_{0};
    std::atomic<int> finished_{0};
    std::atomic<std::int64_t> sent_{0};
    std::atomic<bool> stopping_{false};
    mutable std::mutex mutex_;
    std::vector<std::string> requests_;
    std::string discarded_;
    std::thread thread_;
};

} // namespace testsupport
