#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <map>
#include <stdexcept>
#include <string>

#include "texts/cp1252.h"
#include "texts/texts.h"

namespace {

// The expected texts, written as UTF-8 as a person reads them. They are
// converted to Windows-1252 here, independently of the escapes in the table,
// so a wrong escape in the table shows up as a mismatch.
struct ExpectedText {
    uint32_t id;
    const char* german;
    const char* english;
};

const ExpectedText kExpected[] = {
    {0, "&Weiter >>", "&Next >>"},
    {1, "A&bbrechen", "&Cancel"},
    {2, "Fehler!", "Error!"},
    {3, "Konnte nächsten Schritt nicht finden!", "Didn't find next Step!"},
    {4, "<< &Zurück", "<< &Back"},
    {5, "Installations-Verzeichnis:", "Installation directory:"},
    {6, "Registrierung/Startmenü-Eintrag für aktuellen Nutzer",
     "register/start menu entry for current user"},
    {7, "Registrierung/Startmenü-Eintrag für alle Nutzer",
     "register/start menu entry for all users"},
    {8, "Symbol auf dem Desktop erstellen", "create icon on the desktop"},
    {9, "Status:", "Progress:"},
    {10, "&Start!", "&Start!"},
    {11, "Die Installation wurde erfolgreich abgeschlossen.",
     "Installation was successful finished."},
    {12, "&Wichtige Informationen anzeigen", "&Show important informations"},
    {13, "&Fertig!", "&Finished!"},
    {14, "Verzeichnis auswählen:", "Choose a directory:"},
    {15, "&Ok", "&Ok"},
    {16, "Konnte Verzeichnis nicht erstellen.", "Could not create directory."},
    {17, "Während der Installation ist ein Fehler aufgetreten.",
     "An error occured while installation."},
    {18, "Erstelle Verzeichnisse und Unterverzeichnisse.",
     "Creating directories and sub directories."},
    {19, "Kopiere Datei:", "Copy file:"},
    {20, "Es ist eine Exception während des Kopierens aufgetreten: ",
     "An exception occured while copying: "},
    {22, "Erstelle Registrierungs-Einträge ...", "Creating registry entries ..."},
    {23, "Brinefall.lnk", "Brinefall.lnk"},
    {24, "Brinefall Einstellungen.lnk", "Brinefall Setup.lnk"},
    {25, "Brinefall Deinstallation.lnk", "Brinefall Uninstallation.lnk"},
    {26, "Konnte Verknüpfung nicht erstellen!", "Couldn't create link to file!"},
    {27, "Name der Startmenü-Gruppe:", "Name of start menu group:"},
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
    {43, "Bitte wählen Sie eine Sprache:", "Please choose a language:"},
    {44, "Deinstallation konnte nicht vorbereitet werden.", "Uninstallation couldn't prepared."},
    {45, "Benötigter Plattenplatz:", "Required disk space:"},
    {46, "Verfügbarer Plattenplatz:", "Available disk space:"},
    {47,
     "Sie haben bereits eine Version von BRF installiert.\nBevor Sie ein anderes Verzeichnis "
     "verwenden, sollten Sie die vorherige Version deinstallieren.",
     "You have already installed a version of BRF.\nBefore you can use another directory, you "
     "should uninstall the previous version."},
    {48, "Um BRF für alle Nutzer zu installieren, benötigen Sie mehr Zugriffsrechte!",
     "For installing BRF for all users you need mor access rights!"},
    {49, "Ihr Client ist bereits aktualisiert worden, daher ist dieses Update nicht notwendig.",
     "Your Client was already be updated. You don't need this update."},
    {50, "Fehlende Client-Datei:", "Missing client file:"},
    {100, "Deinstallation:", "Uninstallation:"},
    {101, "Achtung!", "Attention!"},
    {102, "&Ja, ich möchte das Programm deinstallieren!", "&Yes, I want to uninstall the program!"},
    {103, "&Spielstände und Updates auch LÖSCHEN", "Do DELETE &Savegames and updates too"},
    {104, "Bitte bestätigen Sie die Deinstallation.", "Please confirm the uninstallation."},
    {105, "Deinstallations-Status:", "Uninstallation progress"},
    {106, "Während der Deinstallation trat ein Fehler auf!",
     "An error occured while unistallation!"},
    {107, "Deinstallation erfolgreich abgeschlossen.", "Uninstallation successful finished."},
    {108, "Löschen einer Datei/Verzeichnisses schlug fehl!", "Delete a file/directory failed!"},
    {109, "Verknüpfungen und Registrierung löschen", "Remove links and registry entries"},
    {200, "Aktions-Log:", "Action-Log:"},
    {201, "Button [Version Prüfen] klicken, um zu starten ...",
     "Press button [Check Version] to start ..."},
    {202, "Prüfe auf neue Version ...", "Check for new version ..."},
    {203, "Während des Herunterladens der Dateien ist ein Fehler aufgetreten.",
     "While downloading the files an error occured."},
    {204, "Bitte wiederholen Sie den Vorgang.", "Please try again."},
    {205, "Keine neuen Dateien gefunden oder benötigt.", "No new files found or needed."},
    {206, "Der Client ist auf dem aktuellen Stand.", "The client is up to date."},
    {207, "Neue Dateien gefunden: ", "New files found: "},
    {208, ", Gesamtlänge: ", ", overall length: "},
    {209, " Bytes.", " Bytes."},
    {210, " KBytes.", " KBytes."},
    {211, " MBytes.", " MBytes."},
    {212, "Empfange Datei: ", "Receiving file: "},
    {213, "Unerwartete Exception: ", "Unexpected exception: "},
    {214, "Download abgeschlossen, installiere Dateien ins Spielverzeichnis.",
     "Download finished, copy files into game directory."},
    {215, "Datei schon vorhanden, kein erneuter Download nötig.",
     "File is already available, no new download neccessary."},
    {216, "Datei erfolgreich empfangen.", "File successfully received."},
    {217, "&Spiel starten", "Start Game"},
    {218, "Update-Server:", "Update-Server:"},
    {219, "Update abgeschlossen, Button klicken, um Spiel zu starten.",
     "Update finished, click button to start the game."},
    {220, "Konnte Versions-Übersicht nicht finden. ", "Couldn't find version index."},
    {221, "Bitte konsultieren Sie die BRF-Webseiten für mehr Informationen.",
     "Please visit the BRF websites for more information."},
    {222, "Falsche Version des Updaters. ", "Wrong version of the updater. "},
    {223,
     "Bitte laden Sie sich die aktuelle Version\ndes Update-Programms von den Brinefall-Webseiten "
     "herunter.",
     "Please download an actual version of the updater from the  Brinefall - web pages."},
    {224, "Client konnte nicht gestartet werden.", "Couldn't start client."},
    {225, "Version &Prüfen", "&Check Version"},
    {226, "Update beim nächsten Start &automatisch laden",
     "Load update &automatically at next start"},
    {227, "Datei fehlerhaft, versuche erneut.", "File corrupted, trying again."},
    {228, "Empfange Dokument:  ", "Receiving document:  "},
    {229, "Download abgeschlossen.", "Download finished."},
    {230, "Konnte aktuelle Version nicht registrieren.", "Couldn't register actual version."},
    {231, "Ihre Version ist neuer als die benötigte. Bitte benutzen Sie die aktuelle Version.",
     "Your version is newer than the needed one. Please use the actual version."},
    {232,
     "Der Client ist nicht auf dem neuesten Stand.\nDa aber keine Update-Dateien vorhanden "
     "sind,\ninformieren Sie sich bitte auf den BRF-Webseiten über ein manuelles Update.",
     "The client is not up to date. But since there are no update files,\nplease check the BRF "
     "websites for a manual patch."},
    {233,
     "Die Versions-Kontroll-Datei ist defekt.\nBesuchen Sie die BRF-Webseiten für nähere "
     "Informationen.",
     "There is something wrong with the version control file.\nPlease check the BRF websites for "
     "more informations."},
    {234, "Eine neue Version des Updaters wird heruntergeladen...",
     "Downloading a new version of the updater..."},
    {235,
     "Eine neue Version des Updaters wurde heruntergeladen.\nDiese wird nun installiert und "
     "gestartet.\nDanach können Sie wie gewohnt mit dem Update fortfahren.",
     "A new version of the updater was downloaded.\nThis will now be installed, after that you can "
     "continue the update process."},
    {236,
     "Auto-Updater: Installierte Client-Version: ", "Auto-Updater: Installed Client-Version: "},
    {237, "Update-Größe:", "Update-Size:"},
    {238, "Konnte aktuelle Updater-Datei nicht finden. ",
     "Couldn't find the actual updater executable. "},
    {239, "Bitte informieren Sie sich auf den BRF-Webseiten über eine neue Version.",
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
    {247, "Möglicherweise werden gerade Wartungsarbeiten durchgeführt.",
     "Possibly some work on the servers in still in progress."},
    {248, "Update abgeschlossen", "Update finished"},
    {249, "Möchten Sie jetzt die Änderungshinweise lesen?",
     "Do you want to read the patch notes now?"},
    {250, "patchnotes_deutsch.txt", "patchnotes_english.txt"},
    {251, "&Schließen", "&Close"},
    {252, "Datei '%s' ist bereits vorhanden, trotzdem erneut herunterladen?",
     "File '%s' is already available, nevertheless download it again?"},
    {253,
     "Der Client ist zu alt, um per Auto-Updater aktualisiert werden zu können.\nBitte "
     "installieren Sie die aktuelle Voll-Version.",
     "Your client is too old to be updated with the auto updater.\nPlease install the available "
     "full version."},
    {254, "%i Dateien, %.1f %s", "%i files, %.1f %s"},
    {255,
     "Der Updater ist zu alt, um per Auto-Updater aktualisiert werden zu können.\nBitte laden Sie "
     "eine aktuelle Version von den BRF-Webseiten.",
     "Your updater is too old to be updated with the auto updater.\nPlease download an actual "
     "version from the BRF-Websites."},
};

const char kGermanMissing[] = "-- Text fehlt! --";
const char kEnglishMissing[] = "-- text missed! --";

// UTF-8 to Windows-1252 for the characters the texts use: ASCII and the
// Latin-1 letters, which keep their code point as their byte. Anything else
// (or broken UTF-8) throws, so the expectations themselves cannot be wrong
// unnoticed.
std::string Utf8ToCp1252(const std::string& utf8) {
    std::string out;
    for (std::size_t i = 0; i < utf8.size(); ++i) {
        const auto lead = static_cast<unsigned char>(utf8[i]);
        if (lead < 0x80) {
            out += static_cast<char>(lead);
            continue;
        }
        if ((lead & 0xE0) != 0xC0 || i + 1 >= utf8.size()) {
            throw std::runtime_error("unexpected UTF-8 sequence in: " + utf8);
        }
        const auto trail = static_cast<unsigned char>(utf8[++i]);
        if ((trail & 0xC0) != 0x80) {
            throw std::runtime_error("broken UTF-8 sequence in: " + utf8);
        }
        const unsigned cp = ((lead & 0x1Fu) << 6) | (trail & 0x3Fu);
        if (cp < 0xA0 || cp > 0xFF) {
            throw std::runtime_error("character outside Latin-1 in: " + utf8);
        }
        out += static_cast<char>(cp);
    }
    return out;
}

std::map<uint32_t, const ExpectedText*> ExpectedById() {
    std::map<uint32_t, const ExpectedText*> byId;
    for (const ExpectedText& text : kExpected) {
        byId[text.id] = &text;
    }
    return byId;
}

TEST(TextTable, EveryTextMatchesInBothLanguagesByteForByte) {
    for (const ExpectedText& text : kExpected) {
        SCOPED_TRACE("id " + std::to_string(text.id));
        ASSERT_NE(GetText(kLanguageGerman, text.id), nullptr);
        ASSERT_NE(GetText(kLanguageEnglish, text.id), nullptr);
        EXPECT_EQ(std::string(GetText(kLanguageGerman, text.id)), Utf8ToCp1252(text.german));
        EXPECT_EQ(std::string(GetText(kLanguageEnglish, text.id)), Utf8ToCp1252(text.english));
    }
}

TEST(TextTable, TextsConvertedToUtf8ReadAsWritten) {
    for (const ExpectedText& text : kExpected) {
        SCOPED_TRACE("id " + std::to_string(text.id));
        EXPECT_EQ(Cp1252ToUtf8(GetText(kLanguageGerman, text.id)), text.german);
        EXPECT_EQ(Cp1252ToUtf8(GetText(kLanguageEnglish, text.id)), text.english);
    }
}

TEST(TextTable, ExactlyTheListedIdsCarryTextAllOthersTheFallback) {
    const auto byId = ExpectedById();
    ASSERT_EQ(byId.size(), 115u);
    int withText = 0;
    for (uint32_t id = 0; id < 256; ++id) {
        SCOPED_TRACE("id " + std::to_string(id));
        const std::string german = GetText(kLanguageGerman, id);
        const std::string english = GetText(kLanguageEnglish, id);
        if (byId.count(id) != 0) {
            EXPECT_NE(german, kGermanMissing);
            EXPECT_NE(english, kEnglishMissing);
            ++withText;
        } else {
            EXPECT_EQ(german, kGermanMissing);
            EXPECT_EQ(english, kEnglishMissing);
        }
    }
    EXPECT_EQ(withText, 115);
}

TEST(TextTable, GapsInsideTheInstallerRunGiveTheFallback) {
    EXPECT_STREQ(GetText(kLanguageGerman, 21), kGermanMissing);
    EXPECT_STREQ(GetText(kLanguageEnglish, 21), kEnglishMissing);
    EXPECT_STREQ(GetText(kLanguageGerman, 28), kGermanMissing);
    EXPECT_STREQ(GetText(kLanguageEnglish, 28), kEnglishMissing);
    EXPECT_STREQ(GetText(kLanguageGerman, 20),
                 "Es ist eine Exception w\xE4hrend des Kopierens aufgetreten: ");
    EXPECT_STREQ(GetText(kLanguageEnglish, 29), "Couldn't update registry informations!");
}

TEST(TextTable, IdsAbove255GiveTheFallbackWithoutReadingPastTheTable) {
    for (uint32_t id : {256u, 300u, 511u, 65535u, std::numeric_limits<uint32_t>::max()}) {
        SCOPED_TRACE("id " + std::to_string(id));
        EXPECT_STREQ(GetText(kLanguageGerman, id), kGermanMissing);
        EXPECT_STREQ(GetText(kLanguageEnglish, id), kEnglishMissing);
    }
}

TEST(TextTable, UnknownLanguagesGiveNoText) {
    for (int32_t language :
         {2, 3, -1, std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max()}) {
        SCOPED_TRACE("language " + std::to_string(language));
        EXPECT_EQ(GetText(language, 225), nullptr);
        EXPECT_EQ(GetText(language, 21), nullptr);
        EXPECT_EQ(GetText(language, 300), nullptr);
    }
}

TEST(TextTable, CaptionsKeepTheirAcceleratorMarks) {
    EXPECT_STREQ(GetText(kLanguageGerman, 225),
                 "Version &Pr\xFC"
                 "fen");
    EXPECT_STREQ(GetText(kLanguageEnglish, 225), "&Check Version");
    EXPECT_STREQ(GetText(kLanguageGerman, 251),
                 "&Schlie\xDF"
                 "en");
    EXPECT_STREQ(GetText(kLanguageGerman, 217), "&Spiel starten");
    EXPECT_STREQ(GetText(kLanguageEnglish, 217), "Start Game");
}

TEST(TextTable, PatchNotesTextIsAFileNamePerLanguage) {
    EXPECT_STREQ(GetText(kLanguageGerman, 250), "patchnotes_deutsch.txt");
    EXPECT_STREQ(GetText(kLanguageEnglish, 250), "patchnotes_english.txt");
}

TEST(TextTable, FormatPlaceholdersDifferWhereTheLanguagesDiffer) {
    EXPECT_STREQ(GetText(kLanguageGerman, 36),
                 "Dieses Update kann nur auf Clientversion %2.3f.%u aufgespielt werden.");
    EXPECT_STREQ(GetText(kLanguageEnglish, 36),
                 "This update can only be installed on client version %2.3f.");
    EXPECT_STREQ(GetText(kLanguageGerman, 254), "%i Dateien, %.1f %s");
    EXPECT_STREQ(GetText(kLanguageEnglish, 254), "%i files, %.1f %s");
}

TEST(TextTable, TrailingBlanksThatJoinTheNextTextArePreserved) {
    EXPECT_STREQ(GetText(kLanguageGerman, 228), "Empfange Dokument:  ");
    EXPECT_STREQ(GetText(kLanguageEnglish, 228), "Receiving document:  ");
    EXPECT_STREQ(GetText(kLanguageGerman, 207), "Neue Dateien gefunden: ");
    EXPECT_STREQ(GetText(kLanguageEnglish, 208), ", overall length: ");
    EXPECT_STREQ(GetText(kLanguageGerman, 220),
                 "Konnte Versions-\xDC"
                 "bersicht nicht finden. ");
    EXPECT_STREQ(GetText(kLanguageEnglish, 220), "Couldn't find version index.");
    EXPECT_STREQ(GetText(kLanguageEnglish, 238), "Couldn't find the actual updater executable. ");
}

TEST(TextTable, LineBreaksAreSingleLineFeeds) {
    const std::string english = GetText(kLanguageEnglish, 232);
    EXPECT_EQ(english,
              "The client is not up to date. But since there are no update files,\n"
              "please check the BRF websites for a manual patch.");
    EXPECT_EQ(english.find('\r'), std::string::npos);
    EXPECT_EQ(english.find('\\'), std::string::npos);
    const std::string german = GetText(kLanguageGerman, 235);
    int lineFeeds = 0;
    for (char c : german) {
        lineFeeds += c == '\n' ? 1 : 0;
    }
    EXPECT_EQ(lineFeeds, 2);
}

TEST(TextTable, MisspellingsOfTheShippedTextsAreKept) {
    EXPECT_STREQ(GetText(kLanguageEnglish, 37), "Couldn't find the installation dorectory.");
    EXPECT_STREQ(GetText(kLanguageEnglish, 215),
                 "File is already available, no new download neccessary.");
    EXPECT_STREQ(GetText(kLanguageEnglish, 203), "While downloading the files an error occured.");
}

TEST(CurrentLanguage, StartsGermanAndSelectsTheTextsOfTheLanguageSet) {
    EXPECT_EQ(CurrentLanguage, kLanguageGerman);
    EXPECT_STREQ(GetText(CurrentLanguage, 2), "Fehler!");
    CurrentLanguage = kLanguageEnglish;
    EXPECT_STREQ(GetText(CurrentLanguage, 2), "Error!");
    CurrentLanguage = kLanguageGerman;
}

}  // namespace
