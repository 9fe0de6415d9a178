#include "gui/dialog_run.h"

#include "gui/editor.h"
#include "gui/modes.h"

gint run_dialog(GtkDialog* dialog) {
  Editor* ed = editor_of(GTK_WIDGET(dialog));
  GtkWidget* canvas = ed != nullptr ? ed->view.drawing_area : nullptr;
  if (canvas != nullptr && canvas->window != nullptr)
    gdk_window_set_cursor(canvas->window, nullptr);
  gint response = gtk_dialog_run(dialog);
  // The dialog's answer may have closed the window.
  ed = editor_of(GTK_WIDGET(dialog));
  if (ed != nullptr) set_mode_cursor(ed->view);
  return response;
}

static const char kTestFilename[] = "quillane-test-filename";

gchar* chooser_filename(GtkFileChooser* chooser) {
  const gchar* forced =
      static_cast<const gchar*>(g_object_get_data(G_OBJECT(chooser), kTestFilename));
  if (forced != nullptr) return g_strdup(forced);
  return gtk_file_chooser_get_filename(chooser);
}

void set_chooser_test_filename(GtkFileChooser* chooser, const gchar* filename) {
  g_object_set_data_full(G_OBJECT(chooser), kTestFilename, g_strdup(filename), g_free);
}
