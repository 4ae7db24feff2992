// The Win32 system services, run under wine: files, the private-profile reader with full
// and relative paths, the shell's folders, error texts, the parameter text of a start and
// the start of a program with the wait for its end.

#include "platform/runtime/Exception.h"
#include "platform/win32/Win32System.h"
#include "platform/win32/WindowsHeaders.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

using platform::Win32System;

namespace {

std::string TempDir()
{
    const char* t = std::getenv("TEMP");
    std::string dir = t ? t : "C:\\windows\\temp";
    if (dir.back() != '\\')
        dir += '\\';
    return dir;
}

TEST(Win32System, WriteReplaceReadAndTheFailureTexts)
{
    Win32System sys;
    const std::string path = TempDir() + "updater win32 test.bin";
    const std::string bytes("a\0b\r\nc\xE9", 7);
    sys.WriteFile(path, bytes);
    EXPECT_EQ(sys.ReadFile(path), bytes);
    sys.WriteFile(path, "second");
    EXPECT_EQ(sys.ReadFile(path), "second");
    EXPECT_TRUE(sys.FileExists(path));
    EXPECT_FALSE(sys.DirectoryExists(path));
    EXPECT_FALSE(sys.FileExists(path + ".part")); // no temporary file left behind
    EXPECT_TRUE(sys.RemoveFile(path));
    EXPECT_FALSE(sys.FileExists(path));
    EXPECT_TRUE(sys.RemoveFile(path)); // gone already

    const std::string missing = TempDir() + "no such folder\\x.ini";
    try {
        sys.ReadFile(missing);
        FAIL() << "read of a missing file succeeded";
    } catch (const EFOpenError& e) {
        const std::string prefix = "Cannot open file \"" + missing + "\". ";
        EXPECT_EQ(e.Message().substr(0, prefix.size()), prefix);
        EXPECT_GT(e.Message().size(), prefix.size()); // the system's text follows
        EXPECT_NE(e.Message().back(), '.');
    }
    EXPECT_THROW(sys.WriteFile(missing, "x"), EFCreateError);
}

TEST(Win32System, AFileIsReadWithReadersAllowedAndWritersRefused)
{
    Win32System sys;
    const std::string path = TempDir() + "updater share test.lng";
    sys.WriteFile(path, "[-Header-]\r\nIsUTF8=1\r\n");
    struct Case {
        const char* name;
        DWORD access; // of a handle another program holds open
        bool readable;
    } cases[] = {
        {.name = "another reader", .access = GENERIC_READ, .readable = true},
        {.name = "a writer", .access = GENERIC_WRITE, .readable = false},
        {.name = "a reader and writer", .access = GENERIC_READ | GENERIC_WRITE, .readable = false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        // The other program lets everyone in, so only the reader's own share mode decides.
        HANDLE other = ::CreateFileA(path.c_str(), c.access, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr);
        ASSERT_NE(other, INVALID_HANDLE_VALUE);
        if (c.readable)
            EXPECT_EQ(sys.ReadFile(path), "[-Header-]\r\nIsUTF8=1\r\n");
        else
            EXPECT_THROW(sys.ReadFile(path), EFOpenError);
        ::CloseHandle(other);
    }
    EXPECT_TRUE(sys.RemoveFile(path));
}

TEST(Win32System, FoldersAndTheDocumentsFolder)
{
    Win32System sys;
    const std::string dir = TempDir() + "updater-win32-folder";
    ::RemoveDirectoryA(dir.c_str());
    EXPECT_FALSE(sys.DirectoryExists(dir));
    EXPECT_TRUE(sys.CreateDir(dir));
    EXPECT_TRUE(sys.DirectoryExists(dir));
    EXPECT_FALSE(sys.CreateDir(dir));            // exists already
    EXPECT_FALSE(sys.CreateDir(dir + "\\a\\b")); // one level only

    const auto docs = sys.DocumentsDir();
    ASSERT_TRUE(docs.has_value());
    EXPECT_EQ(docs->substr(0, 3), "C:\\");
    EXPECT_TRUE(sys.DirectoryExists(*docs)) << *docs;
    EXPECT_EQ(sys.PathDelim(), '\\');
    EXPECT_EQ(sys.FallbackFolder(), "C:\\");
    const std::string exe = sys.ExeDir();
    ASSERT_FALSE(exe.empty());
    EXPECT_EQ(exe.back(), '\\');
    EXPECT_TRUE(sys.FileExists(exe + "win32_system_test.exe")) << exe;
}

TEST(Win32System, ProfileReadsTakeFullAndRelativePaths)
{
    Win32System sys;
    const std::string dir = TempDir();
    const std::string path = dir + "updater-profile-test.ini";
    const std::string longValue(3000, 'v');
    sys.WriteFile(path, "[Current]\r\nAppName=My App\r\nbuildId = 12 \r\nLong=" + longValue + "\r\n");

    struct Case {
        const char* section;
        const char* key;
        std::string expected;
    } cases[] = {
        {.section = "Current", .key = "AppName", .expected = "My App"},
        {.section = "current", .key = "APPNAME", .expected = "My App"},
        {.section = "Current", .key = "buildId", .expected = "12"},
        {.section = "Current", .key = "Missing", .expected = "dflt"},
        {.section = "Other", .key = "AppName", .expected = "dflt"},
        {.section = "Current", .key = "Long", .expected = longValue.substr(0, 2047)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(sys.GetProfileString(path, c.section, c.key, "dflt"), c.expected) << c.key;

    // A bare name is the file in the current folder, not in the Windows folder.
    ASSERT_TRUE(::SetCurrentDirectoryA(dir.c_str()));
    EXPECT_EQ(sys.GetProfileString("updater-profile-test.ini", "Current", "AppName", ""), "My App");
    EXPECT_EQ(sys.GetProfileString(dir + "absent.ini", "Current", "AppName", "dflt"), "dflt");
}

TEST(Win32System, ErrorTextsClockAndLocale)
{
    Win32System sys;
    const std::string notFound = sys.ErrorText(2);
    EXPECT_FALSE(notFound.empty());
    EXPECT_NE(notFound.back(), '.');
    EXPECT_GT(static_cast<unsigned char>(notFound.back()), ' ');
    const char sep = sys.DecimalSeparator();
    EXPECT_TRUE(sep == '.' || sep == ',') << sep;
    const TDateTime a = sys.Now();
    sys.Sleep(120);
    const double elapsedMs = MillisecondsBetween(a, sys.Now());
    EXPECT_GE(elapsedMs, 100);
    EXPECT_LT(elapsedMs, 5000);
    EXPECT_LE(std::abs(sys.UtcBiasMinutes()), 14 * 60);
}

TEST(Win32System, ParameterTextQuotesAsTheRuntimeSplits)
{
    struct Case {
        std::vector<std::string> args;
        std::string text;
    } cases[] = {
        {.args = {"/update"}, .text = "/update"},
        {.args = {"a", "b c"}, .text = "a \"b c\""},
        {.args = {""}, .text = "\"\""},
        {.args = {"say \"hi\""}, .text = "\"say \\\"hi\\\"\""},
        {.args = {"C:\\dir with blank\\"}, .text = "\"C:\\dir with blank\\\\\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(platform::JoinParameters(c.args), c.text);
}

TEST(Win32System, StartsAProgramInAFolderWithBlanksAndWaitsForIt)
{
    // As in the updater: COM initialised on this thread, messages pumped between the waits.
    ASSERT_TRUE(SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE)));
    Win32System sys;
    const std::string dir = TempDir() + "dir with blanks\\";
    sys.CreateDir(dir);
    // The stand-in installer of the end-to-end tests, copied to a name with a blank.
    const std::string setup = dir + "setup test.exe";
    const std::string record = dir + "args.txt";
    ::DeleteFileA(record.c_str());
    ASSERT_TRUE(::CopyFileA((sys.ExeDir() + "fake_setup.exe").c_str(), setup.c_str(), FALSE));
    ::SetEnvironmentVariableA("UPDATER_SETUP_RECORD", record.c_str());
    auto process = sys.StartProcess(setup, {"/update"});
    ASSERT_NE(process, nullptr) << sys.ErrorText(sys.LastError());
    int waits = 0;
    platform::Process::WaitResult r;
    while ((r = process->Wait(50)) == platform::Process::WaitResult::Timeout && waits < 400) {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE))
            ::DispatchMessageA(&msg);
        ++waits;
    }
    EXPECT_EQ(r, platform::Process::WaitResult::Ended);
    EXPECT_EQ(sys.ReadFile(record), "arg /update\nend\n");
    // A start that fails is not tried here: the shell then shows its own error box first,
    // which would wait for a user.
    ::CoUninitialize();
}

} // namespace

// One run per application: a lock taken is refused to every other taker until it is
// freed. Under wine the locks of two handles in one process exclude each other as those
// of two processes do.
TEST(Win32System, ALockFileIsHeldUntilItsLockIsFreed)
{
    platform::Win32System sys;
    const std::string path = TempDir() + "updater win32 test.lock";
    auto first = sys.TryLockFile(path);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(sys.TryLockFile(path), nullptr);
    first.reset();
    EXPECT_NE(sys.TryLockFile(path), nullptr);
    sys.RemoveFile(path);
}

// Links planted on the Linux side of the prefix by scripts/test-windows.sh, in the folder
// UPDATER_WINE_LINKS names: "create.part" links to "victim.txt" and "folder.part" is an
// empty folder. Each is replaced by a fresh file of the stream's own; the victim keeps its
// bytes. (wine shows a Linux link only as its target, with no reparse point anywhere, so a
// file continued in place, OpenMode::Append, cannot tell a link there; a new file is made
// under another name and moved into place, which replaces the link.)
TEST(Win32System, APlantedLinkIsReplacedNeverWrittenThrough)
{
    const char* dir = std::getenv("UPDATER_WINE_LINKS");
    if (!dir)
        GTEST_SKIP() << "UPDATER_WINE_LINKS is not set (scripts/test-windows.sh plants the links)";
    platform::Win32System sys;
    const std::string folder = dir;
    const std::string victim = sys.ReadFile(folder + "victim.txt");
    ASSERT_EQ(victim, "precious\n");
    struct Case {
        const char* name;
        platform::System::OpenMode mode;
    } cases[] = {
        {"create.part", platform::System::OpenMode::Create},
        {"folder.part", platform::System::OpenMode::Create},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        {
            auto stream = sys.OpenFileStream(folder + c.name, c.mode);
            EXPECT_EQ(stream->Size(), 0);
            stream->Write("new", 3);
        }
        EXPECT_EQ(sys.ReadFile(folder + "victim.txt"), victim);
        EXPECT_EQ(sys.ReadFile(folder + c.name), "new");
        const DWORD a = ::GetFileAttributesA((folder + c.name).c_str());
        EXPECT_FALSE(a & (FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DIRECTORY)) << a;
    }
    // webinfo.ini and the resume record are written beside a planted link the same way.
    sys.WriteFile(folder + "written.ini", "[web]\n");
    EXPECT_EQ(sys.ReadFile(folder + "victim.txt"), victim);
    EXPECT_EQ(sys.ReadFile(folder + "written.ini"), "[web]\n");
}
