#include "http/IdTCPConnection.h"

#include "http/IdAntiFreezeBase.h"
#include "http/IdException.h"
#include "http/IdStack.h"
#include "platform/runtime/MemoryStream.h"

#include <algorithm>
#include <cstring>
#include <limits>

TIdTCPConnection::TIdTCPConnection(TComponent* owner, std::string name) : TIdComponent(owner, std::move(name))
{
    // Consuming queued bytes is what counts as read work.
    inputQueue_.OnBytesRemoved = [this](std::int64_t count) { AddWork(wmRead, count); };
}

TIdTCPConnection::~TIdTCPConnection()
{
    try {
        DropSocket();
    } catch (...) {
    }
    ioHandler_ = nullptr;
}

TIdTCPConnection::HandlerInUse::HandlerInUse(TIdTCPConnection& connection) : connection_(connection)
{
    ++connection_.handlerUses_;
}

TIdTCPConnection::HandlerInUse::~HandlerInUse()
{
    if (--connection_.handlerUses_ == 0)
        connection_.detachedIOHandlers_.clear();
}

void TIdTCPConnection::DetachIOHandler()
{
    ioHandler_ = nullptr;
    if (!ownedIOHandler_)
        return;
    if (handlerUses_ > 0)
        detachedIOHandlers_.push_back(std::move(ownedIOHandler_));
    else
        ownedIOHandler_.reset();
}

void TIdTCPConnection::SetIOHandler(std::unique_ptr<TIdIOHandler> handler)
{
    DetachIOHandler();
    ownedIOHandler_ = std::move(handler);
    ioHandler_ = ownedIOHandler_.get();
}

void TIdTCPConnection::SetIOHandler(TIdIOHandler* handler)
{
    DetachIOHandler();
    ioHandler_ = handler;
}

std::unique_ptr<TIdIOHandler> TIdTCPConnection::TakeIOHandler()
{
    if (!OwnsIOHandler())
        return nullptr;
    ioHandler_ = nullptr;
    return std::move(ownedIOHandler_);
}

void TIdTCPConnection::DoOnDisconnected()
{
    if (OnDisconnected)
        OnDisconnected(this);
}

// --- Opening, probing, closing ------------------------------------------------------------

bool TIdTCPConnection::IsOpen()
{
    CheckPeerClosed(false, false);
    return ioHandler_ && ioHandler_->IsHandleOpen();
}

void TIdTCPConnection::CloseConnection()
{
    closedLocally_ = true;
    ReportStatus(hsDisconnecting);
    DropSocket();
    // An owned handler goes (once no waiting call uses it any more); a borrowed one stays.
    if (OwnsIOHandler())
        DetachIOHandler();
    DoOnDisconnected();
    ReportStatus(hsDisconnected);
}

void TIdTCPConnection::DropSocket()
{
    if (ioHandler_) {
        peerClosed_ = true;
        ioHandler_->ShutHandle();
    }
}

bool TIdTCPConnection::CheckPeerClosed(bool raise, bool ignoreBuffer)
{
    bool closed;
    if (peerClosed_ || !ioHandler_) {
        closed = false;
        if (ioHandler_) {
            if (ioHandler_->IsHandleOpen()) {
                DropSocket();
                ReportStatus(hsDisconnected);
                DoOnDisconnected();
            }
            closed = true;
        }
    } else {
        closed = !ioHandler_->IsHandleOpen();
    }
    if (closed && raise && (NothingHeld() || ignoreBuffer))
        throw EIdConnClosedGracefully();
    return closed;
}

void TIdTCPConnection::ProbePeerClosed(bool raise) { FillInputQueue(raise, 1, false); }

void TIdTCPConnection::ResetState()
{
    inputQueue_.Clear();
    peerClosed_ = false;
}

// --- Receiving ------------------------------------------------------------------------------

std::int64_t TIdTCPConnection::FillInputQueue(bool raiseIfClosed, int timeout, bool raiseOnTimeout)
{
    return Fill(raiseIfClosed, timeout, raiseOnTimeout, nullptr, 0);
}

std::int64_t TIdTCPConnection::Fill(bool raiseIfClosed, int timeout, bool raiseOnTimeout, char* target,
                                    std::size_t length)
{
    if (timeout == TimeoutDefault)
        timeout = readTimeout_ == 0 ? TimeoutInfinite : readTimeout_;
    CheckPeerClosed(raiseIfClosed, false);
    if (!IsOpen()) {
        if (raiseIfClosed)
            throw EIdNotConnected();
        return 0;
    }
    // Kept for the whole call: a handler run during the wait may detach it.
    TIdIOHandler* const handler = ioHandler_;
    const HandlerInUse inUse(*this);
    std::int64_t count;
    do {
        if (!handler->WaitReadable(timeout)) {
            if (raiseOnTimeout)
                throw EIdReadTimeout();
            return -1;
        }
        count = ReceiveOnce(*handler, target, length);
        CheckPeerClosed(raiseIfClosed, false);
    } while (count == 0 && IsOpen());
    return count;
}

std::int64_t TIdTCPConnection::ReceiveOnce(TIdIOHandler& handler, char* target, std::size_t length)
{
    std::int64_t count;
    if (target) {
        count = handler.ReceiveSome(target, std::min(length, static_cast<std::size_t>(recvBufferSize_)));
    } else {
        char* tail = inputQueue_.PrepareAppend(static_cast<std::size_t>(recvBufferSize_));
        count = handler.ReceiveSome(tail, static_cast<std::size_t>(recvBufferSize_));
        inputQueue_.CommitAppend(count > 0 ? static_cast<std::size_t>(count) : 0);
    }
    peerClosed_ = count == 0;
    return count == -1 ? EndFailedReceive() : count;
}

std::int64_t TIdTCPConnection::EndFailedReceive()
{
    TIdStack& stack = GlobalStack();
    // An aborted or shut-down connection ends like a close; what is queued stays
    // readable. Any other error raises here.
    if (!stack.CheckSocketResult(-1, {platform::WsaEShutdown, platform::WsaEConnAborted}))
        return -1;
    DropSocket();
    if (NothingHeld())
        TIdStack::ThrowSocketError(stack.LastSocketError());
    return 0;
}

std::string TIdTCPConnection::ReceiveLine(const std::string& terminatorIn, int timeout, int maxLengthIn)
{
    const std::string terminator = terminatorIn.empty() ? std::string("\n") : terminatorIn;
    const std::size_t maxLength = maxLengthIn == -1 ? static_cast<std::size_t>(std::max(maxLineLength_, 0))
                                                    : static_cast<std::size_t>(maxLengthIn);
    lineWasSplit_ = false;
    lineTimedOut_ = false;
    std::size_t found = std::string::npos; // bytes before the terminator
    std::size_t scanned = 0;
    for (;;) {
        const std::size_t n = inputQueue_.Size();
        if (n > 0 && found == std::string::npos) {
            found = FindInQueue(terminator, scanned);
            scanned = n;
        }
        if (found != std::string::npos)
            return maxLength != 0 && found > maxLength ? ExtractOverlongLine(maxLength)
                                                       : ExtractLine(found, terminator);
        if (maxLength != 0 && scanned > maxLength)
            return ExtractOverlongLine(maxLength);
        CheckPeerClosed(true, true);
        // The peer closed in the middle of a line (or an explicit time-out passed): an
        // empty line, the partial line left queued.
        if (FillInputQueue(true, timeout, timeout == TimeoutDefault) <= 0) {
            lineTimedOut_ = true;
            return {};
        }
    }
}

std::size_t TIdTCPConnection::FindInQueue(const std::string& terminator, std::size_t scanned) const
{
    // Resume where the last search ended; a longer terminator may straddle it.
    const std::size_t from = scanned >= terminator.size() - 1 ? scanned - (terminator.size() - 1) : 0;
    if (terminator.size() == 1)
        return inputQueue_.IndexOf(terminator[0], from);
    const auto at = inputQueue_.View().find(terminator, from);
    return at == std::string_view::npos ? std::string::npos : at;
}

std::string TIdTCPConnection::ExtractLine(std::size_t length, const std::string& terminator)
{
    std::string line = inputQueue_.Extract(length + terminator.size());
    line.resize(length);
    if (terminator == "\n" && !line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

std::string TIdTCPConnection::ExtractOverlongLine(std::size_t maxLength)
{
    if (maxLineAction_ == maException)
        throw EIdReadLnMaxLineLengthExceeded();
    lineWasSplit_ = true;
    return inputQueue_.Extract(maxLength);
}

void TIdTCPConnection::ReceiveExact(void* buffer, std::int64_t count)
{
    if (count <= 0 || !buffer)
        return;
    const auto wanted = static_cast<std::size_t>(count);
    while (inputQueue_.Size() < wanted) {
        FillInputQueue(true, TimeoutDefault, true);
        CheckPeerClosed(true, true);
    }
    inputQueue_.ExtractTo(buffer, wanted);
}

void TIdTCPConnection::ReceiveExactInto(char* destination, std::size_t count, std::size_t& got)
{
    // As ReceiveExact with an empty queue, receiving straight into the destination; the
    // bytes received so far count as held (as if queued) for the close checks.
    struct Held {
        std::size_t& held;
        ~Held() { held = 0; }
    } reset{directHeld_};
    got = 0;
    while (got < count) {
        directHeld_ = got;
        const std::int64_t n = Fill(true, TimeoutDefault, true, destination + got, count - got);
        if (n > 0)
            got += static_cast<std::size_t>(n);
        directHeld_ = got;
        if (got < count)
            CheckPeerClosed(true, true);
    }
}

void TIdTCPConnection::ReceiveToStream(TStream& stream, std::int64_t count, bool untilClose)
{
    if (count == -1 && !untilClose) {
        unsigned char prefix[4];
        ReceiveExact(prefix, 4);
        const auto value =
            static_cast<std::int32_t>((std::uint32_t{prefix[0]} << 24) | (std::uint32_t{prefix[1]} << 16) |
                                      (std::uint32_t{prefix[2]} << 8) | std::uint32_t{prefix[3]});
        count = std::max<std::int32_t>(value, 0);
    }
    // A read until close has no size limit of its own (a body above 2 GiB must not stop
    // short) unless the caller gives one. A sized read does not allocate from the announced
    // count: the stream grows with the bytes that arrive.
    std::int64_t remaining =
        untilClose && count < 0 ? std::numeric_limits<std::int64_t>::max() : std::max<std::int64_t>(count, 0);

    auto cutStream = [&stream] { stream.CutAtPosition(); };
    try {
        StartWork(wmRead, untilClose ? 0 : remaining);

        // Bytes already queued go first.
        const auto queued = static_cast<std::int64_t>(inputQueue_.Size());
        if (const std::int64_t n = std::min(queued, remaining); n > 0) {
            stream.Write(inputQueue_.View().data(), static_cast<std::size_t>(n));
            inputQueue_.Remove(static_cast<std::size_t>(n));
            remaining -= n;
        }

        const auto blockSize = std::min<std::int64_t>(remaining, recvBufferSize_);
        while (remaining > 0 && IsOpen()) {
            const auto block = static_cast<std::size_t>(std::min(remaining, blockSize));
            char* at = stream.BeginWrite(block);
            std::size_t got = 0;
            try {
                ReceiveExactInto(at, block, got);
            } catch (const EIdConnClosedGracefully&) {
                if (untilClose) {
                    // The peer's close (or ours) ends the body: the partial block and anything
                    // still queued are written without a work count.
                    stream.EndWrite(got);
                    if (!inputQueue_.Empty()) {
                        stream.Write(inputQueue_.View().data(), inputQueue_.Size());
                        inputQueue_.Clear();
                    }
                    break;
                }
                inputQueue_.Append(std::string_view(at, got)); // the unfinished block stays queued
                throw;
            } catch (...) {
                inputQueue_.Append(std::string_view(at, got));
                throw;
            }
            stream.EndWrite(block);
            remaining -= static_cast<std::int64_t>(block);
            AddWork(wmRead, static_cast<std::int64_t>(block));
        }
    } catch (...) {
        try {
            FinishWork(wmRead);
        } catch (...) {
            // The first failure is the one to report.
        }
        cutStream();
        throw;
    }
    try {
        FinishWork(wmRead);
    } catch (...) {
        cutStream();
        throw;
    }
    cutStream();
}

// --- Sending --------------------------------------------------------------------------------

void TIdTCPConnection::SendText(const std::string& text)
{
    if (!text.empty())
        SendBytes(text.data(), static_cast<std::int64_t>(text.size()), false);
}

void TIdTCPConnection::SendLine(const std::string& text) { SendText(text + "\r\n"); }

void TIdTCPConnection::SendBytes(const void* buffer, std::int64_t count, bool now)
{
    if (count <= 0 || !buffer)
        return;
    CheckPeerClosed(true, true);
    if (!IsOpen())
        throw EIdNotConnected();
    const auto size = static_cast<std::size_t>(count);
    if (writeBatch_ && !now) {
        writeBatch_->append(static_cast<const char*>(buffer), size);
        if (writeBatchThreshold_ > 0 && writeBatch_->size() >= static_cast<std::size_t>(writeBatchThreshold_))
            FlushWriteBatch(writeBatchThreshold_);
        return;
    }
    // A private copy: a handler run between the passes may change the caller's bytes.
    const std::string bytes(static_cast<const char*>(buffer), size);
    TIdIOHandler* const handler = ioHandler_;
    const HandlerInUse inUse(*this);
    TIdStack& stack = GlobalStack();
    std::size_t sent = 0;
    while (sent < size) {
        std::int64_t n = handler->SendSome(bytes.data() + sent, size - sent);
        TIdAntiFreezeBase::PumpIfDue(false, false);
        peerClosed_ = n == 0;
        CheckPeerClosed(true, false);
        if (n == -1) {
            if (stack.CheckSocketResult(-1,
                                        {platform::WsaEShutdown, platform::WsaEConnAborted, platform::WsaEConnReset})) {
                DropSocket();
                TIdStack::ThrowSocketError(stack.LastSocketError());
            }
        }
        // After a send of nothing the socket has been dropped: the next pass raises.
        if (n > 0) {
            AddWork(wmWrite, n);
            sent += static_cast<std::size_t>(n);
        }
    }
}

void TIdTCPConnection::BeginWriteBatch(int threshold)
{
    writeBatch_.emplace();
    writeBatchThreshold_ = threshold;
}

void TIdTCPConnection::FlushWriteBatch(std::int64_t count)
{
    if (!writeBatch_ || writeBatch_->empty())
        return;
    if (count != -1 && static_cast<std::int64_t>(writeBatch_->size()) >= count) {
        const std::string head = writeBatch_->substr(0, static_cast<std::size_t>(count));
        writeBatch_->erase(0, static_cast<std::size_t>(count));
        SendBytes(head.data(), static_cast<std::int64_t>(head.size()), true);
    } else {
        const std::string all = std::move(*writeBatch_);
        writeBatch_->clear();
        SendBytes(all.data(), static_cast<std::int64_t>(all.size()), true);
    }
}

void TIdTCPConnection::EndWriteBatch()
{
    struct Free {
        std::optional<std::string>& batch;
        ~Free() { batch.reset(); }
    } free{writeBatch_};
    FlushWriteBatch(-1);
}

void TIdTCPConnection::SendStream(TMemoryStream& stream, bool fromStart, std::int64_t count, bool withLengthPrefix)
{
    if (fromStart)
        stream.SetPosition(0);
    const std::int64_t available = std::max<std::int64_t>(stream.Size() - stream.Position(), 0);
    if (count == 0)
        count = available;
    if (withLengthPrefix) {
        const auto v = static_cast<std::uint32_t>(count);
        const unsigned char prefix[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                                         static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
        SendBytes(prefix, 4, false);
    }
    StartWork(wmWrite, count);
    try {
        std::int64_t left = count;
        while (left > 0) {
            const std::int64_t inStream = std::max<std::int64_t>(stream.Size() - stream.Position(), 0);
            const std::int64_t block = std::min({left, static_cast<std::int64_t>(sendBufferSize_), inStream});
            if (block <= 0)
                throw EIdNoDataToRead();
            const auto bytes =
                stream.Bytes().substr(static_cast<std::size_t>(stream.Position()), static_cast<std::size_t>(block));
            stream.SetPosition(stream.Position() + block);
            SendBytes(bytes.data(), block, false);
            left -= block;
        }
    } catch (...) {
        try {
            FinishWork(wmWrite);
        } catch (...) {
        }
        throw;
    }
    FinishWork(wmWrite);
}
