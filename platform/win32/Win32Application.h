#pragma once
// The application on Win32: the thread's message queue pumped with PeekMessageA and
// DispatchMessageA, MessageBoxA for the boxes, and COM initialised for the main thread (the
// shell calls run on it).
//
// A terminate request sets the flag and wakes the queue with a posted message; it posts no
// WM_QUIT. A modal loop that meets WM_QUIT ends at once, so a box that the run must still
// show after the request (the error box after a cancelled download) would vanish unseen.
// The loop ends on the flag; a WM_QUIT from elsewhere sets the flag too.

#include "platform/ui/Application.h"

#include <string>

namespace platform {

class Win32Application : public Application {
public:
    Win32Application();
    ~Win32Application() override;

    void ProcessMessages() override;
    bool HandleMessage() override;
    bool PeekMessage() override;
    // One wait of the system on the socket's event and the message queue together, then
    // the messages that arrived are handled; on another thread than the main one, false.
    bool WaitSocketOrMessage(std::intptr_t socket, int timeoutMs) override;
    void Terminate() override;
    bool Terminated() const override { return terminated_; }
    void Run() override;

    int MessageBox(TForm* owner, const std::string& text, const std::string& caption, int type) override;
    void ShowMessage(const std::string& text) override;
    void ShowException(const std::string& message) override;
    void SetActiveWindow(TForm* form) override;

    void SetTitle(const std::string& title) override { title_ = title; }
    std::string Title() const override { return title_; }
    void SetShowMainForm(bool show) override { showMainForm_ = show; }
    bool ShowMainForm() const override { return showMainForm_; }
    bool IsMainThread() const override;

    // How often the waiting messages have been handled (ProcessMessages, which every wait
    // ends with): a wait on a silent server costs one, not one per slice.
    int ProcessCount() const { return processCount_; }

    // The native window of a form that has a Win32 peer; null otherwise.
    static void* WindowOf(TForm* form);

private:
    // Dispatches one message taken from the queue; false for WM_QUIT.
    bool Dispatch(void* msg);

    bool terminated_ = false;
    std::string title_;
    bool showMainForm_ = true;
    unsigned long mainThread_;
    bool comInitialised_ = false;
    int processCount_ = 0;
};

} // namespace platform
