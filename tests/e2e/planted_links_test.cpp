// Links planted in the update folder, with the real window on the offscreen platform, the
// real file system and the local update server: whatever another program put where the
// updater writes its files, the files those links name keep their bytes and are never made
// executable or started, and the update still completes with files of the updater's own.

#include "E2eSupport.h"

#include "platform/ui/Application.h"
#include "tests/support/QtBoxAnswerer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;

namespace {

constexpr std::size_t kSize = 200000;

struct Victim {
    fs::path path;
    std::string bytes;
};

// A file elsewhere that a link will name, readable and writable by its owner only.
Victim MakeVictim(const fs::path& dir, const std::string& name)
{
    Victim v{dir / name, "precious " + name + "\n"};
    std::ofstream(v.path, std::ios::binary) << v.bytes;
    fs::permissions(v.path, fs::perms::owner_read | fs::perms::owner_write);
    return v;
}

void ExpectUntouched(const Victim& v)
{
    EXPECT_EQ(Slurp(v.path), v.bytes) << v.path;
    EXPECT_EQ(fs::status(v.path).permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write)
        << v.path;
}

} // namespace

TEST(PlantedLinks, AreReplacedNeverWrittenThroughAndTheUpdateCompletes)
{
    // Each file the updater writes is planted as a link to a file of its own; with a resume
    // record that fits the offer, the part file is one the run would otherwise continue.
    struct Case {
        const char* name;
        bool fittingRecord;
    } cases[] = {
        {.name = "links only", .fittingRecord = false},
        {.name = "a part link with a record that continues it", .fittingRecord = true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        InstallFolder folder;
        const fs::path installRecord = folder.root / "installer-record.txt";
        setenv("UPDATER_DEMO_RECORD", installRecord.c_str(), 1);
        setenv("UPDATER_DEMO_INSTALL_SECONDS", "0.1", 1);
        UpdateServer server({"--size", std::to_string(kSize), "--rate", "0"});
        folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server.Base() + "\n");
        const fs::path update = folder.UpdateFolder("My App");
        const fs::path elsewhere = folder.root / "elsewhere";
        fs::create_directories(update);
        fs::create_directories(elsewhere);

        std::vector<std::string> planted{"setup.exe.part", "setup.exe", "webinfo.ini"};
        if (!c.fittingRecord)
            planted.push_back("setup.exe.resume");
        std::vector<Victim> victims;
        for (const auto& name : planted) {
            victims.push_back(MakeVictim(elsewhere, name));
            fs::create_symlink(victims.back().path, update / name);
        }
        if (c.fittingRecord)
            std::ofstream(update / "setup.exe.resume")
                << "Address=http://127.0.0.1:" << server.port
                << "/update/setup.exe\nETag=\"v1\"\nLastModified=\nSize=" << kSize << "\nOffer=build 2013\n";

        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK});
        u.Create();
        ASSERT_TRUE(u.RunUntilTerminated());
        EXPECT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);

        for (const auto& v : victims)
            ExpectUntouched(v);
        for (const char* name : {"setup.exe", "webinfo.ini"})
            EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(update / name))) << name;
        EXPECT_FALSE(fs::exists(fs::symlink_status(update / "setup.exe.part")));
        EXPECT_EQ(fs::file_size(update / "setup.exe"), kSize);
        // The installer that ran is the one downloaded, started once with /update.
        EXPECT_NE(Slurp(installRecord).find("arguments: /update\n"), std::string::npos);
        unsetenv("UPDATER_DEMO_RECORD");
        unsetenv("UPDATER_DEMO_INSTALL_SECONDS");
    }
}
