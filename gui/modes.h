// Edit and view modes, the selection rectangle and the calculation region.
//
// The selection is kept in window pixels (left_x, top_y, selection_w, selection_h; both
// corners included) and converted to the calculation region in image pixels (x_img_ROI, ...).
// The region is not clamped here; the Calculate command clamps it before use.
#ifndef QUILLANE_GUI_MODES_H
#define QUILLANE_GUI_MODES_H

#include <gtk/gtk.h>

// "clicked" of toolbar item 0: edit mode when the toggle is inactive, view mode when active.
void cb_toggle_mode(GtkWidget* button, gpointer tb);

// "activate" of "Calculate _From Selection": the region is in use while the item is active.
void toggle_calc_ROI(GtkWidget* item, gpointer data);

// Sets the selection from the anchor (m_button_x, m_button_y) to window point (x, y) and
// draws its dashed outline (black, or red while the region is in use) on the view surface.
void draw_rect(GtkWidget* widget, double x, double y);

// Removes the outline from the view surface by repainting the image there.
void del_rect(GtkWidget* widget);

// Window selection to image region (rounded half up). The arguments are not used.
void set_img_ROI_values(int x, int y);

// Image region to window selection at the current zoom, and the anchor to its far corner.
void set_ROI_for_winsurf();

// Records that the region now describes an image of width x height.
void note_region_image(int width, int height);

// True when a region has been chosen for an image of width x height (not an empty one, and
// not one left from an image of another size).
bool region_belongs_to_image(int width, int height);

// View-mode press: removes the outline and makes the region the whole image.
void start_selection(GtkWidget* widget);

// View-mode drag to window point (x, y): redraws the outline and updates the region.
void drag_selection(GtkWidget* widget, int x, int y);

// Shows and hides the toolbar items of the current mode.
void show_mode_items(GtkWidget* tb);

// The canvas cursor of the current mode: blank in edit mode (the brush is drawn instead),
// the default pointer in view mode.
void set_mode_cursor();

#endif
