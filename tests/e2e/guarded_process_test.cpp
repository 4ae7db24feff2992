// The built updater as a process, where the machine around it works against the run: a
// server that trickles, a connect that never completes, a second run of the same
// application, links planted in the update folder. Each case starts build/bin/update
// (copied beside its "update.ini") on the offscreen platform and waits for it to end.

#include "E2eSupport.h"

#include "platform/ui/Application.h"
#include "tests/support/ChildProcess.h"
#include "tests/support/QtBoxAnswerer.h"
#include "tests/support/FullBacklogListener.h"
#include "tests/support/ScriptedServer.h"
#include "app/RunBudget.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <optional>

namespace fs = std::filesystem;
using namespace e2e;
using testsupport::ChildProcess;
using testsupport::FullBacklogListener;
using testsupport::ScriptedServer;

namespace {

using Clock = std::chrono::steady_clock;

// How a run is started: under an accelerated clock, with a shortened budget.
struct Start {
    bool fakeTime = false;                      // faketime -f "+0 x100"
    std::optional<int> budgetMs = std::nullopt; // the tests' shorter budget
    std::vector<std::string> args = {"/hidden"};
};

// The updater copied into the install folder, started as `start` says.
std::unique_ptr<ChildProcess> StartUpdater(const InstallFolder& folder, const Start& start)
{
    const char* bin = std::getenv("UPDATER_BIN_DIR");
    const fs::path exe = folder.app / "update";
    if (!fs::exists(exe)) // a run of the same folder may be using it
        fs::copy_file(fs::path(bin ? bin : "bin") / "update", exe);
    std::vector<std::string> argv;
    if (start.fakeTime) {
        // The toolkit's timers run on the monotonic clock: it must be accelerated too.
        setenv("FAKETIME_DONT_FAKE_MONOTONIC", "0", 1);
        argv = {"faketime", "-f", "+0 x100"};
    }
    argv.push_back(exe.string());
    argv.insert(argv.end(), start.args.begin(), start.args.end());
    if (start.budgetMs)
        setenv(kRunBudgetVariable, std::to_string(*start.budgetMs).c_str(), 1);
    else
        unsetenv(kRunBudgetVariable);
    auto child = std::make_unique<ChildProcess>(argv);
    unsetenv(kRunBudgetVariable);
    return child;
}

std::string IniFor(const std::string& server, int build = 2012)
{
    return "[Current]\nAppName=Guard App\nbuildId=" + std::to_string(build) + "\nUpdateServer=" + server + "\n";
}

// A check answer that would offer nothing, sent one byte every `delayMs`: complete only after
// minutes.
ScriptedServer::Script TricklingCheck(int delayMs)
{
    const std::string body = "[web]\nbuildId=2012\nversion=1.0\n";
    return ScriptedServer::Script().ExpectRequest().SendSlowly(
        "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body, 1, delayMs);
}

TEST(GuardedProcess, AnUnattendedRunEndsWithinItsBudgetWhateverItWaitsOn)
{
    enum class Wait { TricklingCheck, HangingConnect };
    struct Case {
        const char* name;
        Wait wait;
        Start start;
        int atLeastMs; // the run is not cut before its budget (less the 5 % early that Qt's coarse timers may fire)
        int withinMs;  // real time
    } cases[] = {
        {.name = "a trickling check, budget shortened to 2 s",
         .wait = Wait::TricklingCheck,
         .start = {.budgetMs = 2000},
         .atLeastMs = 1900,
         .withinMs = 20000},
        {.name = "a connect that never completes, budget shortened to 2 s",
         .wait = Wait::HangingConnect,
         .start = {.budgetMs = 2000},
         .atLeastMs = 1900,
         .withinMs = 20000},
        // 15 minutes at a hundred times the speed: 9 s of real time.
        {.name = "a trickling check, the real budget under a clock 100 times fast",
         .wait = Wait::TricklingCheck,
         .start = {.fakeTime = true},
         .atLeastMs = 8000,
         .withinMs = 40000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        ScriptedServer server({TricklingCheck(2000)});
        FullBacklogListener blackHole;
        const int port = c.wait == Wait::TricklingCheck ? server.Port() : blackHole.Port();
        InstallFolder folder;
        folder.WriteIni(IniFor("http://127.0.0.1:" + std::to_string(port) + "/update/"));

        const auto begin = Clock::now();
        auto run = StartUpdater(folder, c.start);
        const int status = run->Wait(c.withinMs);
        const auto took = std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - begin).count();

        EXPECT_EQ(status, 0) << "still running after " << c.withinMs << " ms" << run->Stderr();
        EXPECT_GE(took, c.atLeastMs);
        // The answer never came whole, so nothing of it was saved.
        EXPECT_FALSE(fs::exists(folder.UpdateFolder("Guard App") / "webinfo.ini"));
    }
}

// A hidden run that holds the application's lock: its check answer trickles for minutes.
struct HeldRun {
    ScriptedServer server{{TricklingCheck(2000)}, 16};
    InstallFolder folder;
    std::unique_ptr<ChildProcess> run;
    HeldRun()
    {
        folder.WriteIni(IniFor("http://127.0.0.1:" + std::to_string(server.Port()) + "/update/"));
        run = StartUpdater(folder, {});
        // The lock is taken before the check is asked for.
        EXPECT_TRUE(server.WaitAccepted(1, 20000)) << "the first run never asked";
    }
    fs::path Lock() const { return folder.UpdateFolder("Guard App") / "update.lock"; }
};

} // namespace

TEST(GuardedProcess, ASecondRunWhileTheFirstHoldsTheLockEndsAtOnceAndAsksNothing)
{
    HeldRun first;
    ASSERT_TRUE(fs::is_regular_file(first.Lock()));
    struct Case {
        const char* name;
        std::vector<std::string> args;
        int status;
    } cases[] = {
        {.name = "hidden: silently", .args = {"/hidden"}, .status = 0},
        {.name = "silent: status 25", .args = {"/silent"}, .status = 25},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        auto second = StartUpdater(first.folder, {.args = c.args});
        EXPECT_EQ(second->Wait(15000), c.status) << second->Stderr();
    }
    // Neither asked the server: the only connection is the first run's.
    EXPECT_EQ(first.server.Accepted(), 1);
    first.run->Kill();
}

TEST(GuardedProcess, AnInteractiveSecondRunSaysAnUpdateIsAlreadyInProgress)
{
    HeldRun first;
    for (int langId : {0, 1}) {
        SCOPED_TRACE(langId);
        Updater u(first.folder, {"/langid=" + std::to_string(langId)}, [] { return true; });
        QtBoxAnswerer boxes({platform::IDOK});
        u.Create();
        ASSERT_TRUE(u.RunUntilTerminated());
        ASSERT_EQ(boxes.Boxes().size(), 1u) << Describe(boxes);
        EXPECT_EQ(boxes.Boxes()[0].Text, langId == 0
                                             ? "Une mise \u00e0 jour de Guard App est d\u00e9j\u00e0 en cours.\n"
                                               "Attendez qu'elle se termine avant d'en lancer une autre."
                                             : "An update of Guard App is already in progress.\n"
                                               "Wait for it to end before starting another one.");
        EXPECT_EQ(boxes.Boxes()[0].Icon, platform::MB_ICONINFORMATION);
    }
    EXPECT_EQ(first.server.Accepted(), 1);
    first.run->Kill();
}

TEST(GuardedProcess, ARunAfterAKilledOneProceeds)
{
    // The lock goes with the process that held it, however it ended.
    HeldRun first;
    first.run->Kill();
    ScriptedServer server({ScriptedServer::Script()
                               .ExpectRequest()
                               .Send("HTTP/1.1 200 OK\r\nContent-Length: 19\r\n\r\n[web]\nbuildId=2012\n")
                               .WaitPeerClose()});
    first.folder.WriteIni(IniFor("http://127.0.0.1:" + std::to_string(server.Port()) + "/update/"));
    auto next = StartUpdater(first.folder, {});
    EXPECT_EQ(next->Wait(20000), 0) << next->Stderr();
    EXPECT_EQ(server.Requests().size(), 1u);
    EXPECT_TRUE(fs::exists(first.folder.UpdateFolder("Guard App") / "webinfo.ini"));
}
