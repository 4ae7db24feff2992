#include "platform/qt/QtApplication.h"

#include "platform/qt/QtControlPeer.h"
#include "platform/qt/QtConvert.h"
#include "platform/ui/Form.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QLibraryInfo>
#include <QMessageBox>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
#include <QTranslator>

#include <dlfcn.h>

namespace platform {

namespace {

// g_main_context_pending of the GLib that Qt's dispatcher runs on. Qt links GLib itself;
// it is looked up at run time so that the build needs no GLib headers.
using GlibPendingFn = int (*)(void* context);

GlibPendingFn GlibPending()
{
    static const GlibPendingFn fn = reinterpret_cast<GlibPendingFn>(dlsym(RTLD_DEFAULT, "g_main_context_pending"));
    return fn;
}

struct BoxLayout {
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton; // the first button, as natively
    QMessageBox::StandardButton escapeButton;  // Escape and the close box
};

BoxLayout LayoutFor(int type)
{
    switch (type & MB_TYPEMASK) {
    case MB_OKCANCEL:
        return {QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Ok, QMessageBox::Cancel};
    case MB_YESNOCANCEL:
        return {QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel, QMessageBox::Yes, QMessageBox::Cancel};
    case MB_YESNO:
        return {QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes, QMessageBox::No};
    default:
        // MB_OK, and the button sets this system never uses, which show as an OK box.
        return {QMessageBox::Ok, QMessageBox::Ok, QMessageBox::Ok};
    }
}

QMessageBox::Icon IconFor(int type)
{
    switch (type & MB_ICONMASK) {
    case MB_ICONERROR:
        return QMessageBox::Critical;
    case MB_ICONQUESTION:
        return QMessageBox::Question;
    case MB_ICONWARNING:
        return QMessageBox::Warning;
    case MB_ICONINFORMATION:
        return QMessageBox::Information;
    default:
        return QMessageBox::NoIcon;
    }
}

int ButtonCode(QMessageBox::StandardButton button)
{
    switch (button) {
    case QMessageBox::Ok:
        return IDOK;
    case QMessageBox::Cancel:
        return IDCANCEL;
    case QMessageBox::Yes:
        return IDYES;
    case QMessageBox::No:
        return IDNO;
    default:
        return 0;
    }
}

} // namespace

QtApplication::QtApplication(QApplication& app, const QLocale& language) : qapp_(app)
{
    QApplication::setQuitOnLastWindowClosed(false);
    // The boxes' buttons in the user's language, as the system's own boxes are.
    auto texts = std::make_unique<QTranslator>();
    if (texts->load(language, "qtbase", "_", QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
        QCoreApplication::installTranslator(texts.get());
        toolkitTexts_ = std::move(texts);
    }
}

// The translator removes itself from the application when it goes.
QtApplication::~QtApplication() = default;

void QtApplication::ProcessMessages() { QCoreApplication::processEvents(QEventLoop::AllEvents); }

bool QtApplication::HandleMessage()
{
    if (terminated_)
        return false;
    // Terminate() wakes the dispatcher, so a request made while this waits ends the wait;
    // one made just before the wait leaves the wake-up pending, which ends it at once.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return !terminated_;
}

bool QtApplication::PeekMessage()
{
    if (!IsMainThread())
        return false;
    auto* dispatcher = QAbstractEventDispatcher::instance();
    GlibPendingFn pending = GlibPending();
    if (!dispatcher || !pending || !dispatcher->inherits("QEventDispatcherGlib"))
        return false;
    // The main thread's dispatcher runs on GLib's default context (null).
    return pending(nullptr) != 0;
}

bool QtApplication::WaitSocketOrMessage(std::intptr_t socket, int timeoutMs)
{
    if (!IsMainThread())
        return false;
    // The notifier is turned off once it fired, so a readable socket that stays readable
    // while a handler runs (a box opened by a message) does not fire again and again.
    QSocketNotifier readable(static_cast<qintptr>(socket), QSocketNotifier::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &readable, [&readable] { readable.setEnabled(false); });
    QTimer limit;
    if (timeoutMs >= 0) {
        limit.setSingleShot(true);
        limit.start(timeoutMs);
    }
    // Returns once something has been handled: the notifier, the timer, or the messages.
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
    return true;
}

void QtApplication::Terminate()
{
    terminated_ = true;
    if (auto* dispatcher = QAbstractEventDispatcher::instance(qapp_.thread()))
        dispatcher->wakeUp();
}

void QtApplication::Run()
{
    while (HandleMessage()) {
        // At the top level no handler is running, so deletions asked for by handlers at
        // any level (and before the loop started) are safe now.
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

QWidget* QtApplication::BoxParent(TForm* owner) const
{
    // The owner's window when it is on screen; otherwise the active window, so that a box
    // is not hidden behind a window that stays on top.
    if (QWidget* w = QtControlPeer::WidgetOf(owner); w && w->isVisible())
        return w;
    return QApplication::activeWindow();
}

int QtApplication::MessageBox(TForm* owner, const std::string& text, const std::string& caption, int type)
{
    const BoxLayout layout = LayoutFor(type);
    QMessageBox box(BoxParent(owner));
    box.setWindowTitle(QString::fromStdString(caption));
    // The texts may carry what a server sent (release notes): never rich text.
    box.setTextFormat(Qt::PlainText);
    box.setText(ToQText(text));
    box.setIcon(IconFor(type));
    box.setStandardButtons(layout.buttons);
    box.setDefaultButton(layout.defaultButton);
    box.setEscapeButton(layout.escapeButton);
    box.setWindowModality(Qt::ApplicationModal);
    if (!box.parentWidget())
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->isVisible() && (w->windowFlags() & Qt::WindowStaysOnTopHint)) {
                box.setWindowFlag(Qt::WindowStaysOnTopHint);
                break;
            }
    box.exec();
    // Escape and the close box click the escape button; no button at all means the box
    // could not be shown, which reads as 0.
    QAbstractButton* clicked = box.clickedButton();
    return clicked ? ButtonCode(box.standardButton(clicked)) : 0;
}

void QtApplication::ShowMessage(const std::string& text) { MessageBox(nullptr, text, Title(), MB_OK); }

void QtApplication::ShowException(const std::string& message)
{
    MessageBox(nullptr, message, Title(), MB_OK | MB_ICONERROR);
}

void QtApplication::SetActiveWindow(TForm* form)
{
    QWidget* w = QtControlPeer::WidgetOf(form);
    if (!w || !w->isVisible())
        return;
    w->raise();
    w->activateWindow();
}

std::string QtApplication::Title() const
{
    return title_.empty() ? FromQString(QCoreApplication::applicationName()) : title_;
}

bool QtApplication::IsMainThread() const { return QThread::currentThread() == qapp_.thread(); }

} // namespace platform
