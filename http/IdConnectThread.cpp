#include "http/IdConnectThread.h"

#include "http/IdSocketHandle.h"
#include "http/IdStack.h"
#include "platform/runtime/Exception.h"

#include <chrono>

TIdConnectThread::~TIdConnectThread() { WaitFor(); }

void TIdConnectThread::Start()
{
    thread_ = std::thread([this] { Execute(); });
}

void TIdConnectThread::Execute()
{
    try {
        const int rc = binding_.ConnectPeer();
        // A socket closed under the connect is not an error here: the connection then
        // finds itself not connected at its first write.
        GlobalStack().CheckSocketResult(rc, {platform::WsaEBadF, platform::WsaENotSock});
    } catch (const Exception& e) {
        connectError_ = e.Message();
    } catch (const std::exception& e) {
        connectError_ = e.what();
    }
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    finished_.notify_all();
}

void TIdConnectThread::Terminate()
{
    std::lock_guard lock(mutex_);
    terminateRequested_ = true;
}

bool TIdConnectThread::Terminated() const
{
    std::lock_guard lock(mutex_);
    return terminated_;
}

bool TIdConnectThread::WaitTerminated(int ms)
{
    std::unique_lock lock(mutex_);
    if (ms > 0)
        finished_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return terminated_; });
    return terminated_;
}

void TIdConnectThread::WaitFor()
{
    if (thread_.joinable())
        thread_.join();
}
