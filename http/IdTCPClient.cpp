#include "http/IdTCPClient.h"

#include "http/IdException.h"
#include "http/IdIOHandlerSocket.h"

void TIdTCPClient::OpenConnection(int timeout)
{
    if (!IOHandler()) {
        // Owned by the connection rather than the component tree, so that a call still
        // using it keeps it after CloseConnection detaches it (see the lifetime rule).
        auto handler = NewIOHandler();
        handler->OnStatus = OnStatus;
        SetIOHandler(std::move(handler));
    } else if (IOHandler()->IsHandleOpen()) {
        throw EIdAlreadyConnected();
    }
    // The connect pumps messages; a handler may close the connection meanwhile.
    TIdIOHandler* const handler = IOHandler();
    const HandlerInUse inUse(*this);
    try {
        handler->ConnectingText = connectingText_;
        handler->PrepareHandle();
        ResetState();
        SetClosedLocally(false);
        handler->ConnectTo(host_, port_, timeout, boundIP_, boundPort_, 0, 0);
        ReportStatus(hsConnected, host_);
        if (OnConnected)
            OnConnected(this);
    } catch (...) {
        DropSocket();
        throw;
    }
}

std::unique_ptr<TIdIOHandler> TIdTCPClient::NewIOHandler() { return std::make_unique<TIdIOHandlerSocket>(nullptr); }
