// The window's progress handlers and prompts on the headless model: the bar, the status
// and speed lines against a settable clock, the message-box routine, the installer wait
// and the product page link.

#include "platform/headless/HeadlessApplication.h"
#include "tests/support/FakeSystem.h"
#include "update/TransferProgress.h"
#include "update/UpdateFrm.h"

#include <gtest/gtest.h>

using platform::HeadlessApplication;
using namespace platform;

namespace {

constexpr double kSecond = 1.0 / kSecondsPerDay;

struct Window : ::testing::Test {
    FakeSystem sys;
    HeadlessApplication app;
    std::vector<std::string> params{"/opt/app/update"};
    std::unique_ptr<UpdaterEnvironment> env;
    std::unique_ptr<TUpdateFrm> f;

    void Create(const std::string& ini = "[Current]\nAppName=My App\n")
    {
        sys.files["/opt/app/update.ini"] = ini;
        env = std::make_unique<UpdaterEnvironment>(
            UpdaterEnvironment{app, sys, params, "http://127.0.0.1:8080/update/", "http://127.0.0.1:8080/shop"});
        f = std::make_unique<TUpdateFrm>(*env);
        f->DoCreate();
    }
    // A read transfer of `max` bytes that has received `count` after `seconds`.
    std::string SpeedAfter(std::int64_t max, std::int64_t count, double seconds)
    {
        f->IdHTTP1WorkBegin(f->IdHTTP1, wmRead, max);
        sys.now += seconds * kSecond;
        f->IdHTTP1Work(f->IdHTTP1, wmRead, count);
        return f->Label2->Caption();
    }
};

} // namespace

TEST_F(Window, SpeedLineFollowsTheMillisecondsAndTheLocaleSeparator)
{
    Create();
    const std::string start = "Vitesse de téléchargement : 0 Ko/s ";
    EXPECT_EQ(SpeedAfter(4096, 2048, 0.999), start); // the whole first second
    EXPECT_EQ(SpeedAfter(4096, 2048, 1.0), "Vitesse de téléchargement : 2.00 Ko/s");
    EXPECT_EQ(SpeedAfter(4096, 1536, 2.0), "Vitesse de téléchargement : 0.75 Ko/s");
    // Not whole seconds: 3 KiB in 1.5 s are 2 KiB/s (whole seconds said 3), in 2.9 s 1.03.
    EXPECT_EQ(SpeedAfter(4096, 3072, 1.5), "Vitesse de téléchargement : 2.00 Ko/s");
    EXPECT_EQ(SpeedAfter(4096, 3072, 2.9), "Vitesse de téléchargement : 1.03 Ko/s");
    sys.separator = ',';
    EXPECT_EQ(SpeedAfter(4096, 2048, 1.0), "Vitesse de téléchargement : 2,00 Ko/s");
    // A clock set back during the transfer: the difference counts as an absolute value.
    EXPECT_EQ(SpeedAfter(4096, 4096, -2.0), "Vitesse de téléchargement : 2,00 Ko/s");
    EXPECT_TRUE(f->Label2->Visible());
    EXPECT_EQ(f->Label1->Caption(), "Téléchargement en cours...");
}

TEST_F(Window, BarRunsFortyAheadAndCopesWithUnknownAndHugeSizes)
{
    Create();
    EXPECT_FALSE(f->ProgressBar->Visible());
    f->IdHTTP1WorkBegin(f->IdHTTP1, wmRead, 100);
    EXPECT_TRUE(f->ProgressBar->Visible());
    f->IdHTTP1Work(f->IdHTTP1, wmRead, 100);
    EXPECT_EQ(f->ProgressBar->Max(), 100);
    EXPECT_EQ(f->ProgressBar->Position(), 140); // a full bar

    f->IdHTTP1WorkBegin(f->IdHTTP1, wmRead, 0); // length not announced
    EXPECT_EQ(f->ProgressBar->Max(), 0);
    EXPECT_EQ(f->ProgressBar->Position(), 0);

    // A 5 GiB installer: the bar still moves through its range instead of overflowing.
    const std::int64_t big = std::int64_t{5} << 30;
    f->IdHTTP1WorkBegin(f->IdHTTP1, wmRead, big);
    f->IdHTTP1Work(f->IdHTTP1, wmRead, big / 2);
    EXPECT_GT(f->ProgressBar->Max(), 0);
    EXPECT_NEAR(double(f->ProgressBar->Position()) / f->ProgressBar->Max(), 0.5, 0.01);
    f->IdHTTP1Work(f->IdHTTP1, wmRead, big);
    EXPECT_GE(f->ProgressBar->Position(), f->ProgressBar->Max());

    // The write direction changes only the status line.
    f->Label1->SetCaption("x");
    const int position = f->ProgressBar->Position();
    f->IdHTTP1Work(f->IdHTTP1, wmWrite, 5);
    EXPECT_EQ(f->Label1->Caption(), "Téléchargement en cours...");
    EXPECT_EQ(f->ProgressBar->Position(), position);
}

TEST_F(Window, MessageBoxesAreSilentWhenHiddenAndCaptionedWithTheTitle)
{
    Create("");
    EXPECT_EQ(f->ShowMsg("hello", "", MB_ICONINFORMATION), IDOK);
    ASSERT_EQ(app.Boxes().size(), 1u);
    EXPECT_EQ(app.Boxes()[0].Caption, "Mise à jour "); // the title with the empty name
    EXPECT_EQ(app.ActiveWindow(), f.get());
    f->ShowInfo("before");
    EXPECT_EQ(app.Boxes()[1].Caption, "Mise à jour ");
    EXPECT_EQ(app.Boxes()[1].Type, MB_OK);

    params.push_back("/hidden");
    Create();
    app.SetAnswerer([](const HeadlessApplication::Box&) { return IDYES; });
    const size_t before = app.Boxes().size();
    EXPECT_NE(f->ShowMsg("offer", "", MB_YESNOCANCEL), IDYES);
    f->ShowInfo("x");
    EXPECT_EQ(app.Boxes().size(), before);
}

TEST_F(Window, InstallerWaitPumpsEveryFiftyMillisecondsAndEnds)
{
    Create();
    sys.files["/setup.exe"] = "#!/bin/sh\n";
    sys.runningWaits = 3;
    int pumpsAtWait = 0;
    sys.onWait = [&] { pumpsAtWait = app.ProcessCount(); };
    const int pumps = app.ProcessCount();
    f->RunAndWait("/setup.exe", "/update", SW_SHOW);
    ASSERT_EQ(sys.started.size(), 1u);
    EXPECT_EQ(sys.started[0].args, std::vector<std::string>{"/update"});
    EXPECT_EQ(sys.waits, 4);
    EXPECT_EQ(sys.sleptMs, 200);
    EXPECT_EQ(pumpsAtWait - pumps, 3); // a pump after every wait that found it running
    EXPECT_TRUE(app.Boxes().empty());

    // A program that cannot be waited for ends the wait instead of keeping it for ever.
    sys.runningWaits = 0;
    sys.endResult = Process::WaitResult::Failed;
    sys.waits = 0;
    f->RunAndWait("/setup.exe", "/update", SW_SHOW);
    EXPECT_EQ(sys.waits, 1);
}

TEST_F(Window, InstallerWaitReportsHowTheProgramWent)
{
    Create();
    // Not started: the system's text, and nothing shown here (the run says it).
    sys.startError = 13;
    const auto refused = f->RunAndWait("/setup.exe", "/update", SW_SHOW);
    EXPECT_FALSE(refused.Started);
    EXPECT_EQ(refused.Error, "error 13");
    EXPECT_TRUE(app.Boxes().empty());
    // Started and ended: its exit status.
    sys.startError = 0;
    sys.files["/setup.exe"] = "#!/bin/sh\n";
    sys.exitCode = 3;
    const auto ended = f->RunAndWait("/setup.exe", "/update", SW_SHOW);
    EXPECT_TRUE(ended.Started);
    EXPECT_EQ(ended.ExitCode, 3);
}

TEST_F(Window, ProductPageLinkOpensTheAddressWithATrailingSlash)
{
    Create("[Current]\nAppName=My App\nHomePage=http://example.test/app\n");
    f->Label3->Click();
    ASSERT_EQ(sys.opened.size(), 1u);
    EXPECT_EQ(sys.opened[0].first, "http://example.test/app/");
    EXPECT_EQ(sys.opened[0].second, "/home/user/Documents/My App/Update/");
}

TEST_F(Window, CheckAddressLowersEverythingAndReplacesBlanks)
{
    params.push_back("/langid=1");
    Create("[Current]\nAppName=My App\nVersion=2.0 Beta\nUpdateServer=HTTP://Updates.Example/Update/\n");
    EXPECT_EQ(
        f->CheckAddress(),
        "http://updates.example/update/index.php?checkupdate&app=my_app&version=2.0 beta&updatemode=appupdater&langid=1");
}

TEST(TransferProgress, SpansAddUpToOneBodyAndRefreshesAreSpacedOut)
{
    TTransferProgress p;
    p.Expect();
    // A refused answer's span before the body begins counts for nothing.
    p.SpanBegin();
    p.SpanWork(500);
    p.SpanEnd();
    p.Begin(1000, 5000);
    EXPECT_EQ(p.Position(), 1000);
    // Chunks: each span's running total, the ended ones added up.
    for (std::int64_t count : {100, 300}) {
        p.SpanBegin();
        p.SpanWork(count / 2);
        p.SpanWork(count);
        p.SpanEnd();
    }
    p.SpanBegin();
    p.SpanWork(50);
    EXPECT_EQ(p.Received(), 450);
    EXPECT_EQ(p.Position(), 1450);
    EXPECT_EQ(p.Total(), 5000);

    struct Step {
        double atMs;
        bool due;
    } steps[] = {{1000, true}, {1010, false}, {1029, false},
                 {1030, true}, {1059, false}, {900, true} /* the clock went back */,
                 {929, false}};
    for (const auto& s : steps)
        EXPECT_EQ(p.RefreshDue(s.atMs), s.due) << s.atMs;
    p.Reset();
    EXPECT_FALSE(p.Expected());
    EXPECT_FALSE(p.Begun());
}
