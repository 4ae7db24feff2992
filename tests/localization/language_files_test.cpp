// The language files shipped beside the program, loaded as the updater loads them: every
// shown entry present, with the placeholders of its built-in text in the same order, and
// the window section naming the update window's components.

#include "localization/MessageCatalogue.h"
#include "platform/runtime/Format.h"
#include "platform/runtime/Strings.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"

#include "LoadedEngine.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#ifndef UPDATER_SOURCE_DIR_FALLBACK
#define UPDATER_SOURCE_DIR_FALLBACK "."
#endif

namespace {

std::string SourceFile(const std::string& relative)
{
    const char* dir = std::getenv("UPDATER_SOURCE_DIR");
    std::ifstream in(std::string(dir && *dir ? dir : UPDATER_SOURCE_DIR_FALLBACK) + "/" + relative, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// The update window's components by name, with the kind relabelling sees.
const std::set<std::string> kWindowComponents = {"Label1",   "Label2", "Label3",  "Memo",         "ProgressBar",
                                                 "cancelBt", "Timer1", "IdHTTP1", "IdAntiFreeze1"};

class TUpdateFrm : public TForm {
public:
    using TForm::TForm;
    UPDATER_CLASS_NAME(TUpdateFrm)
};

class ShippedLanguageFile : public testing::TestWithParam<const char*> {
protected:
    void SetUp() override
    {
        bytes = SourceFile(std::string("languages/") + GetParam());
        ASSERT_FALSE(bytes.empty()) << "cannot read languages/" << GetParam();
    }
    std::string bytes;
};

} // namespace

TEST_P(ShippedLanguageFile, HeaderAndCompleteStringTable)
{
    LoadedEngine loaded(bytes);
    EXPECT_TRUE(loaded.engine.IsUTF8());
    EXPECT_FALSE(loaded.engine.UIFont().empty());
    EXPECT_NE(loaded.engine.UIFont(), "MS Sans Serif"); // a face that Linux has
    ASSERT_EQ(loaded.engine.Strings().size(), static_cast<std::size_t>(TMessageCatalogue::kNumberedCount));
    // Nothing beyond the table, which would mean a gap in the numbering.
    EXPECT_FALSE(
        loaded.engine.IniFile()->ValueExists("-Strings-", std::to_string(TMessageCatalogue::kNumberedCount + 1)));
    // The updater's own texts, each under its key and no other key beside them.
    const auto lines = loaded.engine.IniFile()->SectionLines("-Messages-");
    std::size_t keys = 0;
    for (const auto& line : lines)
        keys += line.IsKey;
    EXPECT_EQ(keys, static_cast<std::size_t>(TMessageCatalogue::kEntryCount - TMessageCatalogue::kNumberedCount));
    for (const CatalogueEntryInfo& info : kCatalogueEntries) {
        if (info.Key) {
            EXPECT_TRUE(loaded.engine.IniFile()->ValueExists("-Messages-", info.Key)) << info.Key;
        }
    }
}

TEST_P(ShippedLanguageFile, ShownEntriesKeepTheirPlaceholders)
{
    LoadedEngine loaded(bytes);
    TMessageCatalogue catalogue;
    catalogue.Load(loaded.engine);
    for (int n : TMessageCatalogue::kShownEntries) {
        const std::string& text = catalogue.Entry(n);
        // Empty would also be what a broken UTF-8 text turns into.
        EXPECT_FALSE(text.empty()) << "entry " << n;
        std::string placeholders;
        EXPECT_NO_THROW(placeholders = FormatPlaceholders(text)) << "entry " << n << ": " << text;
        EXPECT_EQ(placeholders, FormatPlaceholders(TMessageCatalogue::Default(n))) << "entry " << n << ": " << text;
        // The count the updater's calls are checked against when they are compiled.
        EXPECT_EQ(placeholders, std::string(ArgumentCount(static_cast<CatalogueEntry>(n)), 's'))
            << "entry " << n << ": " << text;
        // Filled as the updater fills it.
        std::vector<FormatArg> args(placeholders.size(), std::string("x"));
        EXPECT_NO_THROW(Format(text, args)) << "entry " << n;
    }
}

TEST_P(ShippedLanguageFile, WindowSectionNamesTheUpdateWindowsComponents)
{
    LoadedEngine loaded(bytes);
    const TLangFile& file = *loaded.engine.IniFile();
    ASSERT_TRUE(file.SectionExists("TUpdateFrm"));
    for (const auto& line : file.SectionLines("TUpdateFrm")) {
        EXPECT_TRUE(line.IsKey) << line.Key;
        EXPECT_TRUE(line.Key == "-Caption-" || kWindowComponents.count(line.Key)) << "no component " << line.Key;
    }

    TUpdateFrm form(nullptr);
    std::map<std::string, TControl*> controls;
    for (const char* name : {"Label1", "Label2", "Label3"})
        controls[name] = new TLabel(&form, name);
    controls["cancelBt"] = new TButton(&form, "cancelBt");
    loaded.engine.TranslateForm(form);
    // Every text arrives whole: a button text with a comma or quote would be split.
    for (const auto& [name, control] : controls) {
        ASSERT_TRUE(file.ValueExists("TUpdateFrm", name)) << name;
        EXPECT_FALSE(control->Caption().empty()) << name;
        EXPECT_EQ(control->Caption(), file.ReadString("TUpdateFrm", name, "")) << name;
    }
    EXPECT_EQ(form.Font().Name, loaded.engine.UIFont());
}

INSTANTIATE_TEST_SUITE_P(Languages, ShippedLanguageFile, testing::Values("french.lng", "english.lng"),
                         [](const auto& info) {
                             return std::string(info.param).substr(0, std::string(info.param).find('.'));
                         });

TEST(FrenchLanguageFile, CarriesTheBuiltInTexts)
{
    LoadedEngine loaded(SourceFile("languages/french.lng"));
    TMessageCatalogue catalogue;
    catalogue.Load(loaded.engine);
    for (int n : TMessageCatalogue::kShownEntries) {
        std::string want = TMessageCatalogue::Default(n);
        // What a file cannot say: a lone CR (a bar gives CR LF) and a trailing blank.
        if (n == 57)
            want = ReplaceAll(want, "\r", "\r\n");
        if (n == 60)
            want.pop_back();
        EXPECT_EQ(catalogue.Entry(n), want) << "entry " << n;
    }
}

// The example in the README's "Language files" section (the block after its marker line),
// loaded as it stands: a publisher who copies it gets a file that does what it says.
TEST(ReadmeLanguageFile, TheExampleIsReadAsItStands)
{
    const std::string readme = SourceFile("README.md");
    const std::string marker = "<!-- example language file -->";
    const auto at = readme.find(marker);
    ASSERT_NE(at, std::string::npos) << "README.md has no line " << marker;
    const auto open = readme.find("```", at);
    const auto start = readme.find('\n', open);
    const auto end = readme.find("\n```", start);
    ASSERT_TRUE(open != std::string::npos && start != std::string::npos && end != std::string::npos);
    const std::string example = readme.substr(start + 1, end - start);

    LoadedEngine loaded(example);
    EXPECT_TRUE(loaded.engine.IsUTF8());
    EXPECT_EQ(loaded.engine.UIFont(), "DejaVu Sans");
    ASSERT_EQ(loaded.engine.Strings().size(), 3u);
    TMessageCatalogue catalogue;
    catalogue.Load(loaded.engine);
    for (int n = 1; n <= 3; ++n)
        EXPECT_EQ(catalogue.Entry(n), "Message " + std::to_string(n));

    TUpdateFrm form(nullptr, "UpdateFrm");
    auto* label3 = new TLabel(&form, "Label3");
    auto* cancel = new TButton(&form, "cancelBt");
    loaded.engine.TranslateForm(form);
    EXPECT_EQ(form.Caption(), "Update");
    EXPECT_EQ(form.Font().Name, "DejaVu Sans");
    EXPECT_EQ(label3->Caption(), "Visit the web site for more information");
    EXPECT_EQ(cancel->Caption(), "Cancel");
    EXPECT_EQ(cancel->Hint(), "Stop the update");
}
