#include "http/IdTCPClient.h"

#include "http/IdException.h"
#include "http/IdIOHandlerSocket.h"

void TIdTCPClient::OpenConnection(int timeout)
{
    if (!IOHandler()) {
        // Owned through the connection's reference rather than the component tree, so
        // that a call still using it keeps it alive after CloseConnection detaches it.
        auto handler = NewIOHandler();
        handler->OnStatus = OnStatus;
        SetIOHandler(std::move(handler), true);
    } else if (IOHandler()->IsHandleOpen()) {
        throw EIdAlreadyConnected();
    }
    const std::shared_ptr<TIdIOHandler> handler = IOHandler();
    try {
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

std::shared_ptr<TIdIOHandler> TIdTCPClient::NewIOHandler()
{
    return std::make_shared<TIdIOHandlerSocket>(nullptr);
}
