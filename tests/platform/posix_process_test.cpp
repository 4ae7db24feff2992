#include "platform/posix/PosixSystem.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace fs = std::filesystem;
using platform::Process;

namespace {

struct TempDir {
    fs::path path;
    TempDir()
    {
        char tmpl[] = "/tmp/updater-proc-XXXXXX";
        path = mkdtemp(tmpl);
    }
    ~TempDir() { fs::remove_all(path); }
};

std::string Slurp(const fs::path& p)
{
    std::ifstream f(p);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteText(const fs::path& p, const std::string& text) { std::ofstream(p) << text; }

} // namespace

TEST(PosixProcess, StartsADownloadedScriptWithItsArgumentAndWaitsForIt)
{
    TempDir dir;
    const fs::path script = dir.path / "setup.exe";
    const fs::path out = dir.path / "args.txt";
    // Saved like a download: no execute permission.
    WriteText(script, "#!/bin/sh\nsleep 0.3\nprintf '%s|' \"$@\" > '" + out.string() + "'\n");
    fs::permissions(script, fs::perms::owner_read | fs::perms::owner_write);

    platform::PosixSystem sys;
    auto p = sys.StartProcess(script.string(), {"/update"});
    ASSERT_NE(p, nullptr) << sys.ErrorText(sys.LastError());
    EXPECT_EQ(p->Wait(50), Process::WaitResult::Timeout);
    Process::WaitResult r;
    int steps = 0;
    while ((r = p->Wait(50)) == Process::WaitResult::Timeout)
        ++steps;
    EXPECT_EQ(r, Process::WaitResult::Ended);
    EXPECT_GT(steps, 0);
    EXPECT_EQ(p->Wait(50), Process::WaitResult::Ended); // stays ended
    EXPECT_EQ(Slurp(out), "/update|");
    EXPECT_TRUE((fs::status(script).permissions() & fs::perms::owner_exec) != fs::perms::none);
}

TEST(PosixProcess, AFailedStartReportsTheSystemsReason)
{
    TempDir dir;
    platform::PosixSystem sys;
    EXPECT_EQ(sys.StartProcess((dir.path / "missing.exe").string(), {"/update"}), nullptr);
    EXPECT_EQ(sys.ErrorText(sys.LastError()), "No such file or directory");

    // A file that is no program at all (a truncated or foreign download).
    const fs::path junk = dir.path / "setup.exe";
    WriteText(junk, std::string("\x7f"
                                "ELF\x01garbage",
                                12));
    EXPECT_EQ(sys.StartProcess(junk.string(), {"/update"}), nullptr);
    EXPECT_NE(sys.LastError(), 0);
    EXPECT_FALSE(sys.ErrorText(sys.LastError()).empty());
}
