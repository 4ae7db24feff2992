#include "http/IdSocketHandle.h"

#include "http/IdAntiFreezeBase.h"
#include "http/IdException.h"
#include "http/IdStack.h"
#include "platform/runtime/Format.h"
#include "platform/ui/Application.h"

#include <chrono>
#include <vector>

TIdSocketHandle::~TIdSocketHandle() { ReleaseSocket(); }

void TIdSocketHandle::CreateSocket(int type, int protocol)
{
    ReleaseSocket();
    osSocket_ = GlobalStack().OpenSocket(type, protocol);
    socketOpen_.store(true);
}

void TIdSocketHandle::SetLocal(const std::string& ip, int port, int portMin, int portMax)
{
    ip_ = ip;
    port_ = port;
    clientPortMin_ = portMin;
    clientPortMax_ = portMax;
}

void TIdSocketHandle::BindLocal()
{
    if (port_ != 0 || clientPortMin_ == 0 || clientPortMax_ == 0) {
        if (!TryBindLocal())
            throw EIdCouldNotBindSocket();
        return;
    }
    if (clientPortMax_ < clientPortMin_)
        throw EIdInvalidPortRange(
            Format("Invalid Port Range (%d - %d)", {std::int64_t{clientPortMin_}, std::int64_t{clientPortMax_}}));
    for (int port = clientPortMax_; port >= clientPortMin_; --port) {
        port_ = port;
        if (TryBindLocal())
            return;
    }
    throw EIdCanNotBindPortInRange(
        Format("Can not bind in port range (%d - %d)", {std::int64_t{clientPortMin_}, std::int64_t{clientPortMax_}}));
}

bool TIdSocketHandle::TryBindLocal()
{
    TIdStack& stack = GlobalStack();
    const int rc = stack.Bind(osSocket_, ip_, port_);
    if (stack.CheckSocketResult(rc, {platform::WsaEAddrInUse}))
        return false;
    UpdateBindingLocal();
    return true;
}

void TIdSocketHandle::SetRemote(const std::string& ip, int port)
{
    remoteIP_ = ip;
    remotePort_ = port;
}

int TIdSocketHandle::ConnectPeer()
{
    TIdStack& stack = GlobalStack();
    platform::TSocket s;
    {
        std::lock_guard lock(connectLock_);
        if (!socketOpen_.load()) {
            // Released before the connect began: a connect on no socket fails with the
            // library's bad-descriptor error (10009), as one on a closed socket does.
            return stack.Connect(platform::InvalidSocket, remoteIP_, remotePort_);
        }
        connecting_ = true;
        s = osSocket_;
    }
    const int rc = stack.Connect(s, remoteIP_, remotePort_);
    std::lock_guard lock(connectLock_);
    connecting_ = false;
    if (closeDeferred_) {
        closeDeferred_ = false;
        stack.CloseSocket(s);
    } else if (rc == 0 && socketOpen_.load()) {
        UpdateBindingLocal();
        UpdateBindingPeer();
    }
    return rc;
}

void TIdSocketHandle::ClearAddresses(bool resetLocal)
{
    socketOpen_.store(false);
    osSocket_ = platform::InvalidSocket;
    remoteIP_.clear();
    remotePort_ = 0;
    if (resetLocal) {
        ip_.clear();
        port_ = 0;
    }
}

void TIdSocketHandle::ReleaseSocket()
{
    platform::TSocket s;
    bool deferClose;
    {
        std::lock_guard lock(connectLock_);
        if (!socketOpen_.exchange(false))
            return;
        s = osSocket_;
        deferClose = connecting_;
        closeDeferred_ = connecting_;
    }
    TIdStack& stack = GlobalStack();
    stack.Shutdown(s, platform::SdSend);
    if (!deferClose)
        stack.CloseSocket(s);
}

void TIdSocketHandle::UpdateBindingLocal()
{
    std::string ip;
    int port = 0;
    if (GlobalStack().GetSockName(osSocket_, ip, port) == 0) {
        ip_ = ip;
        port_ = port;
    }
}

void TIdSocketHandle::UpdateBindingPeer()
{
    std::string ip;
    int port = 0;
    if (GlobalStack().GetPeerName(osSocket_, ip, port) == 0) {
        remoteIP_ = ip;
        remotePort_ = port;
    }
}

bool TIdSocketHandle::SelectOnce(int ms)
{
    std::vector<platform::TSocket> sockets{osSocket_};
    const bool ready = GlobalStack().SelectReadable(sockets, ms) == 1;
    TIdAntiFreezeBase::PumpIfDue(!ready, false);
    return ready;
}

std::optional<bool> TIdSocketHandle::SleepUntilReadable(int ms)
{
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(ms == TimeoutInfinite ? 0 : ms);
    platform::Application& app = TIdAntiFreezeBase::Current()->Application();
    for (bool first = true;; first = false) {
        if (!socketOpen_.load())
            throw EIdConnClosedGracefully();
        std::vector<platform::TSocket> sockets{osSocket_};
        if (GlobalStack().SelectReadable(sockets, 0) == 1)
            return true; // data is there: no messages are processed
        int left = -1;
        if (ms != TimeoutInfinite) {
            const auto rest = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (rest <= 0)
                return false;
            left = static_cast<int>(rest);
        }
        if (!app.WaitSocketOrMessage(osSocket_, left)) {
            if (first)
                return std::nullopt;
            return false;
        }
    }
}

bool TIdSocketHandle::WaitReadable(int ms)
{
    auto checkOpen = [this] {
        if (!socketOpen_.load())
            throw EIdConnClosedGracefully();
    };
    const TIdAntiFreezeBase* af = TIdAntiFreezeBase::Current();
    const int slice = af ? af->IdleTimeOut() : 0;
    // An application that can sleep until the socket or a message wakes it needs no slices
    // (with the usual settings: every message processed, and only after a wait that found
    // nothing); one that cannot, or other settings, keep the slices.
    if (TIdAntiFreezeBase::ShouldPump() && af->ApplicationHasPriority() && af->OnlyWhenIdle() &&
        (slice > 0 || ms == TimeoutInfinite)) {
        if (const auto ready = SleepUntilReadable(ms))
            return *ready;
    }
    // Sliced only with the anti-freeze in use and a positive slice; a slice of 0 makes an
    // unlimited wait poll continuously, and a limited one waits at once.
    if (!TIdAntiFreezeBase::ShouldPump() || (slice <= 0 && ms != TimeoutInfinite)) {
        checkOpen();
        return SelectOnce(ms);
    }
    if (ms == TimeoutInfinite) {
        for (;;) {
            checkOpen();
            if (SelectOnce(slice))
                return true;
        }
    }
    // k slices: the first takes what is left over, the others a full slice each. The
    // socket is checked before each, as a message handler may have closed it.
    int first = ms % slice;
    int slices = ms / slice;
    if (first == 0 && slices > 0) {
        first = slice;
        --slices;
    }
    checkOpen();
    if (SelectOnce(first))
        return true;
    for (int i = 0; i < slices; ++i) {
        checkOpen();
        if (SelectOnce(slice))
            return true;
    }
    return false;
}
