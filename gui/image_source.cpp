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

void set_backdrop(View* view, cairo_surface_t* picture) {
  if (view->backdrop != nullptr) cairo_surface_destroy(view->backdrop);
  if (view->scaled_backdrop != nullptr) cairo_surface_destroy(view->scaled_backdrop);
  view->backdrop = picture;
  view->scaled_backdrop = nullptr;
  view->backdrop_scaled_for = 0;
}

namespace {

// *copy: whole scaled to view's zoom, made when missing or made for another zoom (*made_for);
// null when cairo cannot make it (the caller then scales whole).
cairo_surface_t* scaled_copy(const View& view, cairo_surface_t* whole, cairo_surface_t** copy,
                             double* made_for) {
  const double s = view.scale;
  if (*copy != nullptr && *made_for == s) return *copy;
  if (*copy != nullptr) cairo_surface_destroy(*copy);
  *made_for = 0;
  const int w = cairo_image_surface_get_width(whole);
  const int h = cairo_image_surface_get_height(whole);
  *copy = checked_image_surface(CAIRO_FORMAT_ARGB32, static_cast<int>(w * s),
                                static_cast<int>(h * s), nullptr);
  if (*copy == nullptr) return nullptr;
  cairo_t* cr = cairo_create(*copy);
  cairo_scale(cr, s, s);
  cairo_set_source_surface(cr, whole, 0, 0);
  cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
  cairo_paint(cr);
  cairo_destroy(cr);
  *made_for = s;
  return *copy;
}

}  // namespace

void set_source_image(View* view, cairo_t* cr) {
  GdkPixbuf* shown = view->pixbuf_image;
  cairo_surface_t* whole = view->backdrop;  // the live matte's picture of the image
  cairo_surface_t** copy = &view->scaled_backdrop;
  double* made_for = &view->backdrop_scaled_for;
  if (whole == nullptr || cairo_image_surface_get_width(whole) != gdk_pixbuf_get_width(shown) ||
      cairo_image_surface_get_height(whole) != gdk_pixbuf_get_height(shown)) {
    if (view->source_pixbuf != shown || view->source_surface == nullptr) {
      invalidate_image_source(view);
      int w = gdk_pixbuf_get_width(shown), h = gdk_pixbuf_get_height(shown);
      view->source_surface = checked_image_surface(
          gdk_pixbuf_get_has_alpha(shown) ? CAIRO_FORMAT_ARGB32 : CAIRO_FORMAT_RGB24, w, h,
          nullptr);
      if (view->source_surface == nullptr) {
        // No memory for the copy: draw from the pixbuf itself, slower but right.
        gdk_cairo_set_source_pixbuf(cr, shown, 0, 0);
        return;
      }
      cairo_t* c = cairo_create(view->source_surface);
      gdk_cairo_set_source_pixbuf(c, shown, 0, 0);
      cairo_set_operator(c, CAIRO_OPERATOR_SOURCE);
      cairo_paint(c);
      cairo_destroy(c);
      view->source_pixbuf = shown;
    }
    whole = view->source_surface;
    copy = &view->scaled_source;
    made_for = &view->scaled_for;
  }
  // Drawn at the zoom below 100 %, as the view is: the scaled copy, pixel for pixel.
  cairo_matrix_t m;
  cairo_get_matrix(cr, &m);
  const double s = view->scale;
  cairo_surface_t* scaled =
      s < 1 && m.xx == s && m.yy == s && m.xy == 0 && m.yx == 0 && m.x0 == 0 && m.y0 == 0
          ? scaled_copy(*view, whole, copy, made_for)
          : nullptr;
  if (scaled == nullptr) {
    cairo_set_source_surface(cr, whole, 0, 0);
    return;
  }
  cairo_pattern_t* pattern = cairo_pattern_create_for_surface(scaled);
  cairo_matrix_t to_view;
  cairo_matrix_init_scale(&to_view, s, s);  // pattern space = user space * s = device space
  cairo_pattern_set_matrix(pattern, &to_view);
  cairo_set_source(cr, pattern);
  cairo_pattern_destroy(pattern);
}
