// The controls on GTK widgets. Each keeps the control layer's state (the
// base classes) and mirrors it onto its widget; what the user does comes
// back through the control layer's own calls, so the updater's handlers run
// exactly as with any other toolkit. A change made by the program never
// raises a user event: a guard flag ignores the widget's signals meanwhile.
#include <gdk/gdkkeysyms.h>
#include <sys/stat.h>
#include <webkit2/webkit2.h>

#include <algorithm>
#include <cstdlib>
#include <string>
#include <vector>

#include "texts/cp1252.h"
#include "ui/gtk/artwork_image.h"
#include "ui/gtk/gtk_toolkit.h"
#include "ui/gtk/text_edge.h"
#include "ui/images/image.h"

#ifndef BRF_WEBKIT_EXEC_DIR
#define BRF_WEBKIT_EXEC_DIR ""
#endif

namespace ui::gtk {

namespace {

using Kind = Toolkit::Kind;

std::string Shown(const std::string& caption) {
    return MnemonicFromAccelerator(Cp1252ToUtf8(caption));
}

// Releases a widget with its control: removed from the window, its signals
// gone with it. Every control holds a reference of its own on its widget
// (taken when it is placed), so this is safe in any order of destruction,
// also after the window took its children with it.
void Destroy(GtkWidget*& widget) {
    if (widget != nullptr) {
        gtk_widget_destroy(widget);
        g_object_unref(widget);
        widget = nullptr;
    }
}

// ---- the window -------------------------------------------------------------

class GtkForm : public Form {
public:
    GtkForm(ControlSpec spec, GtkToolkit& toolkit) : Form(std::move(spec)), toolkit_(toolkit) {
        WindowState& w = toolkit_.Window();
        window_ = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        g_object_ref(window_);  // released by Destroy
        w.window = window_;
        gtk_style_context_add_class(gtk_widget_get_style_context(window_), "brf-updater");
        gtk_window_set_resizable(GTK_WINDOW(window_), FALSE);
        gtk_window_set_type_hint(GTK_WINDOW(window_), GDK_WINDOW_TYPE_HINT_NORMAL);
        w.fixed = gtk_fixed_new();
        gtk_widget_set_size_request(w.fixed, Spec().bounds.width, Spec().bounds.height);
        gtk_container_add(GTK_CONTAINER(window_), w.fixed);
        g_signal_connect(window_, "delete-event", G_CALLBACK(OnDelete), this);
        g_signal_connect(window_, "key-press-event", G_CALLBACK(OnKey), this);
    }
    ~GtkForm() override {
        WindowState& w = toolkit_.Window();
        w.window = w.fixed = nullptr;
        Destroy(window_);
    }

    void SetCaption(const std::string& caption) override {
        Form::SetCaption(caption);
        gtk_window_set_title(GTK_WINDOW(window_), Cp1252ToUtf8(caption).c_str());
    }
    void SetPosition(int left, int top) override {
        Form::SetPosition(left, top);
        gtk_window_move(GTK_WINDOW(window_), left, top);
    }
    void Show() override {
        gtk_widget_show_all(window_);
        // The first tab stop has the focus, as in a freshly shown dialog.
        const auto& stops = toolkit_.Window().tabStops;
        for (const auto& [tab, widget] : stops) {
            if (gtk_widget_get_sensitive(widget) && gtk_widget_get_can_focus(widget)) {
                gtk_widget_grab_focus(widget);
                break;
            }
        }
        Form::Show();
    }
    void Close() override {
        Form::Close();
        if (window_ != nullptr) {
            gtk_widget_hide(window_);
        }
    }

private:
    static gboolean OnDelete(GtkWidget*, GdkEvent*, gpointer self) {
        static_cast<GtkForm*>(self)->Close();
        return TRUE;  // hidden by Close; destroyed with the control
    }

    static gboolean OnKey(GtkWidget*, GdkEventKey* event, gpointer data) {
        auto* self = static_cast<GtkForm*>(data);
        WindowState& w = self->toolkit_.Window();
        if (event->state & (GDK_CONTROL_MASK | GDK_MOD1_MASK)) {
            return FALSE;
        }
        switch (event->keyval) {
            case GDK_KEY_Tab:
            case GDK_KEY_KP_Tab:
            case GDK_KEY_ISO_Left_Tab: {
                // The news page is one tab stop. Its web content would take
                // Tab for its own links and, at their end, hand the focus
                // back out of order, past the control after it; so Tab
                // leaves the page for the next control of the window's
                // order, Shift+Tab for the one before.
                GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(self->window_));
                if (focus == nullptr || !WEBKIT_IS_WEB_VIEW(focus)) {
                    return FALSE;
                }
                const bool back =
                    event->keyval == GDK_KEY_ISO_Left_Tab || (event->state & GDK_SHIFT_MASK);
                self->FocusBeside(focus, back);
                return TRUE;
            }
            case GDK_KEY_Escape:
                if (w.cancelButton != nullptr) {
                    w.cancelButton->Click();
                    return TRUE;
                }
                return FALSE;
            case GDK_KEY_Return:
            case GDK_KEY_KP_Enter:
            case GDK_KEY_ISO_Enter: {
                // A focused push button takes Enter itself; so does the news
                // page (its links and forms). Anywhere else Enter presses
                // the default button.
                GtkWidget* focus = gtk_window_get_focus(GTK_WINDOW(self->window_));
                if (focus != nullptr && ((GTK_IS_BUTTON(focus) && !GTK_IS_TOGGLE_BUTTON(focus)) ||
                                         WEBKIT_IS_WEB_VIEW(focus))) {
                    return FALSE;
                }
                if (w.defaultButton != nullptr) {
                    w.defaultButton->Click();
                    return TRUE;
                }
                return FALSE;
            }
            default:
                return FALSE;
        }
    }

    // Moves the focus from the tab stop `from` to the next one that can
    // take it (the one before when `back`), round the end of the order.
    void FocusBeside(GtkWidget* from, bool back) {
        std::vector<GtkWidget*> stops;
        for (const auto& [tab, widget] : toolkit_.Window().tabStops) {
            stops.push_back(widget);
        }
        const auto at = std::find(stops.begin(), stops.end(), from);
        if (at == stops.end()) {
            return;
        }
        const size_t n = stops.size();
        size_t i = static_cast<size_t>(at - stops.begin());
        for (size_t step = 1; step < n; ++step) {
            i = back ? (i + n - 1) % n : (i + 1) % n;
            GtkWidget* next = stops[i];
            // A stop may be a container (the log's scrolled window): its
            // focusable child takes the focus.
            if (gtk_widget_is_sensitive(next) && gtk_widget_get_visible(next) &&
                gtk_widget_child_focus(next, back ? GTK_DIR_TAB_BACKWARD : GTK_DIR_TAB_FORWARD)) {
                return;
            }
        }
    }

    GtkToolkit& toolkit_;
    GtkWidget* window_ = nullptr;
};

// ---- labels, panels, the status bar --------------------------------------------

class GtkLabelControl : public Control {
public:
    GtkLabelControl(ControlSpec spec, GtkToolkit& toolkit) : Control(std::move(spec)) {
        label_ = gtk_label_new(nullptr);
        const uint32_t style = Spec().style;
        const float x = (style & kRightAligned) ? 1.0f : (style & kCentered) ? 0.5f : 0.0f;
        gtk_label_set_xalign(GTK_LABEL(label_), x);
        gtk_label_set_yalign(GTK_LABEL(label_), 0.0f);
        gtk_label_set_justify(GTK_LABEL(label_), (style & kRightAligned) ? GTK_JUSTIFY_RIGHT
                                                 : (style & kCentered)   ? GTK_JUSTIFY_CENTER
                                                                         : GTK_JUSTIFY_LEFT);
        // A fixed-size label: a long text is cut, never widens the label.
        gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
        ApplyFont(label_, Spec());
        toolkit.Place(label_, Spec());
    }
    ~GtkLabelControl() override { Destroy(label_); }
    void SetCaption(const std::string& caption) override {
        Control::SetCaption(caption);
        gtk_label_set_text_with_mnemonic(GTK_LABEL(label_), Shown(caption).c_str());
    }
    void SetEnabled(bool enabled) override {
        Control::SetEnabled(enabled);
        gtk_widget_set_sensitive(label_, enabled);
    }

private:
    GtkWidget* label_;
};

class GtkPanelControl : public Control {
public:
    GtkPanelControl(ControlSpec spec, GtkToolkit& toolkit) : Control(std::move(spec)) {
        frame_ = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(frame_),
                                  (Spec().style & kLoweredBevel) ? GTK_SHADOW_IN : GTK_SHADOW_NONE);
        toolkit.Place(frame_, Spec());
    }
    ~GtkPanelControl() override { Destroy(frame_); }

private:
    GtkWidget* frame_;
};

// The status bar's one panel, as wide as the bar: a sunken frame with a
// line of text.
class GtkStatusBarControl : public Control {
public:
    GtkStatusBarControl(ControlSpec spec, GtkToolkit& toolkit) : Control(std::move(spec)) {
        bar_ = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(bar_), GTK_SHADOW_IN);
        gtk_style_context_add_class(gtk_widget_get_style_context(bar_), "brf-status");
        label_ = gtk_label_new(nullptr);
        gtk_label_set_xalign(GTK_LABEL(label_), 0.0f);
        gtk_label_set_ellipsize(GTK_LABEL(label_), PANGO_ELLIPSIZE_END);
        gtk_container_add(GTK_CONTAINER(bar_), label_);
        toolkit.Place(bar_, Spec());
        if (AtkObject* accessible = gtk_widget_get_accessible(bar_)) {
            atk_object_set_role(accessible, ATK_ROLE_STATUSBAR);
        }
    }
    ~GtkStatusBarControl() override { Destroy(bar_); }
    // The panel says only what the window sets: the news page's problems
    // are told in the page's place.
    void SetCaption(const std::string& caption) override {
        Control::SetCaption(caption);
        const std::string utf8 = Cp1252ToUtf8(caption);
        gtk_label_set_text(GTK_LABEL(label_), utf8.c_str());
        if (AtkObject* accessible = gtk_widget_get_accessible(bar_)) {
            atk_object_set_name(accessible, utf8.c_str());
        }
    }

private:
    GtkWidget* bar_;
    GtkWidget* label_;
};

// ---- buttons and pictures ----------------------------------------------------

class GtkButtonControl : public Button {
public:
    GtkButtonControl(ControlSpec spec, GtkToolkit& toolkit) : Button(std::move(spec)) {
        button_ = gtk_button_new_with_mnemonic("");
        ApplyFont(button_, Spec());
        WindowState& w = toolkit.Window();
        if (Spec().style & kCancelButton) {
            w.cancelButton = this;
        }
        // Of several default buttons Enter presses the first in tab order.
        if ((Spec().style & kDefaultButton) &&
            (w.defaultButton == nullptr || Spec().tabOrder < w.defaultTab)) {
            w.defaultButton = this;
            w.defaultTab = Spec().tabOrder;
            gtk_widget_set_can_default(button_, TRUE);
        }
        g_signal_connect(button_, "clicked", G_CALLBACK(OnClicked), this);
        toolkit.Place(button_, Spec());
        if (Spec().tabOrder >= 0) {
            w.tabStops.emplace(Spec().tabOrder, button_);
            toolkit.RefreshFocusChain();
        }
        window_ = &w;
    }
    ~GtkButtonControl() override {
        if (window_->cancelButton == this) {
            window_->cancelButton = nullptr;
        }
        if (window_->defaultButton == this) {
            window_->defaultButton = nullptr;
        }
        Destroy(button_);
    }
    void SetCaption(const std::string& caption) override {
        Button::SetCaption(caption);
        gtk_button_set_label(GTK_BUTTON(button_), Shown(caption).c_str());
        gtk_button_set_use_underline(GTK_BUTTON(button_), TRUE);
    }
    void SetEnabled(bool enabled) override {
        Button::SetEnabled(enabled);
        gtk_widget_set_sensitive(button_, enabled);
    }

private:
    static void OnClicked(GtkButton*, gpointer self) {
        static_cast<GtkButtonControl*>(self)->Click();
    }

    GtkWidget* button_;
    WindowState* window_;
};

GdkPixbuf* PixbufOf(const Image& image) {
    if (image.width <= 0 || image.height <= 0) {
        return nullptr;
    }
    GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, image.width, image.height);
    const int stride = gdk_pixbuf_get_rowstride(pixbuf);
    guchar* pixels = gdk_pixbuf_get_pixels(pixbuf);
    for (int y = 0; y < image.height; ++y) {
        std::copy_n(image.rgb.data() + static_cast<size_t>(y) * image.width * 3,
                    static_cast<size_t>(image.width) * 3, pixels + static_cast<size_t>(y) * stride);
    }
    return pixbuf;
}

// A clickable picture: a flat button (so that assistive tools can name and
// press it) inside an event box that carries the hand cursor.
class GtkPictureControl : public Button {
public:
    GtkPictureControl(ControlSpec spec, GtkToolkit& toolkit) : Button(std::move(spec)) {
        box_ = gtk_event_box_new();
        button_ = gtk_button_new();
        gtk_button_set_relief(GTK_BUTTON(button_), GTK_RELIEF_NONE);
        gtk_widget_set_can_focus(button_, FALSE);
        gtk_style_context_add_class(gtk_widget_get_style_context(button_), "brf-picture");
        std::string error;
        const Image image = ArtworkImage(Spec().resource, Spec().bounds.width, Spec().bounds.height,
                                         (Spec().style & kStretch) != 0, error);
        if (GdkPixbuf* pixbuf = PixbufOf(image)) {
            gtk_container_add(GTK_CONTAINER(button_), gtk_image_new_from_pixbuf(pixbuf));
            g_object_unref(pixbuf);
        } else if (!error.empty()) {
            g_warning("%s: %s", Spec().name.c_str(), error.c_str());
        }
        gtk_container_add(GTK_CONTAINER(box_), button_);
        g_signal_connect(button_, "clicked", G_CALLBACK(OnClicked), this);
        if (Spec().style & kHandCursor) {
            g_signal_connect(box_, "realize", G_CALLBACK(OnRealize), nullptr);
        }
        AtkObject* accessible = gtk_widget_get_accessible(button_);
        if (accessible != nullptr) {
            if (!Spec().accessibleName.empty()) {
                atk_object_set_name(accessible, Cp1252ToUtf8(Spec().accessibleName).c_str());
            }
            atk_object_set_accessible_id(accessible, Spec().name.c_str());
        }
        // The id belongs to the button, which assistive tools press.
        toolkit.Place(box_, Spec(), false);
    }
    ~GtkPictureControl() override { Destroy(box_); }
    void SetEnabled(bool enabled) override {
        Button::SetEnabled(enabled);
        gtk_widget_set_sensitive(box_, enabled);
    }

private:
    static void OnClicked(GtkButton*, gpointer self) {
        static_cast<GtkPictureControl*>(self)->Click();
    }
    static void OnRealize(GtkWidget* widget, gpointer) {
        GdkWindow* window = gtk_widget_get_window(widget);
        GdkCursor* hand = gdk_cursor_new_from_name(gdk_window_get_display(window), "pointer");
        gdk_window_set_cursor(window, hand);
        if (hand != nullptr) {
            g_object_unref(hand);
        }
    }

    GtkWidget* box_;
    GtkWidget* button_;
};

// ---- check box, combo box, list box, progress bar ------------------------------

class GtkCheckBoxControl : public CheckBox {
public:
    GtkCheckBoxControl(ControlSpec spec, GtkToolkit& toolkit) : CheckBox(std::move(spec)) {
        check_ = gtk_check_button_new_with_mnemonic("");
        ApplyFont(check_, Spec());
        g_signal_connect(check_, "toggled", G_CALLBACK(OnToggled), this);
        toolkit.Place(check_, Spec());
        if (Spec().tabOrder >= 0) {
            toolkit.Window().tabStops.emplace(Spec().tabOrder, check_);
            toolkit.RefreshFocusChain();
        }
    }
    ~GtkCheckBoxControl() override { Destroy(check_); }
    void SetCaption(const std::string& caption) override {
        CheckBox::SetCaption(caption);
        gtk_button_set_label(GTK_BUTTON(check_), Shown(caption).c_str());
        gtk_button_set_use_underline(GTK_BUTTON(check_), TRUE);
    }
    void SetEnabled(bool enabled) override {
        CheckBox::SetEnabled(enabled);
        gtk_widget_set_sensitive(check_, enabled);
    }
    void SetChecked(bool checked) override {
        quiet_ = true;
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check_), checked);
        quiet_ = false;
        CheckBox::SetChecked(checked);
    }

private:
    static void OnToggled(GtkToggleButton* button, gpointer data) {
        auto* self = static_cast<GtkCheckBoxControl*>(data);
        if (!self->quiet_) {
            self->CheckBox::SetChecked(gtk_toggle_button_get_active(button));
        }
    }

    GtkWidget* check_;
    bool quiet_ = false;
};

class GtkComboBoxControl : public ComboBox {
public:
    GtkComboBoxControl(ControlSpec spec, GtkToolkit& toolkit) : ComboBox(std::move(spec)) {
        combo_ = gtk_combo_box_text_new_with_entry();
        entry_ = gtk_bin_get_child(GTK_BIN(combo_));
        gtk_entry_set_width_chars(GTK_ENTRY(entry_), 1);
        ApplyFont(combo_, Spec());
        g_signal_connect(entry_, "changed", G_CALLBACK(OnChanged), this);
        g_signal_connect(combo_, "notify::popup-shown", G_CALLBACK(OnPopup), this);
        // One tab stop, the text: the arrow drops the list by the mouse or
        // by Alt+Down, as in a Windows combo box.
        gtk_container_forall(GTK_CONTAINER(combo_), NoFocusForArrow, nullptr);
        toolkit.Place(combo_, Spec());
        AtkObject* accessible = gtk_widget_get_accessible(entry_);
        if (accessible != nullptr) {
            atk_object_set_accessible_id(accessible, (Spec().name + ".edit").c_str());
        }
        if (Spec().tabOrder >= 0) {
            toolkit.Window().tabStops.emplace(Spec().tabOrder, combo_);
            toolkit.RefreshFocusChain();
        }
    }
    ~GtkComboBoxControl() override { Destroy(combo_); }
    void SetCaption(const std::string& caption) override {
        ComboBox::SetCaption(caption);
        SyncItems();
        quiet_ = true;
        gtk_entry_set_text(GTK_ENTRY(entry_), Cp1252ToUtf8(caption).c_str());
        quiet_ = false;
    }
    void SetEnabled(bool enabled) override {
        ComboBox::SetEnabled(enabled);
        gtk_widget_set_sensitive(combo_, enabled);
    }

private:
    // The list is a plain member of the control: it reaches the widget when
    // the text is set or the list drops down.
    void SyncItems() {
        if (Items == shownItems_) {
            return;
        }
        quiet_ = true;
        gtk_combo_box_text_remove_all(GTK_COMBO_BOX_TEXT(combo_));
        for (const std::string& item : Items) {
            gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo_), Cp1252ToUtf8(item).c_str());
        }
        quiet_ = false;
        shownItems_ = Items;
    }
    static void OnChanged(GtkEditable*, gpointer data) {
        auto* self = static_cast<GtkComboBoxControl*>(data);
        if (!self->quiet_) {
            self->UserEdit(Utf8ToCp1252(gtk_entry_get_text(GTK_ENTRY(self->entry_))));
        }
    }
    static void NoFocusForArrow(GtkWidget* widget, gpointer) {
        if (GTK_IS_TOGGLE_BUTTON(widget)) {
            gtk_widget_set_can_focus(widget, FALSE);
        } else if (GTK_IS_CONTAINER(widget) && !GTK_IS_ENTRY(widget)) {
            gtk_container_forall(GTK_CONTAINER(widget), NoFocusForArrow, nullptr);
        }
    }
    static void OnPopup(GObject*, GParamSpec*, gpointer data) {
        static_cast<GtkComboBoxControl*>(data)->SyncItems();
    }

    GtkWidget* combo_;
    GtkWidget* entry_;
    std::vector<std::string> shownItems_;
    bool quiet_ = false;
};

class GtkListBoxControl : public ListBox {
public:
    GtkListBoxControl(ControlSpec spec, GtkToolkit& toolkit) : ListBox(std::move(spec)) {
        store_ = gtk_list_store_new(1, G_TYPE_STRING);
        view_ = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store_));
        g_object_unref(store_);  // the view holds it
        gtk_tree_view_set_headers_visible(GTK_TREE_VIEW(view_), FALSE);
        gtk_tree_view_set_enable_search(GTK_TREE_VIEW(view_), FALSE);
        GtkCellRenderer* text = gtk_cell_renderer_text_new();
        // Lines of 13 pixels, as the log was laid out for.
        gtk_cell_renderer_set_fixed_size(text, -1, 13);
        gtk_cell_renderer_set_padding(text, 2, 0);
        gtk_tree_view_append_column(GTK_TREE_VIEW(view_), gtk_tree_view_column_new_with_attributes(
                                                              "", text, "text", 0, nullptr));
        scroll_ = gtk_scrolled_window_new(nullptr, nullptr);
        gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroll_), GTK_SHADOW_IN);
        // A line longer than the box is cut, as in a list box without a
        // horizontal bar; only the vertical bar comes and goes.
        gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll_), GTK_POLICY_EXTERNAL,
                                       GTK_POLICY_AUTOMATIC);
        gtk_container_add(GTK_CONTAINER(scroll_), view_);
        ApplyFont(view_, Spec());
        toolkit.Place(scroll_, Spec());
        AtkObject* accessible = gtk_widget_get_accessible(view_);
        if (accessible != nullptr) {
            atk_object_set_accessible_id(accessible, (Spec().name + ".lines").c_str());
        }
        if (Spec().tabOrder >= 0) {
            toolkit.Window().tabStops.emplace(Spec().tabOrder, scroll_);
            toolkit.RefreshFocusChain();
        }
    }
    ~GtkListBoxControl() override { Destroy(scroll_); }
    void Clear() override {
        ListBox::Clear();
        gtk_list_store_clear(store_);
    }
    void Add(const std::string& line) override {
        ListBox::Add(line);
        GtkTreeIter iter;
        gtk_list_store_insert_with_values(store_, &iter, -1, 0, Cp1252ToUtf8(line).c_str(), -1);
    }
    void SetItemIndex(int index) override {
        ListBox::SetItemIndex(index);
        GtkTreeSelection* selection = gtk_tree_view_get_selection(GTK_TREE_VIEW(view_));
        if (index < 0 || index >= Count()) {
            gtk_tree_selection_unselect_all(selection);
            return;
        }
        GtkTreePath* path = gtk_tree_path_new_from_indices(index, -1);
        gtk_tree_selection_select_path(selection, path);
        gtk_tree_view_scroll_to_cell(GTK_TREE_VIEW(view_), path, nullptr, FALSE, 0, 0);
        gtk_tree_path_free(path);
    }
    void SetEnabled(bool enabled) override {
        ListBox::SetEnabled(enabled);
        gtk_widget_set_sensitive(scroll_, enabled);
    }

private:
    GtkListStore* store_;
    GtkWidget* view_;
    GtkWidget* scroll_;
};

class GtkProgressBarControl : public ProgressBar {
public:
    GtkProgressBarControl(ControlSpec spec, GtkToolkit& toolkit) : ProgressBar(std::move(spec)) {
        bar_ = gtk_progress_bar_new();
        toolkit.Place(bar_, Spec());
        Show();
    }
    ~GtkProgressBarControl() override { Destroy(bar_); }
    void SetMax(int32_t max) override {
        ProgressBar::SetMax(max);
        Show();
    }
    void SetPosition(int32_t position) override {
        ProgressBar::SetPosition(position);
        Show();
    }

private:
    void Show() {
        const double max = Max();
        double fraction = max > 0 ? Position() / max : 0.0;
        fraction = fraction < 0 ? 0 : fraction > 1 ? 1 : fraction;
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar_), fraction);
    }

    GtkWidget* bar_;
};

// ---- the news page -----------------------------------------------------------

// Where WebKit's helper processes are: WEBKIT_EXEC_PATH, else where the
// library was built to look.
std::string WebProcessProblem() {
    const char* env = std::getenv("WEBKIT_EXEC_PATH");
    const std::string dir = env != nullptr && *env != '\0' ? env : BRF_WEBKIT_EXEC_DIR;
    if (dir.empty()) {
        return {};
    }
    const std::string process = dir + "/WebKitWebProcess";
    struct stat info;
    if (stat(process.c_str(), &info) != 0 || !(info.st_mode & S_IXUSR)) {
        return "the web engine is missing (" + process + ")";
    }
    return {};
}

// The news page; where the web engine is missing or its process dies, a
// panel in the page's place says so in the player's language.
class GtkWebBrowserControl : public WebBrowser {
public:
    GtkWebBrowserControl(ControlSpec spec, GtkToolkit& toolkit)
        : WebBrowser(std::move(spec)), window_(toolkit.Window()) {
        panel_ = gtk_frame_new(nullptr);
        gtk_frame_set_shadow_type(GTK_FRAME(panel_), GTK_SHADOW_IN);
        note_ = gtk_label_new(nullptr);
        gtk_label_set_line_wrap(GTK_LABEL(note_), TRUE);
        gtk_label_set_justify(GTK_LABEL(note_), GTK_JUSTIFY_CENTER);
        gtk_container_add(GTK_CONTAINER(panel_), note_);
        if (AtkObject* accessible = gtk_widget_get_accessible(note_)) {
            atk_object_set_accessible_id(accessible, (Spec().name + ".note").c_str());
        }
        problem_ = WebProcessProblem();
        if (!problem_.empty()) {
            toolkit.Place(panel_, Spec());
            ShowNote();
            return;
        }
        view_ = webkit_web_view_new();
        g_signal_connect(view_, "decide-policy", G_CALLBACK(OnDecidePolicy), this);
        g_signal_connect(view_, "load-changed", G_CALLBACK(OnLoadChanged), this);
        g_signal_connect(view_, "web-process-terminated", G_CALLBACK(OnTerminated), this);
        toolkit.Place(view_, Spec());
        toolkit.Place(panel_, Spec(), false);
        gtk_widget_show(note_);
        gtk_widget_set_no_show_all(panel_, TRUE);
        if (Spec().tabOrder >= 0) {
            window_.tabStops.emplace(Spec().tabOrder, view_);
            toolkit.RefreshFocusChain();
        }
    }
    ~GtkWebBrowserControl() override {
        Destroy(panel_);
        Destroy(view_);
    }

    void Navigate(const std::string& url) override {
        WebBrowser::Navigate(url);
        if (view_ == nullptr) {
            ShowNote();
            return;
        }
        // A new page starts a new web process where the last one died.
        gtk_widget_hide(panel_);
        gtk_widget_show(view_);
        webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view_), Cp1252ToUtf8(url).c_str());
    }
    void SetUnavailableText(const std::string& text) override {
        WebBrowser::SetUnavailableText(text);
        ShowNote();
    }

private:
    // The panel's words, the reason, then the page that would be shown.
    void ShowNote() {
        std::string text = Cp1252ToUtf8(UnavailableText()) + problem_;
        if (!LocationURL().empty()) {
            text += "\n\n" + Cp1252ToUtf8(LocationURL());
        }
        gtk_label_set_text(GTK_LABEL(note_), text.c_str());
    }

    static gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                                   WebKitPolicyDecisionType type, gpointer data) {
        if (type == WEBKIT_POLICY_DECISION_TYPE_NAVIGATION_ACTION ||
            type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION) {
            WebKitNavigationAction* action =
                webkit_navigation_policy_decision_get_navigation_action(
                    WEBKIT_NAVIGATION_POLICY_DECISION(decision));
            WebKitURIRequest* request = webkit_navigation_action_get_request(action);
            auto* self = static_cast<GtkWebBrowserControl*>(data);
            if (self->OnBeforeNavigate2 && request != nullptr) {
                self->OnBeforeNavigate2(Utf8ToCp1252(webkit_uri_request_get_uri(request)));
            }
        }
        return FALSE;  // WebKit's own decision: a navigation is never cancelled
    }
    static void OnLoadChanged(WebKitWebView*, WebKitLoadEvent event, gpointer data) {
        auto* self = static_cast<GtkWebBrowserControl*>(data);
        if (event == WEBKIT_LOAD_FINISHED && self->OnDownloadComplete) {
            self->OnDownloadComplete();
        }
    }
    static void OnTerminated(WebKitWebView*, WebKitWebProcessTerminationReason reason,
                             gpointer data) {
        auto* self = static_cast<GtkWebBrowserControl*>(data);
        self->problem_ = reason == WEBKIT_WEB_PROCESS_CRASHED ? "its web process crashed"
                                                              : "its web process ran out of memory";
        self->ShowNote();
        gtk_widget_hide(self->view_);
        gtk_widget_show(self->panel_);
    }

    WindowState& window_;
    GtkWidget* panel_ = nullptr;
    GtkWidget* note_ = nullptr;
    GtkWidget* view_ = nullptr;
    std::string problem_;
};

}  // namespace

std::unique_ptr<Control> MakeControl(GtkToolkit& toolkit, Toolkit::Kind kind, ControlSpec spec) {
    switch (kind) {
        case Kind::Form:
            return std::make_unique<GtkForm>(std::move(spec), toolkit);
        case Kind::Label:
            return std::make_unique<GtkLabelControl>(std::move(spec), toolkit);
        case Kind::Panel:
            return std::make_unique<GtkPanelControl>(std::move(spec), toolkit);
        case Kind::StatusBar:
            return std::make_unique<GtkStatusBarControl>(std::move(spec), toolkit);
        case Kind::Button:
            return std::make_unique<GtkButtonControl>(std::move(spec), toolkit);
        case Kind::Picture:
            return std::make_unique<GtkPictureControl>(std::move(spec), toolkit);
        case Kind::CheckBox:
            return std::make_unique<GtkCheckBoxControl>(std::move(spec), toolkit);
        case Kind::ComboBox:
            return std::make_unique<GtkComboBoxControl>(std::move(spec), toolkit);
        case Kind::ListBox:
            return std::make_unique<GtkListBoxControl>(std::move(spec), toolkit);
        case Kind::ProgressBar:
            return std::make_unique<GtkProgressBarControl>(std::move(spec), toolkit);
        case Kind::WebBrowser:
            return std::make_unique<GtkWebBrowserControl>(std::move(spec), toolkit);
    }
    return std::make_unique<Control>(std::move(spec));
}

}  // namespace ui::gtk
