#include "ui/gtk/gtk_toolkit.h"

#include <cstdlib>

#include "platform/message_box.h"
#include "texts/cp1252.h"
#include "ui/window_toolkit.h"

namespace ui::gtk {

namespace {

// Close to the window's 8-point sans fonts at 96 pixels per inch, and the
// widgets' padding trimmed so that each fits the pixel box it is given. A
// tree view makes every row at least as high as its expander and adds a
// separator to each; the log has neither, so its rows are its lines' 13
// pixels and the box shows four of them.
constexpr const char* kCss = R"css(
window.brf-updater, window.brf-updater *, dialog.brf-updater, dialog.brf-updater * {
  font-family: Sans; font-size: 8pt;
}
.brf-bold, .brf-bold * { font-weight: bold; }
window.brf-updater button { padding: 0 6px; min-height: 0; min-width: 0; }
window.brf-updater entry { padding: 0 4px; min-height: 0; }
window.brf-updater combobox button { padding: 0 3px; min-height: 0; }
window.brf-updater checkbutton { padding: 0; }
window.brf-updater progressbar trough, window.brf-updater progressbar progress {
  min-height: 15px;
}
window.brf-updater frame.brf-status label { padding: 0 3px; }
window.brf-updater treeview.view {
  padding: 0 2px; -GtkTreeView-vertical-separator: 0; -GtkTreeView-expander-size: 0;
}
window.brf-updater button.brf-picture, window.brf-updater button.brf-picture:hover,
window.brf-updater button.brf-picture:active, window.brf-updater button.brf-picture:focus {
  padding: 0; margin: 0; border: none; border-radius: 0; background: none;
  box-shadow: none; min-height: 0; min-width: 0; outline: none;
}
)css";

int Sensible(int value, int fallback) {
    return value > 0 ? value : fallback;
}

}  // namespace

GtkToolkit::GtkToolkit() {
    window_.toolkit = this;
    css_ = gtk_css_provider_new();
    gtk_css_provider_load_from_data(css_, kCss, -1, nullptr);
    gtk_style_context_add_provider_for_screen(gdk_screen_get_default(), GTK_STYLE_PROVIDER(css_),
                                              GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
    plat::SetMainLoop(&loop_);
    loop_.onException = [this](const std::exception& error) { ShowException(error); };
    // The shared base's boxes (the launcher's) appear over the window too.
    plat::SetMessageBoxHandler([this](const plat::MessageBoxRequest& request) {
        return MessageBox(request.text ? request.text : "", request.caption ? request.caption : "",
                          request.flags, request.owner);
    });
}

GtkToolkit::~GtkToolkit() {
    plat::SetMessageBoxHandler(nullptr);
    plat::SetMainLoop(nullptr);
    g_object_unref(css_);
}

std::unique_ptr<Control> GtkToolkit::CreateControl(Kind kind, ControlSpec spec) {
    return MakeControl(*this, kind, std::move(spec));
}

void GtkToolkit::Place(GtkWidget* widget, const ControlSpec& spec, bool identify) {
    int left = spec.bounds.left;
    int top = spec.bounds.top;
    // Controls inside a panel are laid out relative to it; the panel is a
    // frame drawn beneath them in the same container.
    for (const Control* parent = spec.parent; parent != nullptr; parent = parent->Spec().parent) {
        left += parent->Spec().bounds.left;
        top += parent->Spec().bounds.top;
    }
    gtk_widget_set_size_request(widget, Sensible(spec.bounds.width, 1),
                                Sensible(spec.bounds.height, 1));
    gtk_widget_set_name(widget, spec.name.c_str());
    gtk_fixed_put(GTK_FIXED(window_.fixed), widget, left, top);
    // The control's own reference, released when it goes.
    g_object_ref(widget);
    AtkObject* accessible = identify ? gtk_widget_get_accessible(widget) : nullptr;
    if (accessible != nullptr) {
        // Tests and assistive tools find a control by its name in any language.
        atk_object_set_accessible_id(accessible, spec.name.c_str());
    }
}

void GtkToolkit::RefreshFocusChain() {
    if (window_.fixed == nullptr) {
        return;
    }
    GList* chain = nullptr;
    for (const auto& [tab, widget] : window_.tabStops) {
        chain = g_list_append(chain, widget);
    }
    // The container's own focus chain is the only way GTK 3 takes an
    // explicit tab order.
    G_GNUC_BEGIN_IGNORE_DEPRECATIONS
    gtk_container_set_focus_chain(GTK_CONTAINER(window_.fixed), chain);
    G_GNUC_END_IGNORE_DEPRECATIONS
    g_list_free(chain);
}

void ApplyFont(GtkWidget* widget, const ControlSpec& spec) {
    if (spec.style & kBold) {
        gtk_style_context_add_class(gtk_widget_get_style_context(widget), "brf-bold");
    }
}

namespace {

struct DialogRun {
    bool done = false;
    int response = GTK_RESPONSE_NONE;
};

void OnResponse(GtkDialog*, gint response, gpointer data) {
    auto* run = static_cast<DialogRun*>(data);
    run->done = true;
    run->response = response;
}

// A dialog destroyed before it answered (its display went away, say) ends
// the wait with no answer rather than leaving it waiting for ever.
void OnDestroy(GtkWidget*, gpointer data) {
    static_cast<DialogRun*>(data)->done = true;
}

}  // namespace

int GtkToolkit::RunDialog(GtkWidget* dialog) {
    gtk_style_context_add_class(gtk_widget_get_style_context(dialog), "brf-updater");
    if (window_.window != nullptr && gtk_widget_get_visible(window_.window)) {
        gtk_window_set_transient_for(GTK_WINDOW(dialog), GTK_WINDOW(window_.window));
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER_ON_PARENT);
    } else {
        gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    }
    gtk_window_set_modal(GTK_WINDOW(dialog), TRUE);
    // A message dialog names itself after its icon ("Question"); assistive
    // tools should read the caption the box was given, as its title shows.
    if (const char* title = gtk_window_get_title(GTK_WINDOW(dialog))) {
        atk_object_set_name(gtk_widget_get_accessible(dialog), title);
    }
    DialogRun run;
    // Our own reference keeps the object valid until we let it go, however
    // the dialog was closed.
    g_object_ref(dialog);
    g_signal_connect(dialog, "response", G_CALLBACK(OnResponse), &run);
    g_signal_connect(dialog, "destroy", G_CALLBACK(OnDestroy), &run);
    gtk_widget_show_all(dialog);
    gtk_window_present(GTK_WINDOW(dialog));
    // The loop's own modal loop: the platform's messages (a transfer that
    // goes on, its timers) are handled while the dialog waits, as in the
    // window's own loop.
    plat::EventLoop& loop = plat::MainLoop();
    while (!run.done) {
        loop.ProcessMessages();
        if (!run.done) {
            loop.WaitMessage(-1);
        }
    }
    g_signal_handlers_disconnect_by_data(dialog, &run);
    gtk_widget_destroy(dialog);
    g_object_unref(dialog);
    return run.response;
}

int GtkToolkit::MessageBox(const std::string& text, const std::string& caption, uint32_t flags,
                           plat::BoxOwner) {
    GtkMessageType type = GTK_MESSAGE_OTHER;
    switch (flags & 0xF0) {
        case plat::kMbIconError:
            type = GTK_MESSAGE_ERROR;
            break;
        case plat::kMbIconQuestion:
            type = GTK_MESSAGE_QUESTION;
            break;
        case plat::kMbIconWarning:
            type = GTK_MESSAGE_WARNING;
            break;
        case plat::kMbIconInformation:
            type = GTK_MESSAGE_INFO;
            break;
        default:
            break;
    }
    GtkWidget* dialog = gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, type, GTK_BUTTONS_NONE,
                                               "%s", Cp1252ToUtf8(text).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), Cp1252ToUtf8(caption).c_str());
    const uint32_t buttons = flags & 0x0F;
    int closeAnswer = plat::kIdOk;
    if (buttons == plat::kMbYesNo) {
        gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Yes", plat::kIdYes, "_No", plat::kIdNo,
                               nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), plat::kIdYes);
        closeAnswer = plat::kIdNo;
    } else if (buttons == plat::kMbOkCancel) {
        gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_OK", plat::kIdOk, "_Cancel", plat::kIdCancel,
                               nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), plat::kIdOk);
        closeAnswer = plat::kIdCancel;
    } else {
        gtk_dialog_add_button(GTK_DIALOG(dialog), "_OK", plat::kIdOk);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), plat::kIdOk);
    }
    const int response = RunDialog(dialog);
    return response > 0 ? response : closeAnswer;
}

Confirmation GtkToolkit::Confirm(const std::string& question) {
    GtkWidget* dialog =
        gtk_message_dialog_new(nullptr, GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION, GTK_BUTTONS_NONE,
                               "%s", Cp1252ToUtf8(question).c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), Cp1252ToUtf8(ApplicationTitle()).c_str());
    enum { kYes = 1, kNo = 2, kYesToAll = 3 };
    gtk_dialog_add_buttons(GTK_DIALOG(dialog), "_Yes", kYes, "_No", kNo, "Yes to _All", kYesToAll,
                           nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), kYes);
    switch (RunDialog(dialog)) {
        case kYes:
            return Confirmation::Yes;
        case kYesToAll:
            return Confirmation::YesToAll;
        default:
            // Closing the dialog counts as No: nothing is fetched again.
            return Confirmation::No;
    }
}

void GtkToolkit::ShowException(const std::exception& error) {
    MessageBox(error.what(), ApplicationTitle(), plat::kMbOk | plat::kMbIconError,
               plat::BoxOwner::FocusWindow);
}

WorkArea GtkToolkit::PrimaryWorkArea() {
    WorkArea area;
    GdkDisplay* display = gdk_display_get_default();
    GdkMonitor* monitor = display ? gdk_display_get_primary_monitor(display) : nullptr;
    if (monitor == nullptr) {
        return area;
    }
    GdkRectangle r;
    gdk_monitor_get_workarea(monitor, &r);
    area.found = true;
    area.left = r.x;
    area.top = r.y;
    area.right = r.x + r.width;
    area.bottom = r.y + r.height;
    return area;
}

void GtkToolkit::SetApplicationTitle(const std::string& title) {
    Toolkit::SetApplicationTitle(title);
    g_set_application_name(Cp1252ToUtf8(title).c_str());
}

}  // namespace ui::gtk

namespace ui {

std::unique_ptr<Toolkit> MakeWindowToolkit(int& argc, char**& argv, std::string& problem) {
    // Without a GPU (a virtual display, a remote session) WebKit's
    // accelerated compositing draws nothing or burns a core; the news page
    // needs none of it.
    setenv("WEBKIT_DISABLE_COMPOSITING_MODE", "1", 0);
    if (!gtk_init_check(&argc, &argv)) {
        problem = "GTK cannot open the display";
        if (const char* display = std::getenv("DISPLAY")) {
            problem += " \"" + std::string(display) + "\"";
        } else {
            problem += " (DISPLAY is not set)";
        }
        return nullptr;
    }
    return std::make_unique<gtk::GtkToolkit>();
}

}  // namespace ui
