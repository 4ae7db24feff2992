// The update run over https with the real window on the offscreen platform: demo/server.py
// in TLS mode with a certificate from a throw-away CA made for the run, trusted through
// "CAFile" in "update.ini"; and the failures that must save and start nothing.

#include "E2eSupport.h"

#include "localization/MessageCatalogue.h"
#include "platform/ui/Application.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/QtBoxAnswerer.h"

#include <gtest/gtest.h>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;

namespace {

struct HttpsRun : ::testing::Test {
    InstallFolder folder;
    fs::path record = folder.root / "installer-record.txt";
    fs::path certs = folder.root / "certs";

    void SetUp() override
    {
        setenv("UPDATER_DEMO_RECORD", record.c_str(), 1);
        setenv("UPDATER_DEMO_INSTALL_SECONDS", "0.3", 1);
        testsupport::ChildProcess make(
            {"bash", (SourceDir() / "tests/http/make_tls_certs.sh").string(), certs.string()});
        ASSERT_EQ(make.Wait(testsupport::kHangMs), 0) << make.Stderr();
        // The private CA beside the updater, named relatively as a publisher would ship it.
        fs::copy_file(certs / "ca.pem", folder.app / "company-ca.pem");
    }
    std::vector<std::string> Tls(const std::string& cert) const
    {
        return {"--tls-cert", (certs / (cert + ".pem")).string(), "--tls-key", (certs / (cert + ".key")).string()};
    }
    void Ini(const std::string& server, const std::string& caFile)
    {
        folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server +
                        "\nHomePage=https://127.0.0.1:1/product\n" + (caFile.empty() ? "" : "CAFile=" + caFile + "\n"));
    }
    fs::path Update() const { return folder.UpdateFolder("My App"); }
};

} // namespace

TEST_F(HttpsRun, TheCheckAndTheInstallerComeOverTlsWithAPrivateCA)
{
    auto args = Tls("good");
    args.insert(args.end(), {"--size", "300000", "--rate", "0"});
    UpdateServer server(args);
    ASSERT_EQ(server.Base().rfind("https://", 0), 0u);
    Ini(server.Base(), "company-ca.pem");
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDOK});
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Text, "Veuillez fermer toutes les instances de My App avant de continuer...");
    EXPECT_EQ(fs::file_size(Update() / "setup.exe"), 300000u);
    const std::string ran = Slurp(record);
    EXPECT_NE(ran.find("arguments: /update\n"), std::string::npos) << ran;
    // Both requests went over TLS (the server logs only what it decrypted), the cookie too.
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("GET /update/setup.exe"), std::string::npos);
    EXPECT_NE(requests[1].find("Cookie: session=demo42"), std::string::npos) << requests[1];
}

TEST_F(HttpsRun, AnUntrustedOrWrongCertificateStopsTheCheck)
{
    struct Case {
        const char* name;
        const char* cert;
        const char* caFile;
    } cases[] = {
        {.name = "no CAFile: the private CA is not trusted", .cert = "good", .caFile = ""},
        {.name = "expired", .cert = "expired", .caFile = "company-ca.pem"},
        {.name = "issued for another host", .cert = "wrongname", .caFile = "company-ca.pem"},
    };
    for (const auto& c : cases) {
        UpdateServer server(Tls(c.cert));
        Ini(server.Base(), c.caFile);
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDOK});
        u.Create();
        EXPECT_TRUE(u.StaysOpenOnce([&] { return !boxes.Boxes().empty(); }))
            << c.name << ": the window stays open after a failed check";
        ASSERT_EQ(boxes.Boxes().size(), 1u) << c.name << Describe(boxes);
        EXPECT_EQ(boxes.Boxes()[0].Type, MB_ICONINFORMATION) << c.name;
        // The handshake failed before any request was sent.
        EXPECT_TRUE(server.Requests().empty()) << c.name;
        EXPECT_FALSE(fs::exists(Update() / "webinfo.ini")) << c.name;
        EXPECT_FALSE(fs::exists(Update() / "setup.exe")) << c.name;
    }
    EXPECT_FALSE(fs::exists(record));
}

TEST_F(HttpsRun, AnInstallerCutShortWithoutCloseNotifyIsNeverSavedOrStarted)
{
    auto args = Tls("good");
    args.insert(args.end(), {"--size", "500000", "--rate", "0", "--cut", "200000"});
    UpdateServer server(args);
    Ini(server.Base(), "company-ca.pem");
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes); // the box says the updater closes
    ASSERT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Caption, "Error");
    EXPECT_EQ(boxes.Boxes()[1].Text, "The TLS stream ended without a close-notify before the body was complete.");
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    EXPECT_FALSE(fs::exists(record));
}
