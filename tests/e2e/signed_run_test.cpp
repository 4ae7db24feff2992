// Signed offers through the real window on the offscreen platform: the local update server
// signs its offer with the publisher's tool and then, case by case, changes what it serves.
// Whatever is changed, nothing is saved as "setup.exe" and nothing is started.

#include "E2eSupport.h"

#include "localization/MessageCatalogue.h"
#include "platform/ui/Application.h"
#include "tests/support/QtBoxAnswerer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;

namespace {

std::string Entry(CatalogueEntry e) { return TMessageCatalogue::Default(e); }

struct SignedRun : SignedOfferTest {
    SignedRun() : SignedOfferTest(200000) {}
};

} // namespace

TEST_F(SignedRun, AnAcceptedOfferInstallsAlsoWhenTheSecondKeySigned)
{
    for (const std::string& keys : {publisher.PublicKey(), stranger.PublicKey() + ", " + publisher.PublicKey()}) {
        SCOPED_TRACE(keys);
        fs::remove_all(Update());
        fs::remove(record);
        UpdateServer server(Signed(publisher));
        Ini(server.Base(), keys);
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK});
        u.Create();
        ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
        ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
        EXPECT_EQ(u.form->LastVerdict().Check, OfferCheck::Accepted);
        EXPECT_EQ(fs::file_size(Update() / "setup.exe"), 200000u);
        EXPECT_NE(Slurp(record).find("arguments: /update\n"), std::string::npos);
        EXPECT_EQ(u.form->UpdateState(), UpdateState::InstallerFinished);
    }
}

TEST_F(SignedRun, AnAnswerThatDoesNotVerifyIsRefusedAndNothingIsDownloaded)
{
    struct Case {
        const char* name;
        std::vector<std::string> server;   // beyond the offer signed by the publisher
        const Publisher* signer = nullptr; // default: the publisher
        std::string keys = {};             // default: the publisher's key
        double clockShiftDays = 0;
        OfferCheck why = OfferCheck::BadSignature;
    };
    const Case cases[] = {
        {.name = "AppName changed", .server = {"--tamper", "AppName=Other App"}},
        {.name = "buildId changed", .server = {"--tamper", "buildId=2999"}},
        {.name = "version changed", .server = {"--tamper", "version=9.9"}},
        {.name = "whatnews changed", .server = {"--tamper", "whatnews=Now with extras"}},
        {.name = "SetupPath changed", .server = {"--tamper", "SetupPath=http://127.0.0.1:1/evil.exe"}},
        {.name = "SetupSize changed", .server = {"--tamper", "SetupSize=200001"}},
        {.name = "SetupSha256 changed", .server = {"--tamper", "SetupSha256=" + std::string(64, 'a')}},
        {.name = "Expires changed", .server = {"--tamper", "Expires=2099-01-01T00:00:00Z"}},
        {.name = "signed by another key", .server = {}, .signer = &stranger},
        {.name = "no signature", .server = {"--tamper", "Signature="}, .why = OfferCheck::Unsigned},
        {.name = "a signature that is not base64",
         .server = {"--tamper", "Signature=%%%"},
         .why = OfferCheck::Unsigned},
        {.name = "a signature that is not DER", .server = {"--tamper", "Signature=AAAA"}},
        {.name = "a key that is not base64", .server = {}, .keys = "not a key!", .why = OfferCheck::NoUsableKey},
        {.name = "a key that is not a public key", .server = {}, .keys = "AAAA"},
        {.name = "signed for another application",
         .server = {"--app", "Other App"},
         .why = OfferCheck::WrongApplication},
        {.name = "expired", .server = {"--expires-days", "1"}, .clockShiftDays = 2, .why = OfferCheck::Expired},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Update());
        // A "setup.exe" of an earlier run must not be started either.
        UpdateServer server(Signed(c.signer ? *c.signer : publisher, c.server));
        Ini(server.Base(), c.keys.empty() ? publisher.PublicKey() : c.keys);
        Updater u(folder, {}, [] { return true; });
        u.sys.clockShiftDays = c.clockShiftDays;
        QtBoxAnswerer boxes({IDOK});
        u.Create();
        u.RunUntil([&] { return u.form->UpdateState() == UpdateState::Ending && !boxes.Boxes().empty(); });
        EXPECT_EQ(u.form->LastVerdict().Check, c.why);
        ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
        EXPECT_EQ(boxes.Boxes()[0].Text, AsShown(Entry(CatalogueEntry::AnswerUnverified)));
        EXPECT_EQ(boxes.Boxes()[0].Type, MB_ICONERROR);
        EXPECT_EQ(u.form->Label1->Caption(), Entry(CatalogueEntry::AnswerRefused));
        EXPECT_EQ(u.form->Memo->LinesText(),
                  Entry(*ReasonEntry(ReasonOfVerdict(c.why))) + "\r\n" +
                      AsShown(Entry(CatalogueEntry::ManualUpdate))
                          .replace(Entry(CatalogueEntry::ManualUpdate).find("%s"), 2, "http://127.0.0.1:1/product") +
                      "\r\n");
        EXPECT_EQ(server.Requests().size(), 1u) << "no installer may be asked for";
        EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
        EXPECT_FALSE(fs::exists(record));
        // The refused answer is kept as it came, for diagnosis.
        const std::string saved = Slurp(Update() / "webinfo.ini");
        EXPECT_NE(saved.find("Signature="), std::string::npos);
        for (std::size_t i = 0; i + 1 < c.server.size(); i += 2)
            if (c.server[i] == "--tamper") {
                EXPECT_NE(saved.find(c.server[i + 1] + "\r\n"), std::string::npos) << saved;
            }
    }
}

TEST_F(SignedRun, AnInstallerThatIsNotTheSignedOneIsNeitherSavedNorStarted)
{
    struct Case {
        const char* name;
        std::vector<std::string> server;
    };
    const Case cases[] = {
        {"one byte changed", {"--setup-flip"}},
        {"one byte short", {"--setup-short", "1"}},
        {"one byte long", {"--setup-extra", "1"}},
        {"never ending", {"--endless"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Update());
        fs::create_directories(Update());
        std::ofstream(Update() / "setup.exe") << "#!/bin/sh\necho stale installer >> " << record.string() << "\n";
        UpdateServer server(Signed(publisher, c.server));
        Ini(server.Base(), publisher.PublicKey());
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
        u.Create();
        u.RunUntil([&] { return boxes.Boxes().size() >= 3; });
        ASSERT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
        EXPECT_EQ(boxes.Boxes()[1].Caption, "Error");
        EXPECT_EQ(boxes.Boxes()[1].Text, AsShown(Entry(CatalogueEntry::InstallerMismatch)));
        EXPECT_EQ(boxes.Boxes()[1].Type, MB_ICONERROR);
        EXPECT_EQ(boxes.Boxes()[2].Text, AsShown(Entry(CatalogueEntry::DownloadFailed)));
        EXPECT_EQ(u.form->Label1->Caption(), Entry(CatalogueEntry::UpdateFailed));
        EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
        EXPECT_FALSE(fs::exists(record)) << Slurp(record);
        // The bound stops an endless body at the signed size: the bar never passed it.
        EXPECT_LE(u.form->ProgressBar->Position(), 200000 + 40 + 65536);
    }
}

// An interrupted signed download is continued; the hash covers the whole file, the bytes
// kept from the first run first, so a kept byte that changed on disk is caught.
TEST_F(SignedRun, AContinuedInstallerIsHashedWholeKeptBytesFirst)
{
    for (bool spoilKept : {false, true}) {
        SCOPED_TRACE(spoilKept ? "a kept byte changed" : "kept bytes intact");
        fs::remove_all(Update());
        fs::remove(record);
        UpdateServer server(Signed(publisher, {"--cut-first", "120000"}));
        Ini(server.Base(), publisher.PublicKey());
        {
            Updater u(folder, {"/hidden"}, [] { return true; });
            QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
            u.Create();
            ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
        }
        const fs::path part = Update() / "setup.exe.part";
        ASSERT_TRUE(fs::exists(part));
        const auto kept = fs::file_size(part);
        ASSERT_GT(kept, 100u);
        if (spoilKept) {
            std::fstream f(part, std::ios::in | std::ios::out | std::ios::binary);
            f.seekp(50);
            f.put('!');
        }
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
        u.Create();
        u.RunUntil(
            [&] { return u.form->UpdateState() == UpdateState::InstallerFinished || boxes.Boxes().size() >= 3; });
        std::size_t ranges = 0;
        for (const auto& r : server.Requests())
            ranges += r.find("| Range: bytes=" + std::to_string(kept) + "- |") != std::string::npos;
        EXPECT_EQ(ranges, 1u);
        if (spoilKept) {
            ASSERT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
            EXPECT_EQ(boxes.Boxes()[1].Text, AsShown(Entry(CatalogueEntry::InstallerMismatch)));
            EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
            EXPECT_FALSE(fs::exists(part)); // not worth continuing
            EXPECT_FALSE(fs::exists(record));
        } else {
            EXPECT_EQ(u.form->UpdateState(), UpdateState::InstallerFinished) << Describe(boxes);
            EXPECT_EQ(fs::file_size(Update() / "setup.exe"), 200000u);
            EXPECT_FALSE(fs::exists(part));
        }
    }
}
