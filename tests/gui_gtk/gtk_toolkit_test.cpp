// The control layer's contract on the GTK toolkit, in this process on a
// virtual display: the player's actions are made on the controls' widgets,
// which are found by the control's name.
#include <gtk/gtk.h>

#include "ui/toolkit_contract.h"
#include "ui/window_toolkit.h"

namespace {

struct Search {
    const char* name;
    GtkWidget* found;
};

void FindNamed(GtkWidget* widget, gpointer data) {
    auto* search = static_cast<Search*>(data);
    if (search->found == nullptr && g_strcmp0(gtk_widget_get_name(widget), search->name) == 0) {
        search->found = widget;
    } else if (search->found == nullptr && GTK_IS_CONTAINER(widget)) {
        gtk_container_forall(GTK_CONTAINER(widget), FindNamed, data);
    }
}

// The widget of a control of this process's windows.
GtkWidget* WidgetOf(const ui::Control& control) {
    Search search{control.Spec().name.c_str(), nullptr};
    GList* tops = gtk_window_list_toplevels();
    for (GList* top = tops; top != nullptr; top = top->next) {
        FindNamed(GTK_WIDGET(top->data), &search);
    }
    g_list_free(tops);
    return search.found;
}

std::string Utf8(const std::string& cp1252) {
    gchar* utf8 = g_convert(cp1252.data(), static_cast<gssize>(cp1252.size()), "UTF-8",
                            "WINDOWS-1252", nullptr, nullptr, nullptr);
    std::string text = utf8 != nullptr ? utf8 : "";
    g_free(utf8);
    return text;
}

struct GtkLane {
    std::unique_ptr<ui::Toolkit> Make(std::string& problem) {
        int argc = 0;
        char** argv = nullptr;
        return ui::MakeWindowToolkit(argc, argv, problem);
    }
    void Click(ui::Button& button) { gtk_button_clicked(GTK_BUTTON(WidgetOf(button))); }
    void Toggle(ui::CheckBox& check) { gtk_button_clicked(GTK_BUTTON(WidgetOf(check))); }
    void Type(ui::ComboBox& box, const std::string& text) {
        GtkEditable* entry = GTK_EDITABLE(gtk_bin_get_child(GTK_BIN(WidgetOf(box))));
        gtk_editable_select_region(entry, 0, -1);
        gtk_editable_delete_selection(entry);
        const std::string utf8 = Utf8(text);
        for (const char* key = utf8.c_str(); *key != '\0'; key = g_utf8_next_char(key)) {
            gint at = gtk_entry_get_text_length(GTK_ENTRY(entry));
            gtk_editable_insert_text(entry, key, static_cast<gint>(g_utf8_next_char(key) - key),
                                     &at);
        }
    }
    void Choose(ui::ComboBox& box, int index) {
        gtk_combo_box_set_active(GTK_COMBO_BOX(WidgetOf(box)), index);
    }
};

}  // namespace

namespace ui_contract {
INSTANTIATE_TYPED_TEST_SUITE_P(Gtk, ToolkitContract, GtkLane);
}  // namespace ui_contract
