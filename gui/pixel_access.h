// Single-pixel access to GdkPixbufs (red, green, blue, alpha; straight alpha) and to cairo
// ARGB32/RGB24 image surfaces (one native 32-bit word per pixel, alpha on top, premultiplied).
// Bytes are moved as they stand: nothing is premultiplied or un-premultiplied here.
// Preconditions are programming errors and end the program through g_assert-style checks.
#ifndef QUILLANE_GUI_PIXEL_ACCESS_H
#define QUILLANE_GUI_PIXEL_ACCESS_H

#include <cairo.h>
#include <gdk-pixbuf/gdk-pixbuf.h>

// Writes red, green, blue, and alpha when the pixbuf has 4 channels. Does nothing when
// (x, y) lies outside. The pixbuf must be RGB, 8 bits per sample, 3 or 4 channels.
void gdkpixbuf_put_pixel(GdkPixbuf* pixbuf, int x, int y, guchar r, guchar g, guchar b, guchar a);

// Out r, g, b, a: the pixel; alpha is 255 for a 3-channel pixbuf. The outputs are left
// untouched when (x, y) lies outside.
void gdkpixbuf_get_pixel(GdkPixbuf* pixbuf, int x, int y, guchar* r, guchar* g, guchar* b,
                         guchar* a);

// Writes the word (a, r, g, b) of pixel (x, y); (x, y) must lie inside. Callers mark the
// surface dirty afterwards.
void cairoimagesurface_put_pixel(cairo_surface_t* surface, int x, int y, guchar a, guchar r,
                                 guchar g, guchar b);

// Out a, r, g, b: the word of pixel (x, y); untouched when (x, y) lies outside. Callers flush
// the surface first when cairo drew on it.
void cairoimagesurface_get_pixel(cairo_surface_t* surface, int x, int y, guchar* a, guchar* r,
                                 guchar* g, guchar* b);

// Start of row y of a pixbuf, and of a 32-bit surface, for loops over whole images: the
// single-pixel operations above check their preconditions on every call, which costs seconds
// on a large photograph. The caller stays inside the raster (row < height, column < width).
inline guchar* pixbuf_row(GdkPixbuf* pixbuf, int y) {
  return gdk_pixbuf_get_pixels(pixbuf) + static_cast<size_t>(y) * gdk_pixbuf_get_rowstride(pixbuf);
}
inline guint32* surface_row(cairo_surface_t* surface, int y) {
  return reinterpret_cast<guint32*>(cairo_image_surface_get_data(surface) +
                                    static_cast<size_t>(y) *
                                        cairo_image_surface_get_stride(surface));
}

#endif
