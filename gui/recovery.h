// Strokes survive a crash: before each calculation the stroke layer is written to a recovery
// file, one per image, in $XDG_STATE_HOME/quillane/recovery (~/.local/state/quillane/recovery
// when XDG_STATE_HOME is not set), named by a hash of the image's canonical path (links,
// "." and ".." resolved). A normal close removes the files of its session; opening an image
// for which one is left offers to restore it, once the file has been read back whole.
// Problems with these files are said in the status bar, and on stderr.
#ifndef QUILLANE_GUI_RECOVERY_H
#define QUILLANE_GUI_RECOVERY_H

#include <cairo.h>
#include <gtk/gtk.h>

#include <string>

#include "gui/editor.h"

// The recovery file of image_path (absolute or relative to the working folder; its canonical
// path names the file); newly allocated (g_free).
gchar* recovery_file_for(const gchar* image_path);

// Writes layer as the recovery file of image_path (null: nothing to do), replacing the old
// one atomically (a temporary file beside it, then a rename); a layer unchanged since it was
// last written there is not written again. A failure is reported on stderr and in *problem
// (when not null; the file and the system's reason) and otherwise ignored: the calculation
// goes on. Returns true when the file holds the layer. In-out session: the files of this run,
// and what was written last.
bool write_recovery_file(Session* session, const gchar* image_path, cairo_surface_t* layer,
                         std::string* problem = nullptr);

// Before a calculation: writes ed's stroke layer as the recovery file of its image; a failure
// is said in the status bar too ("Strokes not kept for recovery: ...").
void keep_strokes_for_recovery(Editor* ed);

// When a recovery file of image_path is left over, reads it back whole first: one that is not
// a stroke layer (a PNG with alpha) of ed's image size, or is damaged or cut short, is removed
// and the status bar says why. A usable one is offered in "Restore strokes": Restore opens it
// as the stroke layer (unsaved, so closing asks about it), Discard deletes it; closing the
// question keeps it.
void offer_recovery(Editor* ed, const gchar* image_path);

// Deletes the recovery files this run wrote or restored (after a normal close).
void remove_recovery_files(Session* session);

#endif
