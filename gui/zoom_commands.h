// Zooming as other editors do, beside the toolbar's zoom controls: Control + wheel zooms
// around the pointer, View > "Zoom to fit" (Ctrl+0) fits the image in the window. Both set
// the zoom adjustment, so the spin button and slider show the new zoom and cb_draw_zoom()
// (view.h) rebuilds the view; the zoom stays within 12.5 .. 400 %.
#ifndef QUILLANE_GUI_ZOOM_COMMANDS_H
#define QUILLANE_GUI_ZOOM_COMMANDS_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// The zoom range of the adjustment, in percent.
const double kZoomLowest = 12.5, kZoomHighest = 400.0;

// The zoom one wheel step away from percent: the next of 12.5, 16.7, 25, 33.3, 50, 66.7, 100,
// 150, 200, 300, 400 above it (direction +1) or below it (-1); percent itself at either end.
double wheel_zoom_step(double percent, int direction);

// Zooms ed to percent (clamped to the range) so that the image point under drawing-area point
// (x, y) stays at the same place on the screen, as far as the scroll range allows.
void zoom_around(Editor* ed, double percent, double x, double y);

// "scroll-event" of the drawing area (data: the Editor): with Control the wheel zooms around
// the pointer and returns TRUE; without, FALSE lets the scrolled window scroll.
gboolean cb_canvas_scroll(GtkWidget* widget, GdkEventScroll* event, gpointer editor);

// Sets the largest zoom (to 0.1 %, within the range) at which the whole image fits in the
// canvas's part of the window without scroll bars.
void zoom_to_fit(Editor* ed);

// View > "Zoom to fit" (data: the Editor); the item is not used.
void cb_zoom_to_fit(GtkWidget* item, gpointer editor);

#endif
