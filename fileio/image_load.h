// Reading image files, the one way the editor's three open modes and quillane-matte share,
// so that an image and the stroke layer saved for it always have the same size and pixels.
// GdkPixbuf only: no GTK widgets.
#ifndef QUILLANE_FILEIO_IMAGE_LOAD_H
#define QUILLANE_FILEIO_IMAGE_LOAD_H

#include <gdk-pixbuf/gdk-pixbuf.h>

// The largest width or height a cairo image surface can have; the editor's limit.
const int image_max_side_for_surfaces = 32767;

// Loads filename (any format GdkPixbuf reads), turned by its EXIF orientation the way every
// viewer shows it. Refused, with a one-line reason in *error (GDK_PIXBUF_ERROR or
// G_FILE_ERROR; g_error_free): a directory; a file the loader cannot read; a damaged or
// cut-short JPEG, GIF, BMP or ICO (image_intact.h: the loader alone would fill in grey or black
// rows); a width or height above max_side (0: no limit), checked before decoding; a pixel
// format other than 8-bit RGB(A).
// Returns a new 8-bit RGB or RGBA pixbuf (g_object_unref), or null.
GdkPixbuf* load_image_file(const char* filename, int max_side, GError** error);

#endif
