// The update run against a hostile update server over 127.0.0.1, on the headless window:
// whatever the server does to the check or the installer download, the run ends (by itself
// or by the user's close), shows the failure where the user sees one, and never saves a
// partial reply or installer nor starts anything it should not.

#include "platform/headless/HeadlessApplication.h"
#include "platform/ui/Application.h"
#include "tests/support/FakeSystem.h"
#include "tests/support/ScriptedServer.h"
#include "app/RunBudget.h"
#include "update/UpdateFrm.h"

#include <gtest/gtest.h>

#include <chrono>
#include <memory>
#include <string>
#include <thread>
#include <vector>

using platform::HeadlessApplication;
using testsupport::ScriptedServer;
using Script = ScriptedServer::Script;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

const std::string kFolder = "/home/user/Documents/My App/Update/";
const std::string kOkHead = "HTTP/1.1 200 OK\r\n";
constexpr std::int64_t kMiB = std::int64_t{1} << 20;

// The check reply: a newer build whose installer lies on the same server.
std::string CheckAnswer(const std::string& extraHeaders = {})
{
    const std::string webinfo = "[web]\nbuildId=2\nversion=2.0\nwhatnews=Faster\nSetupPath=/files/setup.exe\n";
    return kOkHead + extraHeaders + "Content-Length: " + std::to_string(webinfo.size()) + "\r\n\r\n" + webinfo;
}

// How the user takes part once the installer download (or the check) is under way.
enum class User {
    Waits,        // does nothing
    ClosesLater,  // asks to close the window 1.2 s after the request reached the server
    ClosesAtWork, // asks to close it from the progress handler after 8 MiB
};

struct Case {
    const char* name;
    // The check download's answer; when the installer part is set, the check answer is
    // CheckAnswer() and this holds the installer download's.
    Script check;
    bool offer = true; // the check succeeds and the update is offered (and accepted)
    Script installer = {};
    User user = User::Waits;
    std::string error = {}; // text of the box captioned "Error"; empty: none
    bool installed = false; // "setup.exe" saved and started
};

// One updater: an in-memory system, a headless application and the created window, whose
// update server is the given loopback server.
struct Updater {
    FakeSystem sys;
    HeadlessApplication app;
    std::unique_ptr<UpdaterEnvironment> env;
    std::unique_ptr<TUpdateFrm> form;

    explicit Updater(const ScriptedServer& server)
    {
        sys.files["/opt/app/update.ini"] = "[Current]\nVersion=1.0\nbuildId=1\nAppName=My App\n";
        // The offer and the close question are answered Yes; every other box OK.
        app.SetAnswerer([](const HeadlessApplication::Box& box) {
            return (box.Type & 0xF) == platform::MB_YESNOCANCEL ? platform::IDYES : platform::IDOK;
        });
        env = std::make_unique<UpdaterEnvironment>(
            UpdaterEnvironment{app,
                               sys,
                               {"/opt/app/update"},
                               "http://127.0.0.1:" + std::to_string(server.Port()) + "/update/",
                               "http://127.0.0.1/home",
                               [] { return true; }});
        form = std::make_unique<TUpdateFrm>(*env);
        form->DoCreate();
    }

    std::vector<std::string> ErrorBoxes() const
    {
        std::vector<std::string> texts;
        for (const auto& box : app.Boxes())
            if (box.Caption == "Error")
                texts.push_back(box.Text);
        return texts;
    }
};

TEST(HostileRun, NothingPartialIsSavedOrStartedWhateverTheServerDoes)
{
    // "Endless": far more than the client takes before it stops or is stopped; the server's
    // close after it only ends a client that failed to.
    const std::string endlessBlock(64 * 1024, 'z');
    const std::string setup = "MZ-installer";
    Case cases[] = {
        // A control: an honest server gets its installer saved and started.
        {.name = "an honest installer",
         .check = Script(),
         .installer = Script().ExpectRequest().Send(kOkHead + "Content-Length: 12\r\n\r\n" + setup).WaitPeerClose(),
         .installed = true},
        // A trickle: the user's close ends the download at once; a sized body then ends
        // normally with what arrived, and the run, seeing the close it granted, ends quietly.
        {.name = "a trickled installer, closed by the user",
         .check = Script(),
         .installer = Script()
                          .ExpectRequest()
                          .Send(kOkHead + "Content-Length: 1000\r\n\r\nMZ")
                          .SendSlowly(std::string(10, 'x'), 1, 1000),
         .user = User::ClosesLater},
        {.name = "a trickled check, closed by the user",
         .check = Script().ExpectRequest().Send("HTTP/1.1 ").SendSlowly("200 OK", 1, 1000),
         .offer = false,
         .user = User::ClosesLater},
        {.name = "an endless installer, closed by the user at 8 MiB",
         .check = Script(),
         .installer = Script().ExpectRequest().Send(kOkHead + "\r\n").SendRepeated(endlessBlock, 1024).Close(),
         .user = User::ClosesAtWork},
        // The check answer is cut at its size bound: a failed check, nothing saved.
        {.name = "an endless check reply",
         .check =
             Script().ExpectRequest().Send(kOkHead + "\r\n[web]\nbuildId=2\n").SendRepeated(endlessBlock, 1024).Close(),
         .offer = false},
        // The server's own misdeeds: each ends the download with its error.
        {.name = "endless header lines",
         .check = Script(),
         .installer = Script().ExpectRequest().Send(kOkHead).SendRepeated("X-A: b\r\n", 100000).Close(),
         .error = "Too many header lines."},
        {.name = "an endless line",
         .check = Script(),
         .installer =
             Script().ExpectRequest().Send(kOkHead + "X-A: ").SendRepeated(std::string(1024, 'a'), 2000).Close(),
         .error = "Max line length exceeded."},
        {.name = "a length beyond memory, then a close",
         .check = Script(),
         .installer = Script().ExpectRequest().Send(kOkHead + "Content-Length: 4611686018427387904\r\n\r\nMZ").Close(),
         .error = "Connection Closed Gracefully."},
        {.name = "a chunk size beyond 64 bits",
         .check = Script(),
         .installer = Script()
                          .ExpectRequest()
                          .Send(kOkHead + "Transfer-Encoding: chunked\r\n\r\n1" + std::string(16, '0') + "\r\nMZ")
                          .WaitPeerClose(),
         .error = "Invalid chunk size \"10000000000000000\"."},
        {.name = "a reset inside a sized installer",
         .check = Script(),
         .installer = Script().ExpectRequest().Send(kOkHead + "Content-Length: 1000\r\n\r\nMZ").Reset(),
         .error = "Socket Error # 10054\r\nConnection reset by peer."},
        {.name = "a reset inside an until-close installer",
         .check = Script(),
         .installer = Script().ExpectRequest().Send(kOkHead + "\r\nMZ").Reset(),
         .error = "Socket Error # 10054\r\nConnection reset by peer."},
        {.name = "a redirect, which the updater does not follow",
         .check = Script(),
         .installer = Script()
                          .ExpectRequest()
                          .Send("HTTP/1.1 302 Found\r\nLocation: /files/setup.exe\r\nContent-Length: 0\r\n\r\n")
                          .WaitPeerClose(),
         .error = "HTTP/1.1 302 Found"},
        // A reset or flood in the check ends it as a failed check: nothing is offered.
        {.name = "a reset in the check",
         .check = Script().ExpectRequest().Send(kOkHead + "Server: x\r\n").Reset(),
         .offer = false},
        {.name = "endless interim answers in the check",
         .check = Script().ExpectRequest().SendRepeated("HTTP/1.1 100 Continue\r\n\r\n", 1000).Close(),
         .offer = false},
    };
    for (auto& c : cases) {
        SCOPED_TRACE(c.name);
        Script check = c.check;
        if (c.offer)
            check = Script().ExpectRequest().Send(CheckAnswer());
        // The installer download reuses the check's kept connection.
        for (const auto& step : c.installer.Steps()) {
            switch (step.Kind) {
            case ScriptedServer::StepKind::ExpectRequest:
                check.ExpectRequest();
                break;
            case ScriptedServer::StepKind::Send:
                check.Send(step.Bytes);
                break;
            case ScriptedServer::StepKind::SendSlowly:
                check.SendSlowly(step.Bytes, step.Chunk, step.DelayMs);
                break;
            case ScriptedServer::StepKind::SendRepeated:
                check.SendRepeated(step.Bytes, step.Times);
                break;
            case ScriptedServer::StepKind::Close:
                check.Close();
                break;
            case ScriptedServer::StepKind::Reset:
                check.Reset();
                break;
            case ScriptedServer::StepKind::WaitPeerClose:
                check.WaitPeerClose();
                break;
            default:
                FAIL() << "step not used here";
            }
        }
        ScriptedServer server({check});
        Updater u(server);
        auto& app = u.app;
        auto& sys = u.sys;
        auto& form = u.form;
        const std::size_t requests = c.offer ? 2 : 1;

        std::thread closer;
        Clock::time_point postedAt{};
        if (c.user == User::ClosesLater) {
            closer = std::thread([&] {
                const auto until = Clock::now() + std::chrono::seconds(5);
                while (server.Requests().size() < requests && Clock::now() < until)
                    std::this_thread::sleep_for(milliseconds(2));
                std::this_thread::sleep_for(milliseconds(1200));
                postedAt = Clock::now();
                app.Post([&] { form->Close(); });
            });
        }
        std::int64_t closedAt = -1;
        if (c.user == User::ClosesAtWork) {
            auto shown = form->IdHTTP1->OnWork;
            form->IdHTTP1->OnWork = [&, shown](TComponent* s, TWorkMode m, std::int64_t n) {
                shown(s, m, n);
                if (closedAt < 0 && n >= 8 * kMiB) {
                    closedAt = n;
                    form->Close();
                }
            };
        }
        const int pumpsBefore = app.ProcessCount();
        const auto start = Clock::now();
        form->RunUpdate();
        const auto end = Clock::now();
        if (closer.joinable())
            closer.join();

        EXPECT_LT(end - start, std::chrono::seconds(20));
        const bool saved = sys.files.count(kFolder + "setup.exe") > 0;
        EXPECT_EQ(saved, c.installed);
        EXPECT_EQ(sys.started.size(), c.installed ? 1u : 0u);
        if (c.installed) {
            EXPECT_EQ(sys.files[kFolder + "setup.exe"], setup);
        }
        // The check reply is saved only when the check ended normally and was not cancelled.
        EXPECT_EQ(sys.files.count(kFolder + "webinfo.ini") > 0, c.offer);

        std::vector<std::string> expectedErrors;
        if (!c.error.empty())
            expectedErrors.push_back(c.error);
        EXPECT_EQ(u.ErrorBoxes(), expectedErrors);
        const auto& boxes = app.Boxes();
        if (!c.error.empty()) {
            // After the failure's own box, the run says the installation failed.
            ASSERT_FALSE(boxes.empty());
            EXPECT_EQ(boxes.back().Text, form->Catalogue().Entry(CatalogueEntry::DownloadFailed));
            EXPECT_EQ(form->UpdateState(), UpdateState::Installing);
        }
        if (!c.offer && c.user == User::Waits) {
            // A failed check: its own box, the window stays open.
            ASSERT_FALSE(boxes.empty());
            EXPECT_EQ(boxes.back().Text, form->Catalogue().Entry(CatalogueEntry::ServerUnreachable));
            EXPECT_EQ(form->UpdateState(), UpdateState::Ending);
            EXPECT_FALSE(app.Terminated());
        }
        if (c.user != User::Waits) {
            // The user's close was asked, granted and ended the run quietly or with the
            // download's failure; the program is ending.
            EXPECT_TRUE(app.Terminated());
            EXPECT_EQ(form->UpdateState(), UpdateState::Ending);
        }
        if (c.user == User::ClosesLater) {
            EXPECT_LT(end - postedAt, milliseconds(500));    // the close, not the server, ended it
            EXPECT_GT(app.ProcessCount() - pumpsBefore, 50); // the window kept answering
        }
        if (c.user == User::ClosesAtWork) {
            EXPECT_GE(closedAt, 8 * kMiB);
        }
    }
}

TEST(HostileRun, ACookieFloodInTheCheckLeavesTheInstallerRequestBounded)
{
    std::string cookies;
    for (int i = 0; i < 990; ++i)
        cookies += "Set-Cookie: c" + std::to_string(i) + "=v; path=/\r\n";
    ScriptedServer server({Script()
                               .ExpectRequest()
                               .Send(CheckAnswer(cookies))
                               .ExpectRequest()
                               .Send(kOkHead + "Content-Length: 2\r\n\r\nMZ")
                               .WaitPeerClose()});
    Updater u(server);
    u.form->RunUpdate();
    EXPECT_EQ(u.sys.files[kFolder + "setup.exe"], "MZ");
    EXPECT_EQ(u.sys.started.size(), 1u);
    const auto requests = server.Requests();
    ASSERT_EQ(requests.size(), 2u);
    // The store kept the newest 50; the installer request carries them and no more.
    const std::string& second = requests[1];
    EXPECT_NE(second.find("Cookie: c989=v; c988=v"), std::string::npos);
    EXPECT_NE(second.find("c940=v"), std::string::npos);
    EXPECT_EQ(second.find("c939=v"), std::string::npos);
    EXPECT_LT(second.size(), 4096u);
}

TEST(HostileRun, AHiddenRunEndsByItselfWhenItsTimeBudgetIsSpent)
{
    // The budget is a timer of its own, armed only for a run nobody watches: the start
    // timer's tick never comes while its own handler waits inside a download.
    for (bool hidden : {true, false}) {
        FakeSystem sys;
        HeadlessApplication app;
        sys.files["/opt/app/update.ini"] = "[Current]\nAppName=My App\n";
        std::vector<std::string> params{"/opt/app/update"};
        if (hidden)
            params.push_back("/hidden");
        UpdaterEnvironment env{
            app, sys, params, "http://127.0.0.1:9/update/", "http://127.0.0.1/home", [] { return false; }};
        env.UnattendedRunBudgetMs = 60000;
        TUpdateFrm form(env);
        form.DoCreate();
        EXPECT_EQ(form.BudgetTimer->Enabled(), hidden);
        EXPECT_EQ(form.BudgetTimer->Interval(), 60000);
        form.Timer1Timer(nullptr);
        EXPECT_FALSE(app.Terminated());
        form.BudgetTimer->Tick();
        EXPECT_EQ(app.Terminated(), hidden) << "a visible window waits for its user";
        EXPECT_EQ(form.UpdateState(), hidden ? UpdateState::Ending : UpdateState::Waiting);
        EXPECT_TRUE(app.Boxes().empty());
    }
}

TEST(HostileRun, ASilentRunHasTheSameTimeBudgetAndSaysTheCheckFailed)
{
    // Nobody can cancel a silent run: out of time, it ends by itself, and its status tells
    // that the check did not come through.
    FakeSystem sys;
    HeadlessApplication app;
    sys.files["/opt/app/update.ini"] = "[Current]\nAppName=My App\n";
    UpdaterEnvironment env{app,
                           sys,
                           {"/opt/app/update", "/silent"},
                           "http://127.0.0.1:9/update/",
                           "http://127.0.0.1/home",
                           [] { return false; }};
    env.UnattendedRunBudgetMs = 60000;
    TUpdateFrm form(env);
    form.DoCreate();
    EXPECT_TRUE(form.Unattended());
    EXPECT_FALSE(form.Visible());
    EXPECT_TRUE(form.BudgetTimer->Enabled());
    form.BudgetTimer->Tick();
    EXPECT_TRUE(app.Terminated());
    EXPECT_EQ(form.ExitStatus(), ExitStatus::CheckFailed);
    EXPECT_TRUE(app.Boxes().empty());
}

TEST(HostileRun, OnlyAShorterBudgetIsTakenFromTheEnvironment)
{
    struct Case {
        const char* text;
        int ms;
    } cases[] = {
        {nullptr, kUnattendedRunBudgetMs},
        {"2000", 2000},
        {"1", 1},
        {"0", kUnattendedRunBudgetMs},
        {"-5", kUnattendedRunBudgetMs},
        {"2000ms", kUnattendedRunBudgetMs},
        {"", kUnattendedRunBudgetMs},
        {"900000", kUnattendedRunBudgetMs},
        {"99999999999", kUnattendedRunBudgetMs},
    };
    for (const auto& c : cases)
        EXPECT_EQ(RunBudgetFromEnvironment(c.text), c.ms) << (c.text ? c.text : "(unset)");
}

} // namespace
