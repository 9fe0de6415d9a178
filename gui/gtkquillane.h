// Start-up of the editor: its shared objects (the Editor record) and its main window with
// menus, toolbar, canvas and status bar, every handler connected with the Editor as its data.
#ifndef QUILLANE_GUI_GTKQUILLANE_H
#define QUILLANE_GUI_GTKQUILLANE_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// Creates the shared objects (placeholder pixbufs and surfaces, cursor, the option record)
// in a new Editor at its start values. Must run after gtk_init. The caller owns the Editor and
// releases it with quillane_shared_objects_release().
Editor* quillane_shared_objects_init();

// Cancels a running calculation (its worker frees itself when it ends), releases what
// quillane_shared_objects_init() and later commands created, and the Editor itself. Its
// window must be gone.
void quillane_shared_objects_release(Editor* ed);

// Builds ed's main window "Tessaly" with menus, toolbar, canvas and status bar, connects every
// handler with ed as data, shows it, restores the saved geometry and hides what edit mode
// hides. The icons are looked up in icon_dir (a folder name ending in a separator). Returns the
// window (owned by GTK; closing it ends the main loop).
GtkWidget* quillane_create_main_window(Editor* ed, const char* icon_dir);

// The icon folder: ICON_DIR plus "/" when set, else the program's installed or built icon
// folder, else "./". Newly allocated; g_free() it.
gchar* quillane_icon_dir();

// Handlers of the main window (data: the Editor). The close button asks about unsaved strokes
// first and returns TRUE to keep the window; destroy forgets the window and ends the main loop.
gboolean cb_delete_event_with_persistence(GtkWidget* widget, GdkEvent* event, gpointer editor);
void destroy(GtkWidget* widget, gpointer editor);

#endif
