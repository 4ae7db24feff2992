// The updater's own installer download, for the benchmark: the real update window and run
// on the offscreen platform, as the entry point builds them, against the bench server. Its
// boxes are answered at once (Yes to the offer, OK to the rest), the 4000 ms pause is
// skipped, nothing is started, and the installer download's time is printed: from its
// first byte span to the hand-off, so the rename counts too.
//
//   update_run BASE WORKDIR
//
// BASE is the update server's base address (ending in "update/"); WORKDIR receives app/
// (with "update.ini") and home/ (the documents folder). Prints
// "DOWNLOAD <seconds> <path of setup.exe>", then "RECEIVED <seconds>" (the same without the
// rename), then "WAITED <seconds> <voluntary> <involuntary>": the time from
// the installer's first byte span to its first byte and the context switches meanwhile (a
// server that holds the body back, /stall/MS/N, makes that a wait), and exits 0 when the
// installer was saved.

#include "platform/posix/PosixSystem.h"
#include "platform/qt/QtApplication.h"
#include "platform/qt/QtUiBackend.h"
#include "update/UpdateFrm.h"

#include <QAbstractButton>
#include <QApplication>
#include <QMessageBox>
#include <QTimer>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

namespace fs = std::filesystem;

namespace {

using Clock = std::chrono::steady_clock;

// The context switches of this process so far: voluntary (it slept) and not.
std::pair<long, long> ContextSwitches()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    long voluntary = 0, involuntary = 0;
    while (std::getline(status, line)) {
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            voluntary = std::atol(line.c_str() + std::strlen("voluntary_ctxt_switches:"));
        else if (line.rfind("nonvoluntary_ctxt_switches:", 0) == 0)
            involuntary = std::atol(line.c_str() + std::strlen("nonvoluntary_ctxt_switches:"));
    }
    return {voluntary, involuntary};
}

class BenchSystem : public platform::PosixSystem {
public:
    std::string exeDir;
    Clock::time_point started{}; // when the run hands the saved installer over
    std::string ExeDir() override { return exeDir; }
    void Sleep(int ms) override
    {
        if (ms != 4000)
            PosixSystem::Sleep(ms);
    }
    // The downloaded bytes are no program: nothing is started.
    std::unique_ptr<platform::Process> StartProcess(const std::string&, const std::vector<std::string>&) override
    {
        started = Clock::now();
        return nullptr;
    }
};

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fputs("usage: update_run BASE WORKDIR\n", stderr);
        return 2;
    }
    const fs::path work = argv[2];
    fs::create_directories(work / "app");
    fs::create_directories(work / "home");
    std::ofstream(work / "app" / "update.ini")
        << "[Current]\nAppName=Bench\nVersion=1.0\nbuildId=1\nUpdateServer=" << argv[1] << "\n";
    ::setenv("HOME", (work / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_HOME", (work / "home" / ".config").c_str(), 1);
    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);

    int qargc = 1;
    QApplication qapp(qargc, argv);
    platform::QtApplication app(qapp);
    platform::QtUiBackend ui(app);
    BenchSystem sys;
    sys.exeDir = (work / "app").string() + "/";

    UpdaterEnvironment env{app, sys, {(work / "app" / "update").string()}, argv[1], "http://127.0.0.1:1"};
    env.ConnectionTest = [] { return true; };
    TUpdateFrm form(env);
    ui.AttachPeers(form);

    // Every box gets its Yes or OK at once.
    QTimer answerer;
    QObject::connect(&answerer, &QTimer::timeout, [] {
        if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
            QAbstractButton* b = box->button(QMessageBox::Yes);
            if (!b)
                b = box->button(QMessageBox::Ok);
            if (!b && !box->buttons().isEmpty())
                b = box->buttons().first();
            if (b)
                b->click();
        }
    });
    answerer.start(2);

    app.Guard([&] { form.DoCreate(); });
    // From the installer's first byte span to its hand-off: the download
    // and the rename.
    Clock::time_point begin{}, received{}, firstByte{};
    std::pair<long, long> switchesAtBegin{}, switchesAtFirstByte{};
    auto onBegin = form.IdHTTP1->OnWorkBegin;
    auto onWork = form.IdHTTP1->OnWork;
    auto onEnd = form.IdHTTP1->OnWorkEnd;
    form.IdHTTP1->OnWorkEnd = [&](TComponent* s, TWorkMode m) {
        if (form.UpdateState() == UpdateState::Installing) {
            received = Clock::now();
            answerer.start(2); // the boxes after the download
        }
        onEnd(s, m);
    };
    form.IdHTTP1->OnWorkBegin = [&](TComponent* s, TWorkMode m, std::int64_t max) {
        if (form.UpdateState() == UpdateState::Installing && begin == Clock::time_point{}) {
            // No box comes while the body arrives: the answerer's own wake-ups would count.
            answerer.stop();
            switchesAtBegin = ContextSwitches();
            begin = Clock::now();
        }
        onBegin(s, m, max);
    };
    form.IdHTTP1->OnWork = [&](TComponent* s, TWorkMode m, std::int64_t n) {
        if (form.UpdateState() == UpdateState::Installing && firstByte == Clock::time_point{}) {
            switchesAtFirstByte = ContextSwitches();
            firstByte = Clock::now();
        }
        onWork(s, m, n);
    };
    app.Run();

    const fs::path setup = fs::path(form.UpdateFolder()) / "setup.exe";
    if (!fs::exists(setup) || begin == Clock::time_point{} || sys.started == Clock::time_point{}) {
        std::fputs("the installer was not saved\n", stderr);
        return 1;
    }
    std::printf("DOWNLOAD %.3f %s\n", std::chrono::duration<double>(sys.started - begin).count(), setup.c_str());
    // The last byte span's end: the download without the rename.
    std::printf("RECEIVED %.3f\n", std::chrono::duration<double>(received - begin).count());
    if (firstByte != Clock::time_point{})
        std::printf("WAITED %.3f %ld %ld\n", std::chrono::duration<double>(firstByte - begin).count(),
                    switchesAtFirstByte.first - switchesAtBegin.first,
                    switchesAtFirstByte.second - switchesAtBegin.second);
    return 0;
}
