#pragma once
// The transport under a connection: connects, waits for data, receives and sends.

#include "http/IdComponent.h"

#include <cstddef>
#include <cstdint>
#include <string>

class TIdIOHandler : public TIdComponent {
public:
    using TIdComponent::TIdComponent;
    UPDATER_CLASS_NAME(TIdIOHandler)

    virtual void PrepareHandle() = 0;
    virtual void ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP, int boundPort,
                           int portMin, int portMax) = 0;
    virtual bool IsHandleOpen() const = 0;
    virtual bool WaitReadable(int ms) = 0;
    // One receive or send: the count, -1 on failure (0 on a receive: the peer closed).
    virtual std::int64_t ReceiveSome(void* buffer, std::size_t length) = 0;
    virtual std::int64_t SendSome(const void* buffer, std::size_t length) = 0;
    virtual void ShutHandle() = 0;
    // The peer's last close ended a secured stream without its end-of-stream message, so
    // the bytes read before it may be a truncation. Plain sockets have no such message.
    virtual bool StreamCutShort() const { return false; }

    // The value of the hsConnecting status ("Connecting to %s."): where the connection goes
    // and why, e.g. "proxy 127.0.0.1:3128 (from http_proxy)". Empty: the remote address.
    std::string ConnectingText;
};
