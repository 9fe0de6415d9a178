// Making the editor's cairo image surfaces. cairo does not fail loudly: a surface it cannot
// make (wider or taller than 32767 pixels, or no memory) is an error object without pixel
// data, and writing its rows directly would write through a null pointer. Every surface the
// editor makes comes from here and is checked.
#ifndef QUILLANE_GUI_CHECKED_SURFACE_H
#define QUILLANE_GUI_CHECKED_SURFACE_H

#include <cairo.h>
#include <glib.h>

// A new image surface of format, width x height pixels, cleared to transparent; or null with
// *error set (G_FILE_ERROR_NOMEM, a sentence naming the size; g_error_free) when cairo cannot
// make it. Release with cairo_surface_destroy().
cairo_surface_t* checked_image_surface(cairo_format_t format, int width, int height,
                                       GError** error);

#endif
