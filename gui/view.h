// The canvas view: zoom, copying the view surface to the window, coordinate conversions
// and the pointer readout.
//
// Window coordinates are drawing-area pixels (= view-surface pixels). Image coordinates are
// window coordinates / scale. Storable coordinates are image coordinates snapped to whole
// pixels and, for an odd brush diameter, moved to the pixel centre (+0.5).
#ifndef QUILLANE_GUI_VIEW_H
#define QUILLANE_GUI_VIEW_H

#include <gtk/gtk.h>

#include "gui/editor.h"
#include "gui/status_line.h"

// "clicked" of "Reset scale to 100%.": sets the zoom adjustment to 100.
void cb_zoom_to(GtkWidget* button, GtkAdjustment* zoom);

// "value_changed" of the zoom adjustment (data: the Editor): applies its value / 100 as the
// zoom and rebuilds the view surface at the new size; a size cairo cannot make is refused in
// the status bar and the adjustment put back.
void cb_draw_zoom(GtkAdjustment* zoom, gpointer editor);

// Repaints the whole view surface from the image on show (and the stroke layer in edit
// mode), after clearing it to transparent. Does not queue a redraw.
void rebuild_view_surface(Editor* ed);

// Replaces the view surface by a new transparent one of the image size times scale and sets
// the drawing area's size request to it. When cairo cannot make the surface (too large at
// this zoom, or no memory) returns FALSE with *error set and changes nothing.
gboolean resize_view_surface(View* view, int img_width, int img_height, GError** error);

// Takes surface (owned from now on) as the view surface and sets the drawing area's size
// request to its size.
void install_view_surface(View* view, cairo_surface_t* surface);

// Drawing-area handlers (data: the Editor): copy the view surface to the window (expose also
// draws the brush cursor in edit mode).
gboolean configure_event(GtkWidget* widget, GdkEventConfigure* event, gpointer editor);
gboolean on_expose_event(GtkWidget* widget, GdkEventExpose* event, gpointer editor);

// In window x, y; out image x, y in storable coordinates (for ed's zoom and brush).
void get_storable_coords(const Editor* ed, double x, double y, double* img_x, double* img_y);

// In storable x, y; out window x, y (inverse of get_storable_coords up to the snapping).
void convert_storable_coords(const Editor* ed, double img_x, double img_y, double* x, double* y);

// Out: storable coordinates of window point (x, y) and of the stroke's previous point.
void get_4_storable_coords(const Editor* ed, double x, double y, double* img_x, double* img_y,
                           double* prev_img_x, double* prev_img_y);

// Shows "r%03d g%03d b%03d a%03d : x %d y %d" for window point (x, y) on context 0, unless a
// command message was shown a moment ago.
void update_pointer_readout(View* view, int x, int y);

#endif
