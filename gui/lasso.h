// The lasso: fills a closed outline on the stroke layer in the brush's colour, by the colour
// rules of strokes (opaque, no antialiasing; the eraser clears). A left drag draws a freehand
// outline that the release fills; Control-clicks add straight sides (a polygon) that a double
// click or Enter fills and Escape drops. Corners are kept in image coordinates at the centre
// of the pixel under the pointer, so the same pixels are filled at every zoom; the outline's
// own pixels are filled too. One fill is one record of the stroke history:
//
// Fill record: one g_malloc'ed array of doubles owned by its history node, laid out as a
// stroke record (brush.h) with kind 1:
//   [0] kind (1 = lasso fill) [1] not used [2] scale at the fill [3..5] red, green, blue
//   [6] alpha (0 = eraser) [7] length = 8 + 2 * corners [8, 9] first corner x, y (image
//   coordinates, pixel centres) [10, 11] ... further corners; the outline closes by itself.
#ifndef QUILLANE_GUI_LASSO_H
#define QUILLANE_GUI_LASSO_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// The kind of a fill record in the stroke history.
const int kLassoFillRecord = 1;

// Edit-mode pointer events while Lasso is the pressed tool (the brush handlers hand them
// over; widget: the drawing area; window coordinates). A press starts or extends the outline;
// a double click or the release of a freehand drag fills it; motion extends a drag and moves
// the crosshair.
void lasso_press(Editor* ed, GtkWidget* widget, const GdkEventButton* event);
void lasso_motion(Editor* ed, GtkWidget* widget, int x, int y, GdkModifierType state);

// A left release: fills a freehand outline in edit mode (drops it in view mode). Returns true
// when the lasso had a drag to end.
bool lasso_release(Editor* ed);

// Enter fills the polygon in progress, Escape drops the outline. Returns true when the key
// was used (false: no outline, or another key).
bool lasso_key(Editor* ed, guint keyval);

// Forgets the outline in progress, if any, and takes it off the screen.
void drop_lasso_outline(Editor* ed);

// Paints a fill record (layout above) on the layer and on the view at the current zoom, and
// queues the redraw of its area. In record: read only.
void paint_fill_record(Editor* ed, const double* record);

// Draws the outline in progress and the lasso's cursor (a crosshair with a swatch of the fill
// colour, crossed out for the eraser) on a context of the drawing area's window.
void draw_lasso(const Editor* ed, cairo_t* cr);

// Queues a redraw of the cursor's area, after a change of tool or colour.
void redraw_lasso_cursor(const Editor* ed);

#endif
