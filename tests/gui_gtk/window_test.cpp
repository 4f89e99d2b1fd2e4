// The updater's GTK window as a player meets it: the real program on a
// virtual display, a real nginx for the update server and the news page,
// and the test finding and pressing controls through the accessibility
// tree (and pressing keys on the display) as assistive tools do.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "gui_gtk/a11y_driver.h"
#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

using brf_test::GameDir;
using brf_test::PatchSet;
using Clock = std::chrono::steady_clock;
using gui_test::Lines;
using gui_test::Node;
using gui_test::Screenshot;
using gui_test::Until;
using Serving = brf_test::NginxServer::Serving;

Serving On(uint16_t port, const std::string& limitRate = "") {
    Serving serving;
    serving.port = port;
    serving.limitRate = limitRate;
    return serving;
}

constexpr uint16_t kNewsPort = BRF_GUI_TEST_NEWS_PORT;
const std::string kArtifacts = BRF_GUI_ARTIFACTS;

// The updater started in a game directory, its output kept in files.
class Updater : public gui_test::Program {
public:
    Updater(const std::filesystem::path& gameDir, const std::filesystem::path& outDir,
            const gui_test::Env& env = {})
        : Program(UPDATER_PATH, "Auto-Updater", gameDir, outDir, env) {}
};

// ---- the world of a test --------------------------------------------------------------

const char kServerList[] = "sea-1.brinefall.invalid 7777 Open Sea\r\n";

std::string Bytes(size_t size, uint32_t seed) {
    std::string bytes;
    bytes.reserve(size);
    for (uint32_t i = 0; bytes.size() < size; ++i) {
        bytes += static_cast<char>(((i + seed) * 2654435761u) >> 24);
    }
    return bytes;
}

// A server with release 1.050 for clients of 1.040, the news pages, and a
// game directory of 1.040 pointed at the server.
struct World {
    explicit World(const Serving& serving = On(kNewsPort)) : server({.accessLog = true}, serving) {}
    brf_test::NginxServer server;
    brf_test::ScratchDir scratch;
    PatchSet set{server.Root() / "set1"};
    GameDir game{scratch.path()};
    Lines entries;

    void News() const {
        const auto dir = server.Root() / "brf" / "script";
        std::filesystem::create_directories(dir);
        for (const char* lang : {"en", "de"}) {
            const bool en = lang[0] == 'e';
            brf_test::WriteFile(
                dir / (std::string("clientnews_") + lang + ".html"),
                std::string("<html><head><meta charset=\"utf-8\"></head>"
                            "<body style=\"font-family:sans-serif;background:#eef4f7\">"
                            "<h2 style=\"color:#0b4a6f\">") +
                    (en ? "News from the harbour" : "Neues aus dem Hafen") + "</h2><p>" +
                    (en ? "Release 1.050 brings a new map of the northern reefs."
                        : "Version 1.050 bringt eine neue Karte der n\xC3\xB6rdlichen Riffe.") +
                    "</p></body></html>");
        }
    }
    // A directory the update creates in the game ("data-maps").
    void Dir(const std::string& name) { entries.insert(entries.end(), {name, "0"}); }
    void File(const std::string& name, const std::string& content) {
        const Lines entry = set.Publish(name, content);
        entries.insert(entries.end(), entry.begin(), entry.end());
    }
    void Publish() const {
        Lines index = brf_test::IndexHeader(1490, 1490, 1050, 0, 1040, 0);
        index.push_back("[1040.0]");
        index.insert(index.end(), entries.begin(), entries.end());
        index.push_back("");
        set.VersionIndex(index);
        set.ServerList(kServerList);
    }
    // The game of 1.040 in `language`, its server box on our server.
    void Game(uint32_t language) const {
        ASSERT_TRUE(game.Registry(language, 1040, 0));
        game.Config({"debug_loglevel=2"});
        game.Write("save/updateservers.sav", server.BaseUrl() + "set1/\r\n");
        game.Write("readme.txt", "Brinefall 1.040\r\n");
    }
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

class WindowTest : public ::testing::Test {
protected:
    // 1: already set up (a repeated run).
    static void SetUpTestSuite() { ASSERT_GE(atspi_init(), 0); }
};

// ---- start-up in both languages ---------------------------------------------------------

struct Captions {
    uint32_t language;
    std::string screenshot;
    std::string title;
    std::string check, close, options, autoUpdate;
    std::string host, state, size;
    std::string firstLine;
    std::string newsDone;
};

TEST_F(WindowTest, StartUpLabelsEveryControlAndLoadsTheNewsPage) {
    const Captions cases[] = {
        {1, "gtk-en.png", "Auto-Updater: Installed Client-Version:  1.040", "Check Version",
         "Close", "Options", "Load update automatically at next start", "Update-Server:",
         "Action-Log:", "Update-Size:", "Press button [Check Version] to start ...",
         "Download finished."},
        {0, "gtk-de.png", "Auto-Updater: Installierte Client-Version:  1.040", "Version Prüfen",
         "Schließen", "Einstellungen", "Update beim nächsten Start automatisch laden",
         "Update-Server:", "Aktions-Log:", "Update-Größe:",
         "Button [Version Prüfen] klicken, um zu starten ...", "Download abgeschlossen."},
    };
    for (const Captions& c : cases) {
        SCOPED_TRACE(c.screenshot);
        World w;
        ASSERT_TRUE(w.server.Running()) << w.server.Error();
        w.News();
        w.Game(c.language);
        Updater updater(w.game.Dir(), w.scratch.path());
        Node window = updater.Window();
        ASSERT_TRUE(window) << updater.Output();

        EXPECT_EQ(window.Name(), c.title);
        EXPECT_EQ(updater.Control("btn_check").Name(), c.check);
        EXPECT_EQ(updater.Control("btn_cancel").Name(), c.close);
        EXPECT_EQ(updater.Control("btn_options").Name(), c.options);
        EXPECT_EQ(updater.Control("chk_auto").Name(), c.autoUpdate);
        EXPECT_EQ(updater.Control("lbl_host").Name(), c.host);
        EXPECT_EQ(updater.Control("lbl_state").Name(), c.state);
        EXPECT_EQ(updater.Control("lbl_updatesize").Name(), c.size);
        EXPECT_EQ(updater.Control("nfo_updsize").Name(), "0");
        EXPECT_EQ(updater.Control("box_host.edit").Text(), w.server.BaseUrl() + "set1/");
        EXPECT_EQ(updater.Log(), Lines{c.firstLine});
        EXPECT_FALSE(updater.Control("chk_auto").Has(ATSPI_STATE_CHECKED));

        // The pictures can be named and pressed by assistive tools.
        EXPECT_EQ(updater.Control("img_brf").Name(), "Brinefall web site");
        EXPECT_EQ(updater.Control("img_portal").Name(), "Partner portal web site");
        EXPECT_EQ(updater.Control("img_portal").ActionName(), "click");

        // The news page of the language came from the web host.
        Node status = updater.Control("StatusBar");
        EXPECT_TRUE(Until([&] { return status.Name() == c.newsDone; })) << status.Name();
        EXPECT_TRUE(Until([&] {
            return w.server.AccessLog().find(std::string("GET /brf/script/clientnews_") +
                                             (c.language == 1 ? "en" : "de") +
                                             ".html HTTP/1.1\" 200 ") != std::string::npos;
        })) << w.server.AccessLog();
        Screenshot(window, kArtifacts + "/" + c.screenshot);

        // Laid out at the pixel positions of the window's table.
        const AtspiRect client = window.Extents(ATSPI_COORD_TYPE_SCREEN);
        EXPECT_EQ(client.width, 792);
        EXPECT_EQ(client.height, 573);
        struct Box {
            const char* id;
            int left, top, width, height;
        };
        for (const Box& b :
             {Box{"btn_check", 648, 520, 129, 25}, Box{"btn_cancel", 16, 520, 137, 25},
              Box{"img_brf", 17, 8, 658, 60}, Box{"img_portal", 682, 8, 94, 60},
              Box{"box_log", 400, 424, 377, 57}, Box{"pnl_progress", 400, 488, 377, 17}}) {
            const AtspiRect r = updater.Control(b.id).Extents(ATSPI_COORD_TYPE_SCREEN);
            EXPECT_EQ(r.x - client.x, b.left) << b.id;
            EXPECT_EQ(r.y - client.y, b.top) << b.id;
            EXPECT_EQ(r.width, b.width) << b.id;
            EXPECT_EQ(r.height, b.height) << b.id;
        }

        // Closing it by its button when idle ends the program.
        ASSERT_TRUE(updater.Control("btn_cancel").Press());
        EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
        EXPECT_EQ(w.game.Read("save/updateservers.sav"), w.server.BaseUrl() + "set1/\r\n");
    }
}

// ---- a whole update -----------------------------------------------------------------------

TEST_F(WindowTest, AFullUpdateEndsWithStartGameAndTheFilesInstalled) {
    World w;
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.News();
    const std::string fleet = Bytes(150000, 7);
    w.Dir("data-maps");
    w.Dir("data-ships");
    w.File("data-maps-north.map.upd", Bytes(60000, 3));
    w.File("data-ships-fleet.dat.upd", fleet);
    w.File("readme.txt.upd", "Brinefall 1.050\r\n");
    w.Publish();
    w.Game(1);

    Updater updater(w.game.Dir(), w.scratch.path());
    Node check = updater.Control("btn_check");
    ASSERT_TRUE(check) << updater.Output();
    ASSERT_TRUE(check.Press());

    Node notes = updater.Dialog("Update finished", 40);
    ASSERT_TRUE(notes) << updater.Output() << updater.Windows()
                       << testing::PrintToString(updater.Log());
    Lines texts;
    notes.Texts(texts);
    EXPECT_NE(std::find(texts.begin(), texts.end(), "Do you want to read the patch notes now?"),
              texts.end());
    ASSERT_TRUE(notes.FindButton("No").Press());

    EXPECT_TRUE(Until([&] { return check.Name() == "Start Game"; })) << check.Name();
    EXPECT_TRUE(check.Has(ATSPI_STATE_SENSITIVE));
    EXPECT_EQ(w.game.Read("data/maps/north.map"), Bytes(60000, 3));
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), fleet);
    EXPECT_EQ(w.game.Read("readme.txt"), "Brinefall 1.050\r\n");
    EXPECT_EQ(w.game.Read("patch/backup/readme.txt"), "Brinefall 1.040\r\n");
    const Lines log = updater.Log();
    ASSERT_FALSE(log.empty());
    EXPECT_EQ(log.back(), "Update finished, click button to start the game.");
    // The last line is selected and scrolled into view; the first is gone
    // from the box's four visible lines of 13 pixels.
    const std::vector<Node> cells = updater.LogCells();
    ASSERT_GT(cells.size(), 4u);
    EXPECT_TRUE(cells.back().Has(ATSPI_STATE_SELECTED));
    const AtspiRect box = updater.Control("box_log").Extents(ATSPI_COORD_TYPE_SCREEN);
    const AtspiRect last = cells.back().Extents(ATSPI_COORD_TYPE_SCREEN);
    const AtspiRect first = cells.front().Extents(ATSPI_COORD_TYPE_SCREEN);
    EXPECT_GE(last.y, box.y);
    EXPECT_LE(last.y + last.height, box.y + box.height);
    EXPECT_LE(first.y + first.height, box.y);
    const AtspiRect fourth = cells[cells.size() - 4].Extents(ATSPI_COORD_TYPE_SCREEN);
    EXPECT_EQ(last.y - fourth.y, 3 * 13);
    EXPECT_GE(fourth.y, box.y);
    EXPECT_NEAR(updater.Control("pnl_progress").Value(), 1.0, 1e-6);
    EXPECT_NE(updater.Control("nfo_updsize").Name(), "0");

    // Typing another server address makes the button check again.
    ASSERT_TRUE(updater.Control("box_host.edit").SetText(w.server.BaseUrl() + "set2/"));
    EXPECT_TRUE(Until([&] { return check.Name() == "Check Version"; })) << check.Name();

    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
    EXPECT_FALSE(w.game.Read("patch/_versions.txt"));
    EXPECT_EQ(w.game.Read("save/updateservers.sav"), w.server.BaseUrl() + "set2/\r\n");
}

// ---- the re-download question ----------------------------------------------------------

TEST_F(WindowTest, YesToAllFetchesEveryKeptCopyAgainWithoutAskingTwice) {
    World w;
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.News();
    const std::string map = Bytes(40000, 11);
    const std::string fleet = Bytes(30000, 12);
    w.Dir("data-maps");
    w.Dir("data-ships");
    w.File("data-maps-north.map.upd", map);
    w.File("data-ships-fleet.dat.upd", fleet);
    w.Publish();
    w.Game(1);
    // Both containers are in the patch directory already, whole and newer
    // than the published ones: each one raises the question.
    w.game.Write("patch/data-maps-north.map.upd", brf_test::Container(map));
    w.game.Write("patch/data-ships-fleet.dat.upd", brf_test::Container(fleet));

    Updater updater(w.game.Dir(), w.scratch.path());
    ASSERT_TRUE(updater.Control("btn_check").Press()) << updater.Output();
    Node question = updater.Dialog("BRF-Updater", 40);
    ASSERT_TRUE(question) << updater.Output() << updater.Windows()
                          << testing::PrintToString(updater.Log());
    Lines texts;
    question.Texts(texts);
    EXPECT_NE(std::find(texts.begin(), texts.end(),
                        "File 'patch/data-maps-north.map.upd' is already available, nevertheless "
                        "download it again?"),
              texts.end());
    ASSERT_TRUE(question.FindButton("Yes to All").Press());

    Node notes = updater.Dialog("Update finished", 40);
    ASSERT_TRUE(notes) << updater.Output();
    // The second copy was not asked about.
    EXPECT_FALSE(updater.Dialog("BRF-Updater", 0));
    ASSERT_TRUE(notes.FindButton("No").Press());
    EXPECT_EQ(w.Requests("data-maps-north.map.upd"), 1);
    EXPECT_EQ(w.Requests("data-ships-fleet.dat.upd"), 1);
    EXPECT_EQ(w.game.Read("data/maps/north.map"), map);
    EXPECT_EQ(w.game.Read("data/ships/fleet.dat"), fleet);
    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
}

// ---- a slow transfer: Cancel, the CPU it costs, Esc ----------------------------------------

TEST_F(WindowTest, CancelStopsASlowTransferAndEscWhenIdleClosesTheWindow) {
    World w(On(kNewsPort, "24k"));
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.News();
    w.Dir("data-maps");
    // Bytes no coder shrinks: some 25 s at this rate.
    w.File("data-maps-north.map.upd", brf_test::Noise(600000, 5));
    w.Publish();
    w.Game(1);

    Updater updater(w.game.Dir(), w.scratch.path());
    Node check = updater.Control("btn_check");
    ASSERT_TRUE(check) << updater.Output();
    ASSERT_TRUE(check.Press());
    Node progress = updater.Control("pnl_progress");
    ASSERT_TRUE(Until([&] { return progress.Value() > 0.0; })) << updater.Output();
    EXPECT_FALSE(check.Has(ATSPI_STATE_SENSITIVE));

    // The window waits with the transfer: it must not spin while 48 KB
    // trickle into the part file (two seconds at this rate). The
    // file is watched, not the window, which would have to answer.
    const auto received = [part = w.game.Dir() / "patch" / "data-maps-north.map.upd.part"] {
        std::error_code error;
        const uintmax_t size = std::filesystem::file_size(part, error);
        return error ? 0 : size;
    };
    const uintmax_t from = received();
    const double before = updater.CpuSeconds();
    const auto start = Clock::now();
    ASSERT_TRUE(brf_test::WaitFor([&] { return received() >= from + 48 * 1024; }, {.pollMs = 50}))
        << received();
    const double used = updater.CpuSeconds() - before;
    const double wall = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("trickling transfer: %.2f s CPU in %.2f s (%.1f%% of a core)\n", used, wall,
                100 * used / wall);
    EXPECT_LT(used / wall, 0.25);
    const double reached = progress.Value();
    EXPECT_GT(reached, 0.0);
    EXPECT_LT(reached, 1.0);

    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_TRUE(Until([&] { return updater.LogHas("Progress cancelled..."); })) << updater.Output();
    EXPECT_TRUE(Until([&] { return check.Has(ATSPI_STATE_SENSITIVE); }));
    EXPECT_FALSE(updater.Exited()) << "Cancel during a transfer keeps the window open";
    EXPECT_FALSE(w.game.Read("data/maps/north.map"));

    // Esc during a transfer cancels it too, and nothing more.
    ASSERT_TRUE(check.Press());
    ASSERT_TRUE(Until([&] { return !check.Has(ATSPI_STATE_SENSITIVE); }));
    ASSERT_TRUE(Until([&] { return updater.LogHas("Receiving file: data-maps-north.map.upd"); }));
    const size_t cancels = [&] {
        const Lines log = updater.Log();
        return static_cast<size_t>(std::count(log.begin(), log.end(), "Progress cancelled..."));
    }();
    EXPECT_EQ(cancels, 1u);
    updater.Key("Escape");
    EXPECT_TRUE(Until([&] {
        const Lines log = updater.Log();
        return std::count(log.begin(), log.end(), "Progress cancelled...") == 2;
    })) << testing::PrintToString(updater.Log());
    EXPECT_TRUE(Until([&] { return check.Has(ATSPI_STATE_SENSITIVE); }));
    EXPECT_FALSE(updater.Exited()) << "Esc during a transfer keeps the window open";

    // Idle now: Esc is the Close button.
    updater.Key("Escape");
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
}

// ---- the news page's web process ------------------------------------------------------------

TEST_F(WindowTest, WhenTheNewsPagesProcessDiesThePagesPlaceSaysSoAndTheWindowGoesOn) {
    World w;
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.News();
    w.Game(1);
    Updater updater(w.game.Dir(), w.scratch.path());
    Node status = updater.Control("StatusBar");
    ASSERT_TRUE(Until([&] { return status.Name() == "Download finished."; })) << status.Name();
    std::vector<pid_t> web;
    ASSERT_TRUE(Until([&] {
        web = updater.Children("WebKitWebProces");  // the kernel keeps 15 characters
        return !web.empty();
    }));
    for (pid_t pid : web) {
        kill(pid, SIGKILL);
    }
    Node note = updater.Control("WebBrowser.note");
    EXPECT_TRUE(Until([&] {
        return note.Name().find("The news page cannot be shown here: its web process") == 0;
    })) << note.Name();
    EXPECT_EQ(status.Name(), "Download finished.");
    EXPECT_FALSE(updater.Exited());
    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
}

// ---- the pictures ------------------------------------------------------------------------

TEST_F(WindowTest, ThePicturesOpenTheirSitesWithTheRegisteredCommand) {
    World w;
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.News();
    w.Game(1);
    // The system's command for web addresses, as browsers register it: a
    // quoted program, its own arguments and "%1" for the address.
    const auto opened = w.scratch.path() / "opened.txt";
    const auto browser = w.scratch.path() / "web browser.sh";
    brf_test::WriteFile(browser, "#!/bin/sh\necho \"$@\" >>'" + opened.string() + "'\n");
    std::filesystem::permissions(browser, std::filesystem::perms::owner_all);
    const auto classes = w.scratch.path() / "classes.reg";
    brf_test::WriteFile(classes,
                        "REGEDIT4\r\n\r\n[HKEY_CLASSES_ROOT\\http\\shell\\open\\command]\r\n"
                        "@=\"\\\"" +
                            browser.string() + "\\\" -url \\\"%1\\\"\"\r\n");
    Updater updater(w.game.Dir(), w.scratch.path(), {{"BRF_HKCR_FILE", classes.string()}});
    ASSERT_TRUE(updater.Control("img_portal").Press())
        << updater.Output() << updater.Windows() << updater.WaitExit(1)
        << w.game.Read("_debugg.log").value_or("no log");
    ASSERT_TRUE(Until([&] { return brf_test::Lines(brf_test::ReadFile(opened)).size() == 1; }))
        << updater.Output();
    ASSERT_TRUE(updater.Control("img_brf").Press())
        << updater.Output() << updater.Windows() << updater.WaitExit(1)
        << w.game.Read("_debugg.log").value_or("no log");
    ASSERT_TRUE(Until([&] { return brf_test::Lines(brf_test::ReadFile(opened)).size() == 2; }));
    EXPECT_EQ(brf_test::Lines(brf_test::ReadFile(opened)),
              (Lines{"-url http://portal.brinefall.example/",
                     "-url http://127.0.0.1:" + std::to_string(kNewsPort) + "/"}));
    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
}

// ---- the keyboard --------------------------------------------------------------------------

TEST_F(WindowTest, TabFollowsTheLayoutsOrderAndEnterPressesTheDefaultButton) {
    World w;
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.News();
    w.Game(1);
    Updater updater(w.game.Dir(), w.scratch.path());
    ASSERT_TRUE(Until([&] { return updater.Control("StatusBar").Name() == "Download finished."; }))
        << updater.Output();
    // Two full rounds. The news page, which does not report its focus,
    // is one stop: Options follows it.
    const char* order[] = {"btn_check", "box_host.edit", "box_log.lines", "btn_cancel",
                           "chk_auto",  nullptr,         "btn_options"};
    for (size_t i = 0; i < 2 * std::size(order) + 1; ++i) {
        const char* id = order[i % std::size(order)];
        if (i > 0) {
            updater.Key("Tab");
        }
        Node control = id ? updater.Control(id) : Node();
        EXPECT_TRUE(!id || Until([&] { return control.Has(ATSPI_STATE_FOCUSED); }, 5)) << id << i;
    }
    updater.Key("Tab");
    // Back in the server box, Enter is the default button's: a run starts
    // (and fails at once: this server has no patch set).
    ASSERT_TRUE(
        Until([&] { return updater.Control("box_host.edit").Has(ATSPI_STATE_FOCUSED); }, 5));
    updater.Key("Return");
    EXPECT_TRUE(Until([&] { return updater.LogHas("Load actual game server list..."); }))
        << testing::PrintToString(updater.Log());
    Node box = updater.Dialog("Error!", 30);
    ASSERT_TRUE(box) << updater.Output();
    ASSERT_TRUE(box.FindButton("OK").Press());
    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
}

// ---- without a web engine ------------------------------------------------------------------

TEST_F(WindowTest, WithoutTheWebEngineTheWindowStillWorksAndSaysWhy) {
    World w;
    ASSERT_TRUE(w.server.Running()) << w.server.Error();
    w.Game(1);
    Updater updater(w.game.Dir(), w.scratch.path(),
                    {{"WEBKIT_EXEC_PATH", (w.scratch.path() / "no-web-engine").string()}});
    Node status = updater.Control("StatusBar");
    ASSERT_TRUE(status) << updater.Output() << updater.Windows() << " exit " << updater.WaitExit(1);
    const std::string note = updater.Control("WebBrowser.note").Name();
    EXPECT_EQ(note.find("The news page cannot be shown here: the web engine is missing"), 0u)
        << note;
    EXPECT_EQ(status.Name(), "");
    EXPECT_EQ(updater.Control("btn_check").Name(), "Check Version");
    // Ticking the check box saves the option at once.
    Node automatic = updater.Control("chk_auto");
    ASSERT_TRUE(automatic.Press());
    EXPECT_TRUE(Until([&] {
        return w.game.Read("config.ini").value_or("").find("automate_updater=1") !=
               std::string::npos;
    })) << w.game.Read("config.ini").value_or("");
    EXPECT_TRUE(automatic.Has(ATSPI_STATE_CHECKED));
    // Enter presses the default button: the run starts and fails on the
    // server, which has no patch set.
    updater.Key("Return");
    Node box = updater.Dialog("Error!", 30);
    ASSERT_TRUE(box) << updater.Output();
    ASSERT_TRUE(box.FindButton("OK").Press());
    ASSERT_TRUE(updater.Control("btn_cancel").Press());
    EXPECT_EQ(updater.WaitExit(), 0) << updater.Output();
}

}  // namespace
