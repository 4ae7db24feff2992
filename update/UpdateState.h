#pragma once
// The run state: which phase of the update run is going on, for the window's handlers that
// run inside it (timer ticks, close requests, the end of a transfer). The values are the
// system's own numbers. A run starts out waiting for its first tick with a connection.

#include <iosfwd>

enum class UpdateState : int {
    Waiting = -1,          // before the first tick with a connection: a close needs no question
    Checking = 0,          // the check download and its answer
    Installing = 1,        // the offer was accepted: installer download and hand-off
    InstallerFinished = 2, // the installer ended or failed to start
    Ending = -2,           // a close was granted or the check failed
};

// "Checking (0)": for test failures and logs.
std::ostream& operator<<(std::ostream& out, UpdateState state);
