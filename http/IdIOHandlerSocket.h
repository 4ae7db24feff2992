#pragma once
// The socket transport: one socket handle and the connect procedure, including the
// connect on a short-lived thread while the main thread processes messages.

#include "http/IdIOHandler.h"
#include "http/IdSocketHandle.h"
#include "http/IdSocksInfo.h"

#include <memory>

class TIdIOHandlerSocket : public TIdIOHandler {
public:
    // The nominal limit of a connect made with the default time-out while the
    // anti-freeze is in use.
    static constexpr int DefaultConnectTimeout = 120000;
    // The longest sleep slice of a timed connect.
    static constexpr int MaxConnectSlice = 125;

    using TIdIOHandler::TIdIOHandler;
    UPDATER_CLASS_NAME(TIdIOHandlerSocket)

    void PrepareHandle() override;
    // Opens a socket, binds it locally, looks the host up, and connects: on the connect
    // thread for a time-out other than -1 and 0, or for those when the anti-freeze is in
    // use (nominally 120000 ms); otherwise a plain blocking connect.
    void ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP, int boundPort,
                   int portMin, int portMax) override;
    bool IsHandleOpen() const override { return binding_ && binding_->SocketOpen(); }
    bool WaitReadable(int ms) override;
    // Raise EIdClosedSocket "Disconnected." when no socket is open.
    std::int64_t ReceiveSome(void* buffer, std::size_t length) override;
    std::int64_t SendSome(const void* buffer, std::size_t length) override;
    void ShutHandle() override;

    // Connects on a connect thread, sleeping in slices of at most MaxConnectSlice ms (of
    // IdleTimeOut with the anti-freeze in use) and processing messages after each, for
    // t milliseconds counted as the sum of the slices (TimeoutInfinite: no limit).
    // EIdConnectTimeout "Connect timed out." when the time is used up; EIdConnectException
    // with the thread's error text when the connect failed with anything but 10009 or
    // 10038 (the errors of a socket closed under it).
    void TimedConnect(int t);

    TIdSocketHandle* Binding() const { return binding_.get(); }
    TIdSocksInfo& SocksInfo();
    bool UseNagle() const { return useNagle_; }
    void SetUseNagle(bool v) { useNagle_ = v; }

private:
    std::unique_ptr<TIdSocketHandle> binding_;
    std::unique_ptr<TIdSocksInfo> socksInfo_;
    bool useNagle_ = true;
};
