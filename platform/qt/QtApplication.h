#pragma once
// The application on Qt 6 Widgets: message pumping, the terminate request, the message
// loop and message boxes.
//
// The terminate request only sets a flag and wakes the event dispatcher; it never calls
// QCoreApplication::quit() or exit(). After either of those every later
// QMessageBox::exec() returns at once without a button until the main loop unwinds, and
// the run still has boxes to show after its terminate request. Run() is therefore our
// own loop over HandleMessage(), not QApplication::exec().

#include "platform/ui/Application.h"

#include <QLocale>

#include <atomic>
#include <memory>
#include <string>

class QApplication;
class QTranslator;
class QWidget;

namespace platform {

class QtApplication : public Application {
public:
    // Borrows the QApplication that the entry point created (it needs argc and argv, which
    // only the entry point has); it must outlive this object. Turns quitOnLastWindowClosed
    // off: closing a window hides it, and only terminate requests end the program.
    // The toolkit's own texts (the buttons of message boxes) follow `language`, the user's
    // language unless given: Qt's translations for it are installed while this object
    // lives, when the system has them (Debian: qt6-translations-l10n); otherwise they stay
    // English.
    explicit QtApplication(QApplication& app, const QLocale& language = QLocale::system());
    ~QtApplication() override;
    QtApplication(const QtApplication&) = delete;
    QtApplication& operator=(const QtApplication&) = delete;

    // Handles every event that is pending now: window-system input, timers that are due,
    // posted events. Deferred deletions follow Qt's own rule (they run once control has
    // left the handler level that asked for them), so an object is never deleted under a
    // handler that is still running.
    void ProcessMessages() override;
    // Waits until something happens and handles what is pending then; false once the
    // terminate flag is set (also when it was set while waiting).
    bool HandleMessage() override;
    // Whether the event dispatcher has something ready, asked without dispatching it.
    // With the GLib dispatcher (Qt's default on Linux) this is the GLib main context's
    // own look at its sources, which include Qt's posted events, timers and window-system
    // events. Other dispatchers offer no such look: there it answers false, so a caller
    // that pumps one message after a positive look simply does not pump (it never blocks).
    bool PeekMessage() override;
    // Sleeps in the event dispatcher with a socket notifier on the socket and a timer for
    // the limit, so that nothing wakes the thread while the server and the user are
    // silent; then handles what arrived. Main thread only (false elsewhere).
    bool WaitSocketOrMessage(std::intptr_t socket, int timeoutMs) override;

    // Safe from any thread.
    void Terminate() override;
    bool Terminated() const override { return terminated_.load(); }
    // Handles messages until the terminate flag is set. Between batches, at the top
    // level, deferred deletions are carried out. Showing the main form is the caller's.
    void Run() override;

    int MessageBox(TForm* owner, const std::string& text, const std::string& caption, int type) override;
    void ShowMessage(const std::string& text) override;
    void ShowException(const std::string& message) override;
    void SetActiveWindow(TForm* form) override;

    void SetTitle(const std::string& title) override { title_ = title; }
    // The title set, or the program's name (the executable's base name) before one is set.
    std::string Title() const override;
    void SetShowMainForm(bool show) override { showMainForm_ = show; }
    bool ShowMainForm() const override { return showMainForm_; }

    bool IsMainThread() const override;

private:
    QWidget* BoxParent(TForm* owner) const;

    QApplication& qapp_;
    std::unique_ptr<QTranslator> toolkitTexts_;
    std::atomic<bool> terminated_{false};
    std::string title_;
    bool showMainForm_ = true;
};

} // namespace platform
