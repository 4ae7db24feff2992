// The updater as a process: copied into an install folder beside its "update.ini" and
// "Languages/", started on the offscreen platform, and waited for. Hidden runs need no
// answers, so they show that the program really ends, with status 0.

#include "E2eSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <signal.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;
using namespace e2e;

namespace {

// Runs the copied updater with `args`; the exit status, or -1 when it had to be killed
// after `seconds`.
int RunUpdater(const InstallFolder& folder, std::vector<std::string> args, int seconds,
               const std::vector<std::pair<std::string, std::string>>& environment = {})
{
    const char* bin = std::getenv("UPDATER_BIN_DIR");
    const fs::path exe = folder.app / "update";
    fs::copy_file(fs::path(bin ? bin : "bin") / "update", exe, fs::copy_options::overwrite_existing);
    pid_t pid = fork();
    if (pid == 0) {
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
        setenv("HOME", folder.home.c_str(), 1);
        for (const auto& [name, value] : environment)
            setenv(name.c_str(), value.c_str(), 1);
        if (chdir(folder.app.c_str()) != 0)
            _exit(126);
        std::vector<char*> argv{const_cast<char*>(exe.c_str())};
        for (auto& a : args)
            argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(exe.c_str(), argv.data());
        _exit(127);
    }
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    int status = 0;
    while (waitpid(pid, &status, WNOHANG) == 0) {
        if (std::chrono::steady_clock::now() > deadline) {
            kill(pid, SIGKILL);
            waitpid(pid, &status, 0);
            return -1;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
}

} // namespace

TEST(UpdaterProcess, HiddenRunThatFindsNoServerEndsWithStatusZero)
{
    InstallFolder folder;
    folder.WriteIni("[Current]\nAppName=Proc App\nUpdateServer=http://127.0.0.1:9/update/\n");
    EXPECT_EQ(RunUpdater(folder, {"/hidden"}, 20), 0);
    EXPECT_TRUE(fs::is_directory(folder.UpdateFolder("Proc App")));
}

TEST(UpdaterProcess, HiddenRunThatIsUpToDateEndsWithStatusZero)
{
    UpdateServer server({"--build", "2012"});
    InstallFolder folder;
    folder.WriteIni("[Current]\nAppName=Proc App\nbuildId=2012\nUpdateServer=" + server.Base() + "\n");
    // An invalid language switch is ignored: the hidden run still goes on and ends.
    EXPECT_EQ(RunUpdater(folder, {"/hidden", "/langid="}, 20), 0);
    EXPECT_TRUE(fs::exists(folder.UpdateFolder("Proc App") / "webinfo.ini"));
    EXPECT_EQ(server.Requests().size(), 1u);
}

TEST(UpdaterProcess, BuildNumbersWithAFractionAreReadUnderTheUsersCommaLocale)
{
    // A French locale made for the test, so the toolkit really switches the process to ","
    // as the decimal separator.
    InstallFolder folder;
    const fs::path locales = folder.root / "locales";
    fs::create_directories(locales);
    const std::string make = "localedef -i fr_FR -f UTF-8 '" + (locales / "fr_FR.UTF-8").string() + "' 2>/dev/null";
    ASSERT_EQ(std::system(make.c_str()), 0) << "localedef could not make fr_FR.UTF-8 (package locales)";
    const std::vector<std::pair<std::string, std::string>> french = {
        {"LOCPATH", locales.string()}, {"LC_ALL", "fr_FR.UTF-8"}, {"LANG", "fr_FR.UTF-8"}};

    struct Case {
        const char* installed;
        const char* offered;
        bool offer; // a newer build: the hidden run shows the offer and waits for its user
    } cases[] = {
        {"2013,5", "2013,7", true},
        {"2013,7", "2013,5", false},
        {"2013,5", "2013,5", false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.installed) + " against " + c.offered);
        UpdateServer server({"--build", c.offered});
        folder.WriteIni(std::string("[Current]\nAppName=Proc App\nbuildId=") + c.installed +
                        "\nUpdateServer=" + server.Base() + "\n");
        const int status = RunUpdater(folder, {"/hidden"}, c.offer ? 6 : 20, french);
        EXPECT_EQ(status, c.offer ? -1 : 0) << (c.offer ? "the offer was never shown" : "the run did not end");
        EXPECT_EQ(server.Requests().size(), 1u);
    }
}
