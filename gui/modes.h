// Edit and view modes, the selection rectangle and the calculation region.
//
// The selection is kept in window pixels (View: left_x, top_y, selection_w, selection_h; both
// corners included) and converted to the calculation region in image pixels (Document:
// x_img_ROI, ...). The region is not clamped here; the Calculate command clamps it before use.
// Functions that change the region take the Document from document_to_change().
#ifndef QUILLANE_GUI_MODES_H
#define QUILLANE_GUI_MODES_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// "clicked" of the mode toggle (data: the Editor): edit mode when the toggle is inactive,
// view mode when active.
void cb_toggle_mode(GtkWidget* button, gpointer editor);

// "activate" of "Calculate _From Selection" (data: the Editor): the region is in use while
// the item is active. Refused, with the item put back, while a calculation runs.
void toggle_calc_ROI(GtkWidget* item, gpointer editor);

// Sets the selection from the anchor (m_button_x, m_button_y) to window point (x, y) and
// draws its dashed outline (black, or red while the region is in use) on the view surface;
// queues the redraw on widget.
void draw_rect(Editor* ed, GtkWidget* widget, double x, double y);

// Removes the outline from the view surface by repainting the image there.
void del_rect(Editor* ed, GtkWidget* widget);

// Window selection of view to doc's region (rounded half up), for the image on show.
void set_img_ROI_values(const View& view, Document* doc);

// Image region of doc to view's selection at the current zoom, and the anchor to its far
// corner.
void set_ROI_for_winsurf(View* view, const Document& doc);

// Records that doc's region now describes an image of width x height.
void note_region_image(Document* doc, int width, int height);

// True when doc's region has been chosen for an image of width x height (not an empty one,
// and not one left from an image of another size).
bool region_belongs_to_image(const Document& doc, int width, int height);

// View-mode press: removes the outline and makes the region the whole image.
void start_selection(Editor* ed, Document* doc, GtkWidget* widget);

// View-mode drag to window point (x, y): redraws the outline and updates the region.
void drag_selection(Editor* ed, Document* doc, GtkWidget* widget, int x, int y);

// Shows and hides the toolbar items of the current mode.
void show_mode_items(View* view);

// The canvas cursor of the current mode: blank in edit mode (the brush is drawn instead),
// the default pointer in view mode.
void set_mode_cursor(const View& view);

#endif
