#include "gui/image_source.h"

#include <gdk/gdk.h>

#include "gui/checked_surface.h"
#include "gui/gtkquillane.h"

namespace {

GdkPixbuf* cached_pixbuf = nullptr;
cairo_surface_t* cached_surface = nullptr;

}  // namespace

void invalidate_image_source() {
  if (cached_surface != nullptr) cairo_surface_destroy(cached_surface);
  cached_surface = nullptr;
  cached_pixbuf = nullptr;
}

void set_source_image(cairo_t* cr) {
  if (cached_pixbuf != pixbuf_image || cached_surface == nullptr) {
    invalidate_image_source();
    int w = gdk_pixbuf_get_width(pixbuf_image), h = gdk_pixbuf_get_height(pixbuf_image);
    cached_surface = checked_image_surface(
        gdk_pixbuf_get_has_alpha(pixbuf_image) ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, w, h,
        nullptr);
    if (cached_surface == nullptr) {
      // No memory for the copy: draw from the pixbuf itself, slower but right.
      gdk_cairo_set_source_pixbuf(cr, pixbuf_image, 0, 0);
      return;
    }
    cairo_t* copy = cairo_create(cached_surface);
    gdk_cairo_set_source_pixbuf(copy, pixbuf_image, 0, 0);
    cairo_set_operator(copy, CAIRO_OPERATOR_SOURCE);
    cairo_paint(copy);
    cairo_destroy(copy);
    cached_pixbuf = pixbuf_image;
  }
  cairo_set_source_surface(cr, cached_surface, 0, 0);
}
