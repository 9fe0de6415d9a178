// Strokes survive a crash: before each calculation the stroke layer is written to a recovery
// file, one per image, in $XDG_STATE_HOME/quillane/recovery (~/.local/state/quillane/recovery
// when XDG_STATE_HOME is not set), named by a hash of the image's absolute path. A normal
// close removes the files of its session; opening an image for which one is left offers to
// restore it.
#ifndef QUILLANE_GUI_RECOVERY_H
#define QUILLANE_GUI_RECOVERY_H

#include <cairo.h>
#include <gtk/gtk.h>

#include "gui/editor.h"

// The recovery file of image_path (absolute); newly allocated (g_free).
gchar* recovery_file_for(const gchar* image_path);

// Writes layer as the recovery file of image_path (null: nothing to do), replacing the old
// one atomically (a temporary file beside it, then a rename); a layer unchanged since it was
// last written there is not written again. A failure is reported on stderr and otherwise
// ignored: the calculation goes on. Returns true when the file holds the layer. In-out
// session: the files of this run, and what was written last.
bool write_recovery_file(Session* session, const gchar* image_path, cairo_surface_t* layer);

// When a recovery file of image_path is left over and fits ed's image, asks "Restore
// strokes": Restore opens it as the stroke layer (unsaved, so closing asks about it), Discard
// deletes it; closing the question keeps it.
void offer_recovery(Editor* ed, const gchar* image_path);

// Deletes the recovery files this run wrote or restored (after a normal close).
void remove_recovery_files(Session* session);

#endif
