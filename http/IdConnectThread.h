#pragma once
// The thread that runs one blocking connect so that the main thread can keep processing
// messages meanwhile. It borrows the socket handle, which must outlive it.

#include "http/forward.h"

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

class TIdConnectThread {
public:
    // Created suspended: nothing runs before Start.
    explicit TIdConnectThread(TIdSocketHandle& binding) : binding_(binding) {}
    ~TIdConnectThread(); // waits for the thread
    TIdConnectThread(const TIdConnectThread&) = delete;
    TIdConnectThread& operator=(const TIdConnectThread&) = delete;

    void Start();
    // Asks the thread to end; the connect itself ends only when its socket is closed.
    void Terminate();
    // The thread has finished its body.
    bool Terminated() const;
    // Sleeps up to ms milliseconds, waking early when the thread finishes; answers
    // Terminated().
    bool WaitTerminated(int ms);
    void WaitFor();
    // The message of what the connect raised; empty when it raised nothing. Read it after
    // WaitFor.
    const std::string& ConnectError() const { return connectError_; }

private:
    void Execute();

    TIdSocketHandle& binding_;
    std::string connectError_;
    mutable std::mutex mutex_;
    std::condition_variable finished_;
    bool terminated_ = false;
    bool terminateRequested_ = false;
    std::thread thread_;
};
