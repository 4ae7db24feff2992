// The anti-freeze (registration, when it pumps, how a wait is sliced) and the work and
// status events of network components.
#include "http/IdAntiFreeze.h"
#include "http/IdIOHandlerSocket.h"
#include "http/IdTCPClient.h"
#include "platform/headless/HeadlessApplication.h"
#include "platform/runtime/Exception.h"
#include "platform/sockets/Sockets.h"
#include "tests/support/ScriptedServer.h"

#include <gtest/gtest.h>

#include <memory>
#include <thread>

using testsupport::ScriptedServer;

namespace {

// Records every work and status event as one line.
struct EventLog {
    std::vector<std::string> lines;
    void Attach(TIdComponent& c)
    {
        c.OnWorkBegin = [this](TComponent*, TWorkMode m, std::int64_t max) {
            lines.push_back(std::string("begin ") + (m == wmRead ? "r " : "w ") + std::to_string(max));
        };
        c.OnWork = [this](TComponent*, TWorkMode m, std::int64_t n) {
            lines.push_back(std::string("work ") + (m == wmRead ? "r " : "w ") + std::to_string(n));
        };
        c.OnWorkEnd = [this](TComponent*, TWorkMode m) {
            lines.push_back(std::string("end ") + (m == wmRead ? "r" : "w"));
        };
        c.OnStatus = [this](TComponent*, TIdStatus, const std::string& text) { lines.push_back("status " + text); };
    }
};

using Lines = std::vector<std::string>;

} // namespace

TEST(WorkEvents, NestedSpansReportOnlyAtTheOutermostLevel)
{
    TIdComponent c(nullptr);
    EventLog log;
    log.Attach(c);
    c.StartWork(wmRead, 100);
    c.StartWork(wmRead, 50); // nested: only the depth changes
    c.AddWork(wmRead, 10);
    c.AddWork(wmRead, 20);
    c.FinishWork(wmRead);
    EXPECT_EQ(c.WorkState(wmRead).Level, 1);
    c.FinishWork(wmRead);
    EXPECT_EQ(log.lines, (Lines{"begin r 100", "work r 10", "work r 30", "end r"}));
    EXPECT_EQ(c.WorkState(wmRead).Level, 0);
    // Position and Maximum stay after the span until the next one starts.
    EXPECT_EQ(c.WorkState(wmRead).Position, 30);
    EXPECT_EQ(c.WorkState(wmRead).Maximum, 100);
}

TEST(WorkEvents, WorkOutsideASpanCountsNothingAndCountsAre64Bit)
{
    TIdComponent c(nullptr);
    EventLog log;
    log.Attach(c);
    c.AddWork(wmWrite, 500);
    EXPECT_EQ(c.WorkState(wmWrite).Position, 0);
    c.FinishWork(wmWrite); // unpaired: ignored, the depth stays at 0
    EXPECT_EQ(c.WorkState(wmWrite).Level, 0);

    const std::int64_t big = std::int64_t{3} << 30; // 3 GiB
    c.StartWork(wmWrite, big);
    c.AddWork(wmWrite, big - 1);
    c.AddWork(wmWrite, 1);
    c.FinishWork(wmWrite);
    EXPECT_EQ(log.lines, (Lines{"begin w 3221225472", "work w 3221225471", "work w 3221225472", "end w"}));
}

TEST(WorkEvents, AThrowingEndHandlerStillClosesTheSpan)
{
    TIdComponent c(nullptr);
    c.OnWorkEnd = [](TComponent*, TWorkMode) { throw Exception("cancelled"); };
    c.StartWork(wmRead, 1);
    EXPECT_THROW(c.FinishWork(wmRead), Exception);
    EXPECT_EQ(c.WorkState(wmRead).Level, 0);
}

TEST(StatusEvents, TextsWithTheirValues)
{
    struct Case {
        TIdStatus status;
        const char* value;
        const char* text;
    };
    const Case cases[] = {
        {.status = hsResolving, .value = "example.org", .text = "Resolving hostname example.org."},
        {.status = hsConnecting, .value = "127.0.0.1", .text = "Connecting to 127.0.0.1."},
        {.status = hsConnected, .value = "ignored", .text = "Connected."},
        {.status = hsDisconnecting, .value = "", .text = "Disconnecting."},
        {.status = hsDisconnected, .value = "", .text = "Disconnected."},
        {.status = hsStatusText, .value = "Chunk Started", .text = "Chunk Started"},
    };
    TIdComponent c(nullptr);
    for (const auto& k : cases) {
        TComponent* sender = nullptr;
        TIdStatus seen = ftpAborted;
        std::string text;
        c.OnStatus = [&](TComponent* s, TIdStatus st, const std::string& t) {
            sender = s;
            seen = st;
            text = t;
        };
        c.ReportStatus(k.status, k.value);
        EXPECT_EQ(sender, &c);
        EXPECT_EQ(seen, k.status);
        EXPECT_EQ(text, k.text);
    }
}

TEST(AntiFreeze, RegistrationAndWhenItPumps)
{
    platform::HeadlessApplication app;
    EXPECT_FALSE(TIdAntiFreezeBase::ShouldPump());
    {
        TIdAntiFreeze first(nullptr, app);
        EXPECT_EQ(TIdAntiFreezeBase::Current(), &first);
        EXPECT_TRUE(first.Active());
        EXPECT_EQ(first.IdleTimeOut(), 250);
        EXPECT_TRUE(first.OnlyWhenIdle());
        EXPECT_TRUE(first.ApplicationHasPriority());
        {
            TIdAntiFreeze second(nullptr, app);
            EXPECT_EQ(TIdAntiFreezeBase::Current(), &second);
        }
        EXPECT_EQ(TIdAntiFreezeBase::Current(), nullptr);
    }
    {
        auto older = std::make_unique<TIdAntiFreeze>(nullptr, app);
        TIdAntiFreeze current(nullptr, app);
        older.reset(); // freeing one that is not registered leaves the registered one
        EXPECT_EQ(TIdAntiFreezeBase::Current(), &current);
    }
    EXPECT_EQ(TIdAntiFreezeBase::Current(), nullptr);

    TIdAntiFreeze af2(nullptr, app);
    TIdAntiFreezeBase::PumpIfDue(false);
    EXPECT_EQ(app.ProcessCount(), 0); // only when idle
    TIdAntiFreezeBase::PumpIfDue(true);
    EXPECT_EQ(app.ProcessCount(), 1);
    TIdAntiFreezeBase::PumpIfDue(false, true); // override
    EXPECT_EQ(app.ProcessCount(), 2);
    af2.SetOnlyWhenIdle(false);
    TIdAntiFreezeBase::PumpIfDue(false);
    EXPECT_EQ(app.ProcessCount(), 3);

    af2.SetActive(false);
    EXPECT_FALSE(TIdAntiFreezeBase::ShouldPump());
    TIdAntiFreezeBase::PumpIfDue(true);
    EXPECT_EQ(app.ProcessCount(), 3);

    af2.SetActive(true);
    bool elsewhere = true;
    std::thread([&] { elsewhere = TIdAntiFreezeBase::ShouldPump(); }).join();
    EXPECT_FALSE(elsewhere);
    EXPECT_TRUE(TIdAntiFreezeBase::ShouldPump());
}

TEST(AntiFreeze, WithoutApplicationPriorityOnePumpHandlesOneMessage)
{
    platform::HeadlessApplication app;
    TIdAntiFreeze af(nullptr, app);
    int handled = 0;
    for (int i = 0; i < 3; ++i)
        app.Post([&] { ++handled; });
    af.SetApplicationHasPriority(false);
    af.PumpMessages();
    EXPECT_EQ(handled, 1);
    af.PumpMessages();
    EXPECT_EQ(handled, 2);
    af.SetApplicationHasPriority(true);
    app.Post([&] { ++handled; });
    af.PumpMessages();
    EXPECT_EQ(handled, 4);
    af.SetApplicationHasPriority(false);
    af.PumpMessages(); // nothing waiting: nothing handled, and no block
    EXPECT_EQ(handled, 4);
}

namespace {

// A client connected to a server that sends `later` after `delayMs`.
struct ConnectedWait {
    ScriptedServer server;
    TIdTCPClient client{nullptr};
    explicit ConnectedWait(int delayMs, std::string later = "data")
        : server({ScriptedServer::Script().Sleep(delayMs).Send(std::move(later)).WaitPeerClose()})
    {
        client.SetHost("127.0.0.1");
        client.SetPort(server.Port());
    }
    TIdSocketHandle& Binding() { return *static_cast<TIdIOHandlerSocket&>(*client.IOHandler()).Binding(); }
};

} // namespace

TEST(AntiFreeze, AReadWaitIsSlicedWithAPumpAfterEachEmptySlice)
{
    platform::HeadlessApplication app;
    TIdAntiFreeze af(nullptr, app);
    af.SetIdleTimeOut(1);
    ConnectedWait w(300);
    w.client.OpenConnection();
    const int afterConnect = app.ProcessCount();

    EXPECT_FALSE(w.Binding().WaitReadable(5));
    EXPECT_EQ(app.ProcessCount() - afterConnect, 5);

    af.SetIdleTimeOut(2); // 7 ms: a first slice of 1 ms, then three of 2
    EXPECT_FALSE(w.Binding().WaitReadable(7));
    EXPECT_EQ(app.ProcessCount() - afterConnect, 9);

    af.SetIdleTimeOut(1);
    EXPECT_TRUE(w.Binding().WaitReadable(TimeoutInfinite)); // pumps until the data comes
    const int pumps = app.ProcessCount() - afterConnect - 9;
    EXPECT_GT(pumps, 5);

    // Data already there: no pump at all.
    const int before = app.ProcessCount();
    EXPECT_TRUE(w.Binding().WaitReadable(TimeoutInfinite));
    EXPECT_TRUE(w.Binding().WaitReadable(5));
    EXPECT_EQ(app.ProcessCount(), before);
}

TEST(AntiFreeze, InactiveOrOffTheMainThreadAWaitIsOneSelectWithoutPumping)
{
    platform::HeadlessApplication app;
    TIdAntiFreeze af(nullptr, app);
    af.SetIdleTimeOut(1);
    af.SetActive(false);
    ConnectedWait w(150);
    w.client.OpenConnection();
    EXPECT_FALSE(w.Binding().WaitReadable(20));
    af.SetActive(true);
    bool ready = false;
    std::thread([&] { ready = w.Binding().WaitReadable(TimeoutInfinite); }).join();
    EXPECT_TRUE(ready);
    EXPECT_EQ(app.ProcessCount(), 0);
}

TEST(AntiFreeze, AHeadlessApplicationWithSocketsSleepsOnTheSocketAndStillHandlesPosts)
{
    platform::HeadlessApplication app;
    app.SetSockets(&platform::SystemSockets());
    TIdAntiFreeze af(nullptr, app);
    af.SetIdleTimeOut(1);
    ConnectedWait w(400);
    w.client.OpenConnection();

    // A silent server: one look at the queue per MessageCheckMs, not one pump per slice.
    int before = app.ProcessCount();
    EXPECT_FALSE(w.Binding().WaitReadable(120));
    EXPECT_LE(app.ProcessCount() - before, 2);

    // A message posted from another thread is handled while the wait goes on.
    bool handled = false;
    std::thread([&] { app.Post([&] { handled = true; }); }).join();
    before = app.ProcessCount();
    EXPECT_TRUE(w.Binding().WaitReadable(TimeoutInfinite));
    EXPECT_TRUE(handled);
    EXPECT_LE(app.ProcessCount() - before, 400 / platform::HeadlessApplication::MessageCheckMs + 2);
}
