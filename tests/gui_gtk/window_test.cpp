// The updater's GTK window as a player meets it: the real program on a
// virtual display, a real nginx for the update server and the news page,
// and the test finding and pressing controls through the accessibility
// tree (and pressing keys on the display) as assistive tools do.
#include <atspi/atspi.h>
#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "support/nginx_server.h"
#include "support/patch_set.h"
#include "support/test_support.h"

namespace {

using brf_test::GameDir;
using brf_test::PatchSet;
using Clock = std::chrono::steady_clock;
using Lines = std::vector<std::string>;
using Serving = brf_test::NginxServer::Serving;

Serving On(uint16_t port, const std::string& limitRate = "") {
    Serving serving;
    serving.port = port;
    serving.limitRate = limitRate;
    return serving;
}

constexpr uint16_t kNewsPort = BRF_GUI_TEST_NEWS_PORT;
const std::string kArtifacts = BRF_GUI_ARTIFACTS;

// Polls `condition` every 50 ms for up to `seconds`.
bool Until(const std::function<bool()>& condition, int seconds = 20) {
    const auto end = Clock::now() + std::chrono::seconds(seconds);
    while (!condition()) {
        if (Clock::now() > end) {
            return false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return true;
}

// ---- the accessibility tree -------------------------------------------------------

// A string of the tree's, freed.
std::string Take(gchar* s) {
    std::string r = s ? s : "";
    g_free(s);
    return r;
}

// A counted reference to a node of the tree.
class Node {
public:
    Node() = default;
    explicit Node(AtspiAccessible* a) : a_(a) {}  // takes the reference
    Node(const Node& o) : a_(o.a_ ? static_cast<AtspiAccessible*>(g_object_ref(o.a_)) : nullptr) {}
    Node& operator=(Node o) {
        std::swap(a_, o.a_);
        return *this;
    }
    ~Node() {
        if (a_) {
            g_object_unref(a_);
        }
    }
    explicit operator bool() const { return a_ != nullptr; }
    AtspiAccessible* get() const { return a_; }

    std::string Name() const { return Take(atspi_accessible_get_name(a_, nullptr)); }
    std::string Id() const { return Take(atspi_accessible_get_accessible_id(a_, nullptr)); }
    AtspiRole Role() const { return atspi_accessible_get_role(a_, nullptr); }
    int ChildCount() const { return atspi_accessible_get_child_count(a_, nullptr); }
    Node Child(int i) const { return Node(atspi_accessible_get_child_at_index(a_, i, nullptr)); }
    bool Has(AtspiStateType state) const {
        AtspiStateSet* set = atspi_accessible_get_state_set(a_);
        const bool has = set && atspi_state_set_contains(set, state);
        if (set) {
            g_object_unref(set);
        }
        return has;
    }
    // Presses it by its first action (a button's "click").
    bool Press() const {
        AtspiAction* action = atspi_accessible_get_action_iface(a_);
        if (!action) {
            return false;
        }
        const bool done = atspi_action_do_action(action, 0, nullptr);
        g_object_unref(action);
        return done;
    }
    std::string ActionName() const {
        AtspiAction* action = atspi_accessible_get_action_iface(a_);
        if (!action) {
            return {};
        }
        std::string name = Take(atspi_action_get_action_name(action, 0, nullptr));
        g_object_unref(action);
        return name;
    }
    bool SetText(const std::string& s) const {
        AtspiEditableText* edit = atspi_accessible_get_editable_text_iface(a_);
        if (!edit) {
            return false;
        }
        const bool done = atspi_editable_text_set_text_contents(edit, s.c_str(), nullptr);
        g_object_unref(edit);
        return done;
    }
    std::string Text() const {
        AtspiText* text = atspi_accessible_get_text_iface(a_);
        if (!text) {
            return {};
        }
        std::string s = Take(atspi_text_get_text(text, 0, -1, nullptr));
        g_object_unref(text);
        return s;
    }
    double Value() const {
        AtspiValue* value = atspi_accessible_get_value_iface(a_);
        if (!value) {
            return -1;
        }
        const double v = atspi_value_get_current_value(value, nullptr);
        g_object_unref(value);
        return v;
    }
    // Position and size; relative to its window or to the screen.
    AtspiRect Extents(AtspiCoordType type) const {
        AtspiRect r{0, 0, 0, 0};
        AtspiComponent* component = atspi_accessible_get_component_iface(a_);
        if (component) {
            if (AtspiRect* e = atspi_component_get_extents(component, type, nullptr)) {
                r = *e;
                g_free(e);
            }
            g_object_unref(component);
        }
        return r;
    }

    // The first node below (or at) this one whose accessible id is `id`;
    // the news page's own tree is not searched.
    Node Find(const std::string& id) const {
        if (Id() == id) {
            return *this;
        }
        if (Role() == ATSPI_ROLE_DOCUMENT_WEB) {
            return {};
        }
        const int n = ChildCount();
        for (int i = 0; i < n; ++i) {
            if (Node found = Child(i).Find(id)) {
                return found;
            }
        }
        return {};
    }
    // The first push button below this node named `name`.
    Node FindButton(const std::string& name) const {
        if (Role() == ATSPI_ROLE_PUSH_BUTTON && Name() == name) {
            return *this;
        }
        const int n = ChildCount();
        for (int i = 0; i < n; ++i) {
            if (Node found = Child(i).FindButton(name)) {
                return found;
            }
        }
        return {};
    }
    // Every text below this node (labels of a dialog).
    void Texts(Lines& out) const {
        if (Role() == ATSPI_ROLE_LABEL) {
            out.push_back(Name());
        }
        const int n = ChildCount();
        for (int i = 0; i < n; ++i) {
            Child(i).Texts(out);
        }
    }

private:
    AtspiAccessible* a_ = nullptr;
};

// ---- the program ------------------------------------------------------------------------

// The updater started in a game directory, its output kept in files.
class Updater {
public:
    Updater(const std::filesystem::path& gameDir, const std::filesystem::path& outDir,
            const std::vector<std::pair<std::string, std::string>>& env = {}) {
        out_ = outDir / "updater.out";
        pid_ = fork();
        if (pid_ == 0) {
            for (const auto& [name, value] : env) {
                setenv(name.c_str(), value.c_str(), 1);
            }
            if (chdir(gameDir.c_str()) != 0 || !freopen(out_.c_str(), "w", stdout) ||
                !freopen(out_.c_str(), "a", stderr)) {
                _exit(126);
            }
            execl(UPDATER_PATH, UPDATER_PATH, static_cast<char*>(nullptr));
            _exit(127);
        }
    }
    ~Updater() {
        if (pid_ > 0 && !exited_) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    pid_t Pid() const { return pid_; }

    // The program's node in the tree, once it is there.
    Node App() {
        if (app_) {
            return app_;
        }
        Until([&] {
            Node desktop(atspi_get_desktop(0));
            const int n = desktop.ChildCount();
            for (int i = 0; i < n; ++i) {
                Node child = desktop.Child(i);
                if (child && atspi_accessible_get_process_id(child.get(), nullptr) ==
                                 static_cast<guint>(pid_)) {
                    app_ = child;
                    return true;
                }
            }
            return Exited();
        });
        return app_;
    }
    // The main window: the frame of the application.
    Node Window() {
        Node found;
        Until([&] {
            Node app = App();
            if (!app) {
                return true;
            }
            const int n = app.ChildCount();
            for (int i = 0; i < n; ++i) {
                Node w = app.Child(i);
                if (w.Role() == ATSPI_ROLE_FRAME) {
                    found = w;
                    return true;
                }
            }
            return false;
        });
        return found;
    }
    // A control of the window by its name ("btn_check"); found once.
    Node Control(const std::string& id) {
        Node found;
        Until([&] {
            Node w = Window();
            found = w ? w.Find(id) : Node();
            return bool(found) || !w;
        });
        return found;
    }
    // A message box or dialog titled `title`, once one is shown.
    Node Dialog(const std::string& title, int seconds = 20) {
        Node found;
        Until(
            [&] {
                Node app = App();
                if (!app) {
                    return true;
                }
                const int n = app.ChildCount();
                for (int i = 0; i < n; ++i) {
                    Node w = app.Child(i);
                    if ((w.Role() == ATSPI_ROLE_ALERT || w.Role() == ATSPI_ROLE_DIALOG) &&
                        w.Has(ATSPI_STATE_SHOWING) && w.Name() == title) {
                        found = w;
                        return true;
                    }
                }
                return false;
            },
            seconds);
        return found;
    }
    // The top-level windows, for a failure's message.
    std::string Windows() {
        std::string all;
        Node app = App();
        const int n = app ? app.ChildCount() : 0;
        for (int i = 0; i < n; ++i) {
            Node w = app.Child(i);
            all += Take(atspi_accessible_get_role_name(w.get(), nullptr)) + " \"" + w.Name() +
                   "\"" + (w.Has(ATSPI_STATE_SHOWING) ? " showing" : "") + "\n";
        }
        return all;
    }
    // The action log's line cells.
    std::vector<Node> LogCells() {
        std::vector<Node> cells;
        Node view = Control("box_log.lines");
        const int n = view ? view.ChildCount() : 0;
        for (int i = 0; i < n; ++i) {
            Node cell = view.Child(i);
            if (cell.Role() == ATSPI_ROLE_TABLE_CELL) {
                cells.push_back(cell);
            }
        }
        return cells;
    }
    // The action log's lines.
    Lines Log() {
        Lines lines;
        Node view = Control("box_log.lines");
        const int n = view ? view.ChildCount() : 0;
        for (int i = 0; i < n; ++i) {
            Node cell = view.Child(i);
            if (cell.Role() == ATSPI_ROLE_TABLE_CELL) {
                lines.push_back(cell.Name());
            }
        }
        return lines;
    }
    bool LogHas(const std::string& line) {
        const Lines lines = Log();
        return std::find(lines.begin(), lines.end(), line) != lines.end();
    }

    bool Exited() {
        if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) {
            exited_ = true;
        }
        return exited_;
    }
    // The exit status once the program ended by itself, else -1.
    int WaitExit(int seconds = 20) {
        if (!Until([&] { return Exited(); }, seconds)) {
            return -1;
        }
        return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
    }
    std::string Output() const { return brf_test::ReadFile(out_); }

    // The processes the program started whose name begins with `name`.
    std::vector<pid_t> Children(const std::string& name) const {
        std::vector<pid_t> found;
        for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
            const std::string id = entry.path().filename().string();
            if (id.find_first_not_of("0123456789") != std::string::npos) {
                continue;
            }
            const std::string stat = brf_test::ReadFile(entry.path() / "stat");
            const size_t open = stat.find('('), close = stat.rfind(')');
            if (open == std::string::npos || close == std::string::npos) {
                continue;
            }
            std::istringstream rest(stat.substr(close + 2));
            std::string state;
            pid_t parent = 0;
            rest >> state >> parent;
            if (parent == pid_ && stat.compare(open + 1, name.size(), name) == 0) {
                found.push_back(static_cast<pid_t>(std::stoi(stat.substr(0, open))));
            }
        }
        return found;
    }

    // CPU time (user + system) the program used so far, in seconds.
    double CpuSeconds() const {
        std::ifstream in("/proc/" + std::to_string(pid_) + "/stat");
        std::string stat((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        const size_t close = stat.rfind(')');
        if (close == std::string::npos) {
            return -1;
        }
        std::istringstream fields(stat.substr(close + 2));
        std::string field;
        double ticks = 0;
        for (int i = 3; fields >> field && i <= 15; ++i) {
            if (i == 14 || i == 15) {  // utime, stime
                ticks += std::stod(field);
            }
        }
        return ticks / static_cast<double>(sysconf(_SC_CLK_TCK));
    }

    // Presses `key` (an X key name) on the window, through the display. The
    // key goes in a command of its own, without a target window: xdotool
    // sends a targeted key's release to the window itself, which is gone
    // when the key closed it, and the display then holds the key down and
    // repeats it into the next window.
    void Key(const std::string& key) {
        const std::string focus = "xdotool search --sync --onlyvisible --all --pid " +
                                  std::to_string(pid_) +
                                  " --name 'Auto-Updater' windowfocus --sync";
        ASSERT_EQ(std::system(focus.c_str()), 0) << focus;
        const std::string press = "xdotool key " + key;
        ASSERT_EQ(std::system(press.c_str()), 0) << press;
    }

private:
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    std::filesystem::path out_;
    Node app_;
};

// Saves the window as a PNG in the test's artifacts.
void Screenshot(Node window, const std::string& name) {
    if (!gdk_init_check(nullptr, nullptr)) {
        ADD_FAILURE() << "no display for the screenshot";
        return;
    }
    const AtspiRect r = window.Extents(ATSPI_COORD_TYPE_SCREEN);
    GdkPixbuf* shot =
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), r.x, r.y, r.width, r.height);
    ASSERT_NE(shot, nullptr);
    std::filesystem::create_directories(kArtifacts);
    const std::string path = kArtifacts + "/" + name;
    EXPECT_TRUE(gdk_pixbuf_save(shot, path.c_str(), "png", nullptr, nullptr)) << path;
    g_object_unref(shot);
}

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
        Screenshot(window, c.screenshot);

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
    w.File("data-maps-north.map.upd", Bytes(600000, 5));  // some 25 s at this rate
    w.Publish();
    w.Game(1);

    Updater updater(w.game.Dir(), w.scratch.path());
    Node check = updater.Control("btn_check");
    ASSERT_TRUE(check) << updater.Output();
    ASSERT_TRUE(check.Press());
    Node progress = updater.Control("pnl_progress");
    ASSERT_TRUE(Until([&] { return progress.Value() > 0.0; })) << updater.Output();
    EXPECT_FALSE(check.Has(ATSPI_STATE_SENSITIVE));

    // The window waits with the transfer: it must not spin.
    const double before = updater.CpuSeconds();
    const auto start = Clock::now();
    std::this_thread::sleep_for(std::chrono::seconds(3));
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
