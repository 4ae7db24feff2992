// The server's answers, as bytes on a connection of the transport without sockets, into
// TIdHTTP::Get: the status line, header block, body framing, redirects, authorization,
// keep-alive and the connection code that reads them all run as they do in the updater.
// Nothing runs on another thread and nothing waits: the same input always takes the same
// path.
//
// Input: one byte of client settings (see Settings below), one byte for the transport (see
// Transport below), then the answers the peer gives, one per request in the order the
// requests arrive, separated by kNextAnswer. The peer closes the connection after the last
// answer, after every answer in the closing mode, and whenever the client waits for the
// peer instead of sending its next request; so the client never has a reason to wait, and
// a read time-out is a hang, reported as a finding.
//
// Every address the client is sent to stays on this peer: a redirect to another host or
// port is pointed back at it.

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
#include "tests/support/MemoryIOHandler.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using testsupport::MemoryIOHandler;
using testsupport::MemoryTransportHang;
using testsupport::Pieces;

namespace {

constexpr std::string_view kNextAnswer = "\n~~next~~\n";
// A client that is still inside Get sends its next request at once (after a probe of the
// kept connection, a wait of 1 ms); one that waits this long or longer is reading, waiting
// for the peer to close.
constexpr int kIdleCloseMs = 20;
// Far beyond anything the peer makes the client wait.
constexpr int kClientReadTimeoutMs = 5000;
constexpr const char* kHere = "127.0.0.1:8080";

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

// The transport byte: the low two bits choose how the answers' bytes are cut into receives
// (whole, single bytes, pieces of 3, random pieces seeded by the whole byte); the upper six
// a work event, counted over the run from 1, in which the client closes the connection as a
// cancel in a progress window does (0: never).
struct Transport {
    Pieces pieces;
    unsigned seed;
    int cancelAtWork;
};

Transport ReadTransport(std::uint8_t byte)
{
    constexpr Pieces kPieces[] = {Pieces::Whole, Pieces::OneByte, Pieces::Small, Pieces::Random};
    return {.pieces = kPieces[byte & 3], .seed = byte, .cancelAtWork = byte >> 2};
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

// Serves the answers in order over as many connections as the client opens: each connection
// goes on from the first answer no earlier one has served, and an answer counts as served
// once its request has come.
class AnswerPeer {
public:
    AnswerPeer(std::vector<std::string> answers, bool closeAfterEach)
        : answers_(std::move(answers)), closeAfterEach_(closeAfterEach)
    {
    }

    MemoryIOHandler::Script NextConnection()
    {
        MemoryIOHandler::Script script;
        for (std::size_t i = next_; i < answers_.size(); ++i) {
            script.ExpectRequestOrIdleClose(kIdleCloseMs).Call([this, i] { next_ = i + 1; }).Send(answers_[i]);
            if (closeAfterEach_)
                break;
        }
        // With nothing left to serve, the request is read and the connection closed.
        if (next_ >= answers_.size())
            script.ExpectRequestOrIdleClose(kIdleCloseMs);
        return script.Close();
    }

private:
    std::vector<std::string> answers_;
    bool closeAfterEach_;
    std::size_t next_ = 0;
};

// Runs one Get and checks how it ended: normally, or with one of the system's exceptions,
// never a read time-out (a hang) and never a body larger than what the peer sent.
void GetOnce(TIdHTTP& http, const std::string& url, std::size_t sent, const bool& cancelled)
{
    // GET_FUZZ_VERBOSE=1 prints how each Get ended, to look at what a corpus covers.
    static const bool verbose = std::getenv("GET_FUZZ_VERBOSE") != nullptr;
    TMemoryStream stream;
    const bool cancelledBefore = cancelled;
    const auto start = std::chrono::steady_clock::now();
    try {
        http.Get(url, stream);
        // A delivered body announced by its length is complete: a body the peer cut short
        // must never pass for a finished download. Only a cancel on this side ends one early.
        const TIdHTTPResponse& answer = http.Response();
        const int code = answer.ResponseCode();
        if (cancelled == cancelledBefore &&
            ClassifyStatus(code, !answer.Location.empty()) == TIdHTTPStatusAction::Success &&
            DecideBodyFraming(code, answer.ContentLength, answer.TransferEncoding) == TIdBodyFraming::Sized)
            FUZZ_CHECK(stream.Size() == answer.ContentLength);
        if (verbose)
            std::fprintf(stderr, "Get %s: %lld bytes\n", url.c_str(), static_cast<long long>(stream.Size()));
    } catch (const EIdReadTimeout&) {
        FUZZ_CHECK(!"Get waited for bytes the peer had no reason to send");
    } catch (const EIdHTTPProtocolException& e) {
        FUZZ_CHECK(e.ErrorMessage().size() <= sent);
        if (verbose)
            std::fprintf(stderr, "Get %s: %s %s\n", url.c_str(), e.ClassName(), e.Message().c_str());
    } catch (const Exception& e) {
        if (verbose)
            std::fprintf(stderr, "Get %s: %s %s\n", url.c_str(), e.ClassName(), e.Message().c_str());
    } catch (const MemoryTransportHang& e) {
        std::fprintf(stderr, "%s\n", e.what());
        FUZZ_CHECK(!"Get waited without limit for an answer to a request it never sent");
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
    const Transport transport = ReadTransport(size > 1 ? data[1] : 0);
    const std::string_view bytes =
        size > 2 ? std::string_view(reinterpret_cast<const char*>(data) + 2, size - 2) : std::string_view();

    AnswerPeer answers(SplitAnswers(bytes), settings & kCloseAfterEach);
    // Declared before the client, which borrows it.
    MemoryIOHandler peer([&answers]() -> std::optional<MemoryIOHandler::Script> { return answers.NextConnection(); },
                         transport.pieces, transport.seed);

    FakeSystem system;
    platform::HeadlessApplication app;
    std::unique_ptr<TIdAntiFreeze> antiFreeze;
    if (settings & kAntiFreeze) {
        antiFreeze = std::make_unique<TIdAntiFreeze>(nullptr, app);
        antiFreeze->SetIdleTimeOut(1);
    }
    {
        TIdHTTP http(nullptr, system, "IdHTTP1");
        http.SetIOHandler(&peer);
        http.Request().Accept = " text/html ,*/*";
        http.SetReadTimeout(kClientReadTimeoutMs);
        http.HandleRedirects = settings & kHandleRedirects;
        http.ProtocolVersion = settings & kProtocol10 ? pv1_0 : pv1_1;
        http.SetMaxLineAction(settings & kSplitLongLines ? maSplit : maException);
        // Any address that names a host or a protocol (an empty protocol before "://" names a
        // host too) is pointed back here, read the way the client reads it.
        http.OnRedirect = [](TComponent*, std::string& dest, int, bool&, TIdHTTPMethod&) {
            const TIdURI uri(dest);
            if (!uri.Protocol.empty() || !uri.Host.empty())
                dest = uri.Protocol + "://" + kHere + uri.Path + uri.Document + uri.Params;
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
        int works = 0;
        bool cancelled = false;
        if (transport.cancelAtWork > 0) {
            http.OnWork = [&](TComponent*, TWorkMode, std::int64_t) {
                if (++works == transport.cancelAtWork) {
                    cancelled = true;
                    http.CloseConnection();
                }
            };
        }

        const std::string user = settings & kUserInAddress ? "user:secret@" : "";
        GetOnce(http, "http://" + user + kHere + "/update/index.php?checkupdate&app=x&version=1.0", bytes.size(),
                cancelled);
        if (settings & kSecondGet)
            GetOnce(http, "files/setup.exe", bytes.size(), cancelled);
        FUZZ_CHECK(http.Host() == "127.0.0.1");
    }
    // Only this machine was ever contacted, and the client let go of its last connection.
    for (const auto& connection : peer.Connections())
        FUZZ_CHECK(connection.Host == "127.0.0.1");
    FUZZ_CHECK(!peer.IsHandleOpen());
    return 0;
}
