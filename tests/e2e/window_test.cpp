// The real update window on the offscreen platform: what the user sees after start-up,
// in French and in English, and the close before the first tick.

#include "E2eSupport.h"

#include "tests/support/QtTestApplication.h"

#include <QFontMetrics>
#include <QLabel>
#include <QPixmap>
#include <QPushButton>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

std::string Text(const TComponent* c)
{
    auto* label = qobject_cast<QLabel*>(WidgetOf(c));
    if (label)
        return label->text().toStdString();
    auto* button = qobject_cast<QPushButton*>(WidgetOf(c));
    return button ? button->text().toStdString() : "?";
}

// Every character of the label's text has a glyph in the font it is drawn with.
void ExpectGlyphs(const TComponent* c)
{
    QWidget* w = WidgetOf(c);
    ASSERT_NE(w, nullptr);
    const QFontMetrics m(w->font());
    const QString text =
        qobject_cast<QLabel*>(w) ? qobject_cast<QLabel*>(w)->text() : qobject_cast<QPushButton*>(w)->text();
    for (QChar ch : text)
        EXPECT_TRUE(ch.isSpace() || m.inFont(ch))
            << c->Name() << " lacks a glyph for U+" << std::hex << static_cast<unsigned>(ch.unicode());
}

void Grab(QWidget* window, const std::string& name)
{
    const char* bin = std::getenv("UPDATER_BIN_DIR");
    const fs::path dir = fs::path(bin ? bin : ".") / ".." / "screenshots";
    fs::create_directories(dir);
    const QPixmap shot = window->grab();
    EXPECT_EQ(shot.width(), 362);
    EXPECT_EQ(shot.height(), 150);
    EXPECT_TRUE(shot.save(QString::fromStdString((dir / name).string())));
}

} // namespace

TEST(UpdateWindow, FrenchWindowAfterStartUp)
{
    InstallFolder folder;
    folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\n");
    Updater u(folder, {}, [] { return true; });
    u.Create();
    QWidget* window = WidgetOf(u.form.get());
    ASSERT_NE(window, nullptr);
    EXPECT_TRUE(window->isVisible());
    EXPECT_EQ(window->windowTitle().toStdString(), "Mise à jour My App");
    EXPECT_TRUE(window->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_FALSE(window->windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(Text(u.form->Label1), "Connexion Internet active, Initialisation en cours...");
    EXPECT_EQ(Text(u.form->Label3), "Visiter le site web pour plus d'informations");
    EXPECT_EQ(Text(u.form->cancelBt), "Annuler");
    EXPECT_FALSE(WidgetOf(u.form->ProgressBar)->isVisible());
    EXPECT_FALSE(WidgetOf(u.form->Label2)->isVisible());
    for (const TComponent* c : {static_cast<TComponent*>(u.form->Label1), static_cast<TComponent*>(u.form->Label3),
                                static_cast<TComponent*>(u.form->cancelBt)})
        ExpectGlyphs(c);
    EXPECT_TRUE(fs::is_directory(folder.UpdateFolder("My App")));
    Grab(window, "window-fr.png");
}

TEST(UpdateWindow, EnglishWindowWithoutConnection)
{
    InstallFolder folder;
    folder.WriteIni("[Current]\nAppName=My App\n");
    Updater u(folder, {"/langid=1"}, [] { return false; });
    u.Create();
    QWidget* window = WidgetOf(u.form.get());
    EXPECT_EQ(window->windowTitle().toStdString(), "My App Update");
    EXPECT_EQ(Text(u.form->Label1), u.form->Catalogue().Entry(CatalogueEntry::Offline));
    EXPECT_EQ(Text(u.form->cancelBt), "Cancel");
    EXPECT_EQ(Text(u.form->Label3), "Visit the web site for more information");
    ExpectGlyphs(u.form->Label3);
    Grab(window, "window-en.png");
}

TEST(UpdateWindow, ClosingBeforeTheFirstTickEndsWithoutAQuestion)
{
    InstallFolder folder;
    Updater u(folder, {}, [] { return true; });
    u.tickMs = 0;
    u.Create();
    QWidget* window = WidgetOf(u.form.get());
    // The user closes the window with its close box before the timer's first tick.
    QTimer::singleShot(100, window, [window] { window->close(); });
    EXPECT_TRUE(u.RunUntilTerminated());
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(u.form->UpdateState(), UpdateState::Ending);
    EXPECT_EQ(u.form->Memo->Lines().size(), 0u); // the run never started
}

TEST(UpdateWindow, HiddenModeShowsNoWindow)
{
    InstallFolder folder;
    Updater u(folder, {"/HIDDEN"}, [] { return true; });
    u.Create();
    EXPECT_FALSE(WidgetOf(u.form.get())->isVisible());
    EXPECT_TRUE(u.form->HiddenMode());
}
