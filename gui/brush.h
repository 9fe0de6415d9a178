// Brushes and strokes: painting on the stroke layer and the view surface, recording strokes
// in the history, and the program's own brush cursor.
//
// Stroke record: one g_malloc'ed array of doubles owned by its history node:
//   [0] kind (0 = brush stroke) [1] radius [2] scale at the start [3..5] red, green, blue
//   [6] alpha (0 = eraser) [7] length = 8 + 2 * points [8, 9] first point x, y (storable
//   coordinates) [10, 11] ... further points.
#ifndef QUILLANE_GUI_BRUSH_H
#define QUILLANE_GUI_BRUSH_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// Drawing-area handlers (data: the Editor): a left press starts a stroke (edit mode) or a
// selection (view mode; refused while a calculation runs); motion extends it; both end with
// the pointer readout. Return TRUE.
gboolean button_press_event(GtkWidget* widget, GdkEventButton* event, gpointer editor);
gboolean motion_notify_event(GtkWidget* widget, GdkEventMotion* event, gpointer editor);

// A left release ends the stroke in progress, wherever the pointer is (the press grabbed it),
// so that the next press never continues it. Returns TRUE.
gboolean button_release_event(GtkWidget* widget, GdkEventButton* event, gpointer editor);

// The stroke in progress (or the lasso fill just recorded, lasso.h) is complete: every stroke
// and fill ends here, once, after its record is whole (in-out ed: no stroke in progress).
void end_stroke(Editor* ed);

// Appends a new stroke record of ed's brush (8 doubles, no points yet) after the current one,
// discarding the undone records after it first, and makes it current.
void manage_glist_mbutton_press(Editor* ed);

// Paints the segment from the stroke's previous point to window point (x, y) on both surfaces,
// queues its redraw on widget and appends the point to the current record.
void draw_line(Editor* ed, GtkWidget* widget, double x, double y);

// Strokes one segment of ed's brush from the previous point to window point (x, y) on cr
// (whose user units are image pixels); out x1..y2: the path extents in image pixels.
void standard_draw(const Editor* ed, cairo_t* cr, int x, int y, double* x1, double* y1, double* x2,
                   double* y2);

// Draws the brush cursor on a context of the drawing area's window.
void draw_brush(const Editor* ed, cairo_t* cr);

// Queues a redraw covering the cursor's last drawn and its new position (x, y).
void initiate_cursor_redraw(const Editor* ed, GtkWidget* widget, int x, int y);

// Queues a redraw around the cursor after a brush change.
void redraw_brush(const Editor* ed);

// Toolbar handlers (data: the Editor): brush size ("value_changed") and the four brushes.
void cb_set_brush_size(GtkAdjustment* adjustment, gpointer editor);
void cb_set_FG(GtkWidget* widget, gpointer editor);
void cb_set_BG(GtkWidget* widget, gpointer editor);
void cb_set_Eraser(GtkWidget* widget, gpointer editor);
void cb_set_Color(GtkWidget* widget, gpointer editor);

// Frees every record of list and the list itself.
void free_stroke_list(GList* list);

// Empties the history (history and current become null) and ends any stroke in progress.
void clear_history(Editor* ed);

#endif
