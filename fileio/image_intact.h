// Whether an image file is whole. GdkPixbuf's loaders accept some damaged or cut-short files
// and fill in what is missing (a JPEG partly grey, a GIF, BMP or ICO with black rows); a
// matte pulled from such an image, or strokes read from such a layer, would be silently wrong.
#ifndef QUILLANE_FILEIO_IMAGE_INTACT_H
#define QUILLANE_FILEIO_IMAGE_INTACT_H

#include <gdk-pixbuf/gdk-pixbuf.h>

// In filename; format: GdkPixbuf's name of its format ("jpeg", "gif", "bmp", "ico", ...).
// Checks what the loader would not: a JPEG whose decoder reports damage or a premature end; a
// GIF that ends inside a block or before its first image; a BMP or ICO shorter than its
// headers say. Returns false with *error set (GDK_PIXBUF_ERROR_CORRUPT_IMAGE, a one-line
// reason naming the file; g_error_free); true for intact files, for other formats and for a
// file that cannot be opened (the loader reports that).
bool image_file_intact(const char* filename, const char* format, GError** error);

#endif
