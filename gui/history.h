// Undo and redo of strokes. The layer is never stored as snapshots: undo repaints the layer's
// base (initialisinglayer) and replays the recorded strokes up to the new current one; redo
// paints the next recorded stroke on top. Lasso fills (lasso.h) are records of their own kind,
// replayed in the same order.
#ifndef QUILLANE_GUI_HISTORY_H
#define QUILLANE_GUI_HISTORY_H

#include <gtk/gtk.h>

#include "gui/editor.h"

// Edit menu handlers (data: the Editor); the item is not used.
void undo(GtkWidget* item, gpointer editor);
void redo(GtkWidget* item, gpointer editor);

// Resets the layer to its base and repaints the view with the image and the base.
void clear_drawing(Editor* ed);

// Paints one stroke record (layout in brush.h) on the layer and on the view, in image
// coordinates at the current zoom.
void paint_stroke_array(Editor* ed, const double* record);

#endif
