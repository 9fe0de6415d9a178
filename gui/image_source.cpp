#include "gui/image_source.h"

#include <gdk/gdk.h>

#include "gui/checked_surface.h"

void invalidate_image_source(View* view) {
  if (view->source_surface != nullptr) cairo_surface_destroy(view->source_surface);
  view->source_surface = nullptr;
  view->source_pixbuf = nullptr;
}

void set_source_image(View* view, cairo_t* cr) {
  GdkPixbuf* shown = view->pixbuf_image;
  cairo_surface_t* backdrop = view->backdrop;  // the live matte's picture of the image
  if (backdrop != nullptr &&
      cairo_image_surface_get_width(backdrop) == gdk_pixbuf_get_width(shown) &&
      cairo_image_surface_get_height(backdrop) == gdk_pixbuf_get_height(shown)) {
    cairo_set_source_surface(cr, backdrop, 0, 0);
    return;
  }
  if (view->source_pixbuf != shown || view->source_surface == nullptr) {
    invalidate_image_source(view);
    int w = gdk_pixbuf_get_width(shown), h = gdk_pixbuf_get_height(shown);
    view->source_surface = checked_image_surface(
        gdk_pixbuf_get_has_alpha(shown) ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, w, h, nullptr);
    if (view->source_surface == nullptr) {
      // No memory for the copy: draw from the pixbuf itself, slower but right.
      gdk_cairo_set_source_pixbuf(cr, shown, 0, 0);
      return;
    }
    cairo_t* copy = cairo_create(view->source_surface);
    gdk_cairo_set_source_pixbuf(copy, shown, 0, 0);
    cairo_set_operator(copy, CAIRO_OPERATOR_SOURCE);
    cairo_paint(copy);
    cairo_destroy(copy);
    view->source_pixbuf = shown;
  }
  cairo_set_source_surface(cr, view->source_surface, 0, 0);
}
