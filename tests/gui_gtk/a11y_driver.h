// Drives a program's GTK window from another process the way assistive
// tools do: controls are found through the accessibility tree (by their
// accessible ids, roles and names) and pressed by their actions; keys are
// pressed on the display.
#pragma once

#include <atspi/atspi.h>
#include <sys/types.h>

#include <filesystem>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "support/test_support.h"

namespace gui_test {

using Lines = std::vector<std::string>;

// Waits for `condition` on the tree for up to `seconds`. Every look is a
// round trip to the program over the bus, so it looks every 50 ms.
bool Until(const std::function<bool()>& condition, int seconds = 20);

// A string of the tree's, freed.
std::string Take(gchar* s);

// A counted reference to a node of the tree.
class Node {
public:
    Node() = default;
    explicit Node(AtspiAccessible* a) : a_(a) {}  // takes the reference
    Node(const Node& o);
    Node& operator=(Node o) {
        std::swap(a_, o.a_);
        return *this;
    }
    ~Node();
    explicit operator bool() const { return a_ != nullptr; }
    AtspiAccessible* get() const { return a_; }

    std::string Name() const;
    std::string Id() const;
    AtspiRole Role() const;
    int ChildCount() const;
    Node Child(int i) const;
    bool Has(AtspiStateType state) const;
    // Presses it by its first action (a button's "click").
    bool Press() const;
    std::string ActionName() const;
    bool SetText(const std::string& s) const;
    std::string Text() const;
    double Value() const;
    // Position and size; relative to its window or to the screen.
    AtspiRect Extents(AtspiCoordType type) const;

    // The first node below (or at) this one whose accessible id is `id`;
    // a web page's own tree is not searched.
    Node Find(const std::string& id) const;
    // The first push button below this node named `name`.
    Node FindButton(const std::string& name) const;
    // Every text below this node (labels of a dialog).
    void Texts(Lines& out) const;

private:
    AtspiAccessible* a_ = nullptr;
};

using Env = std::vector<std::pair<std::string, std::string>>;

// A program started in a directory with more environment variables, its
// output kept in outDir/<program>.out and its main window titled
// `title...`; killed at the end of the test if it is still running.
class Program {
public:
    Program(const std::filesystem::path& exe, const std::string& title,
            const std::filesystem::path& dir, const std::filesystem::path& outDir,
            const Env& env = {});
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    pid_t Pid() const { return pid_; }

    // The program's node in the tree, once it is there.
    Node App();
    // The main window: the frame of the application.
    Node Window();
    // A control of the window by its accessible id ("btn_check"); found once.
    Node Control(const std::string& id);
    // A message box or dialog titled `title`, once one is shown.
    Node Dialog(const std::string& title, int seconds = 20);
    // The top-level windows, for a failure's message.
    std::string Windows();
    // The line cells of the list whose accessible id is `id`.
    std::vector<Node> Cells(const std::string& id);
    // The updater's action log: its line cells and their lines.
    std::vector<Node> LogCells() { return Cells("box_log.lines"); }
    Lines Log();
    bool LogHas(const std::string& line);

    bool Exited();
    // The exit status once the program ended by itself, else -1.
    int WaitExit(int seconds = 20);
    std::string Output() const;

    // The processes the program started whose name begins with `name`.
    std::vector<pid_t> Children(const std::string& name) const;
    // CPU time (user + system) the program used so far, in seconds.
    double CpuSeconds() const;

    // Presses `key` (an X key name) on the main window, through the display.
    void Key(const std::string& key);

private:
    std::string title_;
    pid_t pid_ = -1;
    int status_ = 0;
    bool exited_ = false;
    std::filesystem::path out_;
    Node app_;
};

// Saves the window as a PNG.
void Screenshot(const Node& window, const std::filesystem::path& file);

}  // namespace gui_test
