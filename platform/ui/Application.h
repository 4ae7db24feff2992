#pragma once
// What the updater asks of the window toolkit: message pumping, the terminate request,
// the message loop, message boxes and the application title.

#include "platform/ui/forward.h"

#include <cstdint>
#include <functional>
#include <string>

namespace platform {

// Message-box types and answers, with the values of the native message-box service.
constexpr int MB_OK = 0;
constexpr int MB_OKCANCEL = 1;
constexpr int MB_YESNOCANCEL = 3;
constexpr int MB_YESNO = 4;
constexpr int MB_ICONERROR = 16;
constexpr int MB_ICONQUESTION = 32;
constexpr int MB_ICONWARNING = 48;
constexpr int MB_ICONINFORMATION = 64;
constexpr int MB_TYPEMASK = 0x0F;
constexpr int MB_ICONMASK = 0xF0;

constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

class Application {
public:
    virtual ~Application() = default;

    // Handles every waiting message, then returns.
    virtual void ProcessMessages() = 0;
    // Waits for one message and handles it; false when the terminate flag is set.
    virtual bool HandleMessage() = 0;
    // True when a message is waiting; removes nothing.
    virtual bool PeekMessage() = 0;
    // Sleeps until the socket (a descriptor of the platform's sockets) has data or its
    // peer's close to read, a message arrives, or `timeoutMs` passes (-1: no limit), and
    // handles the messages that arrived, as ProcessMessages does. False when this
    // application cannot wait on a socket: the caller then waits in short slices and
    // processes messages between them.
    virtual bool WaitSocketOrMessage(std::intptr_t socket, int timeoutMs);

    // Asks the application to end: the loop ends once control returns to it. Nested
    // pumping and message boxes keep working after the request.
    virtual void Terminate() = 0;
    virtual bool Terminated() const = 0;
    // The message loop: handles messages until a terminate request has been seen.
    virtual void Run() = 0;

    // A modal message box owned by `owner` (or by the application when null), with a
    // native box type; returns the button code, or 0 when no box could be shown.
    virtual int MessageBox(TForm* owner, const std::string& text, const std::string& caption, int type) = 0;
    // The simple message dialog: the text, an OK button, the title as caption.
    virtual void ShowMessage(const std::string& text) = 0;
    // The standard error box for a failure that escaped a handler.
    virtual void ShowException(const std::string& message) = 0;
    // Makes the form the active window.
    virtual void SetActiveWindow(TForm* form) = 0;

    virtual void SetTitle(const std::string& title) = 0;
    virtual std::string Title() const = 0;
    // Whether the main form is shown when the loop starts (cleared by "/hidden").
    virtual void SetShowMainForm(bool show) = 0;
    virtual bool ShowMainForm() const = 0;

    virtual bool IsMainThread() const = 0;

    // Runs a handler inside the one boundary through which every toolkit callback goes:
    // a failure that escapes is shown in the standard error box and the loop goes on.
    void Guard(const std::function<void()>& handler);
};

} // namespace platform
