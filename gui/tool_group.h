// The toolbar's tools: FG, BG, Eraser and Lasso are one radio group, so the pressed button
// always shows which tool the left button uses. The three brushes set the brush's colour
// (brush.h); Lasso keeps it, and fills outlines in it (lasso.h). The colour button's brush
// presses none of them, except that Lasso stays pressed and takes that colour.
#ifndef QUILLANE_GUI_TOOL_GROUP_H
#define QUILLANE_GUI_TOOL_GROUP_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// Appends FG, BG, Eraser and Lasso to ed's toolbar (icons from icon_dir, a folder name ending
// in a separator), each as the item of its name, and the group's hidden member; FG starts
// pressed. The toolbar owns the items.
void add_tool_group(Editor* ed, const gchar* icon_dir);

// The pressed tool: TOOL_FG, TOOL_BG, TOOL_ERASER or TOOL_LASSO; TOOL_COUNT while the colour
// button's brush is in use (or before the window is built).
ToolbarItem pressed_tool(const Editor& ed);

// Presses item (one of the four; TOOL_COUNT: none, for the colour button's brush), which
// selects its brush or the lasso as clicking it does.
void press_tool(Editor* ed, ToolbarItem item);

// "color-set" of the colour button (data: the Editor), after the brush took the colour: Lasso
// stays pressed, any other tool button is released.
void cb_colour_tool(GtkWidget* button, gpointer editor);

// Key X: white and black swap. With Lasso pressed the lasso's colour swaps and Lasso stays;
// otherwise FG gives BG and everything else FG.
void swap_foreground_background(Editor* ed);

// Key E: the eraser. With Lasso pressed the lasso erases and stays; otherwise Eraser is
// pressed.
void choose_eraser(Editor* ed);

// Key L: presses Lasso; when it is pressed already, goes back to the brush of the lasso's
// colour.
void toggle_lasso(Editor* ed);

#endif
