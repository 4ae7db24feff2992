#include "localization/LocEngine.h"

#include "localization/CommaList.h"
#include "localization/TextDecoding.h"
#include "platform/runtime/Strings.h"
#include "platform/system/System.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Form.h"

TLocEngine::TLocEngine(platform::System& system) : FSystem(system) {}

TLocEngine::~TLocEngine() = default;

void TLocEngine::LoadLanguageFile(const std::string& path)
{
    // Back to the state of a new engine first, so that a file that cannot be read leaves
    // no header or strings of an earlier file behind.
    FIniFile.reset();
    FStrings.clear();
    FIsUTF8 = false;
    FUIFont.clear();

    std::string bytes;
    if (!path.empty() && FSystem.FileExists(path) && !FSystem.DirectoryExists(path))
        bytes = FSystem.ReadFile(path);
    FIniFile = std::make_unique<TLangFile>(ParseLangFile(bytes));
    // The header says how the strings are encoded, so it comes first.
    ReadHeader();
    ReadStrings();
}

void TLocEngine::ReadHeader()
{
    if (!FIniFile)
        return;
    FIsUTF8 = FIniFile->ReadBool(kHeaderSection, "IsUTF8", false);
    // The face name is a system name, not a text of the file: never decoded.
    FUIFont = FIniFile->ReadString(kHeaderSection, "UIFont", kDefaultUIFont);
}

void TLocEngine::ReadStrings()
{
    if (!FIniFile)
        return;
    FStrings.clear();
    for (int n = 1;; ++n) {
        const std::string key = std::to_string(n);
        if (!FIniFile->ValueExists(kStringsSection, key))
            break;
        FStrings.push_back(Decode(FIniFile->ReadString(kStringsSection, key, "")));
    }
}

namespace {

// In this order, so that "%/" can write a bar that the first step does not break.
std::string WithLineBreaks(const std::string& text) { return ReplaceAll(ReplaceAll(text, "|", "\r\n"), "%/", "|"); }

} // namespace

void TLocEngine::GetString(int number, std::string& dest) const
{
    if (number < 1 || static_cast<std::size_t>(number) > FStrings.size())
        return;
    dest = WithLineBreaks(FStrings[static_cast<std::size_t>(number) - 1]);
}

void TLocEngine::GetNamedString(std::string_view key, std::string& dest) const
{
    if (!FIniFile || !FIniFile->ValueExists(kMessagesSection, key))
        return;
    dest = WithLineBreaks(Decode(FIniFile->ReadString(kMessagesSection, key, "")));
}

std::string TLocEngine::Decode(const std::string& text) const { return FIsUTF8 ? DecodeUtf8Text(text) : text; }

void TLocEngine::TranslateForm(TForm& form) const
{
    if (!FIniFile)
        return;

    std::string section(form.ClassName());
    if (!FIniFile->SectionExists(section) && !section.empty() && section.front() == 'T')
        section.erase(0, 1);

    // A UTF-8 file without a caption key keeps the caption as it is: passing the current
    // (narrow) caption through the decoder would empty any caption with accents.
    if (FIniFile->ValueExists(section, kCaptionKey))
        form.SetCaption(Decode(FIniFile->ReadString(section, kCaptionKey, "")));

    if (!FUIFont.empty())
        form.SetFontName(FUIFont);

    for (TComponent* component : form.Components()) {
        // An unnamed component has no key of its own; it must not take the value of a
        // line that starts with "=".
        if (component->Name().empty())
            continue;
        std::string text = FIniFile->ReadString(section, component->Name(), "");
        // Emptiness is judged before decoding: a value that is not well-formed UTF-8 still
        // reaches the rules, as empty text.
        if (text.empty())
            continue;
        TranslateComponent(*component, Decode(text));
    }
}

namespace {

// Caption and hint from the first two items; absent items leave their text alone.
template <class T>
void SetCaptionAndHint(T& control, const std::vector<std::string>& items)
{
    if (!items.empty())
        control.SetCaption(items[0]);
    if (items.size() >= 2)
        control.SetHint(items[1]);
}

// Column captions first, then row captions, from the items in order.
void TranslateListView(TListView& list, const std::string& value)
{
    const std::vector<std::string> items = SplitCommaList(value);
    const std::size_t columns = list.Columns().size();
    list.BeginUpdate();
    for (std::size_t c = 0; c < columns && c < items.size(); ++c)
        list.SetColumnCaption(static_cast<int>(c), items[c]);
    for (std::size_t r = 0; r < list.Rows().size() && columns + r < items.size(); ++r)
        list.SetRowCaption(static_cast<int>(r), items[columns + r]);
    list.EndUpdate();
}

void TranslateRadioGroup(TRadioGroup& radioGroup, const std::string& value)
{
    const std::vector<std::string> items = SplitCommaList(value);
    if (!items.empty())
        radioGroup.SetCaption(items[0]);
    radioGroup.BeginUpdate();
    // Item k (from 2) names entry k-1; entries without an item keep their text and
    // items without an entry are ignored.
    for (std::size_t k = 2; k <= items.size() && k - 1 <= radioGroup.Items().size(); ++k)
        radioGroup.SetItem(static_cast<int>(k - 2), items[k - 1]);
    radioGroup.EndUpdate();
}

} // namespace

void TLocEngine::TranslateComponent(TComponent& component, const std::string& value) const
{
    // The order matters: the first kind that matches decides, and TBitBtn is a TButton.
    if (auto* button = dynamic_cast<TButton*>(&component)) {
        if (value.find_first_of(",\"") != std::string::npos)
            SetCaptionAndHint(*button, SplitCommaList(value));
        else
            button->SetCaption(value);
    } else if (auto* label = dynamic_cast<TLabel*>(&component)) {
        label->SetCaption(value);
    } else if (auto* edit = dynamic_cast<TEdit*>(&component)) {
        edit->SetText(value);
    } else if (auto* combo = dynamic_cast<TComboBox*>(&component)) {
        const int selected = combo->ItemIndex();
        std::vector<std::string> items = SplitCommaList(value);
        const bool keep = selected < static_cast<int>(items.size());
        combo->SetItems(std::move(items));
        combo->SetItemIndex(keep ? selected : -1);
    } else if (auto* check = dynamic_cast<TCheckBox*>(&component)) {
        check->SetCaption(value);
    } else if (auto* list = dynamic_cast<TListView*>(&component)) {
        TranslateListView(*list, value);
    } else if (auto* group = dynamic_cast<TGroupBox*>(&component)) {
        group->SetCaption(value);
    } else if (auto* sheet = dynamic_cast<TTabSheet*>(&component)) {
        sheet->SetCaption(value);
    } else if (auto* item = dynamic_cast<TMenuItem*>(&component)) {
        item->Caption = value;
    } else if (auto* dialog = dynamic_cast<TOpenDialog*>(&component)) {
        dialog->Filter = value;
    } else if (auto* speed = dynamic_cast<TSpeedButton*>(&component)) {
        // Split even without a comma: blanks alone separate caption and hint here.
        SetCaptionAndHint(*speed, SplitCommaList(value));
    } else if (auto* radio = dynamic_cast<TRadioButton*>(&component)) {
        radio->SetCaption(value);
    } else if (auto* radioGroup = dynamic_cast<TRadioGroup*>(&component)) {
        TranslateRadioGroup(*radioGroup, value);
    }
}
