#include "gui/image_source.h"

#include <gdk/gdk.h>

#include "gui/checked_surface.h"

void invalidate_image_source(View* view) {
  if (view->source_surface != nullptr) cairo_surface_destroy(view->source_surface);
  if (view->scaled_source != nullptr) cairo_surface_destroy(view->scaled_source);
  view->source_surface = view->scaled_source = nullptr;
  view->source_pixbuf = nullptr;
  view->scaled_for = 0;
}

namespace {

// The copy scaled to view's zoom, made when missing or made for another zoom; null when cairo
// cannot make it (the caller then scales the 1:1 copy).
cairo_surface_t* scaled_copy(View* view) {
  const double s = view->scale;
  if (view->scaled_source != nullptr && view->scaled_for == s) return view->scaled_source;
  if (view->scaled_source != nullptr) cairo_surface_destroy(view->scaled_source);
  view->scaled_for = 0;
  const int w = cairo_image_surface_get_width(view->source_surface);
  const int h = cairo_image_surface_get_height(view->source_surface);
  view->scaled_source = checked_image_surface(CAIRO_FORMAT_ARGB32, static_cast<int>(w * s),
                                              static_cast<int>(h * s), nullptr);
  if (view->scaled_source == nullptr) return nullptr;
  cairo_t* cr = cairo_create(view->scaled_source);
  cairo_scale(cr, s, s);
  cairo_set_source_surface(cr, view->source_surface, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  view->scaled_for = s;
  return view->scaled_source;
}

}  // namespace

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
  // Drawn at the zoom below 100 %, as the view is: the scaled copy, pixel for pixel.
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  const double s = view->scale;
  cairo_surface_t* scaled =
      s < 1 && m.xx == s && m.yy == s && m.xy == 0 && m.yx == 0 && m.x0 == 0 && m.y0 == 0
          ? scaled_copy(view)
          : nullptr;
  if (scaled == nullptr) {
    cairo_set_source_surface(cr, view->source_surface, 0, 0);
    return;
  }
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(scaled);
  cairo_matrix_t to_view;
  cairo_matrix_init_scale(&to_view, s, s);  // pattern space = user space * s = device space
  cairo_pattern_set_matrix(pattern, &to_view);
  cairo_set_source(cr, pattern);
  cairo_pattern_destroy(pattern);
}
