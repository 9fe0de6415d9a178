#include "gui/closing.h"

#include "gui/dialog_run.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/layer_state.h"
#include "gui/persistence.h"
#include "gui/recovery.h"

namespace {

gint ask_save_strokes(GtkWidget* window) {
  GtkWidget* ask = gtk_message_dialog_new(
      GTK_WINDOW(window),
      static_cast<GtkDialogFlags>(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
      GTK_MESSAGE_WARNING, GTK_BUTTONS_NONE, "Save the strokes before closing?");
  gtk_message_dialog_format_secondary_text(
      GTK_MESSAGE_DIALOG(ask),
      "The stroke layer has changes that were never saved. They are "
      "lost if you close without saving.");
  gtk_window_set_title(GTK_WINDOW(ask), "Unsaved strokes");
  gtk_dialog_add_buttons(GTK_DIALOG(ask), "Close _without saving", CLOSE_DISCARD, GTK_STOCK_CANCEL,
                         GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, CLOSE_SAVE, nullptr);
  gtk_dialog_set_default_response(GTK_DIALOG(ask), CLOSE_SAVE);
  gint answer = run_dialog(GTK_DIALOG(ask));
  gtk_widget_destroy(ask);
  return answer;
}

// Saves the stroke layer through the Save dialog, which saves the layer in edit mode.
void save_strokes(Editor* ed) {
  GtkToggleToolButton* mode = GTK_TOGGLE_TOOL_BUTTON(ed->view.tool[TOOL_MODE]);
  if (gtk_toggle_tool_button_get_active(mode)) gtk_toggle_tool_button_set_active(mode, FALSE);
  on_save_as(nullptr, ed);
}

}  // namespace

bool prepare_to_close(Editor* ed) {
  GtkWidget* window = ed->view.main_window;
  if (layer_has_unsaved_changes(ed->strokes)) {
    gint answer = ask_save_strokes(window);
    if (answer == CLOSE_SAVE) {
      save_strokes(ed);
      if (layer_has_unsaved_changes(ed->strokes)) return false;  // not saved: the user stays
    } else if (answer != CLOSE_DISCARD) {
      return false;
    }
  }
  cancel_calculation(ed);
  pre_quit_event(window);
  remove_recovery_files(&ed->session);
  return true;
}

void cb_quit(GtkWidget*, gpointer editor) {
  Editor* ed = static_cast<Editor*>(editor);
  if (prepare_to_close(ed)) gtk_widget_destroy(ed->view.main_window);
}
