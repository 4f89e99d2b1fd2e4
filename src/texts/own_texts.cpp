#include "texts/own_texts.h"

#include <cstddef>
#include <iterator>

#include "texts/texts.h"

namespace {

struct OwnEntry {
    OwnText id;
    const char* german;
    const char* english;
};

// In the order of the enum; the build checks it.
constexpr OwnEntry kOwnTexts[] = {
    {OwnText::CompletingUpdate, "Das unterbrochene Update wird abgeschlossen ...",
     "Completing the interrupted update ..."},
    {OwnText::RefetchingUpdate,
     "Dateien des unterbrochenen Updates fehlen, sie werden erneut geladen.",
     "Files of the interrupted update are missing, they are loaded again."},
    {OwnText::DriveFull, "Das Laufwerk des Spiels ist voll: %s mehr werden ben\xF6tigt.",
     "The game drive is full: %s more are needed."},
    {OwnText::MayNotChange, "Der Updater darf %s nicht \xE4ndern: %s",
     "The updater may not change %s: %s"},
    {OwnText::CauseWriteProtected,
     "die Datei ist schreibgesch\xFCtzt oder von einem anderen Programm ge\xF6"
     "ffnet.",
     "the file is read-only or open in another program."},
    {OwnText::CauseDirectoryInPlace, "an ihrer Stelle steht ein Verzeichnis.",
     "a directory stands in its place."},
    {OwnText::CauseOther, "das System verweigert es.", "the system refuses it."},
    {OwnText::NewsPageUnavailable, "Die Neuigkeiten k\xF6nnen hier nicht angezeigt werden: ",
     "The news page cannot be shown here: "},
    {OwnText::ClockWrong,
     "Die Uhr des Computers zeigt %s, die Liste der Updates wurde aber am %s signiert: bitte "
     "die Uhr stellen.",
     "The computer's clock says %s, but the update list was signed on %s: please set the "
     "clock."},
    {OwnText::ListExpired,
     "Die Liste der Versionen auf dem Update-Server ist abgelaufen: bitte sp\xE4ter noch einmal "
     "versuchen.",
     "The update server's list of releases has expired: please try again later."},
    {OwnText::ProxyLogin,
     "Der Proxy %s verlangt eine Anmeldung (407), die der Updater nicht geben kann.",
     "The proxy %s asks for a login (407), which the updater cannot give."},
    {OwnText::WaitingForFile,
     "Warte auf %s: ein anderes Programm hat die Datei ge\xF6"
     "ffnet ...",
     "Waiting for %s: another program has the file open ..."},
    {OwnText::WaitingForFileHeldBy,
     "Warte auf %s: %s hat die Datei ge\xF6"
     "ffnet ...",
     "Waiting for %s: %s has the file open ..."},
    {OwnText::CauseHeldBy,
     "die Datei ist in %s ge\xF6"
     "ffnet.",
     "the file is open in %s."},
    {OwnText::RepairingFile,
     "Eine Datei des Spiels fehlt oder ist besch\xE4"
     "digt, sie wird repariert ...",
     "A file of the game is missing or damaged, it is repaired ..."},
    {OwnText::RepairingFiles,
     "%d Dateien des Spiels fehlen oder sind besch\xE4"
     "digt, sie werden repariert ...",
     "%d files of the game are missing or damaged, they are repaired ..."},
    {OwnText::RepairFinished,
     "Die fehlenden und besch\xE4"
     "digten Dateien sind repariert, bitte klicken, um das Spiel zu starten.",
     "The missing and damaged files are repaired, click button to start the game."},
    {OwnText::CannotRepair,
     "%s kann nicht repariert werden: der Update-Server bietet keine Kopie an.",
     "%s cannot be repaired: the update server serves no copy of it."},
    {OwnText::VerifyMissing, "Fehlt: %s", "Missing: %s"},
    {OwnText::VerifyDiffers, "Weicht von der Version ab: %s", "Differs from the release: %s"},
    {OwnText::VerifyIntact, "Alle %d Dateien der Version sind unversehrt.",
     "All %d files of the release are intact."},
    {OwnText::VerifyDamaged, "%d von %d Dateien weichen von der Version ab.",
     "%d of %d files differ from the release."},
    {OwnText::VerifyOlderRelease, "Installiert ist Version %s, die neueste ist %s.",
     "Release %s is installed, the newest is %s."},
    {OwnText::VerifyNoManifest,
     "Der Update-Server nennt die Dateien der Version nicht, sie k\xF6"
     "nnen nicht gepr\xFC"
     "ft werden.",
     "The update server does not list the files of the release: they cannot be verified."},
};

constexpr bool InEnumOrder() {
    for (std::size_t i = 0; i < std::size(kOwnTexts); ++i) {
        if (static_cast<std::size_t>(kOwnTexts[i].id) != i) {
            return false;
        }
    }
    return true;
}
static_assert(InEnumOrder(), "own texts are listed in the order of OwnText");

}  // namespace

const char* GetOwnText(int32_t language, OwnText id) {
    const OwnEntry& entry = kOwnTexts[static_cast<std::size_t>(id)];
    return language == kLanguageGerman ? entry.german : entry.english;
}
