// The whole road of an update with the real window on the offscreen platform, a local
// update server, a recording installer, and the boxes answered from the test.

#include "E2eSupport.h"
#include "tests/support/ReservedPort.h"

#include "localization/MessageCatalogue.h"
#include "platform/ui/Application.h"
#include "tests/support/QtBoxAnswerer.h"
#include "tests/support/QtTestApplication.h"

#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <cstdlib>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;

namespace {

const std::string kTitle = "Mise à jour My App";

std::string Entry(CatalogueEntry e) { return TMessageCatalogue::Default(e); }

struct Run : ::testing::Test {
    InstallFolder folder;
    fs::path record = folder.root / "installer-record.txt";

    void SetUp() override
    {
        setenv("UPDATER_DEMO_RECORD", record.c_str(), 1);
        setenv("UPDATER_DEMO_INSTALL_SECONDS", "0.3", 1);
    }
    void Ini(const std::string& server, const std::string& extra = "")
    {
        folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server +
                        "\nHomePage=http://127.0.0.1:1/product\n" + extra);
    }
    fs::path Update() const { return folder.UpdateFolder("My App"); }
};

} // namespace

TEST_F(Run, InstalledBuildIsTheNewest)
{
    UpdateServer server({"--build", "2012"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDOK});
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[0].Text, AsShown(Entry(CatalogueEntry::UpToDate)));
    EXPECT_EQ(boxes.Boxes()[0].Caption, kTitle);
    EXPECT_EQ(boxes.Boxes()[0].Type, MB_ICONINFORMATION);
    // The check address: blanks as "_", everything lowered, the language number last.
    ASSERT_EQ(server.Requests().size(), 1u);
    EXPECT_EQ(server.Requests()[0].substr(0, server.Requests()[0].find(" |")),
              "GET /update/index.php?checkupdate&app=my_app&version=1.0&updatemode=appupdater&langid=0 HTTP/1.1");
    // The window's client settings: its Accept value (sent with its leading blank; the
    // server's parser strips it) and its User-Agent.
    EXPECT_NE(server.Requests()[0].find("| Accept: 'text/html ,*/*' | User-Agent: Mozilla/5.0 (Windows; U; Windows NT "
                                        "5.1; en-US; rv:1.9) Gecko/2008052906 Firefox/3.0"),
              std::string::npos)
        << server.Requests()[0];
    EXPECT_NE(Slurp(Update() / "webinfo.ini").find("buildId=2012"), std::string::npos);
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    EXPECT_EQ(u.form->Memo->Lines().back(), "Téléchargements plus rapides, fenêtre plus claire et corrections.");
}

TEST_F(Run, OfferAcceptedDownloadsStartsTheInstallerAndEnds)
{
    UpdateServer server({"--size", "300000", "--rate", "0"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    u.sys.realSleeps = true; // this run waits the four seconds, as the product does
    QtBoxAnswerer boxes({IDYES, IDOK});
    u.Create();
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
    const auto& offer = boxes.Boxes()[0];
    EXPECT_EQ(offer.Type, MB_ICONINFORMATION | MB_YESNOCANCEL);
    EXPECT_EQ(offer.Caption, kTitle);
    EXPECT_EQ(offer.Text, AsShown("Une nouvelle version de My App est disponible.\r\nVersion Actuelle: 1.0\r\n"
                                  "Nouvelle version: 1.1\r\n" +
                                  std::string(50, '-') +
                                  "\r\nTéléchargements plus rapides, fenêtre plus claire et corrections.\r\n" +
                                  std::string(50, '-') + "\r\nSouhaitez vous mettre a  jour votre logiciel?"));
    EXPECT_EQ(boxes.Boxes()[1].Text, "Veuillez fermer toutes les instances de My App avant de continuer...");
    EXPECT_EQ(boxes.Boxes()[1].Caption, "My App");
    EXPECT_EQ(boxes.Boxes()[1].Type, MB_OK);

    EXPECT_EQ(fs::file_size(Update() / "setup.exe"), 300000u);
    const std::string ran = Slurp(record);
    EXPECT_NE(ran.find("arguments: /update\n"), std::string::npos) << ran;
    EXPECT_NE(ran.find("finished"), std::string::npos) << "the updater did not wait for the installer";
    EXPECT_EQ(u.sys.sleeps, std::vector<int>{4000});
    EXPECT_GE(clock.elapsed(), 4000);
    EXPECT_EQ(u.form->UpdateState(), UpdateState::InstallerFinished);
    EXPECT_EQ(u.form->Label1->Caption(), "Application de la mise a jour...");
    EXPECT_FALSE(u.form->cancelBt->Enabled());
    // The bar ran 40 ahead of the bytes: full at the end; the speed line was shown.
    EXPECT_EQ(u.form->ProgressBar->Max(), 300000);
    EXPECT_EQ(u.form->ProgressBar->Position(), 300040);
    EXPECT_TRUE(u.form->Label2->Visible());
    // The cookie of the check answer went with the installer request.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("GET /update/setup.exe"), std::string::npos);
    EXPECT_NE(requests[1].find("Cookie: session=demo42"), std::string::npos) << requests[1];
}

TEST_F(Run, OfferDeclinedDownloadsNothing)
{
    UpdateServer server;
    Ini(server.Base());
    for (int answer : {IDNO, IDCANCEL}) {
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({answer});
        u.Create();
        ASSERT_TRUE(u.RunUntilTerminated());
        EXPECT_EQ(boxes.Boxes().size(), 1u);
        EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    }
    EXPECT_EQ(server.Requests().size(), 2u); // one check for each run, nothing else
}

TEST_F(Run, ServerDownShowsTheFailureAndKeepsTheWindowOpen)
{
    const testsupport::ReservedPort closed;
    Ini("http://127.0.0.1:" + std::to_string(closed.Port()) + "/update/");
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDOK});
    u.Create();
    EXPECT_TRUE(u.StaysOpenOnce([&] { return !boxes.Boxes().empty(); }))
        << "the window must stay open after a failed check";
    ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[0].Text, AsShown(Entry(CatalogueEntry::ServerUnreachable)));
    EXPECT_EQ(boxes.Boxes()[0].Type, MB_ICONINFORMATION);
    EXPECT_EQ(u.form->Label1->Caption(), Entry(CatalogueEntry::CheckFailed));
    // The line that names the cause, then the product page.
    EXPECT_EQ(u.form->Memo->LinesText(),
              Entry(CatalogueEntry::ReasonUnreachable) +
                  "\r\nVeuillez visiter le site web http://127.0.0.1:1/product pour telecharger manuellement la mise a "
                  "jour\r\n");
    EXPECT_TRUE(WidgetOf(u.form.get())->isVisible());
    EXPECT_EQ(u.form->UpdateState(), UpdateState::Ending);
}

TEST_F(Run, ServerDownInHiddenModeEndsSilently)
{
    const testsupport::ReservedPort closed;
    Ini("http://127.0.0.1:" + std::to_string(closed.Port()) + "/update/");
    Updater u(folder, {"/hidden"}, [] { return true; });
    QtBoxAnswerer boxes;
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated());
    EXPECT_TRUE(boxes.Boxes().empty());
    EXPECT_FALSE(WidgetOf(u.form.get())->isVisible());
}

TEST_F(Run, HiddenModeShowsTheWindowForTheOffer)
{
    UpdateServer server;
    Ini(server.Base());
    Updater u(folder, {"/hidden"}, [] { return true; });
    bool visibleAtOffer = false;
    QtBoxAnswerer boxes;
    boxes.SetPolicy([&](const QtBoxAnswerer::Box&) {
        visibleAtOffer = WidgetOf(u.form.get())->isVisible();
        return IDNO;
    });
    u.Create();
    EXPECT_FALSE(WidgetOf(u.form.get())->isVisible());
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
    EXPECT_TRUE(visibleAtOffer);
    EXPECT_TRUE(u.form->ShownForOffer());
    EXPECT_FALSE(u.form->HiddenMode());
}

TEST_F(Run, InstallerNotFoundShowsTheErrorThenTheFailureText)
{
    UpdateServer server({"--setup-path", "missing.exe"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
    u.Create();
    // The last box says that the updater closes, and it does.
    ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
    ASSERT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Caption, "Error");
    EXPECT_EQ(boxes.Boxes()[1].Type, MB_ICONERROR);
    EXPECT_NE(boxes.Boxes()[1].Text.find("404"), std::string::npos) << boxes.Boxes()[1].Text;
    EXPECT_EQ(boxes.Boxes()[2].Text, AsShown(Entry(CatalogueEntry::DownloadFailed)));
    EXPECT_EQ(boxes.Boxes()[2].Caption, kTitle);
    EXPECT_EQ(u.form->Label1->Caption(), Entry(CatalogueEntry::UpdateFailed));
    EXPECT_TRUE(u.form->cancelBt->Enabled());
    EXPECT_EQ(u.form->UpdateState(), UpdateState::Installing);
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    // A relative SetupPath resolves against the check address's folder.
    ASSERT_EQ(server.Requests().size(), 2u);
    EXPECT_NE(server.Requests()[1].find("GET /update/missing.exe"), std::string::npos);
}

TEST_F(Run, DownloadCutShortByTheServerIsNeverSavedOrStarted)
{
    UpdateServer server({"--size", "500000", "--rate", "0", "--cut", "200000"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
    ASSERT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Caption, "Error");
    EXPECT_EQ(boxes.Boxes()[1].Text, "Connection Closed Gracefully.");
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    EXPECT_FALSE(fs::exists(record));
}

namespace {

// Closes the window once the installer download has delivered its first bytes, answering
// the close question with Yes (the offer was answered Yes before). The close is posted
// from the client's progress event, so it runs at the next message pump of the download,
// whatever the machine's speed.
void CloseDuringDownload(Updater& u)
{
    auto original = u.form->IdHTTP1->OnWork;
    auto posted = std::make_shared<bool>(false);
    QWidget* window = WidgetOf(u.form.get());
    u.form->IdHTTP1->OnWork = [original, posted, window, &u](TComponent* s, TWorkMode m, std::int64_t n) {
        original(s, m, n);
        if (!*posted && u.form->UpdateState() == UpdateState::Installing && m == wmRead && n > 0) {
            *posted = true;
            QTimer::singleShot(0, window, [window] { window->close(); });
        }
    };
}

} // namespace

TEST_F(Run, ClosedDuringASizedDownloadEndsQuietly)
{
    UpdateServer server({"--size", "3000000", "--rate", "300000"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDYES});
    u.Create();
    CloseDuringDownload(u);
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Text, AsShown(Entry(CatalogueEntry::CloseQuestion)));
    EXPECT_EQ(boxes.Boxes()[1].Caption, Entry(CatalogueEntry::CloseCaption));
    EXPECT_EQ(boxes.Boxes()[1].Type, MB_YESNOCANCEL);
    EXPECT_EQ(u.form->UpdateState(), UpdateState::Ending);
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(Run, ClosedDuringAChunkedDownloadShowsTheFailure)
{
    UpdateServer server({"--size", "3000000", "--rate", "300000", "--chunked"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDYES, IDOK, IDOK});
    u.Create();
    CloseDuringDownload(u);
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 4u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Text, AsShown(Entry(CatalogueEntry::CloseQuestion)));
    EXPECT_EQ(boxes.Boxes()[2].Caption, "Error");
    EXPECT_EQ(boxes.Boxes()[3].Text, AsShown(Entry(CatalogueEntry::DownloadFailed)));
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(Run, NoConnectionAtFirstThenTheCheckAtTheNextTick)
{
    UpdateServer server({"--build", "2000"});
    Ini(server.Base());
    int tests = 0;
    Updater u(folder, {}, [&] { return ++tests > 2; }); // creation and first tick: offline
    u.tickMs = 0;
    QtBoxAnswerer boxes({IDOK});
    u.Create();
    EXPECT_EQ(u.form->Label1->Caption(), Entry(CatalogueEntry::Offline));
    QElapsedTimer clock;
    clock.start();
    ASSERT_TRUE(u.RunUntilTerminated());
    EXPECT_GE(clock.elapsed(), 1500); // the second tick, not the first
    EXPECT_EQ(tests, 3);
    ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[0].Text, AsShown(Entry(CatalogueEntry::UpToDate)));
}
