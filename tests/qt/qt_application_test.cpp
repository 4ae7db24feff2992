// The Qt application: message boxes with native types and answers, the terminate request
// (a flag, never quit) and the message loop, pumping and peeking, the error boundary.

#include "platform/qt/QtApplication.h"
#include "platform/runtime/Exception.h"

#include "tests/support/QtBoxAnswerer.h"
#include "tests/support/QtTestApplication.h"

#include <QAbstractButton>
#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMessageBox>
#include <QTimer>

#include <gtest/gtest.h>

#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

using namespace platform;

namespace {

class QtApplicationTest : public ::testing::Test {
protected:
    QtApplicationTest() : qapp_(QtTestApplication()), app_(qapp_) {}
    QApplication& qapp_;
    QtApplication app_;
};

void PostCall(std::function<void()> f) { QMetaObject::invokeMethod(qApp, std::move(f), Qt::QueuedConnection); }

// Drains what the platform itself has pending, so that a test starts from a quiet queue.
void Drain(QtApplication& app)
{
    for (int i = 0; i < 50 && app.PeekMessage(); ++i)
        app.ProcessMessages();
}

template <class Pred>
bool PumpFor(QtApplication& app, Pred done)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < 3000)
        app.ProcessMessages();
    return done();
}

TEST_F(QtApplicationTest, MessageBoxMapsTypesToButtonsAndIconsAndAnswersToCodes)
{
    constexpr int Escape = QtBoxAnswerer::Escape;
    constexpr int Close = QtBoxAnswerer::Close;
    struct Case {
        const char* name;
        int type;
        int answer;
        std::vector<int> buttons;
        int icon;
        int result;
    };
    const Case cases[] = {
        {.name = "ok", .type = MB_OK, .answer = IDOK, .buttons = {IDOK}, .icon = 0, .result = IDOK},
        {.name = "ok escape", .type = MB_OK, .answer = Escape, .buttons = {IDOK}, .icon = 0, .result = IDOK},
        {.name = "ok close",
         .type = MB_OK | MB_ICONERROR,
         .answer = Close,
         .buttons = {IDOK},
         .icon = MB_ICONERROR,
         .result = IDOK},
        {.name = "warning",
         .type = MB_OK | MB_ICONWARNING,
         .answer = IDOK,
         .buttons = {IDOK},
         .icon = MB_ICONWARNING,
         .result = IDOK},
        {.name = "okcancel ok",
         .type = MB_OKCANCEL,
         .answer = IDOK,
         .buttons = {IDOK, IDCANCEL},
         .icon = 0,
         .result = IDOK},
        {.name = "okcancel cancel",
         .type = MB_OKCANCEL,
         .answer = IDCANCEL,
         .buttons = {IDOK, IDCANCEL},
         .icon = 0,
         .result = IDCANCEL},
        {.name = "okcancel escape",
         .type = MB_OKCANCEL,
         .answer = Escape,
         .buttons = {IDOK, IDCANCEL},
         .icon = 0,
         .result = IDCANCEL},
        {.name = "ync yes",
         .type = MB_YESNOCANCEL | MB_ICONINFORMATION,
         .answer = IDYES,
         .buttons = {IDYES, IDNO, IDCANCEL},
         .icon = MB_ICONINFORMATION,
         .result = IDYES},
        {.name = "ync no",
         .type = MB_YESNOCANCEL | MB_ICONINFORMATION,
         .answer = IDNO,
         .buttons = {IDYES, IDNO, IDCANCEL},
         .icon = MB_ICONINFORMATION,
         .result = IDNO},
        {.name = "ync cancel",
         .type = MB_YESNOCANCEL,
         .answer = IDCANCEL,
         .buttons = {IDYES, IDNO, IDCANCEL},
         .icon = 0,
         .result = IDCANCEL},
        {.name = "ync escape",
         .type = MB_YESNOCANCEL,
         .answer = Escape,
         .buttons = {IDYES, IDNO, IDCANCEL},
         .icon = 0,
         .result = IDCANCEL},
        {.name = "ync close",
         .type = MB_YESNOCANCEL,
         .answer = Close,
         .buttons = {IDYES, IDNO, IDCANCEL},
         .icon = 0,
         .result = IDCANCEL},
        {.name = "yesno yes",
         .type = MB_YESNO | MB_ICONQUESTION,
         .answer = IDYES,
         .buttons = {IDYES, IDNO},
         .icon = MB_ICONQUESTION,
         .result = IDYES},
        {.name = "yesno no",
         .type = MB_YESNO | MB_ICONQUESTION,
         .answer = IDNO,
         .buttons = {IDYES, IDNO},
         .icon = MB_ICONQUESTION,
         .result = IDNO},
        {.name = "yesno escape",
         .type = MB_YESNO,
         .answer = Escape,
         .buttons = {IDYES, IDNO},
         .icon = 0,
         .result = IDNO},
        {.name = "yesno close", .type = MB_YESNO, .answer = Close, .buttons = {IDYES, IDNO}, .icon = 0, .result = IDNO},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtBoxAnswerer answerer({c.answer});
        const int result = app_.MessageBox(nullptr, "Question ?", "Titre", c.type);
        ASSERT_EQ(answerer.Boxes().size(), 1u);
        const auto& box = answerer.Boxes()[0];
        EXPECT_EQ(box.Text, "Question ?");
        EXPECT_EQ(box.Caption, "Titre");
        EXPECT_EQ(box.Buttons, c.buttons);
        EXPECT_EQ(box.Icon, c.icon);
        EXPECT_EQ(box.Type, c.type);
        EXPECT_EQ(result, c.result);
    }
}

TEST_F(QtApplicationTest, MessageBoxShowsUtf8PlainTextWithCarriageReturnsAsLineBreaks)
{
    QtBoxAnswerer answerer;
    Qt::TextFormat format = Qt::AutoText;
    answerer.SetPolicy([&](const QtBoxAnswerer::Box&) {
        format = static_cast<QMessageBox*>(QApplication::activeModalWidget())->textFormat();
        return IDOK;
    });
    app_.MessageBox(nullptr, "Version 1.2\rNouveautés : <b>rapide</b>\r\nfin", "Mise à jour", MB_OK);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].Text, "Version 1.2\nNouveautés : <b>rapide</b>\nfin");
    EXPECT_EQ(answerer.Boxes()[0].Caption, "Mise à jour");
    // Release notes come from the server: markup must show as written, not be rendered.
    EXPECT_EQ(format, Qt::PlainText);
}

TEST_F(QtApplicationTest, EnterPressesTheFirstButton)
{
    QTimer::singleShot(20, [] {
        QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
        QCoreApplication::sendEvent(QApplication::activeModalWidget(), &enter);
    });
    EXPECT_EQ(app_.MessageBox(nullptr, "?", "", MB_YESNOCANCEL), IDYES);
}

TEST_F(QtApplicationTest, SimpleDialogAndErrorBoxUseTheTitle)
{
    app_.SetTitle("Mise a jour de Démo");
    QtBoxAnswerer answerer({IDOK, IDOK});
    app_.ShowMessage("Fichier introuvable");
    app_.ShowException("Socket Error # 10061\r\nConnection refused.");
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[0].Type, MB_OK);
    EXPECT_EQ(answerer.Boxes()[0].Caption, "Mise a jour de Démo");
    EXPECT_EQ(answerer.Boxes()[0].Text, "Fichier introuvable");
    EXPECT_EQ(answerer.Boxes()[1].Type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(answerer.Boxes()[1].Caption, "Mise a jour de Démo");
    EXPECT_EQ(answerer.Boxes()[1].Text, "Socket Error # 10061\nConnection refused.");
    EXPECT_EQ(app_.Title(), "Mise a jour de Démo");
}

TEST_F(QtApplicationTest, GuardShowsEscapingFailuresInTheErrorBoxAndGoesOn)
{
    struct Case {
        const char* name;
        std::function<void()> handler;
        const char* shown;
    };
    const Case cases[] = {
        {.name = "common kind",
         .handler = [] { throw EConvertError("'=' is not a valid integer value"); },
         .shown = "'=' is not a valid integer value"},
        {.name = "standard", .handler = [] { throw std::runtime_error("plain failure"); }, .shown = "plain failure"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QtBoxAnswerer answerer({IDOK});
        EXPECT_NO_THROW(app_.Guard(c.handler));
        ASSERT_EQ(answerer.Boxes().size(), 1u);
        EXPECT_EQ(answerer.Boxes()[0].Text, c.shown);
        EXPECT_EQ(answerer.Boxes()[0].Icon, MB_ICONERROR);
    }
}

TEST_F(QtApplicationTest, BoxesKeepWorkingAfterTheTerminateRequest)
{
    app_.Terminate();
    EXPECT_TRUE(app_.Terminated());
    QtBoxAnswerer answerer({IDNO, IDOK});
    // The question must still be asked and its answer read, not skipped as "no button".
    EXPECT_EQ(app_.MessageBox(nullptr, "Quitter ?", "Fermer", MB_YESNOCANCEL), IDNO);
    EXPECT_EQ(app_.MessageBox(nullptr, "Error", "Error", MB_ICONERROR), IDOK);
    EXPECT_EQ(answerer.Boxes().size(), 2u);
    // Nested pumping keeps working too; only the loop ends.
    bool delivered = false;
    PostCall([&] { delivered = true; });
    app_.ProcessMessages();
    EXPECT_TRUE(delivered);
    EXPECT_FALSE(app_.HandleMessage());
}

TEST_F(QtApplicationTest, RunHandlesMessagesUntilTerminatedFromAHandler)
{
    int ticks = 0;
    int answer = 0;
    QTimer timer;
    QObject::connect(&timer, &QTimer::timeout, [&] {
        if (++ticks == 3) {
            // A box inside the run, then the request; the loop ends after this handler.
            app_.Terminate();
            answer = app_.MessageBox(nullptr, "Installation terminée", "", MB_OK);
        }
    });
    timer.start(5);
    QtBoxAnswerer answerer({IDOK});
    QElapsedTimer clock;
    clock.start();
    app_.Run();
    EXPECT_EQ(ticks, 3);
    EXPECT_EQ(answer, IDOK);
    EXPECT_LT(clock.elapsed(), 5000);
}

TEST_F(QtApplicationTest, TerminateFromAnotherThreadWakesAWaitingHandleMessage)
{
    Drain(app_);
    std::thread other([this] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        app_.Terminate();
    });
    QElapsedTimer clock;
    clock.start();
    bool more = true;
    // Nothing else is pending, so only the wake-up ends the wait.
    while (more && clock.elapsed() < 5000)
        more = app_.HandleMessage();
    other.join();
    EXPECT_FALSE(more);
    EXPECT_LT(clock.elapsed(), 2000);
}

TEST_F(QtApplicationTest, ProcessMessagesHandlesWhatIsPendingAndReturns)
{
    int delivered = 0;
    PostCall([&] { ++delivered; });
    PostCall([&] { ++delivered; });
    QElapsedTimer clock;
    clock.start();
    app_.ProcessMessages();
    EXPECT_EQ(delivered, 2);
    app_.ProcessMessages(); // nothing pending: returns at once
    EXPECT_LT(clock.elapsed(), 1000);
}

TEST_F(QtApplicationTest, PeekMessageLooksWithoutRemoving)
{
    if (!QAbstractEventDispatcher::instance()->inherits("QEventDispatcherGlib"))
        GTEST_SKIP() << "the event dispatcher offers no look at its queue";
    Drain(app_);
    EXPECT_FALSE(app_.PeekMessage());

    bool delivered = false;
    PostCall([&] { delivered = true; });
    EXPECT_TRUE(app_.PeekMessage());
    EXPECT_TRUE(app_.PeekMessage());
    EXPECT_FALSE(delivered);
    // A positive look promises that handling one message does not block.
    EXPECT_TRUE(app_.HandleMessage());
    EXPECT_TRUE(delivered);
    EXPECT_FALSE(app_.PeekMessage());

    // A timer that has come due is a message too.
    bool fired = false;
    QTimer::singleShot(1, [&] { fired = true; });
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
    EXPECT_TRUE(app_.PeekMessage());
    EXPECT_FALSE(fired);
    app_.ProcessMessages();
    EXPECT_TRUE(fired);

    // The look works from inside a handler too, which is where the network wait pumps.
    bool inner = false, seenInside = false, handledInside = false;
    QTimer::singleShot(1, [&] {
        PostCall([&] { inner = true; });
        seenInside = app_.PeekMessage();
        handledInside = app_.HandleMessage() && inner;
    });
    EXPECT_TRUE(PumpFor(app_, [&] { return handledInside; }));
    EXPECT_TRUE(seenInside);
}

TEST_F(QtApplicationTest, MainThreadIsTheQApplicationThread)
{
    EXPECT_TRUE(app_.IsMainThread());
    bool fromOther = true;
    std::thread([&] { fromOther = app_.IsMainThread(); }).join();
    EXPECT_FALSE(fromOther);
    EXPECT_FALSE(QApplication::quitOnLastWindowClosed());
}

} // namespace

// The toolkit's own button texts follow the language the application is made for.
TEST(QtToolkitTexts, ABoxShowsItsButtonsInTheUsersLanguage)
{
    struct Case {
        QLocale language;
        std::vector<std::string> buttons; // Yes, No, Cancel
    } cases[] = {
        {.language = QLocale(QLocale::French, QLocale::France), .buttons = {"Oui", "Non", "Annuler"}},
        {.language = QLocale(QLocale::English, QLocale::UnitedStates), .buttons = {"Yes", "No", "Cancel"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.language.name().toStdString());
        QtApplication app(QtTestApplication(), c.language);
        std::vector<std::string> shown;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible() || !shown.empty())
                return;
            for (auto button : {QMessageBox::Yes, QMessageBox::No, QMessageBox::Cancel})
                if (QAbstractButton* b = box->button(button))
                    shown.push_back(b->text().remove('&').toStdString());
            box->button(QMessageBox::No)->click();
        });
        poll.start(5);
        EXPECT_EQ(app.MessageBox(nullptr, "Question", "Caption", MB_YESNOCANCEL), IDNO);
        EXPECT_EQ(shown, c.buttons);
    }
}
