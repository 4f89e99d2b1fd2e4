// The GTK toolkit: the control layer on GTK 3 widgets placed at their pixel
// positions in one fixed-size window, the news page in a WebKitGTK view,
// modal message boxes owned by the window, and the process's event loop
// on GLib's main context.
#pragma once

#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "ui/gtk/gtk_loop.h"
#include "ui/toolkit.h"

namespace ui::gtk {

class GtkToolkit;

// What the controls of one window share: the window, the fixed container
// the controls sit in, and the buttons that Esc and Enter press.
struct WindowState {
    GtkToolkit* toolkit = nullptr;
    GtkWidget* window = nullptr;
    GtkWidget* fixed = nullptr;
    Button* cancelButton = nullptr;
    Button* defaultButton = nullptr;
    int defaultTab = 0;
    // Tab stops: tab order -> widget.
    std::multimap<int, GtkWidget*> tabStops;
};

class GtkToolkit : public Toolkit {
public:
    GtkToolkit();
    ~GtkToolkit() override;

    std::unique_ptr<Control> CreateControl(Kind kind, ControlSpec spec) override;
    int MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                   plat::BoxOwner owner) override;
    Confirmation Confirm(const std::string& question) override;
    void ShowException(const std::exception& error) override;
    WorkArea PrimaryWorkArea() override;
    void SetApplicationTitle(const std::string& title) override;

    WindowState& Window() { return window_; }
    // Puts `widget` at the control's bounds (the parent's offset added); with
    // `identify` its accessible id becomes the control's name.
    void Place(GtkWidget* widget, const ControlSpec& spec, bool identify = true);
    void RefreshFocusChain();
    // Runs `dialog` modally over the window until it is answered, handling
    // the loop's messages meanwhile; returns GTK's response.
    int RunDialog(GtkWidget* dialog);

private:
    GtkEventLoop loop_;
    WindowState window_;
    GtkCssProvider* css_ = nullptr;
};

// Styles a widget after the control's style flags (bold).
void ApplyFont(GtkWidget* widget, const ControlSpec& spec);

// The controls (gtk_controls.cpp).
std::unique_ptr<Control> MakeControl(GtkToolkit& toolkit, Toolkit::Kind kind, ControlSpec spec);

}  // namespace ui::gtk
