#include "platform/headless/HeadlessApplication.h"

#include "platform/sockets/Sockets.h"

#include <algorithm>
#include <chrono>

namespace platform {

HeadlessApplication::HeadlessApplication() : mainThread_(std::this_thread::get_id()) {}

void HeadlessApplication::Post(std::function<void()> message)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(std::move(message));
    }
    cv_.notify_one();
}

bool HeadlessApplication::PopOne(bool wait)
{
    std::function<void()> message;
    {
        std::unique_lock lock(mutex_);
        if (wait)
            cv_.wait(lock, [&] { return !queue_.empty() || terminated_; });
        if (queue_.empty())
            return false;
        message = std::move(queue_.front());
        queue_.pop_front();
    }
    Guard(message);
    return true;
}

void HeadlessApplication::ProcessMessages()
{
    ++processCount_;
    // Only the messages waiting now: a handler that posts again does not keep us here.
    size_t n;
    {
        std::lock_guard lock(mutex_);
        n = queue_.size();
    }
    while (n-- > 0 && PopOne(false)) {
    }
}

bool HeadlessApplication::HandleMessage()
{
    if (terminated_)
        return false;
    PopOne(true);
    return !terminated_;
}

bool HeadlessApplication::PeekMessage()
{
    std::lock_guard lock(mutex_);
    return !queue_.empty();
}

bool HeadlessApplication::WaitSocketOrMessage(std::intptr_t socket, int timeoutMs)
{
    if (!sockets_ || !IsMainThread())
        return false;
    using Clock = std::chrono::steady_clock;
    const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(std::max(timeoutMs, 0));
    while (!PeekMessage()) {
        int slice = MessageCheckMs;
        if (timeoutMs >= 0) {
            const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()).count();
            if (left <= 0)
                break;
            slice = static_cast<int>(std::min<std::int64_t>(slice, left));
        }
        std::vector<TSocket> sockets{socket};
        // Readable, closed or failed: the caller's own check of the socket tells which.
        if (sockets_->SelectReadable(sockets, slice) != 0)
            break;
    }
    ProcessMessages();
    return true;
}

void HeadlessApplication::Terminate()
{
    {
        std::lock_guard lock(mutex_);
        terminated_ = true;
    }
    cv_.notify_all();
}

void HeadlessApplication::Run()
{
    while (HandleMessage()) {
    }
}

int HeadlessApplication::MessageBox(TForm*, const std::string& text, const std::string& caption, int type)
{
    boxes_.push_back({text, caption, type, false, false});
    if (answerer_)
        return answerer_(boxes_.back());
    const int buttons = type & MB_TYPEMASK;
    return (buttons == MB_YESNO || buttons == MB_YESNOCANCEL) ? IDNO : IDOK;
}

void HeadlessApplication::ShowMessage(const std::string& text)
{
    boxes_.push_back({text, title_, MB_OK, true, false});
    if (answerer_)
        answerer_(boxes_.back());
}

void HeadlessApplication::ShowException(const std::string& message)
{
    boxes_.push_back({message, title_, MB_ICONERROR, false, true});
    if (answerer_)
        answerer_(boxes_.back());
}

} // namespace platform
