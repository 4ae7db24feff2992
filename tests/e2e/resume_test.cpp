// The installer download straight to disk, with the real window on the offscreen platform
// and the local update server: an interrupted download continued by the next run, a
// changed file or a server without ranges starting over, a cancel that keeps the part
// file, and a disk too small for the installer.

#include "E2eSupport.h"

#include "platform/runtime/Format.h"
#include "platform/ui/Application.h"
#include "tests/support/QtBoxAnswerer.h"

#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;

namespace {

constexpr std::size_t kSize = 1000000;

// The installer as demo/server.py builds it: the script, then padding to the size.
std::string ServedInstaller(std::size_t size)
{
    const std::string script = Slurp(SourceDir() / "demo" / "installer.sh");
    return script + "\n#" + std::string(size > script.size() + 3 ? size - script.size() - 3 : 0, '-') + "\n";
}

std::vector<std::string> InstallerRequests(const UpdateServer& server)
{
    std::vector<std::string> r;
    for (const auto& line : server.Requests())
        if (line.find("GET /update/setup.exe") != std::string::npos)
            r.push_back(line);
    return r;
}

struct Resume : ::testing::Test {
    InstallFolder folder;
    fs::path record = folder.root / "installer-record.txt";
    void SetUp() override
    {
        setenv("UPDATER_DEMO_RECORD", record.c_str(), 1);
        setenv("UPDATER_DEMO_INSTALL_SECONDS", "0.1", 1);
    }
    void Ini(const std::string& server)
    {
        folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server +
                        "\nHomePage=http://127.0.0.1:1/product\n");
    }
    fs::path Update() const { return folder.UpdateFolder("My App"); }
    fs::path Part() const { return Update() / "setup.exe.part"; }

    // A hidden run whose installer download the server cuts: the window shown for the
    // offer, the failure boxes, the end. The part file is left.
    std::uintmax_t InterruptedRun()
    {
        Updater u(folder, {"/hidden"}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK, IDOK});
        u.Create();
        EXPECT_TRUE(u.RunUntilTerminated());
        EXPECT_EQ(boxes.Boxes().size(), 3u) << Describe(boxes);
        EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
        EXPECT_TRUE(fs::exists(Part()));
        EXPECT_TRUE(fs::exists(Update() / "setup.exe.resume"));
        return fs::exists(Part()) ? fs::file_size(Part()) : 0;
    }
    // A run that downloads the rest and starts the installer.
    void FinishingRun()
    {
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK});
        u.Create();
        ASSERT_TRUE(u.RunUntilTerminated());
        ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
        EXPECT_EQ(u.form->UpdateState(), UpdateState::InstallerFinished);
        // The bar shows the whole file, the kept bytes included.
        EXPECT_EQ(u.form->ProgressBar->Max(), static_cast<int>(kSize));
        EXPECT_EQ(u.form->ProgressBar->Position(), static_cast<int>(kSize) + 40);
    }
    void ExpectInstalledWhole()
    {
        EXPECT_TRUE(Slurp(Update() / "setup.exe") == ServedInstaller(kSize));
        EXPECT_FALSE(fs::exists(Part()));
        EXPECT_FALSE(fs::exists(Update() / "setup.exe.resume"));
        EXPECT_NE(Slurp(record).find("arguments: /update\n"), std::string::npos);
    }
};

} // namespace

TEST_F(Resume, AnInstallerCutAt60PercentIsContinuedByTheNextRun)
{
    UpdateServer server(
        {"--size", std::to_string(kSize), "--rate", "0", "--cut-first", std::to_string(kSize * 6 / 10)});
    Ini(server.Base());
    const auto kept = InterruptedRun();
    EXPECT_GT(kept, kSize / 2);
    EXPECT_LE(kept, kSize * 6 / 10);
    FinishingRun();
    ExpectInstalledWhole();
    const auto requests = InstallerRequests(server);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[0].find("| Range: - |"), std::string::npos) << requests[0];
    EXPECT_NE(requests[1].find("| Range: bytes=" + std::to_string(kept) + "- | If-Range: \"v1\""), std::string::npos)
        << requests[1];
}

TEST_F(Resume, AChangedFileOrAServerWithoutRangesStartsFromZero)
{
    struct Case {
        const char* name;
        std::vector<std::string> serverArgs;
    } cases[] = {
        {.name = "changed ETag", .serverArgs = {"--etag-after-first", "\"v2\""}},
        {.name = "no ranges", .serverArgs = {"--no-ranges"}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<std::string> args{"--size", std::to_string(kSize), "--rate",
                                      "0",      "--cut-first",         std::to_string(kSize * 6 / 10)};
        args.insert(args.end(), c.serverArgs.begin(), c.serverArgs.end());
        UpdateServer server(args);
        Ini(server.Base());
        const auto kept = InterruptedRun();
        ASSERT_GT(kept, 0u);
        FinishingRun();
        // Asked to continue, answered with the whole (other) file: written from zero.
        ExpectInstalledWhole();
        const auto requests = InstallerRequests(server);
        ASSERT_EQ(requests.size(), 2u);
        EXPECT_NE(requests[1].find("| Range: bytes=" + std::to_string(kept) + "-"), std::string::npos) << requests[1];
        fs::remove(Update() / "setup.exe");
    }
}

TEST_F(Resume, ACancelKeepsThePartFileAndLeavesNoInstaller)
{
    UpdateServer server({"--size", "3000000", "--rate", "300000"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDYES});
    u.Create();
    auto original = u.form->IdHTTP1->OnWork;
    bool posted = false;
    QWidget* window = WidgetOf(u.form.get());
    u.form->IdHTTP1->OnWork = [&](TComponent* s, TWorkMode m, std::int64_t n) {
        original(s, m, n);
        if (!posted && u.form->UpdateState() == UpdateState::Installing && m == wmRead && n > 0) {
            posted = true;
            QTimer::singleShot(0, window, [window] { window->close(); });
        }
    };
    ASSERT_TRUE(u.RunUntilTerminated());
    ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
    EXPECT_EQ(u.form->UpdateState(), UpdateState::Ending);
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
    ASSERT_TRUE(fs::exists(Part()));
    EXPECT_GT(fs::file_size(Part()), 0u);
    EXPECT_LT(fs::file_size(Part()), 3000000u);
    EXPECT_TRUE(ServedInstaller(3000000).rfind(Slurp(Part()), 0) == 0); // a true prefix
    EXPECT_TRUE(fs::exists(Update() / "setup.exe.resume"));
}

TEST_F(Resume, ADiskTooSmallGetsAClearBoxInEitherLanguage)
{
    struct Case {
        const char* name;
        std::vector<std::string> params;
        const char* opening; // the box's first line
    } cases[] = {
        {.name = "French",
         .params = {"/hidden"},
         .opening = "Espace disque insuffisant pour télécharger la mise à jour.\n"},
        {.name = "English",
         .params = {"/hidden", "/langid=1"},
         .opening = "Not enough disk space to download the update.\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        UpdateServer server({"--size", std::to_string(kSize), "--rate", "0"});
        Ini(server.Base());
        Updater u(folder, c.params, [] { return true; });
        u.sys.freeSpace = 300000;
        QtBoxAnswerer boxes({IDYES, IDOK});
        u.Create();
        ASSERT_TRUE(u.RunUntilTerminated());
        ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
        const auto& box = boxes.Boxes()[1];
        EXPECT_EQ(box.Text, AsShown(Format(u.form->Catalogue().Entry(CatalogueEntry::NoRoom),
                                           {"1", u.form->UpdateFolder(), "0"})));
        EXPECT_EQ(box.Text.rfind(c.opening, 0), 0u) << box.Text;
        EXPECT_EQ(box.Icon, MB_ICONERROR);
        EXPECT_EQ(u.form->Label1->Caption(), u.form->Catalogue().Entry(CatalogueEntry::UpdateFailed));
        // Nothing of the installer reached the disk.
        EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
        EXPECT_EQ(fs::exists(Part()) ? fs::file_size(Part()) : 0u, 0u);
    }
}
