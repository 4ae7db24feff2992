// The Qt peers: a form with the update window's kinds mirrors its state into widgets, and
// the widgets' events (clicks, Enter, the close box, timer ticks) reach the model through
// the application's error boundary.

#include "platform/qt/QtApplication.h"
#include "platform/qt/QtControlPeer.h"
#include "platform/qt/QtTimerPeer.h"
#include "platform/qt/QtUiBackend.h"
#include "platform/runtime/Exception.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "platform/ui/Timer.h"

#include "tests/support/QtBoxAnswerer.h"
#include "tests/support/QtTestApplication.h"

#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFontInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QThread>
#include <QTimer>
#include <QToolButton>
#include <QTreeWidget>

#include <gtest/gtest.h>

#include <memory>

using namespace platform;

namespace {

// The update window as designed: the kinds, bounds, fonts and flags the updater uses.
struct UpdateWindow {
    std::unique_ptr<TForm> form = std::make_unique<TForm>(nullptr, "UpdateFrm");
    TLabel* status = new TLabel(form.get(), "Label1");
    TLabel* speed = new TLabel(form.get(), "Label2");
    TLabel* link = new TLabel(form.get(), "Label3");
    TMemo* memo = new TMemo(form.get(), "Memo");
    TProgressBar* bar = new TProgressBar(form.get(), "ProgressBar");
    TButton* cancel = new TButton(form.get(), "cancelBt");
    TTimer* timer = new TTimer(form.get(), "Timer1");

    UpdateWindow()
    {
        form->SetCaption("Mise a jour");
        form->ClientWidth = 362;
        form->ClientHeight = 150;
        form->Position = TPosition::poDesktopCenter;
        form->BorderStyle = TBorderStyle::bsSingle;
        form->BorderIcons = biSystemMenu | biMinimize;
        form->FormStyle = TFormStyle::fsStayOnTop;
        status->SetBounds(8, 24, 107, 13);
        status->SetCaption("Initialisation en cours...");
        TFont statusFont;
        statusFont.Charset = ANSI_CHARSET;
        status->SetFont(statusFont);
        speed->SetBounds(184, 64, 166, 13);
        speed->SetCaption("Vitesse de téléchargement : 0 Ko/s");
        speed->SetVisible(false);
        link->SetBounds(8, 128, 194, 13);
        link->SetCaption("Visiter le site web pour plus d'informations");
        link->SetCursor(TCursor::crHandPoint);
        TFont linkFont;
        linkFont.Color = clBlue;
        linkFont.Style = fsUnderline;
        link->SetFont(linkFont);
        memo->SetBounds(8, 88, 345, 33);
        memo->Border = false;
        memo->ReadOnly = true;
        memo->SetTabOrder(1);
        bar->SetBounds(8, 48, 345, 17);
        bar->SetVisible(false);
        bar->SetTabOrder(2);
        cancel->SetBounds(280, 120, 75, 25);
        cancel->SetCaption("Annuler");
        cancel->Default = true;
        cancel->SetTabOrder(0);
        timer->SetEnabled(false);
    }

    template <class W>
    W* Widget(const TComponent* c) const
    {
        return qobject_cast<W*>(QtControlPeer::WidgetOf(c));
    }
    QWidget* Window() const { return QtControlPeer::WidgetOf(form.get()); }
};

class QtPeersTest : public ::testing::Test {
protected:
    QtPeersTest() : qapp_(QtTestApplication()), app_(qapp_), backend_(app_) { backend_.AttachPeers(*w_.form); }

    // Pumps until `done` holds or the time runs out.
    template <class Pred>
    bool PumpUntil(Pred done, int timeoutMs = 3000)
    {
        QElapsedTimer clock;
        clock.start();
        while (!done() && clock.elapsed() < timeoutMs) {
            app_.ProcessMessages();
            QThread::msleep(1);
        }
        return done();
    }

    QApplication& qapp_;
    QtApplication app_;
    QtUiBackend backend_;
    UpdateWindow w_;
};

TEST_F(QtPeersTest, TheWindowMirrorsTheFormDesign)
{
    QWidget* window = w_.Window();
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isWindow());
    EXPECT_FALSE(window->isVisible()); // a form is hidden until shown
    EXPECT_EQ(window->windowTitle().toStdString(), "Mise a jour");
    EXPECT_EQ(window->size(), QSize(362, 150));
    // A single border: the size is fixed.
    EXPECT_EQ(window->minimumSize(), QSize(362, 150));
    EXPECT_EQ(window->maximumSize(), QSize(362, 150));
    const Qt::WindowFlags flags = window->windowFlags();
    EXPECT_TRUE(flags & Qt::WindowStaysOnTopHint);
    EXPECT_TRUE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);

    w_.form->Show();
    EXPECT_TRUE(window->isVisible());
    const QPoint screenCentre = QGuiApplication::primaryScreen()->availableGeometry().center();
    EXPECT_LE((window->geometry().center() - screenCentre).manhattanLength(), 2);
    w_.form->Hide();
    EXPECT_FALSE(window->isVisible());
    // Widgets are found by component name too, for end-to-end tests.
    EXPECT_EQ(window->findChild<QLabel*>("Label1"), w_.Widget<QLabel>(w_.status));
}

TEST_F(QtPeersTest, ControlsMirrorTextsBoundsFontsAndVisibility)
{
    w_.form->Show();
    auto* status = w_.Widget<QLabel>(w_.status);
    auto* speed = w_.Widget<QLabel>(w_.speed);
    auto* link = w_.Widget<QLabel>(w_.link);
    auto* cancel = w_.Widget<QPushButton>(w_.cancel);
    ASSERT_TRUE(status && speed && link && cancel);

    EXPECT_EQ(status->text().toStdString(), "Initialisation en cours...");
    EXPECT_EQ(status->textFormat(), Qt::PlainText);
    EXPECT_EQ(status->pos(), QPoint(8, 24));
    EXPECT_GE(status->width(), 107);
    EXPECT_EQ(status->font().pixelSize(), 11);
    EXPECT_TRUE(QFontDatabase::hasFamily(QFontInfo(status->font()).family()));

    EXPECT_FALSE(speed->isVisible());
    EXPECT_EQ(speed->text().toStdString(), "Vitesse de téléchargement : 0 Ko/s");
    w_.speed->Show();
    EXPECT_TRUE(speed->isVisible());

    EXPECT_TRUE(link->font().underline());
    EXPECT_EQ(link->palette().color(QPalette::WindowText), QColor(0, 0, 255));
    EXPECT_EQ(link->cursor().shape(), Qt::PointingHandCursor);

    EXPECT_EQ(cancel->text().toStdString(), "Annuler");
    EXPECT_EQ(cancel->geometry(), QRect(280, 120, 75, 25));
    EXPECT_TRUE(cancel->isDefault());

    // Changes after attaching follow at once.
    w_.status->SetCaption("Connexion au serveur de mise à jour... et un texte bien plus long");
    EXPECT_EQ(status->text().toStdString(), "Connexion au serveur de mise à jour... et un texte bien plus long");
    // A longer status text widens the label instead of being cut.
    EXPECT_GE(status->width(), status->sizeHint().width());
    w_.cancel->SetBounds(10, 20, 30, 40);
    EXPECT_EQ(cancel->geometry(), QRect(10, 20, 30, 40));
    w_.cancel->SetEnabled(false);
    EXPECT_FALSE(cancel->isEnabled());
    w_.cancel->SetHint("Fermer");
    EXPECT_EQ(cancel->toolTip().toStdString(), "Fermer");
    TFont bold;
    bold.Name = "Tahoma";
    bold.Height = -14;
    bold.Style = fsBold;
    w_.cancel->SetFont(bold);
    EXPECT_EQ(cancel->font().pixelSize(), 14);
    EXPECT_TRUE(cancel->font().bold());
}

TEST_F(QtPeersTest, MemoShowsLinesReadOnlyWithoutFrameOnTheWindowFace)
{
    auto* memo = w_.Widget<QPlainTextEdit>(w_.memo);
    ASSERT_NE(memo, nullptr);
    EXPECT_TRUE(memo->isReadOnly());
    EXPECT_EQ(memo->frameShape(), QFrame::NoFrame);
    EXPECT_EQ(memo->palette().color(QPalette::Base), QApplication::palette(w_.Window()).color(QPalette::Window));
    EXPECT_EQ(memo->geometry(), QRect(8, 88, 345, 33));
    EXPECT_TRUE(memo->toPlainText().isEmpty());

    w_.memo->AddLine("Corrections de bugs");
    w_.memo->AddLine("Nouveautés : téléchargement repris");
    EXPECT_EQ(memo->toPlainText().toStdString(), "Corrections de bugs\nNouveautés : téléchargement repris");
    w_.memo->SetLinesText("Impossible de joindre le serveur.\r\nVisitez http://example.invalid");
    EXPECT_EQ(memo->toPlainText().toStdString(), "Impossible de joindre le serveur.\nVisitez http://example.invalid");
}

TEST_F(QtPeersTest, ProgressBarClampsForDisplayAndShowsBusyForAnEmptyRange)
{
    auto* bar = w_.Widget<QProgressBar>(w_.bar);
    ASSERT_NE(bar, nullptr);
    w_.form->Show();
    EXPECT_FALSE(bar->isVisible());
    w_.bar->Show();
    EXPECT_TRUE(bar->isVisible());
    EXPECT_FALSE(bar->isTextVisible());

    struct Case {
        const char* name;
        int max;
        int position;
        int shownMin, shownMax, shownValue;
    };
    const Case cases[] = {
        {.name = "start", .max = 1000, .position = 0, .shownMin = 0, .shownMax = 1000, .shownValue = 0},
        {.name = "40 ahead", .max = 1000, .position = 540, .shownMin = 0, .shownMax = 1000, .shownValue = 540},
        {.name = "beyond the end shows full",
         .max = 100,
         .position = 140,
         .shownMin = 0,
         .shownMax = 100,
         .shownValue = 100},
        {.name = "exactly full", .max = 100, .position = 100, .shownMin = 0, .shownMax = 100, .shownValue = 100},
        {.name = "negative shows empty", .max = 100, .position = -5, .shownMin = 0, .shownMax = 100, .shownValue = 0},
        {.name = "unknown length: busy", .max = 0, .position = 40, .shownMin = 0, .shownMax = 0, .shownValue = -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        w_.bar->SetMax(c.max);
        w_.bar->SetPosition(c.position);
        EXPECT_EQ(bar->minimum(), c.shownMin);
        EXPECT_EQ(bar->maximum(), c.shownMax);
        if (c.shownValue >= 0) {
            EXPECT_EQ(bar->value(), c.shownValue);
        }
        EXPECT_EQ(w_.bar->Position(), c.position); // the model keeps what was set
    }
    // The range comes back after a busy phase.
    w_.bar->SetMax(10);
    w_.bar->SetPosition(5);
    EXPECT_EQ(bar->maximum(), 10);
    EXPECT_EQ(bar->value(), 5);
}

TEST_F(QtPeersTest, ClicksReachOnClick)
{
    std::vector<std::string> clicked;
    w_.cancel->OnClick = [&](TComponent* s) { clicked.push_back(s->Name()); };
    w_.link->OnClick = [&](TComponent* s) { clicked.push_back(s->Name()); };
    w_.form->Show();

    w_.Widget<QPushButton>(w_.cancel)->click();
    QLabel* link = w_.Widget<QLabel>(w_.link);
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(5, 5), link->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                      Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(link, &press);
    // A right press is no click; a label without a handler ignores presses.
    QMouseEvent right(QEvent::MouseButtonPress, QPointF(5, 5), link->mapToGlobal(QPointF(5, 5)), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(link, &right);
    QLabel* status = w_.Widget<QLabel>(w_.status);
    QMouseEvent pressStatus(QEvent::MouseButtonPress, QPointF(5, 5), status->mapToGlobal(QPointF(5, 5)), Qt::LeftButton,
                            Qt::LeftButton, Qt::NoModifier);
    QCoreApplication::sendEvent(status, &pressStatus);
    // Enter in the window presses the default button.
    QKeyEvent enter(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier);
    QCoreApplication::sendEvent(w_.Window(), &enter);

    EXPECT_EQ(clicked, (std::vector<std::string>{"cancelBt", "Label3", "cancelBt"}));

    // A disabled button takes no click.
    w_.cancel->SetEnabled(false);
    w_.Widget<QPushButton>(w_.cancel)->click();
    QCoreApplication::sendEvent(w_.Window(), &enter);
    EXPECT_EQ(clicked.size(), 3u);
}

TEST_F(QtPeersTest, AFailureInAClickShowsTheErrorBoxAndTheWindowGoesOn)
{
    app_.SetTitle("Mise a jour de Démo");
    int clicks = 0;
    w_.cancel->OnClick = [&](TComponent*) {
        if (++clicks == 1)
            throw EFCreateError("Cannot create file \"/tmp/setup.exe\". Permission denied");
    };
    w_.form->Show();
    QtBoxAnswerer answerer({IDOK});
    w_.Widget<QPushButton>(w_.cancel)->click();
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].Text, "Cannot create file \"/tmp/setup.exe\". Permission denied");
    EXPECT_EQ(answerer.Boxes()[0].Type, MB_OK | MB_ICONERROR);
    EXPECT_EQ(answerer.Boxes()[0].Caption, "Mise a jour de Démo");
    w_.Widget<QPushButton>(w_.cancel)->click();
    EXPECT_EQ(clicks, 2);
    EXPECT_EQ(answerer.Boxes().size(), 1u);
}

TEST_F(QtPeersTest, TheCloseBoxAsksTheModelWhichDecides)
{
    int asked = 0;
    bool allow = false;
    w_.form->OnCloseQuery = [&](TComponent*, bool& canClose) {
        ++asked;
        canClose = allow;
    };
    w_.form->Show();
    QWidget* window = w_.Window();

    window->close();
    EXPECT_EQ(asked, 1);
    EXPECT_TRUE(window->isVisible());
    EXPECT_TRUE(w_.form->Visible());

    allow = true;
    window->close();
    EXPECT_EQ(asked, 2);
    EXPECT_FALSE(w_.form->Visible());
    EXPECT_FALSE(window->isVisible());
    // Hidden, not destroyed: it can be shown again.
    w_.form->Show();
    EXPECT_TRUE(window->isVisible());
}

TEST_F(QtPeersTest, ACloseQuestionAskedFromTheCloseBoxIsAnswered)
{
    // The update window's close handler asks with a box while Qt delivers the close event.
    w_.form->OnCloseQuery = [&](TComponent*, bool& canClose) {
        canClose =
            app_.MessageBox(w_.form.get(), "Voulez-vous vraiment annuler ?", "Confirmation", MB_YESNOCANCEL) == IDYES;
    };
    w_.form->Show();
    QWidget* parent = nullptr;
    QtBoxAnswerer answerer({IDNO});
    answerer.SetPolicy([&](const QtBoxAnswerer::Box&) {
        parent = QApplication::activeModalWidget()->parentWidget();
        return IDYES;
    });
    w_.Window()->close();
    EXPECT_TRUE(w_.Window()->isVisible());
    w_.Window()->close();
    EXPECT_FALSE(w_.Window()->isVisible());
    ASSERT_EQ(answerer.Boxes().size(), 2u);
    EXPECT_EQ(answerer.Boxes()[0].Type, MB_YESNOCANCEL);
    // The box belongs to the window that asked, so it stays above it.
    EXPECT_EQ(parent, w_.Window());
}

TEST_F(QtPeersTest, TheTimerTicksWhileEnabledAndIsNotReentered)
{
    int ticks = 0;
    int depth = 0, maxDepth = 0;
    w_.timer->OnTimer = [&](TComponent*) {
        ++ticks;
        maxDepth = std::max(maxDepth, ++depth);
        // The first tick pumps for a while, as the update run does inside its tick.
        if (ticks == 1) {
            QElapsedTimer clock;
            clock.start();
            while (clock.elapsed() < 60)
                app_.ProcessMessages();
        }
        --depth;
    };
    auto* qtimer = static_cast<QtTimerPeer*>(w_.timer->Peer())->Timer();
    EXPECT_FALSE(qtimer->isActive());
    w_.timer->SetInterval(5);
    w_.timer->SetEnabled(true);
    EXPECT_TRUE(qtimer->isActive());
    EXPECT_EQ(qtimer->interval(), 5);
    EXPECT_TRUE(PumpUntil([&] { return ticks >= 3; }));
    EXPECT_EQ(maxDepth, 1);

    w_.timer->SetEnabled(false);
    const int stopped = ticks;
    PumpUntil([] { return false; }, 40);
    EXPECT_EQ(ticks, stopped);
    w_.timer->SetEnabled(true);
    w_.timer->SetInterval(0); // no interval: no ticks, as natively
    EXPECT_FALSE(qtimer->isActive());
}

TEST_F(QtPeersTest, AFailingTickGoesToTheErrorBox)
{
    int ticks = 0;
    w_.timer->OnTimer = [&](TComponent*) {
        ++ticks;
        w_.timer->SetEnabled(false);
        throw Exception("tick failed");
    };
    QtBoxAnswerer answerer({IDOK});
    w_.timer->SetInterval(5);
    w_.timer->SetEnabled(true);
    EXPECT_TRUE(PumpUntil([&] { return answerer.Boxes().size() == 1; }));
    EXPECT_EQ(ticks, 1);
    ASSERT_EQ(answerer.Boxes().size(), 1u);
    EXPECT_EQ(answerer.Boxes()[0].Text, "tick failed");
}

TEST_F(QtPeersTest, SetActiveWindowActivatesTheFormsWindow)
{
    TForm other(nullptr, "Other");
    other.ClientWidth = 100;
    other.ClientHeight = 50;
    backend_.AttachPeers(other);
    w_.form->Show();
    other.Show();
    app_.SetActiveWindow(w_.form.get());
    EXPECT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == w_.Window(); }));
    app_.SetActiveWindow(&other);
    EXPECT_TRUE(PumpUntil([&] { return QApplication::activeWindow() == QtControlPeer::WidgetOf(&other); }));
}

TEST_F(QtPeersTest, AMessageOnlyFormIsNeverShown)
{
    TForm main(nullptr, "Form85");
    main.MessageOnly = true;
    main.SetBounds(192, 124, 342, 203);
    main.SetCaption("Form85");
    backend_.AttachPeers(main);
    main.Show();
    EXPECT_TRUE(main.Visible());
    EXPECT_FALSE(QtControlPeer::WidgetOf(&main)->isVisible());
    // A box owned by it has no window to belong to and still shows.
    QtBoxAnswerer answerer({IDYES});
    EXPECT_EQ(app_.MessageBox(&main, "?", "", MB_YESNO), IDYES);
}

TEST_F(QtPeersTest, DestroyingComponentsDestroysTheirWidgets)
{
    QPointer<QWidget> window = w_.Window();
    QPointer<QWidget> status = QtControlPeer::WidgetOf(w_.status);
    QPointer<QWidget> cancel = QtControlPeer::WidgetOf(w_.cancel);
    delete w_.status;
    EXPECT_TRUE(status.isNull());
    EXPECT_FALSE(window.isNull());
    EXPECT_FALSE(cancel.isNull());
    w_.form.reset();
    EXPECT_TRUE(window.isNull());
    EXPECT_TRUE(cancel.isNull());
}

TEST_F(QtPeersTest, AttachingAgainAddsPeersOnlyToNewComponents)
{
    TComponentPeer* before = w_.cancel->Peer();
    auto* late = new TLabel(w_.form.get(), "Late");
    late->SetCaption("ajouté");
    backend_.AttachPeers(*w_.form);
    EXPECT_EQ(w_.cancel->Peer(), before);
    auto* label = qobject_cast<QLabel*>(QtControlPeer::WidgetOf(late));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->parentWidget(), w_.Window());
    EXPECT_EQ(label->text().toStdString(), "ajouté");
}

TEST(QtOtherKindsTest, BasicKindsMirrorTheirStateAndReportTheUser)
{
    QtApplication app(QtTestApplication());
    QtUiBackend backend(app);
    TForm form(nullptr, "Options");
    form.ClientWidth = 400;
    form.ClientHeight = 300;
    auto* edit = new TEdit(&form, "Edit1");
    edit->SetText("proxy");
    auto* check = new TCheckBox(&form, "CheckBox1");
    check->SetCaption("Toujours");
    auto* radio = new TRadioButton(&form, "RadioButton1");
    radio->SetCaption("Jamais");
    auto* combo = new TComboBox(&form, "ComboBox1");
    combo->SetItems({"Français", "English"});
    combo->SetItemIndex(1);
    auto* group = new TGroupBox(&form, "GroupBox1");
    group->SetCaption("Réseau");
    auto* inGroup = new TLabel(group, "InGroup");
    auto* radios = new TRadioGroup(&form, "RadioGroup1");
    radios->SetItems({"Un", "Deux"});
    auto* list = new TListView(&form, "ListView1");
    list->SetColumns({"Nom", "Taille"});
    list->SetRows({{.Caption = "setup.exe", .SubItems = {"12 Ko"}}});
    auto* sheet = new TTabSheet(&form, "TabSheet1");
    auto* speed = new TSpeedButton(&form, "SpeedButton1");
    speed->SetCaption("...");
    int speedClicks = 0;
    speed->OnClick = [&](TComponent*) { ++speedClicks; };
    auto* bit = new TBitBtn(&form, "BitBtn1");
    bit->SetCaption("OK");
    backend.AttachPeers(form);
    form.Show();

    auto* qedit = qobject_cast<QLineEdit*>(QtControlPeer::WidgetOf(edit));
    ASSERT_NE(qedit, nullptr);
    EXPECT_EQ(qedit->text().toStdString(), "proxy");
    qedit->setFocus();
    QKeyEvent key(QEvent::KeyPress, Qt::Key_S, Qt::NoModifier, "s");
    QCoreApplication::sendEvent(qedit, &key);
    EXPECT_EQ(edit->Text(), "proxys"); // typing reaches the model

    EXPECT_EQ(qobject_cast<QCheckBox*>(QtControlPeer::WidgetOf(check))->text().toStdString(), "Toujours");
    EXPECT_EQ(qobject_cast<QRadioButton*>(QtControlPeer::WidgetOf(radio))->text().toStdString(), "Jamais");

    auto* qcombo = qobject_cast<QComboBox*>(QtControlPeer::WidgetOf(combo));
    ASSERT_NE(qcombo, nullptr);
    EXPECT_EQ(qcombo->count(), 2);
    EXPECT_EQ(qcombo->itemText(0).toStdString(), "Français");
    EXPECT_EQ(qcombo->currentIndex(), 1);
    combo->SetItemIndex(0);
    EXPECT_EQ(qcombo->currentIndex(), 0);
    emit qcombo->activated(1); // as the user's choice does
    EXPECT_EQ(combo->ItemIndex(), 1);

    auto* qgroup = qobject_cast<QGroupBox*>(QtControlPeer::WidgetOf(group));
    ASSERT_NE(qgroup, nullptr);
    EXPECT_EQ(qgroup->title().toStdString(), "Réseau");
    EXPECT_EQ(QtControlPeer::WidgetOf(inGroup)->parentWidget(), qgroup); // owned by a control: inside it

    auto* qradios = qobject_cast<QGroupBox*>(QtControlPeer::WidgetOf(radios));
    ASSERT_NE(qradios, nullptr);
    auto buttons = qradios->findChildren<QRadioButton*>();
    ASSERT_EQ(buttons.size(), 2);
    EXPECT_EQ(buttons[1]->text().toStdString(), "Deux");
    radios->BeginUpdate();
    radios->SetItem(0, "One");
    EXPECT_EQ(buttons[0]->text().toStdString(), "Un"); // updates wait for EndUpdate
    radios->EndUpdate();
    EXPECT_EQ(buttons[0]->text().toStdString(), "One");
    radios->SetItems({"Seul"});
    EXPECT_EQ(qradios->findChildren<QRadioButton*>().size(), 1);

    auto* tree = qobject_cast<QTreeWidget*>(QtControlPeer::WidgetOf(list));
    ASSERT_NE(tree, nullptr);
    EXPECT_EQ(tree->headerItem()->text(1).toStdString(), "Taille");
    ASSERT_EQ(tree->topLevelItemCount(), 1);
    EXPECT_EQ(tree->topLevelItem(0)->text(0).toStdString(), "setup.exe");
    EXPECT_EQ(tree->topLevelItem(0)->text(1).toStdString(), "12 Ko");
    list->SetColumnCaption(0, "Fichier");
    EXPECT_EQ(tree->headerItem()->text(0).toStdString(), "Fichier");

    EXPECT_NE(QtControlPeer::WidgetOf(sheet), nullptr);
    auto* qspeed = qobject_cast<QToolButton*>(QtControlPeer::WidgetOf(speed));
    ASSERT_NE(qspeed, nullptr);
    qspeed->click();
    EXPECT_EQ(speedClicks, 1);
    EXPECT_NE(qobject_cast<QPushButton*>(QtControlPeer::WidgetOf(bit)), nullptr);
}

} // namespace
