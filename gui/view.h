// The canvas view: zoom, copying the view surface to the window, coordinate conversions
// and the status bar.
//
// Window coordinates are drawing-area pixels (= view-surface pixels). Image coordinates are
// window coordinates / scale. Storable coordinates are image coordinates snapped to whole
// pixels and, for an odd brush diameter, moved to the pixel centre (+0.5).
#ifndef QUILLANE_GUI_VIEW_H
#define QUILLANE_GUI_VIEW_H

#include <gtk/gtk.h>

// "clicked" of "Reset scale to 100%.": sets the zoom adjustment to 100.
void cb_zoom_to(GtkWidget* button, GtkAdjustment* zoom);

// "value_changed" of the zoom adjustment: applies its value / 100 as the zoom and rebuilds
// the view surface at the new size.
void cb_draw_zoom(GtkAdjustment* zoom, gpointer window);

// Repaints the whole view surface from the image on show (and the stroke layer in edit
// mode), after clearing it to transparent. Does not queue a redraw.
void rebuild_view_surface();

// Replaces win_surf by a new transparent surface of the image size times scale and sets the
// drawing area's size request to it. When cairo cannot make the surface (too large at this
// zoom, or no memory) returns FALSE with *error set and changes nothing.
gboolean resize_view_surface(int img_width, int img_height, GError** error);

// Takes view (owned from now on) as win_surf and sets the drawing area's size request to its
// size.
void install_view_surface(cairo_surface_t* view);

// Drawing-area handlers: copy the view surface to the window (expose also draws the brush
// cursor in edit mode).
gboolean configure_event(GtkWidget* widget, GdkEventConfigure* event, gpointer data);
gboolean on_expose_event(GtkWidget* widget, GdkEventExpose* event, gpointer data);

// In window x, y; out image x, y in storable coordinates.
void get_storable_coords(double x, double y, double* img_x, double* img_y);

// In storable x, y; out window x, y (inverse of get_storable_coords up to the snapping).
void convert_storable_coords(double img_x, double img_y, double* x, double* y);

// Out: storable coordinates of window point (x, y) and of the stroke's previous point
// (prev_x, prev_y).
void get_4_storable_coords(double x, double y, double* img_x, double* img_y, double* prev_img_x,
                           double* prev_img_y);

// Replaces the status bar's message on context id with text.
void update_statusbar(const gchar* text, guint context_id, GtkWidget* bar);

// Shows "r%03d g%03d b%03d a%03d : x %d y %d" for window point (x, y) on context 0.
void update_pointer_readout(int x, int y);

// Status-bar contexts: 0 the pointer readout, 1 command messages.
enum { STATUS_POINTER = 0, STATUS_MESSAGE = 1 };

#endif
