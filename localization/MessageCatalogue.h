#pragma once
// The message catalogue: the 69 numbered texts from which the updater takes every
// message, status line, speed line and title it shows. Each entry starts with its
// built-in French text; Load replaces entry n by string n of the language file's
// "-Strings-" section when the file has that many strings (keys 1..n without a gap).
//
// The catalogue is an ordinary object held by whoever creates it (the update window),
// filled once after the language file is loaded and only read afterwards. Entries with
// %s are format texts for Format() with the arguments CatalogueEntry.h declares; a language
// file may replace them, so their users must expect Format to fail on a bad translation.

#include "localization/CatalogueEntry.h"
#include "localization/forward.h"

#include <array>
#include <string>

class TMessageCatalogue {
public:
    static constexpr int kEntryCount = 69;
    // The entries the updater shows; the others keep the numbering shared with the
    // language files of other applications and are never shown.
    static constexpr std::array<int, kCatalogueEntries.size()> kShownEntries = [] {
        std::array<int, kCatalogueEntries.size()> numbers{};
        for (std::size_t i = 0; i < numbers.size(); ++i)
            numbers[i] = EntryNumber(kCatalogueEntries[i].Entry);
        return numbers;
    }();

    // Every entry holds its built-in text.
    TMessageCatalogue();

    // The current text of entry `number` (1..kEntryCount); throws std::out_of_range otherwise.
    const std::string& Entry(int number) const;
    const std::string& Entry(CatalogueEntry e) const { return Entry(EntryNumber(e)); }
    // The built-in text of entry `number` (1..kEntryCount); throws std::out_of_range otherwise.
    static const std::string& Default(int number);
    static const std::string& Default(CatalogueEntry e) { return Default(EntryNumber(e)); }

    // Fills entries 1..kEntryCount in ascending order with GetString: an entry the engine has no
    // string for keeps its text.
    void Load(const TLocEngine& engine);

private:
    std::array<std::string, kEntryCount> FEntries;
};

// The named entries are distinct catalogue entries, in ascending order.
static_assert([] {
    int last = 0;
    for (const CatalogueEntryInfo& info : kCatalogueEntries) {
        const int n = EntryNumber(info.Entry);
        if (n <= last || n > TMessageCatalogue::kEntryCount || info.Arguments < 0)
            return false;
        last = n;
    }
    return true;
}());

// The start-up fill of the catalogue from the engine; the same as catalogue.Load(engine).
void LoadMessageCatalogue(TMessageCatalogue& catalogue, const TLocEngine& engine);
