#include "gui_gtk/a11y_driver.h"

#include <gdk/gdk.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

namespace gui_test {

bool Until(const std::function<bool()>& condition, int seconds) {
    return brf_test::WaitFor(condition,
                             {.boundMs = static_cast<uint32_t>(seconds) * 1000, .pollMs = 50});
}

std::string Take(gchar* s) {
    std::string r = s ? s : "";
    g_free(s);
    return r;
}

// ---- the accessibility tree -------------------------------------------------------

Node::Node(const Node& o)
    : a_(o.a_ ? static_cast<AtspiAccessible*>(g_object_ref(o.a_)) : nullptr) {}

Node::~Node() {
    if (a_) {
        g_object_unref(a_);
    }
}

std::string Node::Name() const {
    return Take(atspi_accessible_get_name(a_, nullptr));
}

std::string Node::Id() const {
    return Take(atspi_accessible_get_accessible_id(a_, nullptr));
}

AtspiRole Node::Role() const {
    return atspi_accessible_get_role(a_, nullptr);
}

int Node::ChildCount() const {
    return atspi_accessible_get_child_count(a_, nullptr);
}

Node Node::Child(int i) const {
    return Node(atspi_accessible_get_child_at_index(a_, i, nullptr));
}

bool Node::Has(AtspiStateType state) const {
    AtspiStateSet* set = atspi_accessible_get_state_set(a_);
    const bool has = set && atspi_state_set_contains(set, state);
    if (set) {
        g_object_unref(set);
    }
    return has;
}

bool Node::Press() const {
    AtspiAction* action = atspi_accessible_get_action_iface(a_);
    if (!action) {
        return false;
    }
    const bool done = atspi_action_do_action(action, 0, nullptr);
    g_object_unref(action);
    return done;
}

std::string Node::ActionName() const {
    AtspiAction* action = atspi_accessible_get_action_iface(a_);
    if (!action) {
        return {};
    }
    std::string name = Take(atspi_action_get_action_name(action, 0, nullptr));
    g_object_unref(action);
    return name;
}

bool Node::SetText(const std::string& s) const {
    AtspiEditableText* edit = atspi_accessible_get_editable_text_iface(a_);
    if (!edit) {
        return false;
    }
    const bool done = atspi_editable_text_set_text_contents(edit, s.c_str(), nullptr);
    g_object_unref(edit);
    return done;
}

std::string Node::Text() const {
    AtspiText* text = atspi_accessible_get_text_iface(a_);
    if (!text) {
        return {};
    }
    std::string s = Take(atspi_text_get_text(text, 0, -1, nullptr));
    g_object_unref(text);
    return s;
}

double Node::Value() const {
    AtspiValue* value = atspi_accessible_get_value_iface(a_);
    if (!value) {
        return -1;
    }
    const double v = atspi_value_get_current_value(value, nullptr);
    g_object_unref(value);
    return v;
}

AtspiRect Node::Extents(AtspiCoordType type) const {
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

Node Node::Find(const std::string& id) const {
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

Node Node::FindButton(const std::string& name) const {
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

void Node::Texts(Lines& out) const {
    if (Role() == ATSPI_ROLE_LABEL) {
        out.push_back(Name());
    }
    const int n = ChildCount();
    for (int i = 0; i < n; ++i) {
        Child(i).Texts(out);
    }
}

// ---- the program ------------------------------------------------------------------------

Program::Program(const std::filesystem::path& exe, const std::string& title,
                 const std::filesystem::path& dir, const std::filesystem::path& outDir,
                 const Env& env)
    : title_(title) {
    out_ = outDir / (exe.filename().string() + ".out");
    pid_ = fork();
    if (pid_ == 0) {
        for (const auto& [name, value] : env) {
            setenv(name.c_str(), value.c_str(), 1);
        }
        if (chdir(dir.c_str()) != 0 || !freopen(out_.c_str(), "w", stdout) ||
            !freopen(out_.c_str(), "a", stderr)) {
            _exit(126);
        }
        execl(exe.c_str(), exe.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
}

Program::~Program() {
    if (pid_ > 0 && !exited_) {
        kill(pid_, SIGKILL);
        waitpid(pid_, nullptr, 0);
    }
}

Node Program::App() {
    if (app_) {
        return app_;
    }
    Until([&] {
        Node desktop(atspi_get_desktop(0));
        const int n = desktop.ChildCount();
        for (int i = 0; i < n; ++i) {
            Node child = desktop.Child(i);
            if (child &&
                atspi_accessible_get_process_id(child.get(), nullptr) == static_cast<guint>(pid_)) {
                app_ = child;
                return true;
            }
        }
        return Exited();
    });
    return app_;
}

Node Program::Window() {
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

Node Program::Control(const std::string& id) {
    Node found;
    Until([&] {
        Node w = Window();
        found = w ? w.Find(id) : Node();
        return bool(found) || !w;
    });
    return found;
}

Node Program::Dialog(const std::string& title, int seconds) {
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

std::string Program::Windows() {
    std::string all;
    Node app = App();
    const int n = app ? app.ChildCount() : 0;
    for (int i = 0; i < n; ++i) {
        Node w = app.Child(i);
        all += Take(atspi_accessible_get_role_name(w.get(), nullptr)) + " \"" + w.Name() + "\"" +
               (w.Has(ATSPI_STATE_SHOWING) ? " showing" : "") + "\n";
    }
    return all;
}

std::vector<Node> Program::Cells(const std::string& id) {
    std::vector<Node> cells;
    Node view = Control(id);
    const int n = view ? view.ChildCount() : 0;
    for (int i = 0; i < n; ++i) {
        Node cell = view.Child(i);
        if (cell.Role() == ATSPI_ROLE_TABLE_CELL) {
            cells.push_back(cell);
        }
    }
    return cells;
}

Lines Program::Log() {
    Lines lines;
    for (const Node& cell : LogCells()) {
        lines.push_back(cell.Name());
    }
    return lines;
}

bool Program::LogHas(const std::string& line) {
    const Lines lines = Log();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
}

bool Program::Exited() {
    if (!exited_ && waitpid(pid_, &status_, WNOHANG) == pid_) {
        exited_ = true;
    }
    return exited_;
}

int Program::WaitExit(int seconds) {
    if (!Until([&] { return Exited(); }, seconds)) {
        return -1;
    }
    return WIFEXITED(status_) ? WEXITSTATUS(status_) : 128 + WTERMSIG(status_);
}

std::string Program::Output() const {
    return brf_test::ReadFile(out_);
}

std::vector<pid_t> Program::Children(const std::string& name) const {
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

double Program::CpuSeconds() const {
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

// The key goes in a command of its own, without a target window: xdotool
// sends a targeted key's release to the window itself, which is gone when
// the key closed it, and the display then holds the key down and repeats it
// into the next window.
void Program::Key(const std::string& key) {
    const std::string focus = "xdotool search --sync --onlyvisible --all --pid " +
                              std::to_string(pid_) + " --name '" + title_ + "' windowfocus --sync";
    ASSERT_EQ(std::system(focus.c_str()), 0) << focus;
    const std::string press = "xdotool key " + key;
    ASSERT_EQ(std::system(press.c_str()), 0) << press;
}

void Screenshot(const Node& window, const std::filesystem::path& file) {
    if (!gdk_init_check(nullptr, nullptr)) {
        ADD_FAILURE() << "no display for the screenshot";
        return;
    }
    const AtspiRect r = window.Extents(ATSPI_COORD_TYPE_SCREEN);
    GdkPixbuf* shot =
        gdk_pixbuf_get_from_window(gdk_get_default_root_window(), r.x, r.y, r.width, r.height);
    ASSERT_NE(shot, nullptr);
    std::filesystem::create_directories(file.parent_path());
    EXPECT_TRUE(gdk_pixbuf_save(shot, file.c_str(), "png", nullptr, nullptr)) << file;
    g_object_unref(shot);
}

}  // namespace gui_test
