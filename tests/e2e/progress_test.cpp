// The installer's progress through the real window on the offscreen platform, against the
// local update server sending a chunked installer: one transfer over the whole body (the bar
// only moves forward, the success text only at the end, the speed right), a cancel that ends
// a fast chunked download at once, and a part left complete by an earlier run used as it is.

#include "E2eSupport.h"

#include "localization/MessageCatalogue.h"
#include "platform/ui/Application.h"
#include "tests/support/QtBoxAnswerer.h"

#include <QMetaObject>
#include <QProgressBar>
#include <QTimer>
#include <QWidget>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <thread>

#include <pthread.h>
#include <time.h>

namespace fs = std::filesystem;
using namespace e2e;
using namespace platform;
using Clock = std::chrono::steady_clock;

namespace {

std::string Entry(CatalogueEntry e) { return TMessageCatalogue::Default(e); }

// The rate of the server in the progress case, and the installer's size: 80 chunks of
// 64 KiB over 2.5 s.
constexpr int kRate = 2 * 1024 * 1024;
constexpr int kSize = 5 * 1024 * 1024;

struct Progress : ::testing::Test {
    InstallFolder folder;
    fs::path record = folder.root / "installer-record.txt";
    void SetUp() override
    {
        setenv("UPDATER_DEMO_RECORD", record.c_str(), 1);
        setenv("UPDATER_DEMO_INSTALL_SECONDS", "0.1", 1);
    }
    void Ini(const std::string& server, const std::string& extra = "")
    {
        folder.WriteIni("[Current]\nAppName=My App\nVersion=1.0\nbuildId=2012\nUpdateServer=" + server +
                        "\nHomePage=http://127.0.0.1:1/product\n" + extra);
    }
    fs::path Update() const { return folder.UpdateFolder("My App"); }
};

// What the window showed after each of the client's work events of the installer download.
struct Seen {
    std::vector<int> positions;
    std::vector<int> maxima;
    std::vector<std::string> speeds;     // the speed line, once it shows a speed
    std::vector<std::string> doneInside; // the status line, when it said "done" inside the Get
    int begins = 0, ends = 0;
    std::int64_t received = 0, span = 0; // the body's bytes, counted from the client's spans
    std::function<void()> whole;         // called when the last of kSize bytes has come
};

void Watch(Updater& u, Seen& seen)
{
    TUpdateFrm& f = *u.form;
    auto begin = f.IdHTTP1->OnWorkBegin;
    auto work = f.IdHTTP1->OnWork;
    auto end = f.IdHTTP1->OnWorkEnd;
    auto look = [&f, &seen] {
        if (f.UpdateState() != UpdateState::Installing)
            return;
        seen.positions.push_back(f.ProgressBar->Position());
        seen.maxima.push_back(f.ProgressBar->Max());
        if (f.Label1->Caption() == "Téléchargement terminé avec succès.")
            seen.doneInside.push_back(f.Label1->Caption());
        const std::string speed = f.Label2->Caption();
        if (speed != f.Catalogue().Entry(CatalogueEntry::SpeedAtStart) &&
            (seen.speeds.empty() || seen.speeds.back() != speed))
            seen.speeds.push_back(speed);
    };
    f.IdHTTP1->OnWorkBegin = [=, &seen, &f](TComponent* s, TWorkMode m, std::int64_t n) {
        begin(s, m, n);
        seen.begins += f.UpdateState() == UpdateState::Installing;
        look();
    };
    f.IdHTTP1->OnWork = [=, &seen](TComponent* s, TWorkMode m, std::int64_t n) {
        work(s, m, n);
        seen.span = n;
        look();
    };
    f.IdHTTP1->OnWorkEnd = [=, &seen, &f](TComponent* s, TWorkMode m) {
        end(s, m);
        if (f.UpdateState() == UpdateState::Installing) {
            ++seen.ends;
            seen.received += seen.span;
            if (seen.received == kSize && seen.whole)
                seen.whole();
        }
        seen.span = 0;
        look();
    };
}

// "Vitesse de téléchargement : 2048.00 Ko/s" -> 2048.
double SpeedOf(const std::string& text)
{
    const auto colon = text.find(": ");
    return colon == std::string::npos ? -1 : std::atof(text.c_str() + colon + 2);
}

} // namespace

TEST_F(Progress, AChunkedInstallerIsOneTransferWithTheRightSpeed)
{
    const Publisher publisher(folder.root, "publisher");
    struct Case {
        const char* name;
        bool sign;
        int max; // the bar's range: 0 is the busy bar of a size nobody announced
    } cases[] = {
        {.name = "unsigned: size unknown", .sign = false, .max = 0},
        {.name = "signed: the signed size", .sign = true, .max = kSize},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        fs::remove_all(Update());
        std::vector<std::string> args{"--size", std::to_string(kSize), "--rate", std::to_string(kRate), "--chunked"};
        std::string extra;
        if (c.sign) {
            args.insert(args.end(), {"--signoffer", SignOfferTool(), "--key", publisher.pem.string()});
            extra = "PublicKey=" + publisher.PublicKey() + "\n";
        }
        UpdateServer server(args);
        Ini(server.Base(), extra);
        Updater u(folder, {}, [] { return true; });
        QtBoxAnswerer boxes({IDYES, IDOK});
        u.Create();
        Seen seen;
        Watch(u, seen);
        // The status lines the window went through, as anyone looking at it would see them.
        std::vector<std::string> statuses;
        QTimer sampler;
        QObject::connect(&sampler, &QTimer::timeout, [&] {
            const std::string s = u.form->Label1->Caption();
            if (statuses.empty() || statuses.back() != s)
                statuses.push_back(s);
        });
        sampler.start(1);
        // From the last chunk on, the sampler looks at every pass of the message loop, so
        // that the success text, shown for one pass, is seen.
        seen.whole = [&sampler] { sampler.start(0); };
        ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes) << "\nbar at " << u.form->ProgressBar->Position()
                                            << ", status " << u.form->Label1->Caption();
        sampler.stop();
        ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
        EXPECT_EQ(fs::file_size(Update() / "setup.exe"), static_cast<std::uintmax_t>(kSize));

        // Many chunks, each its own span of the client, but one transfer in the window.
        EXPECT_GE(seen.begins, 40);
        EXPECT_EQ(seen.begins, seen.ends);
        EXPECT_TRUE(seen.doneInside.empty()) << seen.doneInside.size() << " times during the download";
        ASSERT_FALSE(seen.positions.empty());
        for (std::size_t i = 1; i < seen.positions.size(); ++i) {
            ASSERT_GE(seen.positions[i], seen.positions[i - 1]) << "the bar went back at event " << i;
            ASSERT_EQ(seen.maxima[i], c.max) << "event " << i;
        }
        EXPECT_EQ(u.form->ProgressBar->Position(), kSize + 40);
        if (c.max == 0) {
            auto* bar = qobject_cast<QProgressBar*>(WidgetOf(u.form->ProgressBar));
            ASSERT_NE(bar, nullptr);
            EXPECT_EQ(bar->maximum(), 0); // Qt's busy bar
        }
        // The success text once, after the last progress and before the saving.
        const auto done = std::count(statuses.begin(), statuses.end(), "Téléchargement terminé avec succès.");
        EXPECT_EQ(done, 1);
        const auto at = std::find(statuses.begin(), statuses.end(), "Téléchargement terminé avec succès.");
        ASSERT_NE(at, statuses.end());
        EXPECT_EQ(std::find(at, statuses.end(), Entry(CatalogueEntry::Downloading)), statuses.end());

        // The server sends 2048 Ko/s from its first byte; every speed shown is within 10 %.
        ASSERT_GE(seen.speeds.size(), 5u);
        for (const auto& s : seen.speeds) {
            const double v = SpeedOf(s);
            EXPECT_GT(v, 2048 * 0.9) << s;
            EXPECT_LT(v, 2048 * 1.1) << s;
        }
    }
}

// The processor time a thread has used so far, in milliseconds; readable from any thread.
std::int64_t ThreadCpuMs(clockid_t clock)
{
    timespec t{};
    clock_gettime(clock, &t);
    return std::int64_t{t.tv_sec} * 1000 + t.tv_nsec / 1000000;
}

// The time from the click to the end of the transfer is the main thread's own processor
// time, not the wall clock: between the two the main thread does nothing but receive, pump
// and answer the question, so on a quiet machine both are the same, while on a loaded one
// the wall clock also counts the time other processes held the processor (the suite runs
// under such a load to prove it does not flake). The wall time is reported beside it.
TEST_F(Progress, ACancelEndsAFastChunkedDownloadAtOnce)
{
    clockid_t mainCpu{};
    ASSERT_EQ(pthread_getcpuclockid(pthread_self(), &mainCpu), 0);
    UpdateServer server({"--endless", "--chunked", "--rate", "0"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    // The offer, the close question, the failure's text, then that the download failed.
    QtBoxAnswerer boxes({IDYES, IDYES, IDOK, IDOK}, 1);
    u.Create();
    TUpdateFrm& f = *u.form;
    std::atomic<std::int64_t> received{0};
    std::int64_t spans = 0;
    Clock::time_point ended{};
    std::int64_t endedCpu = -1;
    auto work = f.IdHTTP1->OnWork;
    auto end = f.IdHTTP1->OnWorkEnd;
    f.IdHTTP1->OnWork = [&](TComponent* s, TWorkMode m, std::int64_t n) {
        work(s, m, n);
        if (f.UpdateState() == UpdateState::Installing)
            received = spans + n;
    };
    f.IdHTTP1->OnWorkEnd = [&](TComponent* s, TWorkMode m) {
        end(s, m);
        spans = received;
        if (f.UpdateState() == UpdateState::Ending && ended == Clock::time_point{}) {
            ended = Clock::now();
            endedCpu = ThreadCpuMs(mainCpu);
        }
    };
    // The user's click comes from outside, at a moment of its own: a thread posts it once
    // 32 MiB have arrived.
    QWidget* window = WidgetOf(u.form.get());
    Clock::time_point clicked{};
    std::int64_t clickedCpu = -1;
    std::atomic<bool> stop{false};
    std::thread user([&] {
        while (!stop && received < (std::int64_t{32} << 20))
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        if (stop)
            return;
        clicked = Clock::now();
        clickedCpu = ThreadCpuMs(mainCpu);
        QMetaObject::invokeMethod(
            window, [window] { window->close(); }, Qt::QueuedConnection);
    });
    const bool inTime = u.RunUntilTerminated();
    stop = true;
    user.join();
    ASSERT_TRUE(inTime) << Describe(boxes);
    ASSERT_GE(boxes.Boxes().size(), 3u) << Describe(boxes);
    EXPECT_EQ(boxes.Boxes()[1].Text, AsShown(Entry(CatalogueEntry::CloseQuestion)));
    ASSERT_NE(ended, Clock::time_point{});
    const auto wallMs = std::chrono::duration_cast<std::chrono::milliseconds>(ended - clicked).count();
    RecordProperty("wall_ms", static_cast<int>(wallMs));
    EXPECT_LT(endedCpu - clickedCpu, 200) << "processor time of the main thread from the click to the end of the "
                                             "transfer, the close question answered on the way (wall: "
                                          << wallMs << " ms)";
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
}

// The context switches of this process's main thread so far, in which it gave up the
// processor (a sleep, a wait).
long VoluntarySwitches()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("voluntary_ctxt_switches:", 0) == 0)
            return std::atol(line.c_str() + line.find(':') + 1);
    return -1;
}

TEST_F(Progress, WhileTheServerIsSilentTheRunSleepsAndACancelIsStillInstant)
{
    UpdateServer server({"--size", "100000", "--hold", "30", "--rate", "0"});
    Ini(server.Base());
    Updater u(folder, {}, [] { return true; });
    // The offer, the close question (Yes), then the failure's text and that it failed.
    QtBoxAnswerer boxes({IDYES, IDYES, IDOK, IDOK});
    u.Create();
    TUpdateFrm& f = *u.form;
    QWidget* window = WidgetOf(u.form.get());
    long switchesAtBegin = -1, switchesAfter = -1;
    Clock::time_point begun{}, clicked{}, ended{};
    auto begin = f.IdHTTP1->OnWorkBegin;
    auto end = f.IdHTTP1->OnWorkEnd;
    // The head has come, the body is held back: the wait starts. A second later the user
    // cancels.
    QTimer later;
    later.setSingleShot(true);
    QObject::connect(&later, &QTimer::timeout, [&] {
        switchesAfter = VoluntarySwitches();
        boxes.Resume(); // for the close question
        clicked = Clock::now();
        window->close();
    });
    f.IdHTTP1->OnWorkBegin = [&](TComponent* s, TWorkMode m, std::int64_t n) {
        begin(s, m, n);
        if (f.UpdateState() == UpdateState::Installing && switchesAtBegin < 0) {
            boxes.Pause(); // the answerer's own polling would count
            switchesAtBegin = VoluntarySwitches();
            begun = Clock::now();
            later.start(1000);
        }
    };
    f.IdHTTP1->OnWorkEnd = [&](TComponent* s, TWorkMode m) {
        end(s, m);
        if (f.UpdateState() == UpdateState::Ending && ended == Clock::time_point{})
            ended = Clock::now();
    };
    ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
    ASSERT_GE(switchesAfter, 0);
    const double seconds = std::chrono::duration<double>(clicked - begun).count();
    const double perSecond = (switchesAfter - switchesAtBegin) / seconds;
    EXPECT_LE(perSecond, 50.0) << switchesAfter - switchesAtBegin << " wake-ups in " << seconds << " s";
    ASSERT_NE(ended, Clock::time_point{});
    EXPECT_LT(std::chrono::duration_cast<std::chrono::milliseconds>(ended - clicked).count(), 200);
    EXPECT_FALSE(fs::exists(Update() / "setup.exe"));
}

TEST_F(Progress, APartLeftCompleteIsUsedWhenTheServerConfirmsIt)
{
    constexpr int kPartSize = 300000;
    UpdateServer server({"--size", std::to_string(kPartSize), "--rate", "0"});
    Ini(server.Base());
    // A run that saved every byte and ended before it renamed the part.
    const std::string setupUrl = "http://127.0.0.1:" + std::to_string(server.port) + "/update/setup.exe";
    const std::string script = Slurp(SourceDir() / "demo" / "installer.sh");
    const std::string whole = script + "\n#" + std::string(kPartSize - script.size() - 3, '-') + "\n";
    fs::create_directories(Update());
    std::ofstream(Update() / "setup.exe.part", std::ios::binary) << whole;
    std::ofstream(Update() / "setup.exe.resume", std::ios::binary)
        << "Address=" << setupUrl << "\nETag=\"v1\"\nLastModified=\nSize=" << kPartSize << "\nOffer=build "
        << std::to_string(2013.0) << "\n"; // the offered build, as the run names it
    Updater u(folder, {}, [] { return true; });
    QtBoxAnswerer boxes({IDYES, IDOK});
    u.Create();
    ASSERT_TRUE(u.RunUntilTerminated()) << Describe(boxes);
    ASSERT_EQ(boxes.Boxes().size(), 2u) << Describe(boxes);
    EXPECT_EQ(Slurp(Update() / "setup.exe"), whole);
    EXPECT_NE(Slurp(record).find("arguments: /update\n"), std::string::npos);
    // One question about the bytes past the end, answered "nothing there" for the same file.
    std::vector<std::string> asked;
    for (const auto& line : server.Requests())
        if (line.find("GET /update/setup.exe") != std::string::npos)
            asked.push_back(line);
    ASSERT_EQ(asked.size(), 1u);
    EXPECT_NE(asked[0].find("| Range: bytes=" + std::to_string(kPartSize) + "- | If-Range: \"v1\""), std::string::npos)
        << asked[0];
    EXPECT_EQ(u.form->ProgressBar->Position(), kPartSize + 40);
}
