#pragma once
// A listening socket on 127.0.0.1 whose accept queue is full: a further connect to it
// gets no answer to its SYN and stays pending, as one to a black-holed address does, but
// without leaving the machine. Nothing is ever accepted.

#include <vector>

namespace testsupport {

class FullBacklogListener {
public:
    FullBacklogListener();
    ~FullBacklogListener();
    FullBacklogListener(const FullBacklogListener&) = delete;
    FullBacklogListener& operator=(const FullBacklogListener&) = delete;

    int Port() const { return port_; }

private:
    int listenFd_ = -1;
    int port_ = 0;
    std::vector<int> fillers_; // connections that fill the queue
};

} // namespace testsupport
