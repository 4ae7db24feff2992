#pragma once
// A blocking TCP connection over a transport handler: writes (batched), the input queue
// and every receive of the system (FillInputQueue), the framing reads (a line, an exact
// count, a body into a stream), the detection of a close by the peer, and closing.
//
// Ownership: a transport handler is either handed over (std::unique_ptr; CloseConnection
// frees it) or borrowed (a plain pointer; the caller keeps it, and it must outlive its use
// here). Lifetime rule for an owned handler: every operation that waits or raises events
// (and so may run a message or event handler that calls CloseConnection) marks the
// handler in use for its duration. A CloseConnection made meanwhile detaches the handler
// and closes its socket at once but frees it only when the outermost such operation
// returns, so the handler and its socket handle stay usable by the waiting call, which
// notices the close at its next check of the socket.

#include "http/IdComponent.h"
#include "http/IdIOHandler.h"
#include "http/IdManagedBuffer.h"
#include "platform/runtime/forward.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

enum TIdMaxLineAction { maException, maSplit };

class TIdTCPConnection : public TIdComponent {
public:
    static constexpr int DefaultMaxLineLength = 16384;
    static constexpr int DefaultBufferSize = 32768;

    explicit TIdTCPConnection(TComponent* owner, std::string name = {});
    ~TIdTCPConnection() override;
    UPDATER_CLASS_NAME(TIdTCPConnection)

    // --- Settings -----------------------------------------------------------------------
    int MaxLineLength() const { return maxLineLength_; }
    void SetMaxLineLength(int v) { maxLineLength_ = v; }
    TIdMaxLineAction MaxLineAction() const { return maxLineAction_; }
    void SetMaxLineAction(TIdMaxLineAction v) { maxLineAction_ = v; }
    // Milliseconds; 0 waits without limit.
    int ReadTimeout() const { return readTimeout_; }
    void SetReadTimeout(int ms) { readTimeout_ = ms; }
    // Bytes asked of one receive call; also the block size of stream reads.
    int RecvBufferSize() const { return recvBufferSize_; }
    void SetRecvBufferSize(int v) { recvBufferSize_ = v > 0 ? v : 1; }
    // Block size of stream writes.
    int SendBufferSize() const { return sendBufferSize_; }
    void SetSendBufferSize(int v) { sendBufferSize_ = v > 0 ? v : 1; }
    bool ASCIIFilter() const { return asciiFilter_; }
    void SetASCIIFilter(bool v) { asciiFilter_ = v; }

    TNotifyEvent OnDisconnected;

    // --- Transport ----------------------------------------------------------------------
    // The attached transport handler, owned or borrowed; null when none is attached.
    TIdIOHandler* IOHandler() const { return ioHandler_; }
    // Attaches a handler the connection owns from now on; CloseConnection frees it. A
    // handler attached before is let go (freed when it was owned).
    void SetIOHandler(std::unique_ptr<TIdIOHandler> handler);
    // Attaches a borrowed handler (null: none); it must outlive its use here, and
    // CloseConnection leaves it attached.
    void SetIOHandler(TIdIOHandler* handler);
    // Lets go of the attached handler (freed when it was owned).
    void SetIOHandler(std::nullptr_t) { DetachIOHandler(); }
    bool OwnsIOHandler() const { return ioHandler_ != nullptr && ioHandler_ == ownedIOHandler_.get(); }
    // Hands the attached owned handler to the caller as it stands (open or not) and
    // detaches it; null, with nothing detached, when the attached one is borrowed or none.
    std::unique_ptr<TIdIOHandler> TakeIOHandler();

    // --- State --------------------------------------------------------------------------
    TIdManagedBuffer& InputQueue() { return inputQueue_; }
    const TIdManagedBuffer& InputQueue() const { return inputQueue_; }
    bool PeerClosed() const { return peerClosed_; }
    bool LineWasSplit() const { return lineWasSplit_; }
    bool LineTimedOut() const { return lineTimedOut_; }
    // CloseConnection has been called since the connection was last opened: a read that
    // ended with EIdConnClosedGracefully was then cut by this side, not by the peer.
    bool ClosedLocally() const { return closedLocally_; }

    // --- Opening, probing, closing ------------------------------------------------------
    // Notices a close by the peer (without raising), then: a handler is attached and its
    // socket is open.
    bool IsOpen();
    // Status hsDisconnecting, drop the socket, free an owned handler, OnDisconnected,
    // status hsDisconnected. Callable at any time, also from a handler during a wait.
    void CloseConnection();
    // Marks the peer closed and closes the socket; the handler stays attached.
    void DropSocket();
    // Whether the connection counts as closed; raises EIdConnClosedGracefully when it does,
    // `raise` is set and the input queue is empty or `ignoreBuffer` is set.
    bool CheckPeerClosed(bool raise, bool ignoreBuffer);
    // A read attempt of at most 1 ms that notices a close by the peer; bytes that arrive
    // stay queued.
    void ProbePeerClosed(bool raise);
    // Empties the input queue and clears PeerClosed.
    void ResetState();

    // --- Receiving ----------------------------------------------------------------------
    // Waits (timeout: ms, TimeoutDefault or TimeoutInfinite) and receives once into the
    // input queue, repeating while nothing arrives and the connection stays open. Returns
    // the count: above 0 bytes, 0 the peer closed (or a tolerated error), -1 time-out
    // without raising.
    std::int64_t FillInputQueue(bool raiseIfClosed, int timeout, bool raiseOnTimeout);
    // A line up to the terminator (empty: LF), without it; with LF a CR before it is cut
    // too. maxLength -1: MaxLineLength; 0: no limit. With an explicit timeout (not
    // TimeoutDefault) a wait that passes it ends the call with an empty line and
    // LineTimedOut set, as a close by the peer in the middle of a line does.
    std::string ReceiveLine(const std::string& terminator = "\n", int timeout = TimeoutDefault, int maxLength = -1);
    // Exactly count bytes; a peer that closes first raises EIdConnClosedGracefully and
    // leaves the bytes received so far queued.
    void ReceiveExact(void* buffer, std::int64_t count);
    // count bytes (count >= 0), or everything until the peer closes (count -1 with
    // untilClose), into the stream at its position; count -1 without untilClose first
    // reads a 4-byte big-endian length. A count >= 0 with untilClose bounds a read until
    // close: it stops after count bytes, or ends normally when the peer closes first.
    // Reports read work: one span, the queued bytes, then one count per block of
    // RecvBufferSize bytes.
    void ReceiveToStream(TStream& stream, std::int64_t count = -1, bool untilClose = true);

    // --- Sending ------------------------------------------------------------------------
    void SendText(const std::string& text);
    void SendLine(const std::string& text);
    // Into the write batch when one exists and `now` is false; otherwise sent at once.
    void SendBytes(const void* buffer, std::int64_t count, bool now = false);
    // threshold -1: never flush before EndWriteBatch.
    void BeginWriteBatch(int threshold);
    void EndWriteBatch();
    void FlushWriteBatch(std::int64_t count);
    bool InWriteBatch() const { return writeBatch_.has_value(); }
    // Sends count bytes of the stream (0: up to its end), from its beginning when
    // fromStart, preceded by the count as a 4-byte big-endian integer when
    // withLengthPrefix, as one wmWrite work span.
    void SendStream(TMemoryStream& stream, bool fromStart = true, std::int64_t count = 0,
                    bool withLengthPrefix = false);

protected:
    // Marks the attached handler in use for an operation's lifetime (see the lifetime rule
    // above); the outermost one to end frees the handlers detached meanwhile.
    class HandlerInUse {
    public:
        explicit HandlerInUse(TIdTCPConnection& connection);
        ~HandlerInUse();
        HandlerInUse(const HandlerInUse&) = delete;
        HandlerInUse& operator=(const HandlerInUse&) = delete;

    private:
        TIdTCPConnection& connection_;
    };

    virtual void DoOnDisconnected();
    void SetPeerClosed(bool v) { peerClosed_ = v; }
    void SetClosedLocally(bool v) { closedLocally_ = v; }

private:
    // FillInputQueue's work, receiving into `target` (length at most `length`) instead of
    // the input queue when target is set.
    std::int64_t Fill(bool raiseIfClosed, int timeout, bool raiseOnTimeout, char* target, std::size_t length);
    // One receive into `target` or onto the input queue; sets PeerClosed when it gets 0.
    std::int64_t ReceiveOnce(TIdIOHandler& handler, char* target, std::size_t length);
    // After a receive that failed: an aborted or shut-down connection is dropped and
    // counts as a close (0), raising when nothing is held; any other failure raises.
    std::int64_t EndFailedReceive();
    // Where the terminator starts in the input queue, searching on from the first
    // `scanned` bytes; npos when it is not there.
    std::size_t FindInQueue(const std::string& terminator, std::size_t scanned) const;
    // The first `length` bytes as a line; the terminator after them goes too, and with LF
    // a CR before it.
    std::string ExtractLine(std::size_t length, const std::string& terminator);
    // A line over maxLength: raises, or (maSplit) the first maxLength bytes.
    std::string ExtractOverlongLine(std::size_t maxLength);
    // ReceiveExact straight into the destination; `got` tells how far it came, also when
    // it raises.
    void ReceiveExactInto(char* destination, std::size_t count, std::size_t& got);
    // Nothing is waiting to be read: the queue and the part of a block received straight
    // into a stream.
    bool NothingHeld() const { return inputQueue_.Empty() && directHeld_ == 0; }

    // Lets go of the attached handler; an owned one is freed now or, while an operation
    // uses it, when the outermost one returns.
    void DetachIOHandler();

    TIdIOHandler* ioHandler_ = nullptr;                             // attached: owned or borrowed
    std::unique_ptr<TIdIOHandler> ownedIOHandler_;                  // the attached one when it is owned
    std::vector<std::unique_ptr<TIdIOHandler>> detachedIOHandlers_; // freed once unused
    int handlerUses_ = 0;
    int maxLineLength_ = DefaultMaxLineLength;
    TIdMaxLineAction maxLineAction_ = maException;
    int readTimeout_ = 0;
    int recvBufferSize_ = DefaultBufferSize;
    int sendBufferSize_ = DefaultBufferSize;
    bool asciiFilter_ = false;

    TIdManagedBuffer inputQueue_;
    std::size_t directHeld_ = 0;
    std::optional<std::string> writeBatch_;
    int writeBatchThreshold_ = -1;
    bool peerClosed_ = false;
    bool lineWasSplit_ = false;
    bool lineTimedOut_ = false;
    bool closedLocally_ = false;
};
