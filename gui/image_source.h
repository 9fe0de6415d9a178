// A cairo surface copy of the image on show, kept in the view record so that the eraser and
// the outline removal, which repaint small areas from the image many times a second, do not
// convert the whole pixbuf on every call.
#ifndef QUILLANE_GUI_IMAGE_SOURCE_H
#define QUILLANE_GUI_IMAGE_SOURCE_H

#include <cairo.h>

#include "gui/editor.h"

// Sets view's pixbuf_image at (0, 0) as the source of cr (in-out view: its copy), or the live
// matte's picture of it (View::backdrop) while there is one of its size.
void set_source_image(View* view, cairo_t* cr);

// Forgets the copy; call after the pixels of the document's pixbufs change. Switching
// pixbuf_image between the two needs no call.
void invalidate_image_source(View* view);

#endif
