#include "update/Settings.h"
#include "update/SettingsFile.h"
#include "update/UpdateFolder.h"

#include "tests/support/FakeSystem.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace {

const std::string kServer = "http://built.in/update/";
const std::string kHome = "http://built.in";

TEST(SettingsFile, NumbersFollowTheSystemSeparator)
{
    struct Case {
        const char* name;
        std::optional<std::string> line; // the "buildId=" value; nothing: no such key
        char separator;
        double want;
    } cases[] = {
        {.name = "integer, point", .line = "2013", .separator = '.', .want = 2013},
        {.name = "integer, comma", .line = "2013", .separator = ',', .want = 2013},
        {.name = "point under point", .line = "2013.5", .separator = '.', .want = 2013.5},
        {.name = "point under comma", .line = "2013.5", .separator = ',', .want = -1},
        {.name = "comma under comma", .line = "2013,5", .separator = ',', .want = 2013.5},
        {.name = "comma under point", .line = "2013,5", .separator = '.', .want = -1},
        {.name = "2013.0 under comma", .line = "2013.0", .separator = ',', .want = -1},
        {.name = "2013,0 under comma", .line = "2013,0", .separator = ',', .want = 2013},
        {.name = "inner blanks (quoted)", .line = "\"  2013  \"", .separator = '.', .want = 2013},
        {.name = "tab is not a blank", .line = "\"\t2013\"", .separator = '.', .want = -1},
        {.name = "exponent", .line = "2.013e3", .separator = '.', .want = 2013},
        {.name = "exponent with sign, comma", .line = "20130E-1", .separator = ',', .want = 2013},
        {.name = "negative", .line = "-7", .separator = '.', .want = -7},
        {.name = "empty value", .line = "", .separator = '.', .want = -1},
        {.name = "absent key", .line = std::nullopt, .separator = '.', .want = -1},
        {.name = "junk", .line = "build 2013", .separator = '.', .want = -1},
        {.name = "trailing junk", .line = "2013b", .separator = '.', .want = -1},
        {.name = "hexadecimal", .line = "0x7DD", .separator = '.', .want = -1},
        {.name = "thousands separator", .line = "2,013", .separator = '.', .want = -1},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.separator = c.separator;
        sys.files["/f.ini"] = "[s]\n" + (c.line ? "buildId=" + *c.line + "\n" : std::string());
        TSettingsFile ini(sys, "/f.ini");
        EXPECT_EQ(ini.ReadFloat("s", "BUILDID", -1), c.want) << c.name;
    }
}

TEST(InstalledSettings, DefaultsWithoutTheFile)
{
    FakeSystem sys;
    const InstalledSettings s = ReadInstalledSettings(sys, kServer, kHome);
    EXPECT_EQ(s.LocalVersion, "1.0");
    EXPECT_EQ(s.LocalBuild, 2012);
    EXPECT_EQ(s.AppName, "");
    EXPECT_EQ(s.UpdateServer, kServer);
    EXPECT_EQ(s.HomePage, kHome);
}

TEST(InstalledSettings, PublicKeysComeFromTheFileOrTheBuiltInText)
{
    struct Case {
        const char* name;
        std::string file;
        std::string builtIn;
        std::string want;
    } cases[] = {
        {"no key anywhere: offers are not verified", "[Current]\n", "", ""},
        {"the built-in key", "[Current]\n", "BUILTIN", "BUILTIN"},
        {"the file's keys replace it", "[Current]\npublickey=K1, K2\n", "BUILTIN", "K1, K2"},
        {"an empty value keeps it", "[Current]\nPublicKey=\n", "BUILTIN", "BUILTIN"},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.files[sys.ExeDir() + "update.ini"] = c.file;
        EXPECT_EQ(ReadInstalledSettings(sys, kServer, kHome, c.builtIn).PublicKey, c.want) << c.name;
    }
}

TEST(InstalledSettings, ReadsBesideTheExecutable)
{
    struct Case {
        const char* name;
        std::string file;
        char separator = '.';
        InstalledSettings want;
    } cases[] = {
        {.name = "all keys, any case",
         .file = "[current]\nversion=2.1\nBUILDID=2013\nappname=My App\n",
         .want = {.LocalVersion = "2.1",
                  .LocalBuild = 2013,
                  .AppName = "My App",
                  .UpdateServer = kServer,
                  .HomePage = kHome}},
        {.name = "overrides",
         .file = "[Current]\nAppName=X\nUpdateServer=http://10.0.0.1/u/\nHomePage=http://10.0.0.1\n",
         .want = {.LocalVersion = "1.0",
                  .LocalBuild = 2012,
                  .AppName = "X",
                  .UpdateServer = "http://10.0.0.1/u/",
                  .HomePage = "http://10.0.0.1"}},
        {.name = "server override gets its final separator",
         .file = "[Current]\nUpdateServer=http://10.0.0.1/update\n",
         .want =
             {.LocalVersion = "1.0", .LocalBuild = 2012, .UpdateServer = "http://10.0.0.1/update/", .HomePage = kHome}},
        {.name = "empty overrides keep the built-in texts",
         .file = "[Current]\nUpdateServer=\nHomePage=\"\"\n",
         .want = {.LocalVersion = "1.0", .LocalBuild = 2012, .UpdateServer = kServer, .HomePage = kHome}},
        {.name = "overrides only in Current",
         .file = "[Other]\nUpdateServer=http://x/\n[Current]\nVersion=3\n",
         .want = {.LocalVersion = "3", .LocalBuild = 2012, .UpdateServer = kServer, .HomePage = kHome}},
        {.name = "2013.0 under a comma locale",
         .file = "[Current]\nbuildId=2013.0\n",
         .separator = ',',
         .want = {.LocalVersion = "1.0", .LocalBuild = 2012, .UpdateServer = kServer, .HomePage = kHome}},
        {.name = "2013,0 under a comma locale",
         .file = "[Current]\nbuildId=2013,0\n",
         .separator = ',',
         .want = {.LocalVersion = "1.0", .LocalBuild = 2013, .UpdateServer = kServer, .HomePage = kHome}},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.separator = c.separator;
        sys.files["/opt/app/update.ini"] = c.file;
        sys.files["/opt/update.ini"] = "[Current]\nVersion=wrong file\n";
        const InstalledSettings s = ReadInstalledSettings(sys, kServer, kHome);
        EXPECT_EQ(s.LocalVersion, c.want.LocalVersion) << c.name;
        EXPECT_EQ(s.LocalBuild, c.want.LocalBuild) << c.name;
        EXPECT_EQ(s.AppName, c.want.AppName) << c.name;
        EXPECT_EQ(s.UpdateServer, c.want.UpdateServer) << c.name;
        EXPECT_EQ(s.HomePage, c.want.HomePage) << c.name;
    }
}

TEST(OfferedSettings, ReadsTheSavedReplyInTheUpdateFolder)
{
    const std::string folder = "/home/user/Documents/App/Update/";
    struct Case {
        const char* name;
        std::optional<std::string> file;
        OfferedSettings want;
    } cases[] = {
        {.name = "no reply", .file = std::nullopt, .want = {.WebBuild = 0, .WebVersion = "0.0"}},
        {.name = "not the format",
         .file = "<html><body>502 Bad Gateway</body></html>",
         .want = {.WebBuild = 0, .WebVersion = "0.0"}},
        {.name = "full reply",
         .file = "[WEB]\r\nBuildId=2014\r\nVersion=2.0\r\nWhatNews=Faster|Smaller\r\nsetuppath=http://h/s.exe\r\n",
         .want = {.WebBuild = 2014, .WebVersion = "2.0", .WhatNews = "Faster|Smaller", .SetupPath = "http://h/s.exe"}},
        {.name = "unreadable build",
         .file = "[web]\nbuildId=new\nversion=2.0\n",
         .want = {.WebBuild = 0, .WebVersion = "2.0"}},
        {.name = "long notes",
         .file = "[web]\nwhatnews=" + std::string(3000, 'n') + "\n",
         .want = {.WebBuild = 0, .WebVersion = "0.0", .WhatNews = std::string(2047, 'n')}},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        if (c.file)
            sys.files[folder + "webinfo.ini"] = *c.file;
        const OfferedSettings s = ReadOfferedSettings(sys, folder);
        EXPECT_EQ(s.WebBuild, c.want.WebBuild) << c.name;
        EXPECT_EQ(s.WebVersion, c.want.WebVersion) << c.name;
        EXPECT_EQ(s.WhatNews, c.want.WhatNews) << c.name;
        EXPECT_EQ(s.SetupPath, c.want.SetupPath) << c.name;
    }
    EXPECT_EQ(OfferedSettingsPath(folder), folder + "webinfo.ini");
}

TEST(UpdateFolder, FormedUnderTheDocumentsFolderAndCreated)
{
    struct Case {
        const char* name;
        std::optional<std::string> documents;
        std::string appName;
        std::string want;
        std::vector<std::string> created;
        std::vector<std::string> existing = {};
    } cases[] = {
        {.name = "named application",
         .documents = "/home/user/Documents",
         .appName = "App",
         .want = "/home/user/Documents/App/Update/",
         .created = {"/home/user/Documents/App", "/home/user/Documents/App/Update"}},
        {.name = "documents with separator",
         .documents = "/home/user/Documents/",
         .appName = "App",
         .want = "/home/user/Documents/App/Update/",
         .created = {"/home/user/Documents/App", "/home/user/Documents/App/Update"}},
        {.name = "empty name keeps two separators",
         .documents = "/home/user/Documents",
         .appName = "",
         .want = "/home/user/Documents//Update/",
         .created = {"/home/user/Documents//Update"}},
        {.name = "name containing the placeholder",
         .documents = "/home/user/Documents",
         .appName = "a$appname",
         .want = "/home/user/Documents/a$appname/Update/",
         .created = {"/home/user/Documents/a$appname", "/home/user/Documents/a$appname/Update"}},
        {.name = "blanks kept",
         .documents = "/home/user/Documents",
         .appName = " My App ",
         .want = "/home/user/Documents/ My App /Update/",
         .created = {"/home/user/Documents/ My App ", "/home/user/Documents/ My App /Update"}},
        {.name = "every missing level",
         .documents = "/mnt/docs",
         .appName = "App",
         .want = "/mnt/docs/App/Update/",
         .created = {"/mnt", "/mnt/docs", "/mnt/docs/App", "/mnt/docs/App/Update"}},
        {.name = "already there",
         .documents = "/home/user/Documents",
         .appName = "App",
         .want = "/home/user/Documents/App/Update/",
         .created = {},
         .existing = {"/home/user/Documents/App", "/home/user/Documents/App/Update"}},
        {.name = "no documents folder", .documents = std::nullopt, .appName = "App", .want = "/", .created = {}},
        {.name = "empty documents path", .documents = "", .appName = "App", .want = "/", .created = {}},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.documents = c.documents;
        sys.dirs.insert(c.existing.begin(), c.existing.end());
        EXPECT_EQ(FormUpdateFolder(sys, c.appName), c.want) << c.name;
        EXPECT_EQ(sys.createdDirs, c.created) << c.name;
    }
}

TEST(UpdateFolder, FirstFailureStopsTheCreationQuietly)
{
    FakeSystem sys;
    sys.documents = "/mnt/docs";
    sys.unwritable.insert("/mnt/docs");
    EXPECT_EQ(FormUpdateFolder(sys, "App"), "/mnt/docs/App/Update/");
    EXPECT_EQ(sys.createdDirs, std::vector<std::string>{"/mnt"});
    EXPECT_FALSE(sys.DirectoryExists("/mnt/docs/App"));
}

TEST(UpdateFolder, ForceDirectoriesEndsOnDegenerateTexts)
{
    struct Case {
        const char* dir;
        bool want;
        std::vector<std::string> created;
    } cases[] = {
        {"", true, {}},
        {"/", true, {}},
        {"ab", true, {}},
        {"/x/", true, {}},         // too short after the separator is dropped: left alone
        {"/x/y", false, {}},       // so its missing child cannot be made
        {"abc//", true, {}},       // its own parent once one separator is dropped
        {"/opt//app//", true, {}}, // exists, whatever the repeated separators
        {"/qq/r/s", true, {"/qq", "/qq/r", "/qq/r/s"}},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        EXPECT_EQ(ForceDirectories(sys, c.dir), c.want) << c.dir;
        EXPECT_EQ(sys.createdDirs, c.created) << c.dir;
    }
}

} // namespace

TEST(InstalledSettings, CAFileIsTakenFromTheExecutablesFolder)
{
    struct Case {
        const char* name;
        std::string file;
        std::string want;
    } cases[] = {
        {.name = "absent", .file = "[Current]\nVersion=1.0\n", .want = ""},
        {.name = "empty", .file = "[Current]\nCAFile=\n", .want = ""},
        {.name = "a name beside the updater",
         .file = "[Current]\nCAFile=company-ca.pem\n",
         .want = "/opt/app/company-ca.pem"},
        {.name = "a relative path", .file = "[Current]\ncafile=certs/ca.pem\n", .want = "/opt/app/certs/ca.pem"},
        {.name = "an absolute path",
         .file = "[Current]\nCAFile=/etc/ssl/company.pem\n",
         .want = "/etc/ssl/company.pem"},
        {.name = "a drive path", .file = "[Current]\nCAFile=C:\\certs\\ca.pem\n", .want = "C:\\certs\\ca.pem"},
        {.name = "only in Current", .file = "[Other]\nCAFile=x.pem\n", .want = ""},
    };
    for (const auto& c : cases) {
        FakeSystem sys;
        sys.files["/opt/app/update.ini"] = c.file;
        EXPECT_EQ(ReadInstalledSettings(sys, kServer, kHome).CAFile, c.want) << c.name;
    }
}
