#pragma once
// An application without a display: a queue of posted messages (functions), message
// boxes answered by a script and recorded. Used by the command-line tool and by tests
// that run the window logic without a toolkit. Given the platform's sockets, its socket
// waits sleep on the socket, looking at the queue every MessageCheckMs meanwhile (a posted
// message cannot wake the socket's wait).

#include "platform/sockets/forward.h"
#include "platform/ui/Application.h"

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace platform {

class HeadlessApplication : public Application {
public:
    struct Box {
        std::string Text;
        std::string Caption;
        int Type = 0;
        bool Simple = false;    // the simple message dialog
        bool Exception = false; // the standard error box
    };
    using Answerer = std::function<int(const Box&)>;

    static constexpr int MessageCheckMs = 50;

    HeadlessApplication();

    // Lets WaitSocketOrMessage wait on sockets through `sockets` (null: it cannot, and the
    // caller waits in slices with a pump after each).
    void SetSockets(Sockets* sockets) { sockets_ = sockets; }

    // Queues a message; safe from any thread.
    void Post(std::function<void()> message);

    void ProcessMessages() override;
    bool HandleMessage() override;
    bool PeekMessage() override;
    bool WaitSocketOrMessage(std::intptr_t socket, int timeoutMs) override;
    void Terminate() override;
    bool Terminated() const override { return terminated_; }
    void Run() override;

    int MessageBox(TForm* owner, const std::string& text, const std::string& caption, int type) override;
    void ShowMessage(const std::string& text) override;
    void ShowException(const std::string& message) override;
    void SetActiveWindow(TForm* form) override { activeWindow_ = form; }

    void SetTitle(const std::string& title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void SetShowMainForm(bool show) override { showMainForm_ = show; }
    bool ShowMainForm() const override { return showMainForm_; }
    bool IsMainThread() const override { return std::this_thread::get_id() == mainThread_; }

    // Answers each box; without an answerer every box is answered with IDOK (1), or IDNO
    // for a question.
    void SetAnswerer(Answerer answerer) { answerer_ = std::move(answerer); }
    const std::vector<Box>& Boxes() const { return boxes_; }
    TForm* ActiveWindow() const { return activeWindow_; }
    int ProcessCount() const { return processCount_; }

private:
    bool PopOne(bool wait);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<std::function<void()>> queue_;
    bool terminated_ = false;
    std::string title_;
    bool showMainForm_ = true;
    std::thread::id mainThread_;
    Answerer answerer_;
    std::vector<Box> boxes_;
    TForm* activeWindow_ = nullptr;
    int processCount_ = 0;
    Sockets* sockets_ = nullptr;
};

} // namespace platform
