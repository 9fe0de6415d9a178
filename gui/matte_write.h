// Writing a calculated matte into the document's image with alpha, as Calculate's delivery and
// the live matte do it: colours from the image, alpha from the matte inside the region, 0
// outside.
#ifndef QUILLANE_GUI_MATTE_WRITE_H
#define QUILLANE_GUI_MATTE_WRITE_H

#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdint>

#include "matting/calc_input.h"

// Out with_alpha: an RGBA pixbuf the size of image. In image: RGB or RGBA, the colours. In
// alpha: a width x height matte (bytes at alpha[row * stride + column]) of region, whose pixel
// (0, 0) is image pixel (region.x, region.y); pixels of the region beyond the matte get 0.
// Main thread (the pixbufs are the document's).
void write_region_matte(GdkPixbuf* with_alpha, GdkPixbuf* image, const CalcRegion& region,
                        const uint8_t* alpha, int width, int height, int stride);

#endif
