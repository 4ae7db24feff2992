#include "localization/MessageCatalogue.h"

#include "localization/LocEngine.h"

#include <stdexcept>
#include <string_view>

namespace {

// The built-in texts, entry 1 first. The source is UTF-8, the narrow code page on Linux.
// Entries the updater never shows hold placeholders that keep the numbering. Entries above
// 64 are the updater's own texts, found in language files by name.
constexpr std::string_view kDefaults[TMessageCatalogue::kEntryCount] = {
    "Message 1",
    "Message 2",
    "Message 3",
    "Message 4",
    "Message 5",
    "Message 6",
    "Message 7",
    "Message 8",
    "Message 9",
    "Message 10",
    "Message 11",
    "Message 12",
    "Message 13",
    "Message 14",
    "Message 15",
    "Message 16",
    "Message 17",
    "Message 18",
    "Message 19",
    "Message 20",
    "Message 21",
    "Message 22",
    "Message 23",
    "Message 24",
    "Message 25",
    "Message 26",
    "Message 27",
    "Message 28",
    "Message 29",
    "Message 30",
    "Message 31",
    "Message 32",
    "Message 33",
    "Message 34",
    "Message 35",
    "Message 36",
    "Message 37",
    "Message 38",
    "Message 39",
    // 40: caption of the close-confirmation box
    "Confirmation",
    "Message 41",
    "Message 42",
    "Message 43",
    "Message 44",
    "Message 45",
    "Message 46",
    "Message 47",
    // 48: question of the close-confirmation box
    "La mise a jour est en cours de telechargement. Souhaiter vous l'arreter?",
    // 49: status line at start-up when an Internet connection is active
    "Connexion Internet active, Initialisation en cours...",
    // 50: status line at start-up when no Internet connection is active
    "Pas de Connexion Internet active",
    // 51: title of the application and the update window; %s = application name
    "Mise à jour %s",
    // 52: the offer of a new version; %s: application, installed version, new version,
    // release notes. The rules are 50 hyphens each; "a  jour" has two blanks.
    "Une nouvelle version de %s est disponible.\r\n"
    "Version Actuelle: %s\r\n"
    "Nouvelle version: %s\r\n"
    "--------------------------------------------------\r\n"
    "%s\r\n"
    "--------------------------------------------------\r\n"
    "Souhaitez vous mettre a  jour votre logiciel?",
    // 53: status line while the update server is asked and after its answer is read
    "Vérification des mises à jour a partir du web...",
    // 54: message when the update server cannot be reached
    "Impossible de trouver le serveur de mise a jour.\r\n"
    "Veuillez verifier votre connection ou proceder a une mise a jour manuelle a partir du site web de l'editeur.",
    // 55: status line after the update check failed
    "Echec de mise a jour",
    // 56: manual-update hint in the notes box; %s = the product page address
    "Veuillez visiter le site web %s pour telecharger manuellement la mise a jour",
    // 57: message when the installed build is already the newest; a lone CR breaks the line
    "Vous possédez la dernière version de votre logiciel.\rFermeture du programme de mises à jour.",
    // 58: status line while a download is in progress
    "Téléchargement en cours...",
    // 59: speed-line format; %s = the speed in kilobytes per second with two decimals
    "Vitesse de téléchargement : %s Ko/s",
    // 60: speed line at the start of a download (ends in a blank)
    "Vitesse de téléchargement : 0 Ko/s ",
    // 61: status line after the installer download failed
    "Erreur lors de la mise a jour",
    // 62: message after the installer download failed
    "Erreur lors du telechargement.\r\n"
    "Fermeture du programme de mises à jour.",
    // 63: message before the installer is started; %s = application name
    "Veuillez fermer toutes les instances de %s avant de continuer...",
    // 64: status line while the downloaded installer is saved
    "Sauvegarde du setup telecharger...",
    // 65: message when the update server's answer fails the publisher's signature check
    "La réponse du serveur de mise à jour n'a pas pu être vérifiée.\r\n"
    "Aucune mise à jour n'est installée. Veuillez proceder a une mise a jour manuelle a partir du site web de l'editeur.",
    // 66: status line after the update server's answer was refused
    "Réponse du serveur de mise à jour non vérifiée",
    // 67: message when the downloaded installer is not the one the publisher signed
    "Le programme d'installation téléchargé ne correspond pas à celui signé par l'éditeur.\r\n"
    "Il n'a pas été lancé.",
    // 68: message when the installer does not fit on the disk; %s = megabytes needed, the
    // update folder, megabytes free
    "Espace disque insuffisant pour télécharger la mise à jour.\r\n"
    "Il faut %s Mo libres dans le dossier %s ; il n'y en a que %s Mo.\r\n"
    "Libérez de la place, puis relancez la mise à jour.",
    // 69: another run for this application is in progress; %s = application name
    "Une mise à jour de %s est déjà en cours.\r\n"
    "Attendez qu'elle se termine avant d'en lancer une autre.",
    // 70: the downloaded installer could not be started; %s = the system's reason
    "Le programme d'installation téléchargé n'a pas pu être lancé :\r\n%s\r\n"
    "Fermeture du programme de mises à jour.",
    // 71-81: the line that names the cause of a failed check or a refused answer
    "Cause : le certificat du serveur de mise à jour n'est pas reconnu comme fiable.",
    "Cause : la connexion sécurisée au serveur de mise à jour a échoué.",
    "Cause : le proxy a refusé les identifiants.",
    "Cause : le proxy ne répond pas.",
    "Cause : le serveur de mise à jour ne répond pas.",
    "Cause : le serveur de mise à jour a répondu par une erreur (%s).",
    "Cause : la réponse du serveur de mise à jour est trop longue.",
    "Cause : l'offre de mise à jour a expiré ; vérifiez l'horloge de l'ordinateur.",
    "Cause : l'offre n'est pas signée par cet éditeur.",
    "Cause : l'offre concerne une autre application.",
    "Cause : l'offre signée est mal formée.",
};

std::size_t IndexOf(int number)
{
    if (number < 1 || number > TMessageCatalogue::kEntryCount)
        throw std::out_of_range("message catalogue entry " + std::to_string(number) + " does not exist");
    return static_cast<std::size_t>(number) - 1;
}

} // namespace

TMessageCatalogue::TMessageCatalogue()
{
    for (std::size_t i = 0; i < FEntries.size(); ++i)
        FEntries[i] = kDefaults[i];
}

const std::string& TMessageCatalogue::Entry(int number) const { return FEntries[IndexOf(number)]; }

const std::string& TMessageCatalogue::Default(int number)
{
    static const std::array<std::string, kEntryCount> defaults = [] {
        std::array<std::string, kEntryCount> d;
        for (std::size_t i = 0; i < d.size(); ++i)
            d[i] = kDefaults[i];
        return d;
    }();
    return defaults[IndexOf(number)];
}

void TMessageCatalogue::Load(const TLocEngine& engine)
{
    for (int n = 1; n <= kNumberedCount; ++n)
        engine.GetString(n, FEntries[IndexOf(n)]);
    for (const CatalogueEntryInfo& info : kCatalogueEntries)
        if (info.Key)
            engine.GetNamedString(info.Key, FEntries[IndexOf(EntryNumber(info.Entry))]);
}

void LoadMessageCatalogue(TMessageCatalogue& catalogue, const TLocEngine& engine) { catalogue.Load(engine); }
