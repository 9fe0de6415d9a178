// Running modal dialogs over the canvas, which hides the system pointer in edit mode.
#ifndef QUILLANE_GUI_DIALOG_RUN_H
#define QUILLANE_GUI_DIALOG_RUN_H

#include <gtk/gtk.h>

// Runs dialog modally (gtk_dialog_run) with the default pointer over the canvas of the editor
// it belongs to (editor_of(): the window it is transient for), then gives the canvas the
// cursor of the current mode back. Returns the response. Does not destroy it.
gint run_dialog(GtkDialog* dialog);

// The file chosen in a file chooser; newly allocated (g_free), or null. A file name stored on
// the chooser with set_chooser_test_filename() takes precedence: tests drive the dialog with
// it without depending on the chooser's asynchronous folder loading.
gchar* chooser_filename(GtkFileChooser* chooser);
void set_chooser_test_filename(GtkFileChooser* chooser, const gchar* filename);

#endif
