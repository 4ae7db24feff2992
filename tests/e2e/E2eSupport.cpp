#include "E2eSupport.h"

#include "platform/qt/QtControlPeer.h"
#include "platform/runtime/Base64.h"
#include "tests/support/QtBoxAnswerer.h"
#include "tests/support/QtTestApplication.h"

#include <QElapsedTimer>
#include <QTimer>

#include <gtest/gtest.h>

#include <csignal>
#include <fcntl.h>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

namespace fs = std::filesystem;

namespace e2e {

fs::path SourceDir()
{
    const char* s = std::getenv("UPDATER_SOURCE_DIR");
    return s ? fs::path(s) : fs::path(UPDATER_SOURCE_DIR_FALLBACK);
}

std::string Slurp(const fs::path& p)
{
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

std::string SignOfferTool()
{
    const char* bin = std::getenv("UPDATER_BIN_DIR");
    return std::string(bin ? bin : "bin") + "/signoffer";
}

Publisher::Publisher(const fs::path& dir, const std::string& name)
    : pair(platform::GenerateP256Key()), pem(dir / (name + ".pem"))
{
    std::ofstream(pem, std::ios::binary) << pair.PrivateKeyPem;
}

std::string Publisher::PublicKey() const { return Base64Encode(pair.PublicKeyDer); }

SignedOfferTest::SignedOfferTest(std::size_t size) : installerSize(size) {}

void SignedOfferTest::SetUp()
{
    setenv("UPDATER_DEMO_RECORD", record.c_str(), 1);
    setenv("UPDATER_DEMO_INSTALL_SECONDS", "0.1", 1);
}

void SignedOfferTest::Ini(const std::string& server, const std::string& keys, const std::string& extra)
{
    folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server +
                    "\nHomePage=http://127.0.0.1:1/product\n" + (keys.empty() ? "" : "PublicKey=" + keys + "\n") +
                    extra);
}

std::vector<std::string> SignedOfferTest::Signed(const Publisher& signer, std::vector<std::string> extra) const
{
    std::vector<std::string> args{
        "--size",           std::to_string(installerSize), "--rate", "0", "--signoffer", SignOfferTool(), "--key",
        signer.pem.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return args;
}

InstallFolder::InstallFolder()
{
    char tmpl[] = "/tmp/updater-e2e-XXXXXX";
    root = mkdtemp(tmpl);
    app = root / "app";
    home = root / "home";
    fs::create_directories(app / "Languages");
    fs::create_directories(home);
    for (const char* f : {"french.lng", "english.lng"})
        fs::copy_file(SourceDir() / "languages" / f, app / "Languages" / f);
    // The run's documents folder is the home folder.
    setenv("HOME", home.c_str(), 1);
    setenv("XDG_CONFIG_HOME", (home / ".config").c_str(), 1);
}

InstallFolder::~InstallFolder()
{
    std::error_code ec;
    fs::remove_all(root, ec);
}

void InstallFolder::WriteIni(const std::string& text) { std::ofstream(app / "update.ini") << text; }

fs::path InstallFolder::UpdateFolder(const std::string& appName) const { return home / appName / "Update"; }

UpdateServer::UpdateServer(std::vector<std::string> args)
{
    char tmpl[] = "/tmp/updater-server-XXXXXX";
    int fd = mkstemp(tmpl);
    close(fd);
    log_ = tmpl;
    const std::string script = (SourceDir() / "demo" / "server.py").string();
    std::vector<std::string> argv{"python3", "-u", script, "--port", "0"};
    for (const auto& a : args)
        if (a == "--tls-cert")
            scheme = "https";
    argv.insert(argv.end(), args.begin(), args.end());
    pid_ = fork();
    if (pid_ == 0) {
        int out = open(log_.c_str(), O_WRONLY | O_TRUNC);
        dup2(out, 1);
        dup2(out, 2);
        std::vector<char*> a;
        for (auto& s : argv)
            a.push_back(const_cast<char*>(s.c_str()));
        a.push_back(nullptr);
        execvp("python3", a.data());
        _exit(127);
    }
    // The server prints its port once it listens; a loaded machine may take seconds to start
    // python, so the wait ends on that line or on the server's end, not after a set time.
    bool ended = false;
    while (port == 0 && !ended) {
        std::istringstream lines(Slurp(log_));
        std::string word;
        if (lines >> word && word == "PORT") {
            lines >> port;
        } else if (waitpid(pid_, nullptr, WNOHANG) == pid_) {
            ended = true;
            pid_ = -1;
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
    }
    if (port == 0)
        ADD_FAILURE() << "update server did not start: " << Slurp(log_);
}

UpdateServer::~UpdateServer()
{
    if (pid_ > 0) {
        kill(pid_, SIGTERM);
        waitpid(pid_, nullptr, 0);
    }
    unlink(log_.c_str());
}

std::vector<std::string> UpdateServer::Requests() const
{
    std::vector<std::string> r;
    std::istringstream lines(Slurp(log_));
    std::string line;
    while (std::getline(lines, line))
        if (line.rfind("REQUEST ", 0) == 0)
            r.push_back(line.substr(8));
    return r;
}

Updater::Updater(InstallFolder& folder, std::vector<std::string> params, std::function<bool()> connection)
{
    QtTestApplication();
    sys.exeDir = folder.app.string() + "/";
    app = std::make_unique<platform::QtApplication>(QtTestApplication());
    ui = std::make_unique<platform::QtUiBackend>(*app);
    params.insert(params.begin(), (folder.app / "update").string());
    env = std::make_unique<UpdaterEnvironment>(
        UpdaterEnvironment{*app, sys, params, "http://127.0.0.1:9/update/", "http://127.0.0.1:9", connection});
    env->Tls = &tls;
    env->Crypto = &crypto;
    env->Proxy = &proxy;
}

Updater::~Updater() { form.reset(); }

void Updater::Create()
{
    form = std::make_unique<TUpdateFrm>(*env);
    ui->AttachPeers(*form);
    app->Guard([&] { form->DoCreate(); });
    if (tickMs > 0)
        form->Timer1->SetInterval(tickMs);
}

bool Updater::RunUntilTerminated(int timeoutMs)
{
    bool timedOut = false;
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        timedOut = true;
        app->Terminate();
    });
    watchdog.start(timeoutMs);
    app->Run();
    return !timedOut;
}

bool Updater::RunUntil(const std::function<bool()>& done, int timeoutMs)
{
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (done())
            app->Terminate();
    });
    poll.start(10);
    const bool inTime = RunUntilTerminated(timeoutMs);
    return inTime;
}

bool Updater::StaysOpenOnce(const std::function<bool()>& settled, int timeoutMs, int graceMs)
{
    QElapsedTimer clock;
    clock.start();
    qint64 settledAt = -1;
    bool stoppedHere = false;
    RunUntil(
        [&] {
            if (settledAt < 0 && settled())
                settledAt = clock.elapsed();
            stoppedHere = settledAt >= 0 && clock.elapsed() - settledAt >= graceMs;
            return stoppedHere;
        },
        timeoutMs);
    return stoppedHere;
}

std::string AsShown(std::string text)
{
    std::string r;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r') {
            r += '\n';
            if (i + 1 < text.size() && text[i + 1] == '\n')
                ++i;
        } else {
            r += text[i];
        }
    }
    return r;
}

std::string Describe(const QtBoxAnswerer& boxes)
{
    std::string r;
    for (const auto& b : boxes.Boxes())
        r += "\n  [" + b.Caption + "] " + b.Text;
    return r;
}

QWidget* WidgetOf(const TComponent* c) { return platform::QtControlPeer::WidgetOf(c); }

} // namespace e2e
