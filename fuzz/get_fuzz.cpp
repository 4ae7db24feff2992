// The server's answers, as bytes on a real loopback connection, into TIdHTTP::Get: the
// status line, header block, body framing, redirects, authorization, keep-alive and the
// connection code that reads them all run as they do in the updater.
//
// Input: one byte of client settings (see Settings below), then the answers the server gives,
// one per request in the order the requests arrive, separated by kNextAnswer. The server
// closes the connection after the last answer, after every answer in the closing mode, and
// whenever the client sends nothing for a moment; so the client never has a reason to wait
// and a read time-out is a hang, reported as a finding.
//
// Every address the client is sent to stays on this server: a redirect to another host or
// port is pointed back at it (only 127.0.0.1 is ever contacted).

#include "FuzzSupport.h"

#include "http/IdAntiFreeze.h"
#include "http/IdException.h"
#include "http/IdHTTP.h"
#include "http/IdHTTPBodyFraming.h"
#include "http/IdHTTPStatus.h"
#include "http/IdURI.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/MemoryStream.h"
#include "tests/support/FakeSystem.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <exception>
#include <memory>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace {

constexpr std::string_view kNextAnswer = "\n~~next~~\n";
// A client that is still inside Get sends its next request at once; a connection quiet for
// this long is one the client is reading from, waiting for the server to close it.
constexpr int kIdleCloseMs = 20;
constexpr int kFirstRequestMs = 2000;
// Far beyond anything the server makes the client wait.
constexpr int kClientReadTimeoutMs = 5000;

enum Settings : std::uint8_t {
    kCloseAfterEach = 1,  // close after every answer instead of keeping the connection
    kHandleRedirects = 2, // HandleRedirects
    kAntiFreeze = 4,      // an active anti-freeze pumping a headless application
    kAuthorize = 8,       // OnAuthorization gives credentials
    kUserInAddress = 16,  // the first address carries "user:secret@"
    kSplitLongLines = 32, // MaxLineAction maSplit
    kSecondGet = 64,      // a second Get of a relative address, as the installer download
    kProtocol10 = 128,    // ProtocolVersion pv1_0
};

// One listening socket on 127.0.0.1 for the whole run, serving one connection at a time
// on its own thread from the answers of the current input.
class AnswerServer {
public:
    AnswerServer()
    {
        listen_ = ::socket(AF_INET, SOCK_STREAM, 0);
        FUZZ_CHECK(listen_ >= 0);
        const int on = 1;
        ::setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = 0;
        FUZZ_CHECK(::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0);
        FUZZ_CHECK(::listen(listen_, 16) == 0);
        socklen_t len = sizeof a;
        FUZZ_CHECK(::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len) == 0);
        port_ = ntohs(a.sin_port);
        std::thread([this] { Run(); }).detach();
    }

    int Port() const { return port_; }

    void Play(std::vector<std::string> answers, bool closeAfterEach)
    {
        std::lock_guard lock(mutex_);
        answers_ = std::move(answers);
        next_ = 0;
        closeAfterEach_ = closeAfterEach;
    }

    // Waits until the server has finished with every connection and waits in accept.
    bool WaitIdle(int timeoutMs)
    {
        std::unique_lock lock(mutex_);
        return idleChanged_.wait_for(lock, std::chrono::milliseconds(timeoutMs), [this] { return idle_; });
    }

private:
    void Run()
    {
        for (;;) {
            const int fd = ::accept(listen_, nullptr, nullptr);
            if (fd < 0)
                continue;
            SetIdle(false);
            Serve(fd);
            ::close(fd);
            // Another connection may already wait; idle only when the backlog is empty.
            pollfd p{listen_, POLLIN, 0};
            if (::poll(&p, 1, 0) == 0)
                SetIdle(true);
        }
    }

    void SetIdle(bool idle)
    {
        std::lock_guard lock(mutex_);
        idle_ = idle;
        idleChanged_.notify_all();
    }

    static bool Readable(int fd, int timeoutMs)
    {
        pollfd p{fd, POLLIN, 0};
        return ::poll(&p, 1, timeoutMs) > 0;
    }

    // Reads up to and including the blank line of a request; false when the peer closes or
    // stays quiet.
    static bool ReadRequest(int fd, int timeoutMs)
    {
        std::string head;
        while (head.find("\r\n\r\n") == std::string::npos) {
            if (!Readable(fd, timeoutMs))
                return false;
            char buffer[4096];
            const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
            if (n <= 0)
                return false;
            head.append(buffer, static_cast<std::size_t>(n));
        }
        return true;
    }

    // A graceful close: no more bytes from here, then wait for the client to let go, so that
    // the close never turns into a reset that could eat answer bytes still in flight.
    static void CloseGracefully(int fd)
    {
        ::shutdown(fd, SHUT_WR);
        char buffer[4096];
        while (Readable(fd, 1000) && ::recv(fd, buffer, sizeof buffer, 0) > 0) {
        }
    }

    void Serve(int fd)
    {
        for (bool first = true;; first = false) {
            if (!ReadRequest(fd, first ? kFirstRequestMs : kIdleCloseMs))
                return CloseGracefully(fd);
            std::string answer;
            bool last;
            bool closeAfterEach;
            {
                std::lock_guard lock(mutex_);
                if (next_ >= answers_.size())
                    return CloseGracefully(fd);
                answer = answers_[next_++];
                last = next_ == answers_.size();
                closeAfterEach = closeAfterEach_;
            }
            std::string_view rest = answer;
            while (!rest.empty()) {
                const ssize_t n = ::send(fd, rest.data(), rest.size(), MSG_NOSIGNAL);
                if (n <= 0)
                    return;
                rest.remove_prefix(static_cast<std::size_t>(n));
            }
            if (last || closeAfterEach)
                return CloseGracefully(fd);
        }
    }

    int listen_ = -1;
    int port_ = 0;
    std::mutex mutex_;
    std::condition_variable idleChanged_;
    bool idle_ = true;
    std::vector<std::string> answers_;
    std::size_t next_ = 0;
    bool closeAfterEach_ = false;
};

AnswerServer& Server()
{
    static AnswerServer* server = new AnswerServer; // lives for the whole run
    return *server;
}

std::vector<std::string> SplitAnswers(std::string_view bytes)
{
    std::vector<std::string> answers;
    for (;;) {
        const std::size_t at = bytes.find(kNextAnswer);
        answers.emplace_back(bytes.substr(0, at));
        if (at == std::string_view::npos)
            return answers;
        bytes.remove_prefix(at + kNextAnswer.size());
    }
}

// Runs one Get and checks how it ended: normally, or with one of the system's exceptions,
// never a read time-out (a hang) and never a body larger than what the server sent.
void GetOnce(TIdHTTP& http, const std::string& url, std::size_t sent)
{
    // GET_FUZZ_VERBOSE=1 prints how each Get ended, to look at what a corpus covers.
    static const bool verbose = std::getenv("GET_FUZZ_VERBOSE") != nullptr;
    TMemoryStream stream;
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(url, stream);
        // A delivered body announced by its length is complete: a body the server cut short
        // must never pass for a finished download.
        const TIdHTTPResponse& answer = http.Response();
        const int code = answer.ResponseCode();
        if (ClassifyStatus(code, !answer.Location.empty()) == TIdHTTPStatusAction::Success &&
            DecideBodyFraming(code, answer.ContentLength, answer.TransferEncoding) == TIdBodyFraming::Sized)
            FUZZ_CHECK(stream.Size() == answer.ContentLength);
        if (verbose)
            std::fprintf(stderr, "Get %s: %lld bytes\n", url.c_str(), static_cast<long long>(stream.Size()));
    } catch (const EIdReadTimeout&) {
        FUZZ_CHECK(!"Get waited for bytes the server had no reason to send");
    } catch (const EIdHTTPProtocolException& e) {
        FUZZ_CHECK(e.ErrorMessage().size() <= sent);
        if (verbose)
            std::fprintf(stderr, "Get %s: %s %s\n", url.c_str(), e.ClassName(), e.Message().c_str());
    } catch (const Exception& e) {
        if (verbose)
            std::fprintf(stderr, "Get %s: %s %s\n", url.c_str(), e.ClassName(), e.Message().c_str());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "exception outside the system's family: %s\n", e.what());
        FUZZ_CHECK(!"Get raised an exception outside the system's family");
    }
    FUZZ_CHECK(static_cast<std::size_t>(stream.Size()) <= sent);
    FUZZ_CHECK(std::chrono::steady_clock::now() - start < std::chrono::seconds(8));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0)
        return 0;
    const std::uint8_t settings = data[0];
    const std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

    AnswerServer& server = Server();
    const std::string here = "127.0.0.1:" + std::to_string(server.Port());
    server.Play(SplitAnswers(bytes), settings & kCloseAfterEach);

    FakeSystem system;
    platform::HeadlessApplication app;
    std::unique_ptr<TIdAntiFreeze> antiFreeze;
    if (settings & kAntiFreeze) {
        antiFreeze = std::make_unique<TIdAntiFreeze>(nullptr, app);
        antiFreeze->SetIdleTimeOut(1);
    }
    {
        TIdHTTP http(nullptr, system, "IdHTTP1");
        http.Request().Accept = " text/html ,*/*";
        http.SetReadTimeout(kClientReadTimeoutMs);
        http.HandleRedirects = settings & kHandleRedirects;
        http.ProtocolVersion = settings & kProtocol10 ? pv1_0 : pv1_1;
        http.SetMaxLineAction(settings & kSplitLongLines ? maSplit : maException);
        // Any address that names a host or a protocol (an empty protocol before "://" names a
        // host too) is pointed back here, read the way the client reads it.
        http.OnRedirect = [&here](TComponent*, std::string& dest, int, bool&, TIdHTTPMethod&) {
            const TIdURI uri(dest);
            if (!uri.Protocol.empty() || !uri.Host.empty())
                dest = uri.Protocol + "://" + here + uri.Path + uri.Document + uri.Params;
            const std::string host = TIdURI(dest).Host;
            FUZZ_CHECK(host.empty() || host == "127.0.0.1");
        };
        if (settings & kAuthorize) {
            http.OnAuthorization = [](TComponent*, TIdAuthentication* scheme, bool& handled) {
                scheme->Username = "user";
                scheme->Password = "secret";
                handled = true;
            };
        }

        const std::string user = settings & kUserInAddress ? "user:secret@" : "";
        GetOnce(http, "http://" + user + here + "/update/index.php?checkupdate&app=x&version=1.0", bytes.size());
        if (settings & kSecondGet)
            GetOnce(http, "files/setup.exe", bytes.size());
        FUZZ_CHECK(http.Host() == "127.0.0.1");
    }
    // The client has closed its connection; the next input starts on a quiet server.
    FUZZ_CHECK(server.WaitIdle(5000));
    return 0;
}
