#include "texts/texts.h"

#include <array>
#include <cstddef>

int32_t CurrentLanguage = kLanguageGerman;

namespace {

struct TextEntry {
    uint32_t id;
    const char* german;
    const char* english;
};

// Windows-1252 bytes are written as escapes; where the next letter is a hex
// digit the literal is split, so "Pr\xFC" "fen" does not become "Pr\xFCfen".
// The installer's and uninstaller's texts (0 to 109) and a few updater texts
// no code path shows are carried as well, so all programs share one table.
constexpr TextEntry kTexts[] = {
    {0, "&Weiter >>", "&Next >>"},
    {1, "A&bbrechen", "&Cancel"},
    {2, "Fehler!", "Error!"},
    {3,
     "Konnte n\xE4"
     "chsten Schritt nicht finden!",
     "Didn't find next Step!"},
    {4,
     "<< &Zur\xFC"
     "ck",
     "<< &Back"},
    {5, "Installations-Verzeichnis:", "Installation directory:"},
    {6, "Registrierung/Startmen\xFC-Eintrag f\xFCr aktuellen Nutzer",
     "register/start menu entry for current user"},
    {7, "Registrierung/Startmen\xFC-Eintrag f\xFCr alle Nutzer",
     "register/start menu entry for all users"},
    {8, "Symbol auf dem Desktop erstellen", "create icon on the desktop"},
    {9, "Status:", "Progress:"},
    {10, "&Start!", "&Start!"},
    {11, "Die Installation wurde erfolgreich abgeschlossen.",
     "Installation was successful finished."},
    {12, "&Wichtige Informationen anzeigen", "&Show important informations"},
    {13, "&Fertig!", "&Finished!"},
    {14, "Verzeichnis ausw\xE4hlen:", "Choose a directory:"},
    {15, "&Ok", "&Ok"},
    {16, "Konnte Verzeichnis nicht erstellen.", "Could not create directory."},
    {17, "W\xE4hrend der Installation ist ein Fehler aufgetreten.",
     "An error occured while installation."},
    {18, "Erstelle Verzeichnisse und Unterverzeichnisse.",
     "Creating directories and sub directories."},
    {19, "Kopiere Datei:", "Copy file:"},
    {20, "Es ist eine Exception w\xE4hrend des Kopierens aufgetreten: ",
     "An exception occured while copying: "},
    {22, "Erstelle Registrierungs-Eintr\xE4ge ...", "Creating registry entries ..."},
    {23, "Brinefall.lnk", "Brinefall.lnk"},
    {24, "Brinefall Einstellungen.lnk", "Brinefall Setup.lnk"},
    {25, "Brinefall Deinstallation.lnk", "Brinefall Uninstallation.lnk"},
    {26, "Konnte Verkn\xFCpfung nicht erstellen!", "Couldn't create link to file!"},
    {27, "Name der Startmen\xFC-Gruppe:", "Name of start menu group:"},
    {29, "Konnte Registrierungs-Informationen nicht speichern!",
     "Couldn't update registry informations!"},
    {30, "Nutzungsbedingungen:", "Terms of use:"},
    {31, "&Ja, ich habe die Nutzungsbedingungen gelesen", "&Yes, I have read the terms of use"},
    {32, "und verstanden und akzeptiere sie.", "and understand it and accept it."},
    {33, "Registry-Zugriffsfehler", "Registry access failure"},
    {34, "Konnte aktuell installierte Client-Version nicht bestimmen.",
     "Couldn't find out the actual installed client version."},
    {35, "Falsche Client-Version", "Wrong client version"},
    {36, "Dieses Update kann nur auf Clientversion %2.3f.%u aufgespielt werden.",
     "This update can only be installed on client version %2.3f."},
    {37, "Konnte Installationsverzeichnis nicht bestimmen.",
     "Couldn't find the installation dorectory."},
    {38, "Entferne veraltete Datei:", "Remove outdated file:"},
    {39, "Bitte vorherige Version erst deinstallieren!",
     "Please uninstall previous version first!"},
    {40, "Die Installations-Datei ist fehlerhaft! (", "The setup file is corrupted!"},
    {41,
     "Konnte Information aus der Registry nicht lesen! Bitte installieren Sie das Spiel erneut.",
     "Couldn't read registry information! Please reinstall the game."},
    {42, "Bitte warten, Installation wird vorbereitet ...",
     "Please wait, installation will be prepared ..."},
    {43, "Bitte w\xE4hlen Sie eine Sprache:", "Please choose a language:"},
    {44, "Deinstallation konnte nicht vorbereitet werden.", "Uninstallation couldn't prepared."},
    {45, "Ben\xF6tigter Plattenplatz:", "Required disk space:"},
    {46, "Verf\xFCgbarer Plattenplatz:", "Available disk space:"},
    {47,
     "Sie haben bereits eine Version von BRF installiert.\nBevor Sie ein anderes Verzeichnis "
     "verwenden, sollten Sie die vorherige Version deinstallieren.",
     "You have already installed a version of BRF.\nBefore you can use another directory, you "
     "should uninstall the previous version."},
    {48, "Um BRF f\xFCr alle Nutzer zu installieren, ben\xF6tigen Sie mehr Zugriffsrechte!",
     "For installing BRF for all users you need mor access rights!"},
    {49, "Ihr Client ist bereits aktualisiert worden, daher ist dieses Update nicht notwendig.",
     "Your Client was already be updated. You don't need this update."},
    {50, "Fehlende Client-Datei:", "Missing client file:"},
    {100, "Deinstallation:", "Uninstallation:"},
    {101, "Achtung!", "Attention!"},
    {102,
     "&Ja, ich m\xF6"
     "chte das Programm deinstallieren!",
     "&Yes, I want to uninstall the program!"},
    {103, "&Spielst\xE4nde und Updates auch L\xD6SCHEN", "Do DELETE &Savegames and updates too"},
    {104, "Bitte best\xE4tigen Sie die Deinstallation.", "Please confirm the uninstallation."},
    {105, "Deinstallations-Status:", "Uninstallation progress"},
    {106, "W\xE4hrend der Deinstallation trat ein Fehler auf!",
     "An error occured while unistallation!"},
    {107, "Deinstallation erfolgreich abgeschlossen.", "Uninstallation successful finished."},
    {108, "L\xF6schen einer Datei/Verzeichnisses schlug fehl!", "Delete a file/directory failed!"},
    {109, "Verkn\xFCpfungen und Registrierung l\xF6schen", "Remove links and registry entries"},
    {200, "Aktions-Log:", "Action-Log:"},
    {201,
     "Button [Version Pr\xFC"
     "fen] klicken, um zu starten ...",
     "Press button [Check Version] to start ..."},
    {202,
     "Pr\xFC"
     "fe auf neue Version ...",
     "Check for new version ..."},
    {203, "W\xE4hrend des Herunterladens der Dateien ist ein Fehler aufgetreten.",
     "While downloading the files an error occured."},
    {204, "Bitte wiederholen Sie den Vorgang.", "Please try again."},
    {205, "Keine neuen Dateien gefunden oder ben\xF6tigt.", "No new files found or needed."},
    {206, "Der Client ist auf dem aktuellen Stand.", "The client is up to date."},
    {207, "Neue Dateien gefunden: ", "New files found: "},
    {208, ", Gesamtl\xE4nge: ", ", overall length: "},
    {209, " Bytes.", " Bytes."},
    {210, " KBytes.", " KBytes."},
    {211, " MBytes.", " MBytes."},
    {212, "Empfange Datei: ", "Receiving file: "},
    {213, "Unerwartete Exception: ", "Unexpected exception: "},
    {214, "Download abgeschlossen, installiere Dateien ins Spielverzeichnis.",
     "Download finished, copy files into game directory."},
    {215, "Datei schon vorhanden, kein erneuter Download n\xF6tig.",
     "File is already available, no new download neccessary."},
    {216, "Datei erfolgreich empfangen.", "File successfully received."},
    {217, "&Spiel starten", "Start Game"},
    {218, "Update-Server:", "Update-Server:"},
    {219, "Update abgeschlossen, Button klicken, um Spiel zu starten.",
     "Update finished, click button to start the game."},
    {220,
     "Konnte Versions-\xDC"
     "bersicht nicht finden. ",
     "Couldn't find version index."},
    {221, "Bitte konsultieren Sie die BRF-Webseiten f\xFCr mehr Informationen.",
     "Please visit the BRF websites for more information."},
    {222, "Falsche Version des Updaters. ", "Wrong version of the updater. "},
    {223,
     "Bitte laden Sie sich die aktuelle Version\ndes Update-Programms von den Brinefall-Webseiten "
     "herunter.",
     "Please download an actual version of the updater from the  Brinefall - web pages."},
    {224, "Client konnte nicht gestartet werden.", "Couldn't start client."},
    {225,
     "Version &Pr\xFC"
     "fen",
     "&Check Version"},
    {226,
     "Update beim n\xE4"
     "chsten Start &automatisch laden",
     "Load update &automatically at next start"},
    {227, "Datei fehlerhaft, versuche erneut.", "File corrupted, trying again."},
    {228, "Empfange Dokument:  ", "Receiving document:  "},
    {229, "Download abgeschlossen.", "Download finished."},
    {230, "Konnte aktuelle Version nicht registrieren.", "Couldn't register actual version."},
    {231, "Ihre Version ist neuer als die ben\xF6tigte. Bitte benutzen Sie die aktuelle Version.",
     "Your version is newer than the needed one. Please use the actual version."},
    {232,
     "Der Client ist nicht auf dem neuesten Stand.\nDa aber keine Update-Dateien vorhanden "
     "sind,\ninformieren Sie sich bitte auf den BRF-Webseiten \xFC"
     "ber ein manuelles Update.",
     "The client is not up to date. But since there are no update files,\nplease check the BRF "
     "websites for a manual patch."},
    {233,
     "Die Versions-Kontroll-Datei ist defekt.\nBesuchen Sie die BRF-Webseiten f\xFCr n\xE4here "
     "Informationen.",
     "There is something wrong with the version control file.\nPlease check the BRF websites for "
     "more informations."},
    {234, "Eine neue Version des Updaters wird heruntergeladen...",
     "Downloading a new version of the updater..."},
    {235,
     "Eine neue Version des Updaters wurde heruntergeladen.\nDiese wird nun installiert und "
     "gestartet.\nDanach k\xF6nnen Sie wie gewohnt mit dem Update fortfahren.",
     "A new version of the updater was downloaded.\nThis will now be installed, after that you can "
     "continue the update process."},
    {236,
     "Auto-Updater: Installierte Client-Version: ", "Auto-Updater: Installed Client-Version: "},
    {237,
     "Update-Gr\xF6\xDF"
     "e:",
     "Update-Size:"},
    {238, "Konnte aktuelle Updater-Datei nicht finden. ",
     "Couldn't find the actual updater executable. "},
    {239,
     "Bitte informieren Sie sich auf den BRF-Webseiten \xFC"
     "ber eine neue Version.",
     "Please inform yourself about this on the BRF-Websites."},
    {240, "Vorgang abgebrochen...", "Progress cancelled..."},
    {241, "Konnte neue Updater-Version nicht kopieren. ",
     "Couldn't copy the new updater version. "},
    {242, "&Einstellungen", "&Options"},
    {243, "Verbindung konnte nicht hergestellt werden.", "Connection failed."},
    {244, "Das Options-Programm des Clients konnte nicht gefunden werden.",
     "Could not find the setup program of the client."},
    {245, "Lade aktuelle Spiele-Serverliste...", "Load actual game server list..."},
    {246, "Aktuelle Spiele-Serverliste konnte nicht geladen werden. ",
     "Actual game server list couldn't be found. "},
    {247, "M\xF6glicherweise werden gerade Wartungsarbeiten durchgef\xFChrt.",
     "Possibly some work on the servers in still in progress."},
    {248, "Update abgeschlossen", "Update finished"},
    {249,
     "M\xF6"
     "chten Sie jetzt die \xC4nderungshinweise lesen?",
     "Do you want to read the patch notes now?"},
    {250, "patchnotes_deutsch.txt", "patchnotes_english.txt"},
    {251,
     "&Schlie\xDF"
     "en",
     "&Close"},
    {252, "Datei '%s' ist bereits vorhanden, trotzdem erneut herunterladen?",
     "File '%s' is already available, nevertheless download it again?"},
    {253,
     "Der Client ist zu alt, um per Auto-Updater aktualisiert werden zu k\xF6nnen.\nBitte "
     "installieren Sie die aktuelle Voll-Version.",
     "Your client is too old to be updated with the auto updater.\nPlease install the available "
     "full version."},
    {254, "%i Dateien, %.1f %s", "%i files, %.1f %s"},
    {255,
     "Der Updater ist zu alt, um per Auto-Updater aktualisiert werden zu k\xF6nnen.\nBitte laden "
     "Sie eine aktuelle Version von den BRF-Webseiten.",
     "Your updater is too old to be updated with the auto updater.\nPlease download an actual "
     "version from the BRF-Websites."},
};

constexpr std::size_t kTableSize = 256;
constexpr std::size_t kTextCount = 115;

constexpr const char kGermanMissing[] = "-- Text fehlt! --";
constexpr const char kEnglishMissing[] = "-- text missed! --";

using TextTable = std::array<const char*, kTableSize>;

// Each id appears once and fits the table, or the build fails.
constexpr bool IdsAreValid() {
    std::array<bool, kTableSize> seen{};
    for (const TextEntry& entry : kTexts) {
        if (entry.id >= kTableSize || seen[entry.id]) {
            return false;
        }
        seen[entry.id] = true;
    }
    return true;
}
static_assert(IdsAreValid(), "text ids must be unique and below 256");
static_assert(std::size(kTexts) == kTextCount, "the table carries 115 texts");

// One entry per id, the fallback in every id without text, so the lookup is a
// single index operation.
constexpr TextTable BuildTable(const char* TextEntry::*column, const char* fallback) {
    TextTable table{};
    table.fill(fallback);
    for (const TextEntry& entry : kTexts) {
        table[entry.id] = entry.*column;
    }
    return table;
}

constexpr TextTable kGermanTable = BuildTable(&TextEntry::german, kGermanMissing);
constexpr TextTable kEnglishTable = BuildTable(&TextEntry::english, kEnglishMissing);

}  // namespace

const char* GetText(int32_t language, uint32_t id) {
    switch (language) {
        case kLanguageGerman:
            return id < kTableSize ? kGermanTable[id] : kGermanMissing;
        case kLanguageEnglish:
            return id < kTableSize ? kEnglishTable[id] : kEnglishMissing;
        default:
            return nullptr;
    }
}
