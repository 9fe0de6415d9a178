// The file dialogs' preview: a thumbnail decoded at the preview's size, never the whole image.
// JPEG files are decoded scaled down (libjpeg's 1/2 .. 1/8 scaling, which GdkPixbuf uses when
// asked for a size); the other formats are decoded at full size and scaled afterwards, so a
// file larger than the budget below gets no preview (a 110 KB PNG may hold 30000 x 30000
// pixels).
#ifndef QUILLANE_GUI_FILE_PREVIEW_H
#define QUILLANE_GUI_FILE_PREVIEW_H

#include <gdk-pixbuf/gdk-pixbuf.h>

// Pixels of a format without scaled decoding that a preview may decode: 32 megapixels.
const double kPreviewFullDecodeLimit = 32e6;

// A thumbnail of filename that fits size x size (aspect kept), or null: not an image, damaged,
// or too large to decode for a preview. A new pixbuf (g_object_unref).
GdkPixbuf* load_preview(const char* filename, int size);

#endif
