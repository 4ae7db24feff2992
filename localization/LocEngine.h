#pragma once
// The localization engine: loads one language file, keeps it parsed, reads its header
// and its numbered strings, and relabels windows from it.
//
// Use:
//     TLocEngine engine(system);               // platform::System reads the file
//     engine.LoadLanguageFile(exeDir + "Languages/french.lng");   // or none at all
//     TMessageCatalogue catalogue;             // French defaults (MessageCatalogue.h)
//     catalogue.Load(engine);                  // 1..64 from "-Strings-", own texts from "-Messages-"
//     engine.TranslateForm(form);              // section "TUpdateFrm", else "UpdateFrm"
//     std::string title = Format(catalogue.Entry(CatalogueEntry::Title), {appName});
//
// A language file:
//     [-Header-]
//     IsUTF8=1                 ; texts below are UTF-8 (otherwise narrow text as it is)
//     UIFont=DejaVu Sans       ; face given to relabelled windows ("MS Sans Serif")
//     [-Strings-]
//     1=...                    ; numbered strings 1, 2, 3... up to the first gap;
//                              ; "|" is a line break (CR LF), "%/" a literal "|"
//     [-Messages-]
//     AnswerRefused=...        ; the updater's own texts by name, same replacements
//     [TUpdateFrm]
//     -Caption-=...            ; the window's caption
//     cancelBt=Cancel          ; component texts by component name (rules in TranslateComponent)
//
// The engine lives as long as its user (the update window) and borrows the System,
// which must outlive it. Used from the user-interface thread only.

#include "localization/LangFile.h"
#include "platform/system/forward.h"
#include "platform/ui/forward.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class TLocEngine {
public:
    explicit TLocEngine(platform::System& system);
    virtual ~TLocEngine();
    TLocEngine(const TLocEngine&) = delete;
    TLocEngine& operator=(const TLocEngine&) = delete;

    // Replaces the loaded file by the one at `path`, then reads its header and strings.
    // An empty path, a missing file or a folder gives an empty file, not an error. A file
    // that exists but cannot be read raises the System's EFOpenError ("Cannot open file
    // "<path>". <reason>") and leaves the engine as freshly constructed, without a file.
    void LoadLanguageFile(const std::string& path);
    // From "-Header-": IsUTF8 (default false) and UIFont (default "MS Sans Serif").
    // Without a loaded file nothing changes.
    void ReadHeader();
    // Rebuilds the string table from "-Strings-" keys "1", "2", ... up to the first
    // missing key; UTF-8 texts are decoded. Without a loaded file nothing changes.
    void ReadStrings();
    // Stores string `number` (from 1) in `dest` with every "|" replaced by CR LF and then
    // every "%/" by "|"; leaves `dest` alone when the table holds fewer strings.
    void GetString(int number, std::string& dest) const;
    // Stores the "-Messages-" value of `key` in `dest`, decoded and with the same two
    // replacements as GetString; leaves `dest` alone when the file has no such key.
    void GetNamedString(std::string_view key, std::string& dest) const;

    // Relabels the form and the components it owns from the section named after its class
    // (or that name without a leading "T" when the full name's section does not exist):
    // key "-Caption-" for the caption, component names for their texts, and the header's
    // font face for the form. Does nothing when no language file was chosen.
    void TranslateForm(TForm& form) const;
    // Applies one text to one component by the first rule whose kind it has: TButton
    // (and TBitBtn), TLabel, TEdit, TComboBox, TCheckBox, TListView, TGroupBox, TTabSheet,
    // TMenuItem, TOpenDialog, TSpeedButton, TRadioButton, TRadioGroup. Other kinds are left
    // unchanged. Items that a rule wants but the value lacks leave their texts unchanged.
    void TranslateComponent(TComponent& component, const std::string& value) const;

    // The loaded file, or null before the first load and after a failed one.
    const TLangFile* IniFile() const { return FIniFile.get(); }
    const std::vector<std::string>& Strings() const { return FStrings; }
    bool IsUTF8() const { return FIsUTF8; }
    const std::string& UIFont() const { return FUIFont; }

    static constexpr std::string_view kHeaderSection = "-Header-";
    static constexpr std::string_view kStringsSection = "-Strings-";
    // The updater's own texts, by name: kept apart from the numbering that language files
    // of other applications share.
    static constexpr std::string_view kMessagesSection = "-Messages-";
    static constexpr std::string_view kCaptionKey = "-Caption-";
    static constexpr std::string_view kDefaultUIFont = "MS Sans Serif";

private:
    // A text of the file as the narrow code page holds it.
    std::string Decode(const std::string& text) const;

    platform::System& FSystem;
    std::unique_ptr<TLangFile> FIniFile;
    std::vector<std::string> FStrings;
    bool FIsUTF8 = false;
    std::string FUIFont;
};
