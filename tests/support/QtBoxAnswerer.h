#pragma once
// Answers the modal message boxes that the code under test shows, from test code. A
// timer looks for QApplication::activeModalWidget() every few milliseconds (timers keep
// firing inside a box's own loop), records what the box shows and presses a button.
//
//   QtBoxAnswerer boxes({platform::IDYES, platform::IDOK}); // first box Yes, second OK
//   RunTheCodeThatAsks();
//   ASSERT_EQ(boxes.Boxes().size(), 2u);
//   EXPECT_EQ(boxes.Boxes()[0].Type, platform::MB_YESNOCANCEL | platform::MB_ICONINFORMATION);
//
// Boxes beyond the queued answers go to the policy (SetPolicy); without one they are
// answered with Escape, so that a test never hangs on an unexpected box. Asking for a
// button that the box does not have is a test failure (the box then gets Escape).
// Create it after the QApplication, on the main thread.

#include <QPointer>
#include <QTimer>
#include <QWidget>

#include <cstddef>
#include <deque>
#include <functional>
#include <string>
#include <vector>

class QtBoxAnswerer {
public:
    struct Box {
        std::string Text; // UTF-8; line breaks as "\n"
        std::string Caption;
        std::vector<int> Buttons; // IDOK, IDYES, IDNO, IDCANCEL, in that order where present
        int Icon = 0;             // MB_ICONERROR, MB_ICONQUESTION, MB_ICONWARNING, MB_ICONINFORMATION or 0
        int Type = -1;            // the message-box type that gives these buttons and icon; -1 for other buttons
        bool MessageBox = true;   // false: another modal window, which is closed
        int Answer = 0;           // what was done: a button code, Escape or Close
    };
    // Answers besides the button codes.
    static constexpr int Escape = -1; // the Escape key
    static constexpr int Close = -2;  // the window's close box
    using Policy = std::function<int(const Box&)>;

    explicit QtBoxAnswerer(std::vector<int> answers = {}, int pollMs = 5);
    ~QtBoxAnswerer();
    QtBoxAnswerer(const QtBoxAnswerer&) = delete;
    QtBoxAnswerer& operator=(const QtBoxAnswerer&) = delete;

    // Stops and restarts the polling, for a test that counts the wake-ups of the code under
    // test while no box can come.
    void Pause() { timer_.stop(); }
    void Resume() { timer_.start(); }
    // Queues the answer for the next box.
    QtBoxAnswerer& Then(int answer);
    void SetPolicy(Policy policy) { policy_ = std::move(policy); }

    const std::vector<Box>& Boxes() const { return boxes_; }
    // Handles events until `count` boxes have been answered in all or `timeoutMs` passed.
    bool WaitForBoxes(std::size_t count, int timeoutMs = 5000);

private:
    void Poll();

    QTimer timer_;
    std::deque<int> answers_;
    Policy policy_;
    std::vector<Box> boxes_;
    std::vector<QPointer<QWidget>> answered_;
};
