// The updater's real Win32 window under wine, run as update.exe runs it, against the demo
// update server on the Linux side (its port in UPDATER_DEMO_PORT, serving fake_setup.exe as
// the installer). A thread answers the message boxes as a user would and records them.

#include "app/Form85.h"
#include "localization/MessageCatalogue.h"
#include "platform/win32/SchannelTls.h"
#include "platform/win32/Win32Application.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/Win32UiBackend.h"
#include "update/UpdateFrm.h"
// After the updater's headers, whose names the Windows macros would replace.
#include "platform/win32/WindowsHeaders.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

namespace {

std::string TempDir()
{
    const char* t = std::getenv("TEMP");
    std::string dir = t ? t : "C:\\windows\\temp";
    if (dir.back() != '\\')
        dir += '\\';
    return dir;
}

// The system with the executable's folder and the Documents folder in a test folder.
class TestSystem : public platform::Win32System {
public:
    explicit TestSystem(std::string root) : root_(std::move(root)) {}
    std::string ExeDir() override { return root_ + "app\\"; }
    std::optional<std::string> DocumentsDir() override { return root_ + "Documents"; }

private:
    std::string root_;
};

struct Box {
    std::string caption;
    std::string text;
    bool windowVisible; // the update window was on screen while the box was open
};

// Finds the boxes of this process and presses Yes where there is one, otherwise OK.
class BoxAnswerer {
public:
    // After `closeAfter` boxes (0: never) the update window is asked to close, as a user
    // closes it once the run has said its last word.
    BoxAnswerer(std::atomic<HWND>& window, std::size_t closeAfter)
        : window_(window), closeAfter_(closeAfter), thread_([this] { Loop(); })
    {
    }
    ~BoxAnswerer()
    {
        stop_ = true;
        thread_.join();
    }
    std::vector<Box> Boxes()
    {
        std::lock_guard lock(mutex_);
        return boxes_;
    }

private:
    static BOOL CALLBACK Found(HWND h, LPARAM self)
    {
        DWORD pid = 0;
        ::GetWindowThreadProcessId(h, &pid);
        char cls[64] = {};
        ::GetClassNameA(h, cls, sizeof cls);
        if (pid == ::GetCurrentProcessId() && std::string(cls) == "#32770" && ::IsWindowVisible(h))
            reinterpret_cast<BoxAnswerer*>(self)->Answer(h);
        return TRUE;
    }

    void Answer(HWND box)
    {
        if (answered_.count(box))
            return;
        answered_.insert(box);
        char caption[512] = {};
        char text[4096] = {};
        ::GetWindowTextA(box, caption, sizeof caption);
        ::GetDlgItemTextA(box, 0xFFFF, text, sizeof text);
        {
            std::lock_guard lock(mutex_);
            const HWND w = window_.load();
            boxes_.push_back({caption, text, w && ::IsWindowVisible(w)});
        }
        const int id = ::GetDlgItem(box, IDYES) ? IDYES : IDOK;
        ::PostMessageA(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(::GetDlgItem(box, id)));
    }

    void Loop()
    {
        while (!stop_) {
            ::EnumWindows(Found, reinterpret_cast<LPARAM>(this));
            // A box that is gone may hand its handle to a later one.
            for (auto it = answered_.begin(); it != answered_.end();)
                it = ::IsWindow(*it) ? std::next(it) : answered_.erase(it);
            if (closeAfter_ && !closed_ && answered_.empty() && Boxes().size() >= closeAfter_) {
                if (const HWND w = window_.load()) {
                    ::PostMessageA(w, WM_CLOSE, 0, 0);
                    closed_ = true;
                }
            }
            ::Sleep(50);
        }
    }

    std::atomic<HWND>& window_;
    std::size_t closeAfter_;
    bool closed_ = false;
    std::atomic<bool> stop_{false};
    std::mutex mutex_;
    std::vector<Box> boxes_;
    std::set<HWND> answered_;
    std::thread thread_;
};

struct RunResult {
    std::vector<Box> boxes;
    std::string folder; // the update folder
    bool ended = false;
};

// Runs the updater as update.exe does, with "update.ini" giving the installed build and the
// update server.
RunResult RunUpdater(const std::string& name, int buildId, const std::string& server, std::size_t closeAfter = 0,
                     const std::string& caFile = "")
{
    // A folder of its own for every run (with a blank, as under "Program Files").
    const std::string root = TempDir() + "e2e " + name + " " + std::to_string(::GetTickCount()) + "\\";
    TestSystem sys(root);
    sys.CreateDir(root);
    sys.CreateDir(root + "app");
    sys.CreateDir(root + "Documents");
    sys.WriteFile(root + "app\\update.ini",
                  "[Current]\r\nAppName=My App\r\nVersion=1.0\r\nbuildId=" + std::to_string(buildId) +
                      "\r\nUpdateServer=" + server + "\r\n" + (caFile.empty() ? "" : "CAFile=" + caFile + "\r\n"));

    platform::Win32Application app;
    platform::Win32UiBackend ui(app);
    TForm85 mainForm;
    ui.AttachPeers(mainForm);
    mainForm.DoCreate();
    UpdaterEnvironment env{app, sys, {"update.exe"}, server, "http://127.0.0.1"};
    env.UnattendedRunBudgetMs = 120000;
    platform::SchannelTls tls;
    env.Tls = &tls;
    std::atomic<HWND> window{nullptr};
    BoxAnswerer answerer(window, closeAfter);
    RunResult result;
    {
        TUpdateFrm frm(env);
        sys.SetOwnerWindow([&frm] { return platform::Win32UiBackend::WindowOf(&frm); });
        ui.AttachPeers(frm);
        window = static_cast<HWND>(platform::Win32UiBackend::WindowOf(&frm));
        app.Guard([&] { frm.DoCreate(); });
        mainForm.Show();
        app.Run();
        result.ended = app.Terminated();
        window = nullptr;
    }
    result.boxes = answerer.Boxes();
    result.folder = root + "Documents\\My App\\Update\\";
    return result;
}

std::string DemoServer()
{
    const char* port = std::getenv("UPDATER_DEMO_PORT");
    return port ? std::string("http://127.0.0.1:") + port + "/update/" : std::string();
}

const std::string& Entry(int n) { return TMessageCatalogue::Default(n); }

// The road of an accepted offer: the offer first (a question, answered Yes), then the
// request to close the application; setup.exe saved, started with /update, and the
// updater ended only after the installer had.
void ExpectOfferAcceptedAndInstalled(const RunResult& r, const std::string& record)
{
    EXPECT_TRUE(r.ended);
    ASSERT_EQ(r.boxes.size(), 2u);
    EXPECT_NE(r.boxes[0].text.find("Nouvelle version: 1.1"), std::string::npos) << r.boxes[0].text;
    EXPECT_EQ(r.boxes[1].caption, "My App");
    platform::Win32System sys;
    EXPECT_TRUE(sys.FileExists(r.folder + "setup.exe"));
    EXPECT_EQ(sys.ReadFile(record), "arg /update\nend\n");
}

// Whether EnumWindows, which lists the top-level windows, lists `window`.
bool ListedAsTopLevel(HWND window)
{
    struct Search {
        HWND window;
        bool found;
    } search{window, false};
    ::EnumWindows(
        [](HWND h, LPARAM p) -> BOOL {
            auto* s = reinterpret_cast<Search*>(p);
            s->found = s->found || h == s->window;
            return TRUE;
        },
        reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Counts the broadcast messages that reach the window it watches.
struct BroadcastWatch {
    static inline UINT message = 0;
    static inline WNDPROC original = nullptr;
    static inline int received = 0;
    static LRESULT CALLBACK Proc(HWND h, UINT msg, WPARAM wp, LPARAM lp)
    {
        if (msg == message)
            ++received;
        return ::CallWindowProcA(original, h, msg, wp, lp);
    }
};

// The main form is made message-only by its creation handler, as update.exe creates it: on
// the hidden path (never shown) as on the shown one, it is then a message-only window,
// not a top-level one, and a broadcast does not reach it. (Wine's FindWindowA also finds
// message-only windows, which Windows' does not, so the top-level list is asked instead.)
TEST(Win32MainForm, IsMessageOnlyOnceCreatedShownOrNot)
{
    BroadcastWatch::message = ::RegisterWindowMessageA("UpdaterTestBroadcast");
    for (const bool hidden : {true, false}) {
        SCOPED_TRACE(hidden ? "hidden" : "shown");
        platform::Win32Application app;
        platform::Win32UiBackend ui(app);
        app.SetShowMainForm(!hidden);
        TForm85 mainForm;
        ui.AttachPeers(mainForm);
        mainForm.DoCreate();
        if (app.ShowMainForm())
            mainForm.Show();
        const auto window = static_cast<HWND>(platform::Win32UiBackend::WindowOf(&mainForm));
        ASSERT_NE(window, nullptr);
        EXPECT_EQ(::FindWindowExA(HWND_MESSAGE, nullptr, "TForm85", nullptr), window);
        EXPECT_NE(::GetAncestor(window, GA_PARENT), ::GetDesktopWindow());
        EXPECT_FALSE(ListedAsTopLevel(window));
        EXPECT_FALSE(::IsWindowVisible(window));

        BroadcastWatch::received = 0;
        BroadcastWatch::original = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&BroadcastWatch::Proc)));
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(HWND_BROADCAST, BroadcastWatch::message, 0, 0, SMTO_ABORTIFHUNG, 5000, &ignored);
        // A message sent to the window itself does arrive: the watch works.
        ::SendMessageA(window, BroadcastWatch::message, 0, 0);
        EXPECT_EQ(BroadcastWatch::received, 1);
        ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(BroadcastWatch::original));
    }
}

TEST(Win32EndToEnd, InstalledBuildIsTheNewest)
{
    ASSERT_FALSE(DemoServer().empty()) << "UPDATER_DEMO_PORT is not set";
    const auto r = RunUpdater("newest", 99999, DemoServer());
    EXPECT_TRUE(r.ended);
    ASSERT_EQ(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, Entry(57));
    EXPECT_TRUE(r.boxes[0].windowVisible);
    platform::Win32System sys;
    EXPECT_TRUE(sys.FileExists(r.folder + "webinfo.ini"));
    EXPECT_FALSE(sys.FileExists(r.folder + "setup.exe"));
}

TEST(Win32EndToEnd, OfferAcceptedSetupSavedStartedWithUpdateAndWaitedFor)
{
    ASSERT_FALSE(DemoServer().empty()) << "UPDATER_DEMO_PORT is not set";
    const std::string record = TempDir() + "e2e-setup-record.txt";
    ::DeleteFileA(record.c_str());
    ::SetEnvironmentVariableA("UPDATER_SETUP_RECORD", record.c_str());
    const auto r = RunUpdater("offer", 1000, DemoServer());
    ExpectOfferAcceptedAndInstalled(r, record);
}

TEST(Win32EndToEnd, OfferOverHttpsSetupSavedAndStarted)
{
    // The demo server with TLS (its certificate issued by the run's test CA), trusted
    // through "CAFile" in "update.ini"; the offer and the installer both come over https.
    const char* port = std::getenv("UPDATER_DEMO_HTTPS_PORT");
    const char* certs = std::getenv("UPDATER_TLS_CERTS");
    ASSERT_TRUE(port && certs) << "UPDATER_DEMO_HTTPS_PORT or UPDATER_TLS_CERTS is not set";
    const std::string record = TempDir() + "e2e-setup-record-https.txt";
    ::DeleteFileA(record.c_str());
    ::SetEnvironmentVariableA("UPDATER_SETUP_RECORD", record.c_str());
    const auto r = RunUpdater("https", 1000, std::string("https://127.0.0.1:") + port + "/update/", 0,
                              std::string(certs) + "/ca.pem");
    ExpectOfferAcceptedAndInstalled(r, record);
}

// update.exe itself, started silently in a folder of its own, against the demo server that
// signs its offers (the publisher's key in UPDATER_PUBLISHER_KEY): its exit status, and its
// log in the update folder of the application it is installed for.
struct SilentExe {
    DWORD status = 0xFFFFFFFF;
    std::string log;
};

SilentExe RunSilentExe(const std::string& appName, const std::string& server, const std::string& key)
{
    char self[MAX_PATH] = {};
    ::GetModuleFileNameA(nullptr, self, sizeof self);
    std::string exeDir(self);
    exeDir.erase(exeDir.find_last_of('\\') + 1);
    platform::Win32System sys;
    const std::string root = TempDir() + "silent " + appName + " " + std::to_string(::GetTickCount()) + "\\";
    sys.CreateDir(root);
    sys.CreateDir(root + "app");
    const std::string exe = root + "app\\update.exe";
    EXPECT_TRUE(::CopyFileA((exeDir + "update.exe").c_str(), exe.c_str(), FALSE));
    sys.WriteFile(root + "app\\update.ini", "[Current]\r\nAppName=" + appName +
                                                "\r\nVersion=1.0\r\nbuildId=1000\r\nUpdateServer=" + server +
                                                "\r\nPublicKey=" + key + "\r\n");
    // The real Documents folder of the prefix: the update folder is the application's.
    const std::string folder = *sys.DocumentsDir() + "\\" + appName + "\\Update\\";
    for (const char* f : {"update.log", "setup.exe", "webinfo.ini"})
        ::DeleteFileA((folder + f).c_str());

    std::string command = "\"" + exe + "\" /silent";
    STARTUPINFOA si{};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi{};
    SilentExe r;
    if (!::CreateProcessA(exe.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, (root + "app").c_str(), &si,
                          &pi)) {
        ADD_FAILURE() << "update.exe did not start: " << ::GetLastError();
        return r;
    }
    EXPECT_EQ(::WaitForSingleObject(pi.hProcess, 60000), WAIT_OBJECT_0) << "update.exe did not end by itself";
    ::GetExitCodeProcess(pi.hProcess, &r.status);
    ::CloseHandle(pi.hThread);
    ::CloseHandle(pi.hProcess);
    if (sys.FileExists(folder + "update.log"))
        r.log = sys.ReadFile(folder + "update.log");
    return r;
}

TEST(Win32EndToEnd, SilentUpdateExeInstallsAVerifiedOfferAndRefusesAnotherApplications)
{
    const char* port = std::getenv("UPDATER_SIGNED_DEMO_PORT");
    const char* key = std::getenv("UPDATER_PUBLISHER_KEY");
    if (!port || !key)
        GTEST_SKIP() << "no signing demo server (the Linux build's signoffer was not there)";
    const std::string server = std::string("http://127.0.0.1:") + port + "/update/";
    const std::string record = TempDir() + "e2e-setup-record-silent.txt";
    ::DeleteFileA(record.c_str());
    ::SetEnvironmentVariableA("UPDATER_SETUP_RECORD", record.c_str());

    const SilentExe installed = RunSilentExe("My App", server, key);
    EXPECT_EQ(installed.status, 10u) << installed.log;
    EXPECT_NE(installed.log.find("Z verdict: accepted: signed by configured key 1 of 1"), std::string::npos)
        << installed.log;
    EXPECT_NE(installed.log.find("Z installer: ended with exit status 0\n"), std::string::npos) << installed.log;
    EXPECT_NE(installed.log.find("Z end: exit status 10\n"), std::string::npos) << installed.log;
    platform::Win32System sys;
    ASSERT_TRUE(sys.FileExists(record));
    EXPECT_EQ(sys.ReadFile(record), "arg /update\nend\n");

    ::DeleteFileA(record.c_str());
    const SilentExe refused = RunSilentExe("Other App", server, key);
    EXPECT_EQ(refused.status, 21u) << refused.log;
    EXPECT_NE(refused.log.find("Z verdict: refused, another application: AppName \"My App\" is not the installed "
                               "application \"Other App\""),
              std::string::npos)
        << refused.log;
    EXPECT_NE(refused.log.find("Z end: exit status 21\n"), std::string::npos) << refused.log;
    EXPECT_FALSE(sys.FileExists(record));
}

TEST(Win32EndToEnd, ServerDown)
{
    // The window stays after the failure until the user closes it; closing then asks nothing.
    const auto r = RunUpdater("down", 1000, "http://127.0.0.1:1/update/", 1);
    EXPECT_TRUE(r.ended);
    ASSERT_GE(r.boxes.size(), 1u);
    EXPECT_EQ(r.boxes[0].text, Entry(54));
    EXPECT_TRUE(r.boxes[0].windowVisible);
}

} // namespace
