// Loading a language file through the System, its header, its string table and the
// replacements of GetString.

#include "LoadedEngine.h"

#include <gtest/gtest.h>

using namespace std::string_literals;

TEST(LocEngineLoad, NewEngineHasNothing)
{
    FakeSystem system;
    TLocEngine engine(system);
    engine.ReadHeader();
    engine.ReadStrings();
    EXPECT_EQ(engine.IniFile(), nullptr);
    EXPECT_FALSE(engine.IsUTF8());
    EXPECT_EQ(engine.UIFont(), "");
    std::string dest = "kept";
    engine.GetString(1, dest);
    EXPECT_EQ(dest, "kept");
}

TEST(LocEngineLoad, MissingFileEmptyPathAndFolderGiveAnEmptyFile)
{
    FakeSystem system;
    // A system whose file test also answers for folders: the folder must still not be read.
    system.dirs.insert("/opt/app/Languages");
    system.files["/opt/app/Languages"] = "[-Strings-]\n1=from a folder";
    for (const char* path : {"/opt/app/Languages/none.lng", "", "/opt/app/Languages"}) {
        TLocEngine engine(system);
        engine.LoadLanguageFile(path);
        ASSERT_NE(engine.IniFile(), nullptr) << path;
        EXPECT_FALSE(engine.IsUTF8()) << path;
        EXPECT_EQ(engine.UIFont(), "MS Sans Serif") << path;
        EXPECT_TRUE(engine.Strings().empty()) << path;
    }
}

TEST(LocEngineLoad, UnreadableFilePropagatesAndLeavesNoFile)
{
    LoadedEngine loaded("[-Header-]\nIsUTF8=1\nUIFont=Face\n[-Strings-]\n1=one\n");
    ASSERT_EQ(loaded.engine.Strings().size(), 1u);
    loaded.system.unreadable.insert(LoadedEngine::kPath);
    try {
        loaded.engine.LoadLanguageFile(LoadedEngine::kPath);
        FAIL() << "no error";
    } catch (const EFOpenError& e) {
        EXPECT_EQ(e.Message(), "Cannot open file \"/opt/app/Languages/test.lng\". Permission denied");
    }
    EXPECT_EQ(loaded.engine.IniFile(), nullptr);
    EXPECT_TRUE(loaded.engine.Strings().empty());
    EXPECT_FALSE(loaded.engine.IsUTF8());
    std::string dest = "kept";
    loaded.engine.GetString(1, dest);
    EXPECT_EQ(dest, "kept");
}

TEST(LocEngineHeader, ReadsIsUtf8AndFontFace)
{
    struct Case {
        const char* name;
        std::string header;
        bool utf8;
        std::string font;
    } cases[] = {
        {.name = "no header", .header = "", .utf8 = false, .font = "MS Sans Serif"},
        {.name = "true is not an integer", .header = "IsUTF8=true", .utf8 = false, .font = "MS Sans Serif"},
        {.name = "1", .header = "IsUTF8=1\nUIFont=DejaVu Sans", .utf8 = true, .font = "DejaVu Sans"},
        {.name = "-1", .header = "IsUTF8=-1", .utf8 = true, .font = "MS Sans Serif"},
        {.name = "0x1", .header = "isutf8=0x1", .utf8 = true, .font = "MS Sans Serif"},
        {.name = "$1", .header = "IsUTF8=$1", .utf8 = true, .font = "MS Sans Serif"},
        {.name = "0", .header = "IsUTF8=0\nUIFont=", .utf8 = false, .font = ""},
        // The face is a system name: never decoded, even from a UTF-8 file.
        {.name = "font not decoded", .header = "IsUTF8=1\nUIFont=F\xE9", .utf8 = true, .font = "F\xE9"},
    };
    for (const auto& c : cases) {
        LoadedEngine loaded("[-Header-]\n" + c.header + "\n");
        EXPECT_EQ(loaded.engine.IsUTF8(), c.utf8) << c.name;
        EXPECT_EQ(loaded.engine.UIFont(), c.font) << c.name;
    }
}

TEST(LocEngineHeader, ByteOrderMarkHidesTheHeader)
{
    LoadedEngine loaded("\xEF\xBB\xBF[-Header-]\r\nIsUTF8=1\r\nUIFont=Face\r\n[-Strings-]\r\n1=caf\xC3\xA9\r\n");
    EXPECT_FALSE(loaded.engine.IsUTF8());
    EXPECT_EQ(loaded.engine.UIFont(), "MS Sans Serif");
    ASSERT_EQ(loaded.engine.Strings().size(), 1u);
    EXPECT_EQ(loaded.engine.Strings()[0], "caf\xC3\xA9");
}

TEST(LocEngineStrings, TableEndsAtTheFirstGap)
{
    using V = std::vector<std::string>;
    struct Case {
        const char* name;
        std::string file;
        V want;
    } cases[] = {
        {.name = "gap at 4", .file = "[-Strings-]\n1=a\n2=b\n3=c\n5=e", .want = {"a", "b", "c"}},
        {.name = "no 1", .file = "[-Strings-]\n2=b", .want = {}},
        {.name = "leading zero is not a number", .file = "[-Strings-]\n1=a\n02=b", .want = {"a"}},
        {.name = "empty value keeps its place", .file = "[-Strings-]\n1=\n2=b", .want = {"", "b"}},
        {.name = "later section only", .file = "[-Strings-]\n1=a\n2=b\n[-strings-]\n1=z", .want = {"z"}},
        {.name = "later duplicate key", .file = "[-Strings-]\n1=a\n2=b\n2=B", .want = {"a", "B"}},
        {.name = "bare line is not a key", .file = "[-Strings-]\n1=a\n2\n3=c", .want = {"a"}},
        {.name = "order in file is free", .file = "[-Strings-]\n2=b\n1=a", .want = {"a", "b"}},
        {.name = "narrow file taken as it is", .file = "[-Strings-]\n1=\xE9t\xE9", .want = {"\xE9t\xE9"}},
        {.name = "UTF-8 decoded",
         .file = "[-Header-]\nIsUTF8=1\n[-Strings-]\n1=caf\xC3\xA9\n2=D\xE9t\n3=x",
         .want = {"caf\xC3\xA9", "", "x"}},
    };
    for (const auto& c : cases)
        EXPECT_EQ(LoadedEngine(c.file).engine.Strings(), c.want) << c.name;
}

TEST(LocEngineStrings, ReloadReplacesHeaderAndTable)
{
    LoadedEngine loaded("[-Header-]\nIsUTF8=1\n[-Strings-]\n1=a\n2=b\n");
    loaded.system.files[LoadedEngine::kPath] = "[-Strings-]\n1=\xE9\n";
    loaded.engine.LoadLanguageFile(LoadedEngine::kPath);
    EXPECT_FALSE(loaded.engine.IsUTF8());
    EXPECT_EQ(loaded.engine.Strings(), std::vector<std::string>{"\xE9"});
}

TEST(LocEngineStrings, GetStringReplacesBarsThenPercentSlash)
{
    struct Case {
        const char* value;
        const char* want;
    } cases[] = {
        {.value = "two|lines", .want = "two\r\nlines"},
        {.value = "a%/b", .want = "a|b"},
        {.value = "ends in %|", .want = "ends in %\r\n"},
        {.value = "|%/|", .want = "\r\n|\r\n"},
        {.value = "%%/", .want = "%|"},
        {.value = "%/%/", .want = "||"},
        {.value = "plain %s", .want = "plain %s"},
    };
    for (const auto& c : cases) {
        LoadedEngine loaded("[-Strings-]\n1=" + std::string(c.value) + "\n");
        std::string dest = "old";
        loaded.engine.GetString(1, dest);
        EXPECT_EQ(dest, c.want) << c.value;
    }
}

TEST(LocEngineStrings, GetStringBeyondTheTableLeavesTheDestination)
{
    LoadedEngine loaded("[-Strings-]\n1=a\n2=\n");
    std::string dest = "previous";
    for (int n : {0, -1, 3, 64}) {
        loaded.engine.GetString(n, dest);
        EXPECT_EQ(dest, "previous") << n;
    }
    loaded.engine.GetString(2, dest);
    EXPECT_EQ(dest, "");
}
