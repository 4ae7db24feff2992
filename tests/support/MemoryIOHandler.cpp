#include "tests/support/MemoryIOHandler.h"

#include "http/IdAntiFreezeBase.h"
#include "http/IdException.h"
#include "http/IdStack.h"

#include <algorithm>
#include <cstring>
#include <string_view>

namespace testsupport {

namespace {

constexpr std::string_view kHeadEnd = "\r\n\r\n";

} // namespace

MemoryIOHandler::MemoryIOHandler(std::vector<Script> scripts, Pieces pieces, unsigned seed)
    : TIdIOHandler(nullptr), scripts_(std::move(scripts)), pieces_(pieces), random_(seed)
{
}

MemoryIOHandler::MemoryIOHandler(ScriptSource source, Pieces pieces, unsigned seed)
    : TIdIOHandler(nullptr), source_(std::move(source)), pieces_(pieces), random_(seed)
{
}

void MemoryIOHandler::ConnectTo(const std::string& host, int port, int, const std::string&, int, int, int)
{
    // Every name is this machine: nothing is looked up.
    const bool dotted = TIdStack::IsDottedQuad(host);
    if (!dotted)
        ReportStatus(hsResolving, host);
    ReportStatus(hsConnecting, dotted ? host : std::string("127.0.0.1"));
    if (connections_.size() >= scripts_.size() && source_) {
        if (std::optional<Script> next = source_())
            scripts_.push_back(std::move(*next));
    }
    if (connections_.size() >= scripts_.size())
        TIdStack::ThrowSocketError(platform::WsaEConnRefused);
    connections_.push_back({.Host = host, .Port = port});
    open_ = true;
    step_ = 0;
    pending_.clear();
    pendingAt_ = 0;
    pieceLeft_ = 0;
    stalling_ = false;
    requestsSeen_ = 0;
    ended_ = false;
    reset_ = false;
}

std::size_t MemoryIOHandler::NextPiece(std::size_t left)
{
    std::size_t n = left;
    switch (pieces_) {
    case Pieces::Whole:
        break;
    case Pieces::OneByte:
        n = 1;
        break;
    case Pieces::Small:
        n = 3;
        break;
    case Pieces::Random:
        n = 1 + random_() % 7;
        break;
    }
    return std::min(n, left);
}

std::size_t MemoryIOHandler::CompletedRequests() const
{
    const std::string& written = connections_.back().Written;
    std::size_t count = 0;
    for (std::size_t at = written.find(kHeadEnd); at != std::string::npos; at = written.find(kHeadEnd, at + 4))
        ++count;
    return count;
}

bool MemoryIOHandler::Advance(int ms)
{
    for (;;) {
        // As on a socket closed on this side: the wait notices it at its next check.
        if (!open_)
            throw EIdConnClosedGracefully();
        // Looked up again each time: an action may have opened the next connection.
        const std::vector<Step>& steps = scripts_[connections_.size() - 1].Steps();
        if (pendingAt_ < pending_.size() || ended_ || reset_)
            return true;
        if (step_ >= steps.size()) {
            ended_ = true; // a script that runs out of steps closes gracefully
            return true;
        }
        const Step& step = steps[step_];
        switch (step.Kind) {
        case StepKind::Send:
            pending_ = step.Bytes;
            pendingAt_ = 0;
            pieceLeft_ = 0;
            ++step_;
            break;
        case StepKind::Close:
            ended_ = true;
            ++step_;
            return true;
        case StepKind::Reset:
            reset_ = true;
            ++step_;
            return true;
        case StepKind::Call: {
            ++step_;
            const std::function<void()> action = step.Action; // the action may close and reopen
            action();
            break;
        }
        case StepKind::Stall:
            if (!stalling_) {
                stalled_ = step.Ms;
                stalling_ = true;
            }
            if (ms != TimeoutInfinite && ms < stalled_) {
                stalled_ -= ms;
                silentMs_ += ms;
                return false;
            }
            // The silence ends within the wait; what is left of the wait goes on.
            silentMs_ += stalled_;
            if (ms != TimeoutInfinite)
                ms -= static_cast<int>(stalled_);
            stalling_ = false;
            ++step_;
            break;
        case StepKind::ExpectRequest:
            if (CompletedRequests() > requestsSeen_) {
                ++requestsSeen_;
                ++step_;
                break;
            }
            if (step.Ms > 0 && (ms == TimeoutInfinite || ms >= step.Ms)) {
                silentMs_ += step.Ms;
                ended_ = true; // the peer gave up on an idle connection
                step_ = steps.size();
                return true;
            }
            if (ms == TimeoutInfinite)
                throw MemoryTransportHang("the client waits without limit for an answer to a request it has not sent");
            silentMs_ += ms;
            return false;
        }
    }
}

bool MemoryIOHandler::WaitReadable(int ms)
{
    if (connections_.empty())
        throw EIdConnClosedGracefully();
    const bool ready = Advance(ms);
    if (!ready)
        ++timedOutWaits_;
    // As after a select: a wait that found nothing lets the anti-freeze process messages.
    TIdAntiFreezeBase::PumpIfDue(!ready, false);
    return ready;
}

std::int64_t MemoryIOHandler::ReceiveSome(void* buffer, std::size_t length)
{
    if (!open_)
        throw EIdClosedSocket();
    Advance(TimeoutInfinite); // a receive without a wait blocks as on a socket
    if (pendingAt_ < pending_.size()) {
        if (pieceLeft_ == 0)
            pieceLeft_ = NextPiece(pending_.size() - pendingAt_);
        const std::size_t n = std::min(length, pieceLeft_);
        std::memcpy(buffer, pending_.data() + pendingAt_, n);
        pendingAt_ += n;
        pieceLeft_ -= n;
        return static_cast<std::int64_t>(n);
    }
    if (reset_)
        TIdStack::ThrowSocketError(platform::WsaEConnReset);
    return 0;
}

std::int64_t MemoryIOHandler::SendSome(const void* buffer, std::size_t length)
{
    if (!open_)
        throw EIdClosedSocket();
    if (reset_)
        TIdStack::ThrowSocketError(platform::WsaEConnReset);
    const std::size_t n = NextPiece(length);
    connections_.back().Written.append(static_cast<const char*>(buffer), n);
    return static_cast<std::int64_t>(n);
}

void MemoryIOHandler::ShutHandle()
{
    if (!open_)
        return;
    open_ = false;
    connections_.back().ClosedByClient = true;
}

std::vector<std::string> MemoryIOHandler::Requests() const
{
    std::vector<std::string> requests;
    for (const auto& connection : connections_) {
        std::string_view rest = connection.Written;
        while (!rest.empty()) {
            const std::size_t at = rest.find(kHeadEnd);
            const std::size_t size = at == std::string_view::npos ? rest.size() : at + kHeadEnd.size();
            requests.emplace_back(rest.substr(0, size));
            rest.remove_prefix(size);
        }
    }
    return requests;
}

} // namespace testsupport
