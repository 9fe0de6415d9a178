// The editor's single keys, for painting without the toolbar: [ and ] change the brush size,
// X swaps white and black, E the eraser, L the lasso; Enter fills and Escape drops a lasso
// outline. They act in edit mode only, without modifiers, and never while a text entry (the
// spin buttons) has the focus, which keeps its keys. Accelerators (Ctrl+...) are the menus'.
#ifndef QUILLANE_GUI_SHORTCUTS_H
#define QUILLANE_GUI_SHORTCUTS_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// The brush size one [ (direction -1) or ] (+1) away from size: about 15 % and at least one
// pixel further, within 1 .. 1024.
double brush_size_step(double size, int direction);

// "key-press-event" of the main window (data: the Editor), before the window hands the key to
// its accelerators and the focus widget. Returns TRUE when the key was one of the above and
// used.
gboolean cb_shortcut_key_press(GtkWidget* window, GdkEventKey* event, gpointer editor);

#endif
