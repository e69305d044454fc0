#include "app/setup_dialog.h"

#include <gtk/gtk.h>

#include <clocale>

namespace {

// The dialog is laid out in the dialog units of its original template
// (153 x 63 for the whole dialog); GTK's widgets need about 1.75 times the
// pixels of the template's small font, so every unit is scaled by that.
constexpr double unit_x = 1.5 * 1.75;
constexpr double unit_y = 1.625 * 1.75;

enum Response { RESPONSE_START = 1, RESPONSE_CANCEL = 2 };

void place(GtkWidget* fixed, GtkWidget* widget, int x, int y, int w, int h) {
    gtk_widget_set_size_request(widget, static_cast<int>(w * unit_x), static_cast<int>(h * unit_y));
    gtk_fixed_put(GTK_FIXED(fixed), widget, static_cast<int>(x * unit_x), static_cast<int>(y * unit_y));
}

void on_start(GtkButton*, gpointer dialog) { gtk_dialog_response(GTK_DIALOG(dialog), RESPONSE_START); }
void on_cancel(GtkButton*, gpointer dialog) { gtk_dialog_response(GTK_DIALOG(dialog), RESPONSE_CANCEL); }

// Enter anywhere in the dialog presses the default button, as it does on the
// dialog's home platform (GTK would otherwise open the focused combo box).
gboolean on_key(GtkWidget* dialog, GdkEventKey* event, gpointer) {
    if (event->keyval == GDK_KEY_Return || event->keyval == GDK_KEY_KP_Enter || event->keyval == GDK_KEY_ISO_Enter) {
        gtk_dialog_response(GTK_DIALOG(dialog), RESPONSE_START);
        return TRUE;
    }
    return FALSE;
}

}  // namespace

bool init_dialog_toolkit() {
    bool ready = gtk_init_check(nullptr, nullptr);
    std::setlocale(LC_NUMERIC, "C");  // set to the user's by the toolkit even when it finds no display
    return ready;
}

bool run_setup_dialog(const DisplayModeList& list, SetupChoice* choice) {
    if (!init_dialog_toolkit()) return false;

    GtkWidget* dialog = gtk_dialog_new();
    gtk_window_set_title(GTK_WINDOW(dialog), "we like velmos");
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_window_set_position(GTK_WINDOW(dialog), GTK_WIN_POS_CENTER);
    GtkWidget* fixed = gtk_fixed_new();
    gtk_widget_set_size_request(fixed, static_cast<int>(153 * unit_x), static_cast<int>(63 * unit_y));
    gtk_container_add(GTK_CONTAINER(gtk_dialog_get_content_area(GTK_DIALOG(dialog))), fixed);

    // Controls in the template's order, which is also the focus order.
    GtkWidget* start = gtk_button_new_with_label("velmo");
    GtkWidget* cancel = gtk_button_new_with_label("no velmo");
    GtkWidget* sizes = gtk_combo_box_text_new();
    GtkWidget* full_screen = gtk_check_button_new_with_label("Full screen");
    GtkWidget* antialias = gtk_check_button_new_with_label("Antialias");
    place(fixed, start, 6, 39, 66, 18);
    place(fixed, cancel, 78, 39, 66, 18);
    place(fixed, sizes, 6, 6, 138, 14);
    place(fixed, full_screen, 25, 24, 50, 10);
    place(fixed, antialias, 79, 24, 43, 10);

    // Not sorted: list position equals the mode list index.
    for (int i = 0; i < list.count; ++i) {
        char text[256];
        format_display_mode(list.entries[i], text, sizeof text);
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(sizes), text);
    }
    if (list.count > 0) gtk_combo_box_set_active(GTK_COMBO_BOX(sizes), default_display_mode(list));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(full_screen), TRUE);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(antialias), TRUE);

    g_signal_connect(start, "clicked", G_CALLBACK(on_start), dialog);
    g_signal_connect(cancel, "clicked", G_CALLBACK(on_cancel), dialog);
    g_signal_connect(dialog, "key-press-event", G_CALLBACK(on_key), nullptr);
    gtk_widget_set_can_default(start, TRUE);
    gtk_widget_show_all(dialog);
    gtk_widget_grab_default(start);
    gtk_widget_grab_focus(start);

    // Escape and the close box end gtk_dialog_run with other responses: both cancel.
    gint response = gtk_dialog_run(GTK_DIALOG(dialog));
    if (response == RESPONSE_START) {
        record_setup_choice(list, gtk_combo_box_get_active(GTK_COMBO_BOX(sizes)),
                            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(full_screen)),
                            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(antialias)), choice);
    }
    gtk_widget_destroy(dialog);
    while (gtk_events_pending()) gtk_main_iteration();
    return true;
}
