// The catalogue's built-in texts and its fill from a language file.

#include "localization/MessageCatalogue.h"
#include "platform/runtime/Format.h"

#include "LoadedEngine.h"

#include <gtest/gtest.h>

#include <stdexcept>

namespace {

// The built-in texts, spelled differently from the source on purpose: accents as bytes,
// rules built from their length.
const std::string kEAcute = "\xC3\xA9";
const std::string kEGrave = "\xC3\xA8";
const std::string kECirc = "\xC3\xAA";
const std::string kAGrave = "\xC3\xA0";
const std::string kRule(50, '-');

const std::string kStrings = "[-Strings-]\n";

// Lines "n=Ln" for first..last.
std::string Keys(int first, int last)
{
    std::string s;
    for (int n = first; n <= last; ++n)
        s += std::to_string(n) + "=L" + std::to_string(n) + "\n";
    return s;
}

} // namespace

TEST(MessageCatalogue, DefaultsOfTheShownEntriesAreExact)
{
    struct Case {
        int entry;
        std::string text;
    } cases[] = {
        {40, "Confirmation"},
        {48, "La mise a jour est en cours de telechargement. Souhaiter vous l'arreter?"},
        {49, "Connexion Internet active, Initialisation en cours..."},
        {50, "Pas de Connexion Internet active"},
        {51, "Mise " + kAGrave + " jour %s"},
        {52, "Une nouvelle version de %s est disponible.\r\nVersion Actuelle: %s\r\nNouvelle version: %s\r\n" + kRule +
                 "\r\n%s\r\n" + kRule + "\r\nSouhaitez vous mettre a  jour votre logiciel?"},
        {53, "V" + kEAcute + "rification des mises " + kAGrave + " jour a partir du web..."},
        {54, "Impossible de trouver le serveur de mise a jour.\r\nVeuillez verifier votre connection ou proceder a "
             "une mise a jour manuelle a partir du site web de l'editeur."},
        {55, "Echec de mise a jour"},
        {56, "Veuillez visiter le site web %s pour telecharger manuellement la mise a jour"},
        {57, "Vous poss" + kEAcute + "dez la derni" + kEGrave +
                 "re version de votre logiciel.\rFermeture du "
                 "programme de mises " +
                 kAGrave + " jour."},
        {58, "T" + kEAcute + "l" + kEAcute + "chargement en cours..."},
        {59, "Vitesse de t" + kEAcute + "l" + kEAcute + "chargement : %s Ko/s"},
        {60, "Vitesse de t" + kEAcute + "l" + kEAcute + "chargement : 0 Ko/s "},
        {61, "Erreur lors de la mise a jour"},
        {62, "Erreur lors du telechargement.\r\nFermeture du programme de mises " + kAGrave + " jour."},
        {63, "Veuillez fermer toutes les instances de %s avant de continuer..."},
        {64, "Sauvegarde du setup telecharger..."},
        {65, "La r" + kEAcute + "ponse du serveur de mise " + kAGrave + " jour n'a pas pu " + kECirc + "tre v" +
                 kEAcute + "rifi" + kEAcute + "e.\r\nAucune mise " + kAGrave + " jour n'est install" + kEAcute +
                 "e. Veuillez proceder a une mise a jour manuelle a partir du site web de l'editeur."},
        {66, "R" + kEAcute + "ponse du serveur de mise " + kAGrave + " jour non v" + kEAcute + "rifi" + kEAcute + "e"},
        {67, "Le programme d'installation t" + kEAcute + "l" + kEAcute + "charg" + kEAcute + " ne correspond pas " +
                 kAGrave + " celui sign" + kEAcute + " par l'" + kEAcute + "diteur.\r\nIl n'a pas " + kEAcute + "t" +
                 kEAcute + " lanc" + kEAcute + "."},
        {68, "Espace disque insuffisant pour t" + kEAcute + "l" + kEAcute + "charger la mise " + kAGrave +
                 " jour.\r\nIl faut %s Mo libres dans le dossier %s ; il n'y en a que %s Mo.\r\nLib" + kEAcute +
                 "rez de la place, puis relancez la mise " + kAGrave + " jour."},
        {69, "Une mise " + kAGrave + " jour de %s est d" + kEAcute + "j" + kAGrave +
                 " en cours.\r\nAttendez qu'elle se termine avant d'en lancer une autre."},
        {70, "Le programme d'installation t" + kEAcute + "l" + kEAcute + "charg" + kEAcute + " n'a pas pu " + kECirc +
                 "tre lanc" + kEAcute + " :\r\n%s\r\nFermeture du programme de mises " + kAGrave + " jour."},
        {71, "Cause : le certificat du serveur de mise " + kAGrave + " jour n'est pas reconnu comme fiable."},
        {72, "Cause : la connexion s" + kEAcute + "curis" + kEAcute + "e au serveur de mise " + kAGrave + " jour a " +
                 kEAcute + "chou" + kEAcute + "."},
        {73, "Cause : le proxy a refus" + kEAcute + " les identifiants."},
        {74, "Cause : le proxy ne r" + kEAcute + "pond pas."},
        {75, "Cause : le serveur de mise " + kAGrave + " jour ne r" + kEAcute + "pond pas."},
        {76, "Cause : le serveur de mise " + kAGrave + " jour a r" + kEAcute + "pondu par une erreur (%s)."},
        {77, "Cause : la r" + kEAcute + "ponse du serveur de mise " + kAGrave + " jour est trop longue."},
        {78, "Cause : l'offre de mise " + kAGrave + " jour a expir" + kEAcute + " ; v" + kEAcute +
                 "rifiez l'horloge de l'ordinateur."},
        {79, "Cause : l'offre n'est pas sign" + kEAcute + "e par cet " + kEAcute + "diteur."},
        {80, "Cause : l'offre concerne une autre application."},
        {81, "Cause : l'offre sign" + kEAcute + "e est mal form" + kEAcute + "e."},
    };
    TMessageCatalogue catalogue;
    std::vector<int> tested;
    for (const auto& c : cases) {
        EXPECT_EQ(catalogue.Entry(c.entry), c.text) << c.entry;
        EXPECT_EQ(TMessageCatalogue::Default(c.entry), c.text) << c.entry;
        tested.push_back(c.entry);
    }
    EXPECT_EQ(tested,
              std::vector<int>(TMessageCatalogue::kShownEntries.begin(), TMessageCatalogue::kShownEntries.end()));
}

TEST(MessageCatalogue, EveryEntryExistsAndNoOther)
{
    TMessageCatalogue catalogue;
    for (int n = 1; n <= TMessageCatalogue::kEntryCount; ++n)
        EXPECT_FALSE(catalogue.Entry(n).empty()) << n;
    EXPECT_THROW(catalogue.Entry(0), std::out_of_range);
    EXPECT_THROW(catalogue.Entry(TMessageCatalogue::kEntryCount + 1), std::out_of_range);
    EXPECT_THROW(TMessageCatalogue::Default(TMessageCatalogue::kEntryCount + 1), std::out_of_range);
}

TEST(MessageCatalogue, FillReplacesOnlyWhatTheTableHolds)
{
    struct Case {
        const char* name;
        std::string file;
        int replacedUpTo; // entries 1..n come from the file, the rest keep their defaults
    } cases[] = {
        {.name = "no strings", .file = "[-Header-]\nIsUTF8=1\n", .replacedUpTo = 0},
        {.name = "keys 1..50", .file = kStrings + Keys(1, 50), .replacedUpTo = 50},
        {.name = "gap at 11", .file = kStrings + Keys(1, 10) + Keys(12, 64), .replacedUpTo = 10},
        // Another application's file may hold 70 strings: those above 64 reach nothing.
        {.name = "70 strings", .file = kStrings + Keys(1, 70), .replacedUpTo = TMessageCatalogue::kNumberedCount},
        {.name = "90 strings", .file = kStrings + Keys(1, 90), .replacedUpTo = TMessageCatalogue::kNumberedCount},
    };
    for (const auto& c : cases) {
        LoadedEngine loaded(c.file);
        TMessageCatalogue catalogue;
        catalogue.Load(loaded.engine);
        for (int n = 1; n <= TMessageCatalogue::kEntryCount; ++n) {
            const std::string want = n <= c.replacedUpTo ? "L" + std::to_string(n) : TMessageCatalogue::Default(n);
            EXPECT_EQ(catalogue.Entry(n), want) << c.name << " entry " << n;
        }
    }
}

TEST(MessageCatalogue, FillAppliesTheReplacementsAndKeepsEmptyStrings)
{
    std::string file = kStrings + Keys(1, 48) + "49=\n50=two|lines\n51=a%/b\n52=ends %|\n";
    LoadedEngine loaded(file);
    TMessageCatalogue catalogue;
    LoadMessageCatalogue(catalogue, loaded.engine);
    EXPECT_EQ(catalogue.Entry(48), "L48");
    EXPECT_EQ(catalogue.Entry(49), "");
    EXPECT_EQ(catalogue.Entry(50), "two\r\nlines");
    EXPECT_EQ(catalogue.Entry(51), "a|b");
    EXPECT_EQ(catalogue.Entry(52), "ends %\r\n");
    EXPECT_EQ(catalogue.Entry(53), TMessageCatalogue::Default(53));
}

TEST(MessageCatalogue, NoFileChosenKeepsEveryDefault)
{
    FakeSystem system;
    TLocEngine engine(system); // no LoadLanguageFile: a language number without a file
    TMessageCatalogue catalogue;
    catalogue.Load(engine);
    for (int n = 1; n <= TMessageCatalogue::kEntryCount; ++n)
        EXPECT_EQ(catalogue.Entry(n), TMessageCatalogue::Default(n)) << n;
}

TEST(MessageCatalogue, DeclaredArgumentCountsMatchTheBuiltInTexts)
{
    // Every entry, named or not: an unnamed entry is never formatted, so it has none.
    for (int n = 1; n <= TMessageCatalogue::kEntryCount; ++n) {
        const int declared = ArgumentCount(static_cast<CatalogueEntry>(n));
        const std::string want(declared < 0 ? 0 : static_cast<std::size_t>(declared), 's');
        EXPECT_EQ(FormatPlaceholders(TMessageCatalogue::Default(n)), want) << "entry " << n;
    }
    EXPECT_EQ(ArgumentCount(static_cast<CatalogueEntry>(TMessageCatalogue::kEntryCount + 1)), -1);
}

TEST(MessageCatalogue, OwnTextsComeFromTheirKeysAndNeverFromNumbers)
{
    // Every own entry from its key in "-Messages-", with the same replacements as numbered
    // strings; numbered strings 65..70 beside them change nothing.
    std::string file = kStrings + Keys(1, 70) + "[-Messages-]\n";
    for (const CatalogueEntryInfo& info : kCatalogueEntries)
        if (info.Key)
            file += std::string(info.Key) + "=" + info.Key + "|x%/y\n";
    file += "65=not a key\nUnknownKey=ignored\n";
    LoadedEngine loaded(file);
    TMessageCatalogue catalogue;
    catalogue.Load(loaded.engine);
    int own = 0;
    for (const CatalogueEntryInfo& info : kCatalogueEntries) {
        if (!info.Key) {
            EXPECT_EQ(catalogue.Entry(info.Entry), "L" + std::to_string(EntryNumber(info.Entry)));
            continue;
        }
        ++own;
        EXPECT_GT(EntryNumber(info.Entry), TMessageCatalogue::kNumberedCount) << info.Key;
        EXPECT_EQ(catalogue.Entry(info.Entry), std::string(info.Key) + "\r\nx|y") << info.Key;
    }
    EXPECT_EQ(own, TMessageCatalogue::kEntryCount - TMessageCatalogue::kNumberedCount);

    // A key of another section, or a file without the section, leaves the default.
    LoadedEngine elsewhere("[-Strings-]\n1=a\n[Other]\nReasonExpired=no\n");
    TMessageCatalogue untouched;
    untouched.Load(elsewhere.engine);
    EXPECT_EQ(untouched.Entry(CatalogueEntry::ReasonExpired),
              TMessageCatalogue::Default(CatalogueEntry::ReasonExpired));
}
