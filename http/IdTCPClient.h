#pragma once
// A connection that opens itself to Host:Port.

#include "http/IdTCPConnection.h"

#include <string>

class TIdTCPClient : public TIdTCPConnection {
public:
    using TIdTCPConnection::TIdTCPConnection;
    UPDATER_CLASS_NAME(TIdTCPClient)

    const std::string& Host() const { return host_; }
    void SetHost(const std::string& host) { host_ = host; }
    int Port() const { return port_; }
    void SetPort(int port) { port_ = port; }
    const std::string& BoundIP() const { return boundIP_; }
    void SetBoundIP(const std::string& ip) { boundIP_ = ip; }
    int BoundPort() const { return boundPort_; }
    void SetBoundPort(int port) { boundPort_ = port; }

    // Handed to the transport for its hsConnecting status (see TIdIOHandler::ConnectingText).
    void SetConnectingText(std::string text) { connectingText_ = std::move(text); }

    TNotifyEvent OnConnected;

    // Connects to Host:Port, creating an owned socket transport when none is attached.
    // EIdAlreadyConnected "Already connected." when the attached one is open. Any failure
    // of the connect itself drops the socket (the handler stays attached) and is raised
    // unchanged. timeout: as TIdIOHandlerSocket::ConnectTo.
    void OpenConnection(int timeout = TimeoutDefault);

protected:
    // The transport OpenConnection creates when none is attached: a plain socket one.
    virtual std::unique_ptr<TIdIOHandler> NewIOHandler();

private:
    std::string host_;
    int port_ = 0;
    std::string boundIP_;
    int boundPort_ = 0;
    std::string connectingText_;
};
