#include "http/IdIOHandlerSocket.h"

#include "http/IdAntiFreezeBase.h"
#include "http/IdConnectThread.h"
#include "http/IdException.h"
#include "http/IdStack.h"

#include <algorithm>

void TIdIOHandlerSocket::PrepareHandle()
{
    if (!binding_)
        binding_ = std::make_unique<TIdSocketHandle>();
    else
        binding_->ClearAddresses(true);
}

TIdSocksInfo& TIdIOHandlerSocket::SocksInfo()
{
    if (!socksInfo_)
        socksInfo_ = std::make_unique<TIdSocksInfo>();
    return *socksInfo_;
}

void TIdIOHandlerSocket::ConnectTo(const std::string& host, int port, int timeout, const std::string& boundIP,
                                   int boundPort, int portMin, int portMax)
{
    if (!binding_)
        PrepareHandle();
    TIdStack& stack = GlobalStack();
    // Without SOCKS the target is the host itself.
    binding_->CreateSocket(platform::SockStream, platform::IpProtoIp);
    binding_->SetLocal(boundIP, boundPort, portMin, portMax);
    binding_->BindLocal();

    if (!TIdStack::IsDottedQuad(host))
        ReportStatus(hsResolving, host);
    binding_->SetRemote(stack.LookupHost(host), port);

    if (!useNagle_) {
        const int on = 1;
        stack.CheckSocketResult(
            stack.SetSockOpt(binding_->OsSocket(), platform::IpProtoTcp, platform::TcpNoDelay, &on, sizeof on));
    }

    ReportStatus(hsConnecting, ConnectingText.empty() ? binding_->RemoteIP() : ConnectingText);

    if (timeout != TimeoutDefault && timeout != 0)
        TimedConnect(timeout);
    else if (TIdAntiFreezeBase::ShouldPump())
        TimedConnect(DefaultConnectTimeout);
    else
        stack.CheckSocketResult(binding_->ConnectPeer());
}

void TIdIOHandlerSocket::TimedConnect(int t)
{
    TIdConnectThread thread(*binding_);
    thread.Start();
    // Whatever leaves this function, the thread must have ended first: it uses the handle.
    struct EndThread {
        TIdConnectThread& thread;
        TIdIOHandlerSocket& handler;
        ~EndThread()
        {
            if (!thread.Terminated()) {
                thread.Terminate();
                handler.ShutHandle();
            }
            thread.WaitFor();
        }
    } endThread{thread, *this};

    int slice = MaxConnectSlice;
    if (TIdAntiFreezeBase::ShouldPump())
        slice = std::min(TIdAntiFreezeBase::Current()->IdleTimeOut(), MaxConnectSlice);
    slice = std::max(slice, 0);
    std::int64_t remaining = t == TimeoutInfinite ? std::int64_t{slice} + 1 : t;

    // The time is the sum of the requested slices, not a clock reading. A slice ends
    // early when the connect ends; that changes nothing but the wait.
    while (remaining > slice) {
        thread.WaitTerminated(slice);
        if (t == TimeoutInfinite)
            remaining = std::int64_t{slice} + 1;
        else
            remaining -= slice;
        TIdAntiFreezeBase::PumpIfDue(true, false);
        if (thread.Terminated()) {
            remaining = 0;
            break;
        }
    }
    thread.WaitTerminated(static_cast<int>(remaining));

    if (!thread.Terminated()) {
        thread.Terminate();
        ShutHandle(); // ends the blocked connect
        thread.WaitFor();
        throw EIdConnectTimeout();
    }
    thread.WaitFor();
    if (!thread.ConnectError().empty())
        throw EIdConnectException(thread.ConnectError());
}

bool TIdIOHandlerSocket::WaitReadable(int ms)
{
    if (!binding_)
        throw EIdConnClosedGracefully();
    return binding_->WaitReadable(ms);
}

std::int64_t TIdIOHandlerSocket::ReceiveSome(void* buffer, std::size_t length)
{
    if (!IsHandleOpen())
        throw EIdClosedSocket();
    return GlobalStack().Recv(binding_->OsSocket(), buffer, length);
}

std::int64_t TIdIOHandlerSocket::SendSome(const void* buffer, std::size_t length)
{
    if (!IsHandleOpen())
        throw EIdClosedSocket();
    return GlobalStack().Send(binding_->OsSocket(), buffer, length);
}

void TIdIOHandlerSocket::ShutHandle()
{
    if (binding_)
        binding_->ReleaseSocket();
}
