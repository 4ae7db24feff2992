#include "platform/posix/InterfaceFilter.h"
#include "platform/posix/PosixSystem.h"
#include "platform/posix/UserDirs.h"
#include "platform/runtime/Exception.h"

#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <pwd.h>
#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <optional>
#include <string>

namespace fs = std::filesystem;
using platform::PosixSystem;

namespace {

// Sets or clears environment variables for one test and puts them back afterwards.
class ScopedEnv {
public:
    void Set(const char* name, const std::optional<std::string>& value)
    {
        if (!saved_.count(name)) {
            const char* old = std::getenv(name);
            saved_[name] = old ? std::optional<std::string>(old) : std::nullopt;
        }
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
    ~ScopedEnv()
    {
        for (const auto& [name, value] : saved_) {
            if (value)
                ::setenv(name.c_str(), value->c_str(), 1);
            else
                ::unsetenv(name.c_str());
        }
        ::tzset();
    }

private:
    std::map<std::string, std::optional<std::string>> saved_;
};

class PosixSystemTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string pattern = (fs::temp_directory_path() / "posix_system_test.XXXXXX").string();
        ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
        dir = pattern + "/";
    }
    void TearDown() override { fs::remove_all(dir); }

    static void Put(const std::string& path, const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    // Every entry of the folder, to see that no temporary file is left behind.
    std::size_t EntriesIn(const std::string& folder) const
    {
        return static_cast<std::size_t>(std::distance(fs::directory_iterator(folder), fs::directory_iterator()));
    }

    std::string dir;
    PosixSystem sys;
};

template <class E>
std::string MessageOf(auto&& action)
{
    try {
        action();
    } catch (const E& e) {
        return e.Message();
    }
    return "<no " + std::string(typeid(E).name()) + ">";
}

TEST_F(PosixSystemTest, WriteFileCreatesReplacesAndReadsBack)
{
    const std::string path = dir + "webinfo.ini";
    const std::string binary("a\0b\r\n\xFF", 6);
    sys.WriteFile(path, binary);
    EXPECT_EQ(sys.ReadFile(path), binary);

    sys.WriteFile(path, "short");
    EXPECT_EQ(sys.ReadFile(path), "short");
    sys.WriteFile(path, "");
    EXPECT_EQ(sys.ReadFile(path), "");
    const std::string big(3 << 20, 'b');
    sys.WriteFile(path, big);
    EXPECT_EQ(sys.ReadFile(path), big);
    EXPECT_EQ(EntriesIn(dir), 1u);

    // A replaced file keeps its permission bits.
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
    sys.WriteFile(path, "again");
    EXPECT_EQ(fs::status(path).permissions(), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
}

TEST_F(PosixSystemTest, FailuresCarryTheFileAndTheSystemText)
{
    const std::string missing = dir + "nope/setup.exe";
    EXPECT_EQ(MessageOf<EFOpenError>([&] { sys.ReadFile(dir + "absent.ini"); }),
              "Cannot open file \"" + dir + "absent.ini\". No such file or directory");
    EXPECT_EQ(MessageOf<EFOpenError>([&] { sys.ReadFile(dir); }), "Cannot open file \"" + dir + "\". Is a directory");
    EXPECT_EQ(MessageOf<EFCreateError>([&] { sys.WriteFile(missing, "x"); }),
              "Cannot create file \"" + missing + "\". No such file or directory");

    ASSERT_TRUE(sys.CreateDir(dir + "sub"));
    EXPECT_EQ(MessageOf<EFCreateError>([&] { sys.WriteFile(dir + "sub", "x"); }),
              "Cannot create file \"" + dir + "sub\". Is a directory");
    EXPECT_TRUE(sys.DirectoryExists(dir + "sub"));
    EXPECT_EQ(EntriesIn(dir), 1u);
    // Both kinds share the stream-error base the callers catch.
    EXPECT_THROW(sys.WriteFile("", "x"), EStreamError);
}

TEST_F(PosixSystemTest, FailedWriteLeavesTheOldFileIntact)
{
    const std::string path = dir + "setup.exe";
    sys.WriteFile(path, "old installer");

    // A file-size limit makes the write fail half-way, as a full disk would.
    struct sigaction ignore {
    }, old{};
    ignore.sa_handler = SIG_IGN;
    ASSERT_EQ(::sigaction(SIGXFSZ, &ignore, &old), 0);
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    const std::string message = MessageOf<EFCreateError>([&] { sys.WriteFile(path, std::string(100000, 'n')); });
    ::setrlimit(RLIMIT_FSIZE, &saved);
    ::sigaction(SIGXFSZ, &old, nullptr);

    EXPECT_EQ(message, "Cannot create file \"" + path + "\". File too large");
    EXPECT_EQ(sys.ReadFile(path), "old installer");
    EXPECT_EQ(EntriesIn(dir), 1u);
}

TEST_F(PosixSystemTest, FilesAndFolders)
{
    Put(dir + "f", "x");
    EXPECT_TRUE(sys.FileExists(dir + "f"));
    EXPECT_FALSE(sys.DirectoryExists(dir + "f"));
    EXPECT_FALSE(sys.FileExists(dir));
    EXPECT_TRUE(sys.DirectoryExists(dir));
    EXPECT_FALSE(sys.FileExists(dir + "g"));
    EXPECT_FALSE(sys.DirectoryExists(dir + "g"));

    EXPECT_TRUE(sys.CreateDir(dir + "a"));
    EXPECT_TRUE(sys.DirectoryExists(dir + "a/"));
    EXPECT_FALSE(sys.CreateDir(dir + "a"));   // exists already
    EXPECT_FALSE(sys.CreateDir(dir + "b/c")); // one level only
    EXPECT_EQ(sys.LastError(), ENOENT);
    EXPECT_FALSE(sys.CreateDir(""));
}

TEST_F(PosixSystemTest, ProfileReadsGoThroughTheFile)
{
    const std::string ini = dir + "update.ini";
    Put(ini, "; installed\r\n[Current]\r\nVersion = 2.5 \r\nAppName=\"My App\"\r\n");
    EXPECT_EQ(sys.GetProfileString(ini, "current", "VERSION", "1.0"), "2.5");
    EXPECT_EQ(sys.GetProfileString(ini, "Current", "AppName", ""), "My App");
    EXPECT_EQ(sys.GetProfileString(ini, "Current", "buildId", "x"), "x");
    EXPECT_EQ(sys.GetProfileString(dir + "absent.ini", "Current", "Version", "1.0"), "1.0");
    EXPECT_EQ(sys.GetProfileString(dir, "Current", "Version", "1.0"), "1.0");
}

TEST_F(PosixSystemTest, ExeDirIsTheFolderOfTheRunningProgram)
{
    const std::string exe = sys.ExeDir();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '/');
    EXPECT_EQ(exe.front(), '/');
    EXPECT_TRUE(sys.FileExists(exe + "posix_system_test"));
}

TEST_F(PosixSystemTest, DocumentsFolderFollowsTheUserDirectoriesFile)
{
    const std::string home = dir + "home";
    const std::string config = dir + "cfg";
    fs::create_directories(home + "/Dokumente");
    fs::create_directories(home + "/.config");
    fs::create_directories(config);
    fs::create_directories(dir + "abs docs");

    struct Case {
        const char* name;
        std::optional<std::string> configHome; // XDG_CONFIG_HOME
        std::string userDirs;                  // written to <config>/user-dirs.dirs when not empty
        std::string want;
    } cases[] = {
        {.name = "home-relative",
         .configHome = config,
         .userDirs = "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
         .want = home + "/Dokumente"},
        {.name = "absolute with blank",
         .configHome = config,
         .userDirs = "# written by the desktop\nXDG_DOCUMENTS_DIR=\"" + dir + "abs docs\"\n",
         .want = dir + "abs docs"},
        {.name = "missing folder gives home",
         .configHome = config,
         .userDirs = "XDG_DOCUMENTS_DIR=\"$HOME/Absent\"\n",
         .want = home},
        {.name = "no file gives home", .configHome = config, .userDirs = "", .want = home},
        {.name = "default config folder",
         .configHome = std::nullopt,
         .userDirs = "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
         .want = home + "/Dokumente"},
        {.name = "relative config home ignored",
         .configHome = "cfg",
         .userDirs = "XDG_DOCUMENTS_DIR=\"$HOME/Dokumente\"\n",
         .want = home + "/Dokumente"},
    };
    for (const auto& c : cases) {
        ScopedEnv env;
        env.Set("HOME", home);
        env.Set("XDG_CONFIG_HOME", c.configHome);
        const std::string file =
            (c.configHome && c.configHome->front() == '/' ? config : home + "/.config") + "/user-dirs.dirs";
        fs::remove(file);
        if (!c.userDirs.empty())
            Put(file, c.userDirs);
        EXPECT_EQ(sys.DocumentsDir(), c.want) << c.name;
    }

    // Without HOME the password entry's home folder is used.
    ScopedEnv env;
    env.Set("HOME", std::nullopt);
    env.Set("XDG_CONFIG_HOME", config);
    fs::remove(config + "/user-dirs.dirs");
    const struct passwd* pw = ::getpwuid(::getuid());
    ASSERT_NE(pw, nullptr);
    EXPECT_EQ(sys.DocumentsDir(), std::string(pw->pw_dir));
}

TEST(UserDirs, ReadsTheFileAsTheDesktopToolsWriteIt)
{
    struct Case {
        const char* name;
        std::string file;
        std::optional<std::string> want;
    } cases[] = {
        {.name = "home-relative", .file = "XDG_DOCUMENTS_DIR=\"$HOME/Documents\"\n", .want = "/h/Documents"},
        {.name = "absolute", .file = "XDG_DOCUMENTS_DIR=\"/srv/docs\"", .want = "/srv/docs"},
        {.name = "home itself", .file = "XDG_DOCUMENTS_DIR=\"$HOME\"\n", .want = "/h"},
        {.name = "blanks around equals", .file = "  XDG_DOCUMENTS_DIR = \"$HOME/D\"\r\n", .want = "/h/D"},
        {.name = "escapes", .file = "XDG_DOCUMENTS_DIR=\"$HOME/a\\\"b\\\\c\"\n", .want = "/h/a\"b\\c"},
        {.name = "last valid wins",
         .file = "XDG_DOCUMENTS_DIR=\"$HOME/1\"\nXDG_DOCUMENTS_DIR=\"$HOME/2\"\nXDG_DOCUMENTS_DIR=\"rel\"\n",
         .want = "/h/2"},
        {.name = "comment", .file = "# XDG_DOCUMENTS_DIR=\"$HOME/x\"\n", .want = std::nullopt},
        {.name = "other names",
         .file = "XDG_DOWNLOAD_DIR=\"$HOME/x\"\nXDG_DOCUMENTS_DIRS=\"/y\"\n",
         .want = std::nullopt},
        {.name = "relative path", .file = "XDG_DOCUMENTS_DIR=\"Documents\"\n", .want = std::nullopt},
        {.name = "$HOME glued to a name", .file = "XDG_DOCUMENTS_DIR=\"$HOMEdocs\"\n", .want = std::nullopt},
        {.name = "unquoted", .file = "XDG_DOCUMENTS_DIR=$HOME/x\n", .want = std::nullopt},
        {.name = "unclosed quote", .file = "XDG_DOCUMENTS_DIR=\"$HOME/x\n", .want = std::nullopt},
        {.name = "empty file", .file = "", .want = std::nullopt},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::ReadUserDir(c.file, "XDG_DOCUMENTS_DIR", "/h"), c.want) << c.name;
    // "$HOME" cannot be expanded without a home folder.
    EXPECT_EQ(platform::ReadUserDir("XDG_DOCUMENTS_DIR=\"$HOME/x\"", "XDG_DOCUMENTS_DIR", ""), std::nullopt);
}

TEST(PosixLocale, DecimalSeparatorComesFromTheEnvironmentAtConstruction)
{
    {
        ScopedEnv env;
        env.Set("LC_ALL", "C");
        EXPECT_EQ(PosixSystem().DecimalSeparator(), '.');
    }
    {
        ScopedEnv env;
        env.Set("LC_ALL", "xx_NOWHERE.UTF-8"); // not installed: the point
        EXPECT_EQ(PosixSystem().DecimalSeparator(), '.');
    }

    // A comma locale built into a private folder, when the machine has the locale sources.
    if (std::system("command -v localedef >/dev/null 2>&1") != 0 || !fs::exists("/usr/share/i18n/locales/de_DE"))
        GTEST_SKIP() << "localedef or the de_DE locale source is missing";
    std::string pattern = (fs::temp_directory_path() / "posix_locale.XXXXXX").string();
    ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
    const std::string build = "localedef -i de_DE -f UTF-8 '" + pattern + "/de_DE.UTF-8' >/dev/null 2>&1";
    if (std::system(build.c_str()) != 0) {
        fs::remove_all(pattern);
        GTEST_SKIP() << "localedef failed";
    }
    {
        ScopedEnv env;
        env.Set("LOCPATH", pattern);
        env.Set("LC_ALL", std::nullopt);
        env.Set("LC_NUMERIC", "de_DE.UTF-8");
        env.Set("LANG", "C");
        PosixSystem german;
        EXPECT_EQ(german.DecimalSeparator(), ',');
        // Read once: a later change of the environment does not matter.
        env.Set("LC_NUMERIC", "C");
        EXPECT_EQ(german.DecimalSeparator(), ',');
        // LC_ALL comes before LC_NUMERIC.
        env.Set("LC_ALL", "C");
        env.Set("LC_NUMERIC", "de_DE.UTF-8");
        EXPECT_EQ(PosixSystem().DecimalSeparator(), '.');
    }
    fs::remove_all(pattern);
}

TEST(PosixErrors, TextsWithoutTrailingPeriodOrBlanks)
{
    PosixSystem sys;
    EXPECT_EQ(sys.ErrorText(ENOENT), "No such file or directory");
    EXPECT_EQ(sys.ErrorText(EACCES), "Permission denied");
    const std::string unknown = sys.ErrorText(987654);
    EXPECT_EQ(unknown.rfind("Unknown error", 0), 0u) << unknown;
    EXPECT_NE(unknown.back(), '.');
    EXPECT_NE(unknown.back(), ' ');
}

TEST(PosixClock, LocalTimeAdvancesWithSleepAndTheBiasFollowsTheZone)
{
    PosixSystem sys;
    const TDateTime before = sys.Now();
    sys.Sleep(120);
    const double elapsedMs = MillisecondsBetween(before, sys.Now());
    EXPECT_GE(elapsedMs, 110.0);
    EXPECT_LT(elapsedMs, 5000.0);

    struct Case {
        const char* tz;
        int bias;
    } cases[] = {{"UTC0", 0}, {"EST5", 300}, {"JST-9", -540}, {"NPT-5:45", -345}};
    for (const auto& c : cases) {
        ScopedEnv env;
        env.Set("TZ", c.tz);
        EXPECT_EQ(sys.UtcBiasMinutes(), c.bias) << c.tz;
    }
}

TEST(InterfaceFilter, OnlyRunningNonLoopbackInterfacesWithARoutableAddress)
{
    // Room for either family; the filter reads the family first.
    struct Address {
        sockaddr_in6 storage{};
        const sockaddr* get() const { return reinterpret_cast<const sockaddr*>(&storage); }
    };
    auto make = [](int family, const char* text) {
        Address a;
        a.storage.sin6_family = static_cast<sa_family_t>(family);
        if (family == AF_INET)
            ::inet_pton(AF_INET, text, &reinterpret_cast<sockaddr_in*>(&a.storage)->sin_addr);
        else if (family == AF_INET6)
            ::inet_pton(AF_INET6, text, &a.storage.sin6_addr);
        return a;
    };
    const unsigned live = IFF_UP | IFF_RUNNING;
    struct Case {
        const char* name;
        unsigned flags;
        int family;
        const char* address;
        bool want;
    } cases[] = {
        {"LAN IPv4", live, AF_INET, "192.168.1.20", true},
        {"global IPv6", live, AF_INET6, "2001:db8::1", true},
        {"down", IFF_RUNNING, AF_INET, "192.168.1.20", false},
        {"no carrier", IFF_UP, AF_INET, "192.168.1.20", false},
        {"loopback interface", live | IFF_LOOPBACK, AF_INET, "192.168.1.20", false},
        {"IPv4 link-local", live, AF_INET, "169.254.3.4", false},
        {"IPv4 loopback address", live, AF_INET, "127.0.0.1", false},
        {"IPv4 unspecified", live, AF_INET, "0.0.0.0", false},
        {"IPv6 link-local", live, AF_INET6, "fe80::1", false},
        {"IPv6 loopback address", live, AF_INET6, "::1", false},
        {"other family", live, AF_UNIX, "", false},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::IsConnectingInterface(c.flags, make(c.family, c.address).get()), c.want) << c.name;
    EXPECT_FALSE(platform::IsConnectingInterface(live, nullptr));
}

} // namespace
