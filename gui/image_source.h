// A cairo surface copy of the image on show, kept in the view record so that the eraser and
// the outline removal, which repaint small areas from the image many times a second, do not
// convert the whole pixbuf on every call. Below 100 % a second copy holds the image already
// scaled to the zoom (no larger than the image), so that repainting large areas, as a lasso
// fill with the eraser or an undo does, copies pixels instead of filtering the whole image
// again; it gives the pixels that painting the image at that scale gives. The live matte's
// picture of the image has a scaled copy of its own, for the same reason.
#ifndef QUILLANE_GUI_IMAGE_SOURCE_H
#define QUILLANE_GUI_IMAGE_SOURCE_H

#include <cairo.h>

#include "gui/editor.h"

// Sets view's pixbuf_image at (0, 0) as the source of cr, in cr's user units (image pixels;
// in-out view: its copies), or the live matte's picture of it (View::backdrop) while there is
// one of its size.
void set_source_image(View* view, cairo_t* cr);

// Forgets the copy; call after the pixels of the document's pixbufs change. Switching
// pixbuf_image between the two needs no call.
void invalidate_image_source(View* view);

// Makes picture the live matte's picture of the image (View::backdrop; owned by the view from
// now on, null for none), releasing the previous one and its scaled copy. Paints nothing.
void set_backdrop(View* view, cairo_surface_t* picture);

#endif
