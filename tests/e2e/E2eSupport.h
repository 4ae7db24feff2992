#pragma once
// The pieces of an end-to-end run with the real window on the offscreen platform: an
// install folder with "update.ini" and the shipped language files, a home folder for the
// documents, the local update server (demo/server.py) and the window itself.

#include "platform/posix/OpenSslTls.h"
#include "platform/posix/OpenSslCrypto.h"
#include "platform/posix/PosixProxyResolver.h"
#include "platform/posix/PosixSystem.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtUiBackend.h"
#include "tests/support/ChildProcess.h"
#include "update/UpdateFrm.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QtBoxAnswerer;

namespace e2e {

std::filesystem::path SourceDir();

// The real system, with the executable's folder moved to the test's install folder and
// the 4000 ms pause recorded; it is taken only where `realSleeps` asks for it, so the
// runs that reach the installer do not each wait four seconds.
class TestSystem : public platform::PosixSystem {
public:
    std::string exeDir;
    std::vector<int> sleeps;
    bool realSleeps = false;
    // Added to the clock, to run the updater at another moment (an offer's expiry).
    double clockShiftDays = 0;
    TDateTime Now() override { return PosixSystem::Now() + clockShiftDays; }
    // Replaces the file system's free-space answer when set (a disk too small).
    std::optional<std::int64_t> freeSpace;
    std::string ExeDir() override { return exeDir; }
    std::optional<std::int64_t> FreeSpace(const std::string& folder) override
    {
        return freeSpace ? freeSpace : PosixSystem::FreeSpace(folder);
    }
    void Sleep(int ms) override
    {
        sleeps.push_back(ms);
        if (realSleeps)
            PosixSystem::Sleep(ms);
    }
};

// A temporary folder with app/ (update.ini, Languages/) and home/ (HOME for the run).
class InstallFolder {
public:
    InstallFolder();
    ~InstallFolder();
    std::filesystem::path root, app, home;
    void WriteIni(const std::string& text);
    // "<home>/<appName>/Update/"
    std::filesystem::path UpdateFolder(const std::string& appName) const;
};

// demo/server.py on 127.0.0.1, port 0; https when the arguments give --tls-cert.
class UpdateServer {
public:
    explicit UpdateServer(std::vector<std::string> args = {});
    ~UpdateServer();
    int port = 0;
    std::string scheme = "http";
    std::string Base() const { return scheme + "://127.0.0.1:" + std::to_string(port) + "/update/"; }
    // The request lines (with their Cookie headers) logged so far.
    std::vector<std::string> Requests() const;

private:
    int pid_ = -1;
    std::string log_;
};

std::string Slurp(const std::filesystem::path& p);

// The publisher's signing tool of this build (signoffer).
std::string SignOfferTool();

// A publisher's key pair: the private half in a file for the signing tool, the public
// half as "update.ini" names it (base64 DER).
struct Publisher {
    Publisher(const std::filesystem::path& dir, const std::string& name);
    platform::P256KeyPair pair;
    std::filesystem::path pem;
    std::string PublicKey() const;
};

// Offers signed by the publisher's tool: an install folder whose installer records how it
// was started, the publisher's key and a stranger's, and the update server's arguments for
// an installer of `installerSize` bytes sent at full speed.
struct SignedOfferTest : ::testing::Test {
    explicit SignedOfferTest(std::size_t installerSize);
    void SetUp() override;
    // "update.ini" for the application "My App" checking at `server`, trusting `keys`
    // (none when empty), with the lines of `extra` added.
    void Ini(const std::string& server, const std::string& keys, const std::string& extra = "");
    std::filesystem::path Update() const { return folder.UpdateFolder("My App"); }
    // The update server's arguments for an offer signed with `signer`'s key, plus `extra`.
    std::vector<std::string> Signed(const Publisher& signer, std::vector<std::string> extra = {}) const;

    std::size_t installerSize;
    InstallFolder folder;
    std::filesystem::path record = folder.root / "installer-record.txt";
    Publisher publisher{folder.root, "publisher"};
    Publisher stranger{folder.root, "stranger"};
};

using testsupport::kHangMs;

// The updater as the entry point builds it, on the real toolkit.
struct Updater {
    Updater(InstallFolder& folder, std::vector<std::string> params, std::function<bool()> connection = {});
    ~Updater();
    // Creates the window (attaching the Qt peers first) as the entry point does, then sets
    // its timer to `tickMs`.
    void Create();
    // Runs the message loop until the run ends the program or `timeoutMs` passes; false
    // on the timeout.
    bool RunUntilTerminated(int timeoutMs = kHangMs);
    // Runs the message loop until `done` holds (looked at every 10 ms), the run ends the
    // program, or `timeoutMs` passes; false on the timeout.
    bool RunUntil(const std::function<bool()>& done, int timeoutMs = kHangMs);
    // Runs the message loop until `settled` holds and then `graceMs` more; true when the
    // program was still running then (the window stays open), false when the run ended it
    // or `settled` did not hold within `timeoutMs`.
    bool StaysOpenOnce(const std::function<bool()>& settled, int timeoutMs = kHangMs, int graceMs = 500);

    // The window's timer ticks every `tickMs` in these runs instead of every second, so a
    // run starts without the product's wait; 0 keeps the product's interval, for the cases
    // about that wait.
    int tickMs = 50;
    TestSystem sys;
    platform::OpenSslTls tls;
    platform::OpenSslCrypto crypto;
    // The environment's proxy, as the entry point gives it (CTest runs the tests without
    // any proxy variable; the proxy tests set their own).
    platform::PosixProxyResolver proxy;
    std::unique_ptr<platform::QtApplication> app;
    std::unique_ptr<platform::QtUiBackend> ui;
    std::unique_ptr<UpdaterEnvironment> env;
    std::unique_ptr<TUpdateFrm> form;
};

QWidget* WidgetOf(const TComponent* c);

// A text as a message box shows it: each line break ("\r\n" or a lone "\r") as "\n".
std::string AsShown(std::string text);
// The boxes answered so far, one "[caption] text" line each, for failure messages.
std::string Describe(const QtBoxAnswerer& boxes);

} // namespace e2e
