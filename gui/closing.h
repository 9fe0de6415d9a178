// Closing the editor. The window's close button and File > Quit (Ctrl+Q) take the same path:
// unsaved strokes are asked about first ("Save the strokes before closing?"), then a running
// calculation is cancelled, the window geometry written and the recovery files removed.
#ifndef QUILLANE_GUI_CLOSING_H
#define QUILLANE_GUI_CLOSING_H

#include <gtk/gtk.h>

// The answers of the question, as dialog responses.
enum {
  CLOSE_SAVE = 1,     // "Save": save the stroke layer, then close when it was saved
  CLOSE_DISCARD = 2,  // "Close without saving"
};

// In window: the main window. Returns true when it may close now (everything above is done);
// false when the user chose to stay (Cancel, or the save did not happen).
bool prepare_to_close(GtkWidget* window);

// "activate" of File > Quit (data: the main window): closes it like its close button.
void cb_quit(GtkWidget* item, gpointer window);

#endif
