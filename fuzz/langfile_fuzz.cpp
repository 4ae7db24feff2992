// Language-file bytes through the section store, the comma list, UTF-8 decoding, the engine's
// string table, the message catalogue and the relabelling of a window: everything a
// language file dropped beside the executable can reach.

#include "FuzzSupport.h"

#include "localization/CommaList.h"
#include "localization/LangFile.h"
#include "localization/LocEngine.h"
#include "localization/MessageCatalogue.h"
#include "localization/TextDecoding.h"
#include "platform/runtime/Exception.h"
#include "platform/runtime/Format.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"
#include "tests/support/FakeSystem.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace {

class TUpdateFrm : public TForm {
public:
    using TForm::TForm;
    UPDATER_CLASS_NAME(TUpdateFrm)
};

bool HasSurrogate(std::u16string_view text)
{
    for (char16_t c : text)
        if (c >= 0xD800 && c <= 0xDFFF)
            return true;
    return false;
}

void CheckValue(const std::string& value)
{
    FUZZ_CHECK(value.find_first_of(std::string_view("\r\n\0", 3)) == std::string::npos);

    // Every item is made of the value's bytes: none can be longer than the value, and there
    // is at most one item more than there are bytes (a trailing comma's empty item).
    const auto items = SplitCommaList(value);
    FUZZ_CHECK(items.size() <= value.size() + 1);
    for (const auto& item : items)
        FUZZ_CHECK(item.size() <= value.size());

    const std::u16string wide = Utf8ToWide(value);
    FUZZ_CHECK(wide.size() <= value.size());
    const std::string narrow = WideToNarrow(wide);
    FUZZ_CHECK(fuzz::IsValidUtf8(narrow));
    FUZZ_CHECK(narrow == DecodeUtf8Text(value));
    // Without surrogates the narrow text holds the same characters, so it decodes back.
    if (!HasSurrogate(wide))
        FUZZ_CHECK(Utf8ToWide(narrow) == wide);
}

void CheckCatalogue(const TMessageCatalogue& catalogue)
{
    // A translated entry may carry any placeholders: formatting it may fail, but only with
    // the conversion error its users expect.
    for (int n = 1; n <= TMessageCatalogue::kEntryCount; ++n) {
        const std::string& entry = catalogue.Entry(n);
        if (entry == TMessageCatalogue::Default(n))
            continue;
        for (const std::vector<FormatArg>& args :
             {std::vector<FormatArg>{}, std::vector<FormatArg>{std::string("App"), std::string("1.0")},
              std::vector<FormatArg>{std::int64_t{42}, std::int64_t{-7}}, std::vector<FormatArg>{3.25}}) {
            try {
                Format(entry, args);
            } catch (const EConvertError&) {
            }
        }
    }
}

void CheckTranslation(const TLocEngine& engine)
{
    TUpdateFrm form(nullptr, "UpdateFrm");
    new TButton(&form, "Button");
    new TBitBtn(&form, "BitBtn");
    new TLabel(&form, "Label");
    new TEdit(&form, "Edit");
    auto* combo = new TComboBox(&form, "Combo");
    combo->SetItems({"one", "two", "three"});
    combo->SetItemIndex(2);
    new TCheckBox(&form, "Check");
    auto* list = new TListView(&form, "List");
    list->SetColumns({"Name", "Size"});
    list->SetRows({{"a", {}}, {"b", {}}});
    new TGroupBox(&form, "Group");
    new TTabSheet(&form, "Sheet");
    new TMenuItem(&form, "Menu");
    new TOpenDialog(&form, "Open");
    new TSpeedButton(&form, "Speed");
    new TRadioButton(&form, "Radio");
    auto* radios = new TRadioGroup(&form, "Radios");
    radios->SetItems({"x", "y", "z"});

    engine.TranslateForm(form);

    FUZZ_CHECK(combo->ItemIndex() >= -1 && combo->ItemIndex() < static_cast<int>(combo->Items().size()));
    FUZZ_CHECK(list->Columns().size() == 2 && list->Rows().size() == 2 && list->UpdateCount() == 0);
    FUZZ_CHECK(radios->Items().size() == 3 && radios->UpdateCount() == 0);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const TLangFile file = ParseLangFile(bytes);
    for (const char* section : {"-Header-", "-Strings-", "TUpdateFrm", "UpdateFrm"}) {
        for (const auto& line : file.SectionLines(section)) {
            // Every stored key is found again; a repeated key reads as its last line.
            if (line.IsKey)
                FUZZ_CHECK(file.ValueExists(section, line.Key));
            CheckValue(line.Value);
        }
    }

    // The engine as the update window drives it, reading the file through the system.
    FakeSystem system;
    const std::string path = "/opt/app/Languages/french.lng";
    system.files[path] = std::string(bytes);
    TLocEngine engine(system);
    engine.LoadLanguageFile(path);
    FUZZ_CHECK(engine.IniFile() != nullptr);
    FUZZ_CHECK(engine.IsUTF8() == file.ReadBool("-Header-", "IsUTF8", false));

    // The table holds strings 1..n without a gap and stops at the first missing number.
    const auto& strings = engine.Strings();
    FUZZ_CHECK(!file.ValueExists("-Strings-", std::to_string(strings.size() + 1)));
    for (std::size_t n = 1; n <= strings.size(); ++n) {
        if (engine.IsUTF8())
            FUZZ_CHECK(fuzz::IsValidUtf8(strings[n - 1]));
        std::string text = "unchanged";
        engine.GetString(static_cast<int>(n), text);
        FUZZ_CHECK(text.find('|') == std::string::npos || strings[n - 1].find("%/") != std::string::npos);
    }

    TMessageCatalogue catalogue;
    catalogue.Load(engine);
    CheckCatalogue(catalogue);
    CheckTranslation(engine);
    return 0;
}
