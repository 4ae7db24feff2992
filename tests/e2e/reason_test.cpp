// What an interactive run tells its user: after a failed check or a refused answer the
// notes box names the cause in the user's language, and an installer that cannot be
// started is said to be so, with the system's reason, before the updater ends.

#include "E2eSupport.h"

#include "localization/MessageCatalogue.h"
#include "platform/ui/Application.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/QtBoxAnswerer.h"

#include <QPixmap>

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;

namespace {

// The window as the user sees it, kept beside the build for the README.
void Grab(const TUpdateFrm& form, const std::string& name)
{
    const char* bin = std::getenv("UPDATER_BIN_DIR");
    const fs::path dir = fs::path(bin ? bin : ".") / ".." / "screenshots";
    fs::create_directories(dir);
    EXPECT_TRUE(WidgetOf(&form)->grab().save(QString::fromStdString((dir / name).string())));
}

struct Reasons : SignedOfferTest {
    Reasons() : SignedOfferTest(20000) {}
    void Ini(const std::string& server) { SignedOfferTest::Ini(server, publisher.PublicKey()); }
};

} // namespace

TEST_F(Reasons, ARefusedAnswerNamesItsCauseInTheUsersLanguage)
{
    struct Case {
        const char* name;
        std::vector<std::string> server;
        const char* french;
        const char* english;
        const char* shot = nullptr;
        const char* base = ""; // added to the server's base address
    };
    const Case cases[] = {
        {"expired", Signed(publisher, {"--expires", "2001-01-01T00:00:00Z"}),
         "Cause : l'offre de mise à jour a expiré ; vérifiez l'horloge de l'ordinateur.",
         "Cause: the update offer has expired; check the computer's clock.", "reason-expired"},
        {"another key", Signed(stranger), "Cause : l'offre n'est pas signée par cet éditeur.",
         "Cause: the offer is not signed by this publisher."},
        {"another application", Signed(publisher, {"--app", "Other App"}),
         "Cause : l'offre concerne une autre application.", "Cause: the offer is for another application."},
        {"a changed field", Signed(publisher, {"--tamper", "version=9.9"}),
         "Cause : l'offre n'est pas signée par cet éditeur.", "Cause: the offer is not signed by this publisher."},
        {"a server error", Signed(publisher), "Cause : le serveur de mise à jour a répondu par une erreur (HTTP/1.",
         "Cause: the update server answered with an error (HTTP/1.", nullptr, "elsewhere/"},
    };
    for (const auto& c : cases) {
        for (const int lang : {0, 1}) {
            SCOPED_TRACE(std::string(c.name) + (lang ? " in English" : " in French"));
            UpdateServer server(c.server);
            Ini(server.Base() + c.base);
            Updater u(folder, {"/langid=" + std::to_string(lang)}, [] { return true; });
            QtBoxAnswerer boxes({IDOK});
            u.Create();
            EXPECT_TRUE(u.StaysOpenOnce([&] { return !boxes.Boxes().empty(); })) << Describe(boxes);
            ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
            // The cause's line first, then the product page's.
            const std::string notes = u.form->Memo->LinesText();
            EXPECT_EQ(notes.find(lang ? c.english : c.french), 0u) << notes;
            EXPECT_NE(notes.find("\r\n"), std::string::npos);
            EXPECT_GT(notes.find("http://127.0.0.1:1/product"), notes.find("\r\n")) << notes;
            if (c.shot)
                Grab(*u.form, std::string(c.shot) + (lang ? "-en.png" : "-fr.png"));
        }
    }
}

TEST_F(Reasons, AFailedCheckNamesItsCause)
{
    // A certificate that no one trusts here: the https server of the tests' own CA, without
    // that CA in "CAFile".
    const fs::path certs = folder.root / "certs";
    testsupport::ChildProcess make({"bash", (SourceDir() / "tests/http/make_tls_certs.sh").string(), certs.string()});
    ASSERT_EQ(make.Wait(60000), 0) << make.Stderr();
    struct Case {
        const char* name;
        std::vector<std::string> server;
        const char* english;
        const char* shot = nullptr;
    };
    const Case cases[] = {
        {"an untrusted certificate",
         Signed(publisher, {"--tls-cert", (certs / "good.pem").string(), "--tls-key", (certs / "good.key").string()}),
         "Cause: the update server's certificate is not trusted.", "reason-certificate"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateServer server(c.server);
        Ini(server.Base());
        Updater u(folder, {"/langid=1"}, [] { return true; });
        QtBoxAnswerer boxes({IDOK});
        u.Create();
        EXPECT_TRUE(u.StaysOpenOnce([&] { return !boxes.Boxes().empty(); })) << Describe(boxes);
        const std::string notes = u.form->Memo->LinesText();
        EXPECT_NE(notes.find(std::string(c.english) + "\r\n"), std::string::npos) << notes;
        if (c.shot)
            Grab(*u.form, std::string(c.shot) + "-en.png");
    }
}

TEST_F(Reasons, AnInstallerThatCannotBeExecutedIsSaidSoAndTheUpdaterEndsWithoutThePause)
{
    // A tarball served as the installer: saved, but the system refuses to run it.
    const fs::path bundle = folder.root / "bundle.tar.gz";
    std::ofstream(bundle, std::ios::binary) << std::string("\x1f\x8b\x08\x00\x00\x00\x00\x00", 8);
    UpdateServer server(Signed(publisher, {"--installer", bundle.string()}));
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
    ASSERT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[2].Text,
              "Le programme d'installation téléchargé n'a pas pu être lancé :\nExec format error\n"
              "Fermeture du programme de mises à jour.");
    // Nothing ran, so there is nothing to wait for: no pause before the end.
    EXPECT_TRUE(u.sys.sleeps.empty());
    EXPECT_EQ(u.form->ExitStatus(), ExitStatus::Success); // an interactive run keeps its status
    EXPECT_TRUE(fs::exists(folder.UpdateFolder("My App") / "setup.exe"));
}
