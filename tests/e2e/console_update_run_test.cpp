// The console updater run as players' installations meet it: a real nginx
// serves a patch set, brfupdate runs as a process in a game directory, and
// each case checks the exit status, the action log on stdout, the message
// boxes on stderr and the files left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "platform/clock.h"
#include "platform/process.h"
#include "support/host_services.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

using brf_test::GameDir;
using brf_test::PatchSet;
using Lines = std::vector<std::string>;

// The action-log texts, as a player reads them.
const char kPressCheck[] = "Press button [Check Version] to start ...";
const char kLoadList[] = "Load actual game server list...";
const char kCheckVersion[] = "Check for new version ...";
const char kNoNewFiles[] = "No new files found or needed.";
const char kUpToDate[] = "The client is up to date.";
const char kReceiving[] = "Receiving file: ";
const char kReceived[] = "File successfully received.";
const char kAlreadyThere[] = "File is already available, no new download neccessary.";
const char kCorrupted[] = "File corrupted, trying again.";
const char kInstalling[] = "Download finished, copy files into game directory.";
const char kFinished[] = "Update finished, click button to start the game.";
const char kDownloadError[] = "While downloading the files an error occured.";
const char kTryAgain[] = "Please try again.";
const char kConnectionFailed[] = "Connection failed.";
const char kNoList[] = "Actual game server list couldn't be found. ";
const char kMaintenance[] = "Possibly some work on the servers in still in progress.";
const char kUpdaterTooOld[] =
    "Your updater is too old to be updated with the auto updater.\nPlease download an actual "
    "version from the BRF-Websites.";
const char kClientTooOld[] =
    "Your client is too old to be updated with the auto updater.\nPlease install the available "
    "full version.";
const char kNoSection[] =
    "The client is not up to date. But since there are no update files,\nplease check the BRF "
    "websites for a manual patch.";
const char kPatchNotes[] = "[Update finished] Do you want to read the patch notes now?";
const char kServerList[] = "sea-1.brinefall.invalid 7777 Open Sea\r\n";

// A released game file in three versions: the one installed, the one the
// server publishes, and its container.
const std::string kOldFleet = "brig Albatross, 12 guns\r\n";
std::string NewFleet() {
    std::string text;
    for (int i = 0; i < 900; ++i) {
        text += "ship " + std::to_string(i) + ": brig, " + std::to_string(i % 30) + " guns\r\n";
    }
    return text;
}
std::string NorthMap() {
    std::string bytes;
    for (uint32_t i = 0; bytes.size() < 30000; ++i) {
        bytes += static_cast<char>((i * 2654435761u) >> 24);
    }
    return bytes;
}

// Everything one run needs: the server, its patch set, the game directory.
struct World {
    brf_test::NginxServer server{{.accessLog = true}};
    brf_test::ScratchDir scratch;
    PatchSet set{server.Root() / "set1"};
    GameDir game{scratch.path()};
    std::string url = server.BaseUrl() + "set1/";
    uint64_t listed = 0;  // total of the listed sizes, for the size line

    // Publishes `content` as `name` and gives its two index lines.
    Lines File(const std::string& name, const std::string& content) {
        const Lines entry = set.Publish(name, content);
        listed += brf_test::Container(content).size();
        return entry;
    }
    // The version index: a header for client 1.050.0 (patchable from 1.040.0)
    // and the section of 1.040.0 with these entries; with `bundled`, the
    // section's files are served in one bundle too.
    void Section(const std::vector<Lines>& entries) const {
        Lines index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
        index.push_back("[1040.0]");
        Lines files;
        for (const Lines& entry : entries) {
            index.insert(index.end(), entry.begin(), entry.end());
            if (entry[1] != "0") {
                files.push_back(entry[0]);
            }
        }
        index.push_back("");
        if (bundled) {
            const Lines lines = set.Bundle(1040, files);
            index.insert(index.end(), lines.begin(), lines.end());
        }
        set.VersionIndex(index);
    }
    bool bundled = false;
    // GETs of `name` that nginx logged.
    int Requests(const std::string& name) const {
        const std::string log = server.AccessLog();
        const std::string needle = "GET /set1/patch/" + name + " ";
        int count = 0;
        for (size_t at = log.find(needle); at != std::string::npos; at = log.find(needle, at + 1)) {
            ++count;
        }
        return count;
    }
};

// "New files found: N, overall length: V U" for the listed total.
std::string SizeLine(int files, uint64_t total, bool german) {
    char text[128];
    if (total > 1048576) {
        std::snprintf(text, sizeof text, "%.1f MBytes.", static_cast<double>(total) / 1048576);
    } else if (total > 1024) {
        std::snprintf(text, sizeof text, "%.1f KBytes.", static_cast<double>(total) / 1024);
    } else {
        std::snprintf(text, sizeof text, "%.1f Bytes.", static_cast<double>(total));
    }
    return (german ? "Neue Dateien gefunden: " : "New files found: ") + std::to_string(files) +
           (german ? ", Gesamtlänge: " : ", overall length: ") + text;
}

size_t Count(const std::string& text, const std::string& what) {
    size_t count = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) {
        ++count;
    }
    return count;
}

struct Case {
    std::string name;
    uint32_t language = 1;
    uint32_t version = 1040;
    // Fills the server and the game directory; may change the server address.
    std::function<void(World&)> arrange;
    Lines args;
    int status = 0;
    // The whole action log; "{size}" stands for the size line of the listed
    // files, "{N}" for that line with N files.
    Lines out;
    // Message boxes, each "[caption] text", each shown once; with anyBox the
    // run shows some error display whose words are not prescribed.
    Lines boxes;
    bool anyBox = false;
    // Re-download questions, each asked once.
    Lines questions;
    std::function<void(const World&, const brf_test::UpdaterRun&)> check;
    bool underWine = false;
};

// Failures name the case, not its bytes.
void PrintTo(const Case& c, std::ostream* os) {
    *os << c.name;
}

// The files of a game directory after a run that reached the server list.
Lines WithRunFiles(Lines files) {
    files.insert(files.end(),
                 {"_debugg.log", "config.ini", "data/servers.dat", "save/updateservers.sav"});
    std::sort(files.begin(), files.end());
    return files;
}

Lines Concat(std::initializer_list<Lines> parts) {
    Lines all;
    for (const Lines& p : parts) {
        all.insert(all.end(), p.begin(), p.end());
    }
    return all;
}

const Lines kStart = {kPressCheck, kLoadList, kCheckVersion};

// A full update of 1.040.0: a new directory with a new file, a changed file,
// a changed file at the top level, an untouched file.
void ArrangeFullUpdate(World& w) {
    w.game.Write("data/ships/fleet.dat", kOldFleet);
    w.game.Write("data/harbours.txt", "Port Royal\r\n");
    w.game.Write("readme.txt", "Brinefall 1.040\r\n");
    w.Section({{"data-maps", "0"},
               w.File("data-maps-north.map.upd", NorthMap()),
               w.File("data-ships-fleet.dat.upd", NewFleet()),
               w.File("readme.txt.upd", "Brinefall 1.050\r\n")});
}

void CheckFullUpdate(const World& w, const brf_test::UpdaterRun&) {
    EXPECT_EQ(w.game.Read("data/maps/north.map"), NorthMap());
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
    EXPECT_EQ(w.game.Read("readme.txt"), "Brinefall 1.050\r\n");
    EXPECT_EQ(w.game.Read("data/harbours.txt"), "Port Royal\r\n");
    EXPECT_EQ(w.game.Read("patch/backup/data-ships-fleet.dat"), kOldFleet);
    EXPECT_EQ(w.game.Read("patch/backup/readme.txt"), "Brinefall 1.040\r\n");
    EXPECT_EQ(w.game.Read("data/servers.dat"), kServerList);
    EXPECT_EQ(w.game.Files(),
              WithRunFiles({"data/harbours.txt", "data/maps/north.map", "data/ships/fleet.dat",
                            "patch/backup/data-ships-fleet.dat", "patch/backup/readme.txt",
                            "patch/data-maps-north.map.upd", "patch/data-ships-fleet.dat.upd",
                            "patch/readme.txt.upd", "readme.txt"}));
}

// Two files whose valid containers already lie in patch/, newer than the
// listed time: identical copies in the updater's eyes.
void ArrangeIdenticalCopies(World& w, bool onServer) {
    w.game.Write("data/ships/fleet.dat", kOldFleet);
    std::vector<Lines> entries;
    for (const auto& [name, content] :
         {std::pair<std::string, std::string>{"data-ships-fleet.dat.upd", NewFleet()},
          {"readme.txt.upd", "Brinefall 1.050\r\n"}}) {
        const std::string container = brf_test::Container(content);
        w.game.Write("patch/" + name, container);
        if (onServer) {
            w.File(name, content);
        } else {
            w.listed += container.size();
        }
        entries.push_back(
            Lines{name, std::to_string(container.size()) + ";" + brf_test::kPublishTime});
    }
    w.Section(entries);
}

void CheckIdenticalInstalled(const World& w, const brf_test::UpdaterRun&) {
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
    EXPECT_EQ(w.game.Read("readme.txt"), "Brinefall 1.050\r\n");
    EXPECT_EQ(w.game.Read("patch/backup/data-ships-fleet.dat"), kOldFleet);
}

// An entry whose name must never reach outside the game directory.
Case Unsafe(const std::string& label, const Lines& entry, bool file) {
    Case c;
    c.name = "RefusesUnsafeName_" + label;
    c.arrange = [entry, file](World& w) {
        w.game.Write("data/ships/fleet.dat", kOldFleet);
        // A file entry carries its real info line, so only the name is wrong.
        w.Section({file ? w.File(entry[0], "planted\r\n") : entry});
    };
    c.status = 1;
    // The report names the entry as listed, with or without its suffix.
    c.check = [name = entry[0].substr(0, entry[0].rfind(".upd"))](const World& w,
                                                                  const brf_test::UpdaterRun& run) {
        const Lines lines = run.OutLines();
        ASSERT_FALSE(lines.empty());
        // The exception report names the refused entry.
        EXPECT_EQ(lines.back().rfind("Unexpected exception: ", 0), 0u) << run.out;
        EXPECT_NE(lines.back().find(name), std::string::npos) << run.out;
        EXPECT_EQ(Count(run.out, kInstalling), 0u);
        // Beside the game directory lie only the test's own files.
        Lines beside;
        for (const auto& e : std::filesystem::directory_iterator(w.scratch.path())) {
            beside.push_back(e.path().filename().string());
        }
        std::sort(beside.begin(), beside.end());
        EXPECT_EQ(beside, (Lines{"game", "stderr.txt", "stdout.txt", "user.reg"}));
        EXPECT_FALSE(std::filesystem::exists("/brfe2eabs"));
        EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), kOldFleet);
    };
    return c;
}

Case& Add(std::vector<Case>& cases, const std::string& name) {
    cases.emplace_back();
    cases.back().name = name;
    return cases.back();
}

std::vector<Case> Cases() {
    std::vector<Case> cases;

    {
        Case& c = Add(cases, "ClientCurrent");
        c.version = 1050;
        c.arrange = [](World& w) { w.Section({}); };
        c.out = Concat({kStart, {kNoNewFiles, kUpToDate}});
        c.check = [](const World& w, const brf_test::UpdaterRun&) {
            EXPECT_EQ(w.game.Files(), WithRunFiles({}));
            EXPECT_EQ(w.game.Read("data/servers.dat"), kServerList);
            // The address the run used is kept for the next start.
            EXPECT_NE(w.game.Read("save/updateservers.sav")->find(w.url), std::string::npos);
        };
        c.underWine = true;
    }

    {
        Case& c = Add(cases, "GermanClientCurrent");
        c.language = 0;
        c.version = 1051;
        c.arrange = [](World& w) { w.Section({}); };
        c.out = {"Button [Version Prüfen] klicken, um zu starten ...",
                 "Lade aktuelle Spiele-Serverliste...", "Prüfe auf neue Version ...",
                 "Keine neuen Dateien gefunden oder benötigt.",
                 "Der Client ist auf dem aktuellen Stand."};
    }

    {
        Case& c = Add(cases, "UpdaterBelowMinimum");
        c.arrange = [](World& w) {
            w.set.VersionIndex(brf_test::IndexHeader(1490, 1491, 1050, 0, 1040, 0));
        };
        c.status = 1;
        c.out = Concat({kStart, brf_test::Lines(kUpdaterTooOld)});
        c.boxes = {std::string("[Error!] ") + kUpdaterTooOld};
    }

    {
        Case& c = Add(cases, "ClientTooOld");
        c.version = 1030;
        c.arrange = [](World& w) { w.Section({}); };
        c.status = 1;
        c.out = Concat({kStart, brf_test::Lines(kClientTooOld)});
        c.boxes = {std::string("[Error!] ") + kClientTooOld};
    }

    {
        Case& c = Add(cases, "NoSection");
        c.version = 1045;
        c.arrange = [](World& w) { w.Section({}); };
        c.status = 1;
        c.out = Concat({kStart, brf_test::Lines(kNoSection)});
        c.boxes = {std::string("[Error!] ") + kNoSection};
    }

    const Lines fullUpdate = {"{3}",     std::string(kReceiving) + "data-maps-north.map.upd",
                              kReceived, std::string(kReceiving) + "data-ships-fleet.dat.upd",
                              kReceived, std::string(kReceiving) + "readme.txt.upd",
                              kReceived, kInstalling,
                              kFinished};
    {
        Case& c = Add(cases, "FullUpdate");
        c.arrange = ArrangeFullUpdate;
        c.out = Concat({kStart, fullUpdate});
        c.boxes = {kPatchNotes};
        c.check = CheckFullUpdate;
        c.underWine = true;
    }

    {
        // What the player sees is that of the update fetched file by file.
        Case& c = Add(cases, "FullUpdateFromABundle");
        c.arrange = [](World& w) {
            w.bundled = true;
            ArrangeFullUpdate(w);
        };
        c.out = Concat({kStart, fullUpdate});
        c.boxes = {kPatchNotes};
        c.check = [](const World& w, const brf_test::UpdaterRun& run) {
            CheckFullUpdate(w, run);
            if (w.server.Shared()) {
                return;  // the test script's server keeps no access log
            }
            EXPECT_EQ(w.Requests("_bundle.1040.0.bdl"), 1);
            EXPECT_EQ(w.Requests("data-maps-north.map.upd") + w.Requests("readme.txt.upd"), 0);
        };
        c.underWine = true;
    }

    const std::string question =
        "File 'patch/data-ships-fleet.dat.upd' is already available, nevertheless download it "
        "again?";
    const std::string question2 =
        "File 'patch/readme.txt.upd' is already available, nevertheless download it again?";
    const Lines kept = {"{2}",         std::string(kReceiving) + "data-ships-fleet.dat.upd",
                        kAlreadyThere, std::string(kReceiving) + "readme.txt.upd",
                        kAlreadyThere, kInstalling,
                        kFinished};
    const Lines fetchedAgain = {"{2}",     std::string(kReceiving) + "data-ships-fleet.dat.upd",
                                kReceived, std::string(kReceiving) + "readme.txt.upd",
                                kReceived, kInstalling,
                                kFinished};
    // Answer no: the local copies are installed; the server does not even
    // have the files.
    {
        Case& c = Add(cases, "KeepsIdenticalCopyOnNo");
        c.arrange = [](World& w) { ArrangeIdenticalCopies(w, false); };
        c.args = {"--answer", "no"};
        c.out = Concat({kStart, kept});
        c.boxes = {kPatchNotes};
        c.questions = {question, question2};
        c.check = CheckIdenticalInstalled;
    }
    {
        Case& c = Add(cases, "FetchesIdenticalCopyAgainOnYes");
        c.arrange = [](World& w) { ArrangeIdenticalCopies(w, true); };
        c.args = {"--answer", "yes"};
        c.out = Concat({kStart, fetchedAgain});
        c.boxes = {kPatchNotes};
        c.questions = {question, question2};
        c.check = [](const World& w, const brf_test::UpdaterRun& run) {
            CheckIdenticalInstalled(w, run);
            if (!w.server.Shared()) {
                EXPECT_EQ(w.Requests("readme.txt.upd"), 1);
            }
        };
    }
    // Yes to all: asked for the first file only, every file fetched again.
    {
        Case& c = Add(cases, "FetchesAllAgainOnYesToAll");
        c.arrange = [](World& w) { ArrangeIdenticalCopies(w, true); };
        c.args = {"--answer", "all"};
        c.out = Concat({kStart, fetchedAgain});
        c.boxes = {kPatchNotes};
        c.questions = {question};
        c.check = [question2](const World& w, const brf_test::UpdaterRun& run) {
            CheckIdenticalInstalled(w, run);
            EXPECT_EQ(Count(run.err, question2), 0u);
        };
    }

    // A container whose checksum never matches: five receipts, then the
    // download failure; nothing is installed.
    {
        Case& c = Add(cases, "GivesUpOnFileThatKeepsArrivingCorrupt");
        c.arrange = [](World& w) {
            w.game.Write("data/ships/fleet.dat", kOldFleet);
            std::string broken = brf_test::Container(NewFleet());
            broken.back() = static_cast<char>(broken.back() ^ 0x5A);
            w.set.Raw("data-ships-fleet.dat.upd", broken);
            w.Section({{"data-ships-fleet.dat.upd",
                        std::to_string(broken.size()) + ";" + brf_test::kPublishTime}});
        };
        c.status = 1;
        c.boxes = {std::string("[Error!] ") + kDownloadError + kTryAgain};
        c.check = [](const World& w, const brf_test::UpdaterRun& run) {
            const Lines lines = run.OutLines();
            ASSERT_GE(lines.size(), 2u);
            EXPECT_EQ(Count(run.out, std::string(kReceiving) + "data-ships-fleet.dat.upd"), 5u);
            EXPECT_GE(Count(run.out, kCorrupted), 4u);
            EXPECT_EQ(lines[lines.size() - 2], kDownloadError);
            EXPECT_EQ(lines.back(), kTryAgain);
            if (!w.server.Shared()) {
                EXPECT_EQ(w.Requests("data-ships-fleet.dat.upd"), 5);
            }
            EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), kOldFleet);
            // The corrupt copy does not stay in patch/ after the last attempt.
            EXPECT_FALSE(w.game.Read("patch/data-ships-fleet.dat.upd"));
        };
    }

    // A directory where a file is to go: the Parts' failure, then the cause.
    {
        Case& c = Add(cases, "SaysWhenADirectoryStandsInAFilesPlace");
        c.arrange = [](World& w) {
            ArrangeFullUpdate(w);
            std::filesystem::remove(w.game.Dir() / "readme.txt");
            std::filesystem::create_directories(w.game.Dir() / "readme.txt" / "notes");
        };
        c.status = 1;
        c.out = Concat({kStart,
                        std::vector<std::string>(fullUpdate.begin(), fullUpdate.end() - 1),
                        {kDownloadError, kTryAgain,
                         "The updater may not change readme.txt: a directory stands in its "
                         "place."}});
        c.check = [](const World& w, const brf_test::UpdaterRun&) {
            EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
            EXPECT_TRUE(w.game.Read("patch/_install.rec"));
        };
    }

    // One listed file missing on the server: the run stops there.
    const auto arrange404 = [](World& w) {
        w.game.Write("data/ships/fleet.dat", kOldFleet);
        Lines missing = {"readme.txt.upd", "17;2004-09-18 21:05:33"};
        w.listed += 17;
        w.Section({w.File("data-ships-fleet.dat.upd", NewFleet()), missing});
    };
    const auto check404 = [](const World& w, const brf_test::UpdaterRun&) {
        EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), kOldFleet);
        EXPECT_FALSE(w.game.Read("readme.txt"));
        EXPECT_FALSE(w.game.Read("patch/readme.txt.upd"));
    };
    {
        Case& c = Add(cases, "StopsAtFileMissingOnServer");
        c.arrange = arrange404;
        c.status = 1;
        c.out = Concat({kStart,
                        {"{2}", std::string(kReceiving) + "data-ships-fleet.dat.upd", kReceived,
                         std::string(kReceiving) + "readme.txt.upd", kDownloadError, kTryAgain}});
        c.boxes = {std::string("[Error!] ") + kDownloadError + kTryAgain};
        c.check = check404;
    }
    {
        Case& c = Add(cases, "GermanStopsAtFileMissingOnServer");
        c.language = 0;
        c.arrange = arrange404;
        c.status = 1;
        c.out = {"Button [Version Prüfen] klicken, um zu starten ...",
                 "Lade aktuelle Spiele-Serverliste...",
                 "Prüfe auf neue Version ...",
                 "{2de}",
                 "Empfange Datei: data-ships-fleet.dat.upd",
                 "Datei erfolgreich empfangen.",
                 "Empfange Datei: readme.txt.upd",
                 "Während des Herunterladens der Dateien ist ein Fehler aufgetreten.",
                 "Bitte wiederholen Sie den Vorgang."};
        c.boxes = {
            "[Fehler!] Während des Herunterladens der Dateien ist ein Fehler "
            "aufgetreten.Bitte wiederholen Sie den Vorgang."};
        c.check = check404;
        // The German texts reach a Windows console program's stdout as UTF-8 too.
        c.underWine = true;
    }

    // An error page in place of the server list leaves the old list alone.
    {
        Case& c = Add(cases, "KeepsServerListWhenServerSendsHtmlPage");
        c.arrange = [](World& w) {
            w.game.Write("data/servers.dat", "old list\r\n");
            w.set.ServerList(
                "<HTML><HEAD><TITLE>Maintenance</TITLE></HEAD><BODY>Back "
                "soon</BODY></HTML>\r\n");
        };
        c.status = 1;
        c.out = {kPressCheck, kLoadList, kNoList, kMaintenance};
        c.boxes = {std::string("[Error!] ") + kNoList + kMaintenance};
        c.check = [](const World& w, const brf_test::UpdaterRun&) {
            EXPECT_EQ(w.game.Read("data/servers.dat"), "old list\r\n");
            EXPECT_EQ(w.game.Files(), WithRunFiles({}));
        };
        c.underWine = true;
    }

    const auto unreachable = [](const std::string& url) {
        return [url](World& w) {
            w.url = url.empty()
                        ? "http://127.0.0.1:" + std::to_string(brf_test::host::FreeLoopbackPort()) +
                              "/set1/"
                        : url;
            w.game.Write("data/servers.dat", "old list\r\n");
        };
    };
    const auto checkUnreachable = [](const World& w, const brf_test::UpdaterRun&) {
        EXPECT_EQ(w.game.Read("data/servers.dat"), "old list\r\n");
    };
    {
        Case& c = Add(cases, "UnknownHost");
        c.arrange = unreachable("http://brf-nowhere.invalid/");
        c.status = 1;
        c.out = {kPressCheck, kLoadList, kConnectionFailed};
        c.anyBox = true;
        c.check = checkUnreachable;
    }
    {
        Case& c = Add(cases, "ClosedPort");
        c.arrange = unreachable("");
        c.status = 1;
        c.out = {kPressCheck, kLoadList, kConnectionFailed};
        c.anyBox = true;
        c.check = checkUnreachable;
    }

    cases.push_back(Unsafe("DotDot", {"..-brfe2e.upd"}, true));
    cases.push_back(Unsafe("LeadingSeparator", {"-brfe2eabs.upd"}, true));
    cases.push_back(Unsafe("Drive", {"C:-brfe2e.upd"}, true));
    cases.push_back(Unsafe("Backslash", {"a\\b.upd"}, true));
    cases.push_back(Unsafe("EmptyComponent", {"data--fleet.dat.upd"}, true));
    cases.push_back(Unsafe("DotComponent", {".-brfe2e.upd"}, true));
    cases.push_back(Unsafe("DirectoryDotDot", {"..", "0"}, false));
    cases.push_back(Unsafe("DirectoryBelowDotDot", {"..-brfe2e", "0"}, false));
    return cases;
}

class ConsoleUpdateRun : public testing::TestWithParam<Case> {
protected:
    void SetUp() override {
        if (brf_test::host::UnderWine() && !GetParam().underWine) {
            GTEST_SKIP() << "runs in the native lane only";
        }
    }
    // The server with its list, the game directory with its settings, and
    // what the case puts there.
    void Arrange(World& w) const {
        const Case& c = GetParam();
        ASSERT_TRUE(w.server.Running()) << w.server.Error();
        w.set.ServerList(kServerList);
        w.game.Config({"debug_loglevel=2"});
        ASSERT_TRUE(w.game.Registry(c.language, c.version, 0));
        if (c.arrange) {
            c.arrange(w);
        }
    }

    // The size line in the locale-neutral form the run prints under LC_ALL=C.
    brf_test::ScopedEnv locale_{"LC_ALL", "C.UTF-8"};
};

TEST_P(ConsoleUpdateRun, ShowsAndLeavesWhatThePlayerExpects) {
    const Case& c = GetParam();
    World w;
    ASSERT_NO_FATAL_FAILURE(Arrange(w));

    Lines args = {"--server", w.url, "--timeout", "20"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const auto run = brf_test::RunUpdater(BRFUPDATE_PATH, w.game.Dir(), args, w.scratch.path());
    SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);

    EXPECT_EQ(run.status, c.status);
    if (!c.out.empty()) {
        Lines expected;
        for (const std::string& line : c.out) {
            if (line.size() > 2 && line.front() == '{') {
                expected.push_back(SizeLine(std::stoi(line.substr(1)), w.listed,
                                            line.find("de") != std::string::npos));
            } else {
                for (const std::string& part : brf_test::Lines(line)) {
                    expected.push_back(part);
                }
            }
        }
        EXPECT_EQ(run.OutLines(), expected);
    }
    for (const std::string& box : c.boxes) {
        EXPECT_EQ(Count(run.err, box), 1u) << box;
    }
    for (const std::string& question : c.questions) {
        EXPECT_EQ(Count(run.err, question), 1u) << question;
    }
    size_t boxLines = 0;
    for (const std::string& line : brf_test::Lines(run.err)) {
        boxLines += !line.empty() && line[0] == '[';
    }
    if (c.anyBox) {
        EXPECT_GE(boxLines, 1u);
    } else {
        EXPECT_EQ(boxLines, c.boxes.size() + c.questions.size());
    }
    if (c.check) {
        c.check(w, run);
    }
    // A run never leaves the local version index or a temporary file behind.
    for (const std::string& file : w.game.Files()) {
        EXPECT_EQ(file.find("_versions.txt"), std::string::npos);
        EXPECT_EQ(file.find(".tmp"), std::string::npos) << file;
    }
}

INSTANTIATE_TEST_SUITE_P(Scenarios, ConsoleUpdateRun, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// The log file without what differs from run to run: the clock and the
// command line.
std::string Untimed(const std::optional<std::string>& log) {
    static const std::regex kClock(R"((^|\n)\d+ : \d\d:\d\d:\d\d : )");
    static const std::regex kHeader(
        R"(--- (logfile for application|logging started on) *: [^\r]*)");
    return std::regex_replace(std::regex_replace(log.value_or("none"), kClock, "$1"), kHeader, "");
}

// Decoding while the download goes on changes when the work is done, never
// what the player or the log file sees, nor the files it leaves: each case
// runs once so and once with everything decoded at the install, on copies
// of the same game directory, and no temporary file stays.
class DecodingAhead : public ConsoleUpdateRun {};

TEST_P(DecodingAhead, ShowsLogsAndLeavesTheSameAsDecodingAtTheInstall) {
    const Case& c = GetParam();
    World w;
    ASSERT_NO_FATAL_FAILURE(Arrange(w));
    brf_test::ScratchDir other;
    GameDir atInstall(other.path());
    std::filesystem::remove(atInstall.Dir());  // made anew by the copy
    std::filesystem::copy(w.game.Dir(), atInstall.Dir(), std::filesystem::copy_options::recursive);
    for (const std::string& file : w.game.Files()) {  // kept copies are judged by their times
        std::filesystem::last_write_time(atInstall.Dir() / file,
                                         std::filesystem::last_write_time(w.game.Dir() / file));
    }
    Lines args = {"--server", w.url, "--timeout", "20"};
    args.insert(args.end(), c.args.begin(), c.args.end());
    std::vector<brf_test::UpdaterRun> runs;
    for (const GameDir* game : {&w.game, &atInstall}) {
        ASSERT_TRUE(game->Registry(c.language, c.version, 0));
        runs.push_back(brf_test::RunUpdater(BRFUPDATE_PATH, game->Dir(), args, game->Dir() / ".."));
        args.push_back("--decode-at-install");
    }
    EXPECT_EQ(runs[0].status, runs[1].status);
    EXPECT_EQ(runs[0].out, runs[1].out);
    EXPECT_EQ(runs[0].err, runs[1].err);
    ASSERT_EQ(w.game.Files(), atInstall.Files());
    for (const std::string& file : w.game.Files()) {
        EXPECT_FALSE(file.ends_with(".brf-part")) << file;
        EXPECT_NE(file, "patch/_decoding.lst");
        if (file == "_debugg.log") {
            EXPECT_EQ(Untimed(w.game.Read(file)), Untimed(atInstall.Read(file)));
        } else {
            EXPECT_EQ(w.game.Read(file), atInstall.Read(file)) << file;
        }
    }
}

std::vector<Case> DecodingAheadCases() {
    std::vector<Case> cases;
    for (const Case& c : Cases()) {
        for (const char* name :
             {"FullUpdate", "KeepsIdenticalCopyOnNo", "FetchesAllAgainOnYesToAll",
              "SaysWhenADirectoryStandsInAFilesPlace", "StopsAtFileMissingOnServer"}) {
            if (c.name == name) {
                cases.push_back(c);
            }
        }
    }
    // A decode that fails on its worker (its temporary file cannot be made)
    // fails again at the install, and is reported there as ever.
    Case& c = Add(cases, "TemporaryFileCannotBeWritten");
    c.arrange = [](World& w) {
        ArrangeFullUpdate(w);
        w.game.Write("data/ships/fleet.dat.brf-part/in-the-way", "");
    };
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Scenarios, DecodingAhead, testing::ValuesIn(DecodingAheadCases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.name; });

// Another program holds a game file open while the update installs it: a
// virus scanner for a few seconds, the game for good. The install waits for
// it and says so, naming the program where the system can tell; once it
// gives up, the cause; the install record stays and the next run completes
// the update. A program of the tests holds the file; under Wine without
// sharing it, natively (where nothing keeps another program from replacing
// an open file) with a preloaded shim that makes the file busy meanwhile.
class HeldFile {
public:
    // Holds `path` of `game` from the next run on until Release; with
    // `lettingGoMs`, only that long after the install first waits for it.
    HeldFile(const World& w, const std::string& path, std::optional<int> lettingGoMs)
        : log_(w.game.Dir() / "_debugg.log"), release_(w.scratch.File("release")) {
        const std::string signal = w.scratch.File("holding.txt");
        {
            brf_test::ScopedEnv file("BRF_CHILD_HOLD_FILE", (w.game.Dir() / path).string());
            brf_test::ScopedEnv marker("BRF_CHILD_RELEASE", release_);
            brf_test::ScopedEnv span("BRF_CHILD_HOLD_MS", "600000");
            brf_test::ScopedEnv self("BRF_CHILD_SELF", signal);
            EXPECT_EQ(plat::StartProgram(BRF_TEST_CHILD), plat::kStartOk);
        }
        EXPECT_TRUE(brf_test::WaitFor([&] { return std::filesystem::exists(signal); }));
#ifndef _WIN32
        env_.push_back(std::make_unique<brf_test::ScopedEnv>("LD_PRELOAD", BRF_FAULT_SHIM));
        env_.push_back(std::make_unique<brf_test::ScopedEnv>("BRF_FAULT_BUSY", path));
        env_.push_back(
            std::make_unique<brf_test::ScopedEnv>("ASAN_OPTIONS", "verify_asan_link_order=0"));
        if (lettingGoMs) {
            env_.push_back(std::make_unique<brf_test::ScopedEnv>("BRF_FAULT_BUSY_MS",
                                                                 std::to_string(*lettingGoMs)));
        }
#endif
        if (lettingGoMs) {
            letGo_ = std::thread([this, ms = *lettingGoMs] {
                brf_test::WaitFor([this] { return Waited(); }, {.boundMs = 60000});
                plat::SleepMs(static_cast<uint32_t>(ms));
                Release();
            });
        }
    }
    ~HeldFile() {
        if (letGo_.joinable()) {
            letGo_.join();
        }
        Release();
    }
    HeldFile(const HeldFile&) = delete;
    HeldFile& operator=(const HeldFile&) = delete;

    // The install began to wait for the file.
    bool Waited() const {
        return brf_test::ReadFile(log_).find("is held by another program") != std::string::npos;
    }
    void Release() {
        env_.clear();
        if (!std::filesystem::exists(release_ + ".done")) {
            brf_test::WriteFile(release_, "");
            EXPECT_TRUE(brf_test::WaitFor([this] { return !std::filesystem::exists(release_); }));
            brf_test::WriteFile(release_ + ".done", "");
        }
    }

private:
    std::filesystem::path log_;
    std::string release_;
    std::thread letGo_;
    std::vector<std::unique_ptr<brf_test::ScopedEnv>> env_;
};

TEST(HeldFiles, AreWaitedForThenNamedAndTheNextRunCompletes) {
#ifdef _WIN32
    // Wine's restart manager names no program.
    const std::string waiting =
        "Waiting for data/ships/fleet.dat: another program has the file open ...";
    const std::string cause =
        "The updater may not change data/ships/fleet.dat: the file is read-only or open in "
        "another program.";
#else
    const std::string waiting =
        "Waiting for data/ships/fleet.dat: brf_test_child has the file open ...";
    const std::string cause =
        "The updater may not change data/ships/fleet.dat: the file is open in brf_test_child.";
#endif
    struct HoldCase {
        const char* name;
        std::optional<int> lettingGoMs;
    };
    for (const HoldCase& c :
         {HoldCase{"a scanner's hold of 3 s", 3000}, HoldCase{"for good", {}}}) {
        SCOPED_TRACE(c.name);
        World w;
        ASSERT_TRUE(w.server.Running()) << w.server.Error();
        w.set.ServerList(kServerList);
        ArrangeFullUpdate(w);
        w.game.Config({"debug_loglevel=2"});
        ASSERT_TRUE(w.game.Registry(1, 1040, 0));
        const Lines args = {"--server", w.url, "--timeout", "20"};
        brf_test::UpdaterRun run;
        {
            HeldFile hold(w, "data/ships/fleet.dat", c.lettingGoMs);
            run = brf_test::RunUpdater(BRFUPDATE_PATH, w.game.Dir(), args, w.scratch.path());
            EXPECT_TRUE(hold.Waited());
        }
        SCOPED_TRACE("stdout:\n" + run.out + "\nstderr:\n" + run.err);
        const Lines out = run.OutLines();
        EXPECT_EQ(std::count(out.begin(), out.end(), waiting), 1);
        EXPECT_EQ(std::count(out.begin(), out.end(), cause), c.lettingGoMs ? 0 : 1);
        EXPECT_EQ(w.game.Read("patch/_install.rec").has_value(), !c.lettingGoMs);
        if (c.lettingGoMs) {
            EXPECT_EQ(run.status, 0);
            CheckFullUpdate(w, run);
            continue;
        }
        EXPECT_EQ(run.status, 1);
        // The client's version here comes from the registry, which no
        // install changes: the next run completes the install, then
        // updates once more from the same release.
        const auto next =
            brf_test::RunUpdater(BRFUPDATE_PATH, w.game.Dir(), args, w.scratch.path());
        EXPECT_EQ(next.status, 0);
        EXPECT_NE(next.out.find("Completing the interrupted update ..."), std::string::npos);
        EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), NewFleet());
        EXPECT_EQ(w.game.Read("readme.txt"), "Brinefall 1.050\r\n");
        EXPECT_FALSE(w.game.Read("patch/_install.rec"));
    }
}

}  // namespace
