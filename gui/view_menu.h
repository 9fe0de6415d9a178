// The View menu, between Edit and Help, and the live matte's toggle at the end of the toolbar:
//   "Live matte"        check item, Ctrl+L; the toolbar toggle (tooltip "Live matte") is the
//                       same switch, and each follows the other
//   "Overlay", "On black", "On white", "On checkerboard", "Alpha"
//                       radio items: how the live matte is shown (matte_display.h)
//   "Overlay Colour…"   the colour of the overlay, in a colour dialog
// The choice and the colour are read from the view settings file when the menu is built and
// written there whenever they change (display_prefs.h). Main thread.
#ifndef QUILLANE_GUI_VIEW_MENU_H
#define QUILLANE_GUI_VIEW_MENU_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// Appends the menu "View" to bar, its accelerators in group, its items connected with ed as
// data; reads ed's display choice from the settings file first. Returns the menu, to which
// more items may be appended. The items are kept in ed->view (live_item, show_item).
GtkWidget* append_view_menu(Editor* ed, GtkWidget* bar, GtkAccelGroup* group);

// A new toggle tool item for the live matte with its icon and tooltip, connected with ed as
// data; the toolbar builder appends it as TOOL_LIVE.
GtkToolItem* live_matte_tool_item(Editor* ed);

// "toggled" of the check item or of the toolbar toggle (data: the Editor): turns the live matte
// on or off as the widget now says, and sets the other widget to match.
void cb_live_matte_toggled(GtkWidget* widget, gpointer editor);

// "toggled" of a Show matte as radio item (data: the Editor): the active one becomes the choice,
// is written to the settings file and shown.
void cb_show_matte_as(GtkWidget* item, gpointer editor);

// "activate" of "Overlay Colour…" (data: the Editor): the dialog "Overlay colour"; OK makes its
// colour the overlay's, written to the settings file and shown.
void cb_overlay_colour(GtkWidget* item, gpointer editor);

#endif
