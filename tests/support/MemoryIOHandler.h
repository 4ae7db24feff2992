#pragma once
// A transport handler without sockets, for tests and fuzzing: each connect starts the next
// script of a scripted peer, and the client's waits and receives play that script's steps
// in order. Nothing sleeps and nothing runs on another thread: a silence is counted in the
// milliseconds of the waits that meet it, so a time-out fires exactly when the client's
// own time-out would on a socket, and every run of the same script is the same.
//
//   MemoryIOHandler peer({MemoryIOHandler::Script()
//                             .ExpectRequest()
//                             .Send("HTTP/1.1 200 OK\r\nContent-Length: 2\r\n\r\nhi")
//                             .Close()},
//                        Pieces::OneByte);
//   client.SetIOHandler(&peer);           // borrowed: it outlives the client's use
//   client.Get("http://127.0.0.1/", stream);
//   EXPECT_EQ(peer.Requests().at(0), "GET / HTTP/1.1\r\n...\r\n\r\n");
//
// The bytes of every Send reach the client in pieces of the handler's mode: the whole step
// at once, one byte per receive, pieces of up to 3 bytes, or random pieces of 1 to 7 bytes
// from a generator seeded by the caller. A receive never returns more than one piece, so
// line ends and chunk boundaries land where the mode puts them. The client's sends are
// accepted in pieces of the same sizes, so its send loop is exercised too.
//
// A script that runs out of steps closes its connection gracefully. A connect beyond the
// scripts given is refused (EIdSocketError 10061), as one to a port nobody listens on; a
// peer made with a ScriptSource asks it for the script of each connection as it comes, so
// that what a connection serves may follow from what the earlier ones were asked for.

#include "http/IdIOHandler.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

namespace testsupport {

enum class Pieces { Whole, OneByte, Small, Random };

inline constexpr Pieces kEveryPieces[] = {Pieces::Whole, Pieces::OneByte, Pieces::Small, Pieces::Random};

// The mode's name, for the traces of tests that run a table in every mode.
inline const char* Name(Pieces pieces)
{
    switch (pieces) {
    case Pieces::Whole:
        return "whole";
    case Pieces::OneByte:
        return "one byte";
    case Pieces::Small:
        return "small";
    case Pieces::Random:
        return "random";
    }
    return "?";
}

// A wait without limit on a peer that will never send anything: on a socket the client
// would hang. Not one of the system's exceptions, so no handler of the client takes it for
// an ordinary failure.
class MemoryTransportHang : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

class MemoryIOHandler : public TIdIOHandler {
public:
    enum class StepKind {
        ExpectRequest, // silent until the client has written one more request head (to its blank
                       // line); with Ms, a wait of Ms or more (or without limit) that meets
                       // this silence finds the connection closed gracefully instead
        Send,          // bytes for the client, in pieces of the handler's mode
        Stall,         // silent for Ms milliseconds of the client's waits
        Call,          // runs Action inside the client's next wait, as a message handler would
        Close,         // graceful close: the client reads the end of the stream; the script ends
        Reset,         // abortive close: receives and sends fail with 10054; the script ends
    };

    struct Step {
        StepKind Kind;
        std::string Bytes = {};
        std::int64_t Ms = 0;
        std::function<void()> Action = {};
    };

    class Script {
    public:
        Script& ExpectRequest() { return Add({.Kind = StepKind::ExpectRequest}); }
        // As a server that closes a connection idle for idleMs: a request that comes within
        // shorter waits (a probe of the connection) is taken as usual.
        Script& ExpectRequestOrIdleClose(std::int64_t idleMs)
        {
            return Add({.Kind = StepKind::ExpectRequest, .Ms = idleMs});
        }
        Script& Send(std::string bytes) { return Add({.Kind = StepKind::Send, .Bytes = std::move(bytes)}); }
        Script& Stall(std::int64_t ms) { return Add({.Kind = StepKind::Stall, .Ms = ms}); }
        Script& Call(std::function<void()> action)
        {
            return Add({.Kind = StepKind::Call, .Action = std::move(action)});
        }
        Script& Close() { return Add({.Kind = StepKind::Close}); }
        Script& Reset() { return Add({.Kind = StepKind::Reset}); }
        const std::vector<Step>& Steps() const { return steps_; }

    private:
        Script& Add(Step step)
        {
            steps_.push_back(std::move(step));
            return *this;
        }
        std::vector<Step> steps_;
    };

    // What one connection saw.
    struct Connection {
        std::string Host = {};
        int Port = 0;
        std::string Written = {};    // every byte the client sent, in order
        bool ClosedByClient = false; // the client closed (or dropped) it
    };

    // Asked at each connect for that connection's script; nothing refuses the connect.
    using ScriptSource = std::function<std::optional<Script>()>;

    explicit MemoryIOHandler(std::vector<Script> scripts, Pieces pieces = Pieces::Whole, unsigned seed = 1);
    explicit MemoryIOHandler(ScriptSource source, Pieces pieces = Pieces::Whole, unsigned seed = 1);
    UPDATER_CLASS_NAME(MemoryIOHandler)

    // --- TIdIOHandler ----------------------------------------------------------------------
    void PrepareHandle() override {}
    // Opens the next scripted connection; reports hsResolving for a host that is not a
    // dotted quad and hsConnecting, as the socket transport does.
    void ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP, int boundPort,
                   int portMin, int portMax) override;
    bool IsHandleOpen() const override { return open_; }
    // True when a piece, the end of the stream or a reset is there to receive. A silence
    // shorter than ms (or any silence, for ms TimeoutInfinite) passes; a longer one uses up
    // ms of it and answers false. Raises EIdConnClosedGracefully when the connection was
    // closed on this side, also by an action run during the wait; raises MemoryTransportHang
    // for a wait without limit on a peer that waits for a request that never comes.
    bool WaitReadable(int ms) override;
    // One piece (at most length bytes of it), 0 at the end of the stream. EIdClosedSocket
    // "Disconnected." when closed on this side; EIdSocketError 10054 after a reset.
    std::int64_t ReceiveSome(void* buffer, std::size_t length) override;
    std::int64_t SendSome(const void* buffer, std::size_t length) override;
    void ShutHandle() override;

    // --- What the peer saw -----------------------------------------------------------------
    int Accepted() const { return static_cast<int>(connections_.size()); }
    const std::vector<Connection>& Connections() const { return connections_; }
    // The request heads of every connection in order, each up to and including its blank
    // line (a last one cut short by a close as far as it came).
    std::vector<std::string> Requests() const;
    // Waits that answered false (a silence met, or a time-out).
    int TimedOutWaits() const { return timedOutWaits_; }
    // The milliseconds the client's waits spent in silences, over every connection: the time
    // the same exchange would take on a socket (sends and receives themselves take none).
    std::int64_t SilentMs() const { return silentMs_; }

private:
    // Moves through the script until something is there to receive (true), a wait of ms
    // has to answer false, or the script asks for a request that is not there yet.
    bool Advance(int ms);
    // The size of the next piece of `left` bytes in this handler's mode.
    std::size_t NextPiece(std::size_t left);
    // Request heads completed in the current connection's bytes.
    std::size_t CompletedRequests() const;

    std::vector<Script> scripts_;
    ScriptSource source_;
    Pieces pieces_;
    std::mt19937 random_;
    std::vector<Connection> connections_;
    bool open_ = false;
    std::size_t step_ = 0;      // next step of the current script
    std::string pending_;       // bytes of the current Send step
    std::size_t pendingAt_ = 0; // how many of them the client has received
    std::size_t pieceLeft_ = 0; // what is left of the piece being received
    std::int64_t stalled_ = 0;  // what is left of the current Stall
    bool stalling_ = false;
    std::size_t requestsSeen_ = 0; // requests the script's ExpectRequest steps consumed
    bool ended_ = false;           // the peer closed gracefully
    bool reset_ = false;
    int timedOutWaits_ = 0;
    std::int64_t silentMs_ = 0;
};

} // namespace testsupport
