// Undo and redo of strokes. The layer is never stored as snapshots: undo repaints the layer's
// base (initialisinglayer) and replays the recorded strokes up to the new current one; redo
// paints the next recorded stroke on top.
#ifndef QUILLANE_GUI_HISTORY_H
#define QUILLANE_GUI_HISTORY_H

#include <gtk/gtk.h>

// Edit menu handlers; arguments not used.
void undo(GtkWidget* item, gpointer data);
void redo(GtkWidget* item, gpointer data);

// Resets the layer to its base and repaints the view with the image and the base.
void clear_drawing();

// Paints one stroke record (layout in brush.h) on the layer and on the view, in image
// coordinates at the current zoom.
void paint_stroke_array(const double* record);

#endif
