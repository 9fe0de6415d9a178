// "Clean edge colours": a saved or copied cut-out gets the estimated foreground colour at its
// partly transparent pixels, so that it composites over a new background without a fringe of
// the old one. The Save dialog's check box sets the choice (Session::clean_edges_wanted, off
// at start, kept until the editor quits); Copy follows it.
#ifndef QUILLANE_GUI_CLEAN_EDGES_H
#define QUILLANE_GUI_CLEAN_EDGES_H

#include <gtk/gtk.h>

// In-out pixbuf: when wanted and the pixbuf has an alpha channel, the colours of its pixels
// with 0 < alpha < 255 become their estimated foreground colours; nothing else changes.
// Returns false, with the pixbuf unchanged, when memory runs out for the estimation.
bool clean_pixbuf_edges(GdkPixbuf* pixbuf, bool wanted);

// The pixbuf to write for `shown`: when wanted and that changes anything, a copy with clean
// edge colours, else `shown` itself. Either way a new reference the caller releases with
// g_object_unref; `shown` is never changed. Null when the colours were wanted but memory ran
// out (kCleanEdgesNoMemory says so): nothing is to be written then.
GdkPixbuf* pixbuf_to_write(GdkPixbuf* shown, bool wanted);

// Why a save or a copy with clean edge colours wrote nothing.
inline constexpr char kCleanEdgesNoMemory[] = "not enough memory to clean the edge colours";

#endif
