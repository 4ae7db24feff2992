#pragma once
// The catalogue entries the updater shows, by name. Each value is the entry's number, which
// is also its key in the language files' "-Strings-" section, so the numbers never change.
// Each entry declares how many "%s" arguments its text is formatted with; the updater
// formats through TFormattedEntry<N>, whose conversion from a name fails to compile when N
// is not the declared count, and reads plain texts through TPlainEntry, which only accepts
// entries without arguments.
//
// Translations may still carry other placeholders: that is found when the text is
// formatted (Format raises EConvertError), and the language-file tests compare every
// shipped text with the declared counts.

#include <array>
#include <cstddef>

enum class CatalogueEntry : int {
    CloseCaption = 40,      // caption of the close-confirmation box
    CloseQuestion = 48,     // question of the close-confirmation box
    Online = 49,            // status line at start-up with an Internet connection
    Offline = 50,           // status line at start-up without one
    Title = 51,             // application and window title; the application name
    Offer = 52,             // the offer: application, installed version, new version, notes
    Checking = 53,          // status line while the server is asked and after its answer
    ServerUnreachable = 54, // message when the update server cannot be reached
    CheckFailed = 55,       // status line after the check failed
    ManualUpdate = 56,      // notes box after a failed check; the product page address
    UpToDate = 57,          // message when the installed build is the newest
    Downloading = 58,       // status line while a download runs
    Speed = 59,             // speed line; the speed in KiB/s with two decimals
    SpeedAtStart = 60,      // speed line at the begin of a download
    UpdateFailed = 61,      // status line after the installer download failed
    DownloadFailed = 62,    // message after the installer download failed
    CloseInstances = 63,    // message before the installer starts; the application name
    SavingInstaller = 64,   // status line while the installer is saved
    AnswerUnverified = 65,  // message when the check answer fails the signature check
    AnswerRefused = 66,     // status line after the check answer was refused
    InstallerMismatch = 67, // message when the installer is not the one that was signed
    NoRoom = 68,            // message when the disk lacks room: MiB needed, folder, MiB free
    AlreadyRunning = 69,    // message when another run updates the same application; its name
};

struct CatalogueEntryInfo {
    CatalogueEntry Entry;
    int Arguments; // the number of "%s" its text is formatted with
};

// Every named entry in ascending order, with its count of format arguments.
inline constexpr std::array<CatalogueEntryInfo, 23> kCatalogueEntries = {{
    {CatalogueEntry::CloseCaption, 0},
    {CatalogueEntry::CloseQuestion, 0},
    {CatalogueEntry::Online, 0},
    {CatalogueEntry::Offline, 0},
    {CatalogueEntry::Title, 1},
    {CatalogueEntry::Offer, 4},
    {CatalogueEntry::Checking, 0},
    {CatalogueEntry::ServerUnreachable, 0},
    {CatalogueEntry::CheckFailed, 0},
    {CatalogueEntry::ManualUpdate, 1},
    {CatalogueEntry::UpToDate, 0},
    {CatalogueEntry::Downloading, 0},
    {CatalogueEntry::Speed, 1},
    {CatalogueEntry::SpeedAtStart, 0},
    {CatalogueEntry::UpdateFailed, 0},
    {CatalogueEntry::DownloadFailed, 0},
    {CatalogueEntry::CloseInstances, 1},
    {CatalogueEntry::SavingInstaller, 0},
    {CatalogueEntry::AnswerUnverified, 0},
    {CatalogueEntry::AnswerRefused, 0},
    {CatalogueEntry::InstallerMismatch, 0},
    {CatalogueEntry::NoRoom, 3},
    {CatalogueEntry::AlreadyRunning, 1},
}};

constexpr int EntryNumber(CatalogueEntry e) { return static_cast<int>(e); }

// The declared count of format arguments; -1 for a value that is not a named entry.
constexpr int ArgumentCount(CatalogueEntry e)
{
    for (const CatalogueEntryInfo& info : kCatalogueEntries)
        if (info.Entry == e)
            return info.Arguments;
    return -1;
}

// A named entry formatted with exactly N arguments. The conversion is evaluated by the
// compiler; for a count that differs from the declared one it reaches the throw, which
// cannot be evaluated at compile time, and so the call does not compile.
template <std::size_t N>
struct TFormattedEntry {
    consteval TFormattedEntry(CatalogueEntry e) : Entry(e) // NOLINT(google-explicit-constructor)
    {
        if (ArgumentCount(e) != static_cast<int>(N))
            throw "this entry is formatted with a different number of arguments";
    }
    CatalogueEntry Entry;
};

// A named entry whose text is shown as it is: one without format arguments.
struct TPlainEntry {
    consteval TPlainEntry(CatalogueEntry e) : Entry(e) // NOLINT(google-explicit-constructor)
    {
        if (ArgumentCount(e) != 0)
            throw "this entry has format arguments: format it instead";
    }
    CatalogueEntry Entry;
};
