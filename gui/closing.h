// Closing the editor. The window's close button and File > Quit (Ctrl+Q) take the same path:
// unsaved strokes are asked about first ("Save the strokes before closing?"), then a running
// calculation is cancelled, the window geometry written and the recovery files removed.
#ifndef QUILLANE_GUI_CLOSING_H
#define QUILLANE_GUI_CLOSING_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// The answers of the question, as dialog responses.
enum {
  CLOSE_SAVE = 1,     // "Save": save the stroke layer, then close when it was saved
  CLOSE_DISCARD = 2,  // "Close without saving"
};

// Returns true when ed's main window may close now (everything above is done); false when the
// user chose to stay (Cancel, or the save did not happen).
bool prepare_to_close(Editor* ed);

// "activate" of File > Quit (data: the Editor): closes the main window like its close button.
void cb_quit(GtkWidget* item, gpointer editor);

#endif
