#include "gui/checked_surface.h"

cairo_surface_t* checked_image_surface(cairo_format_t format, int width, int height,
                                       GError** error) {
  cairo_surface_t* surface = cairo_image_surface_create(format, width, height);
  const cairo_status_t status = cairo_surface_status(surface);
  // An empty surface (a tiny image at a small zoom) has no pixel data and needs none.
  if (status == CAIRO_STATUS_SUCCESS &&
      (cairo_image_surface_get_data(surface) != nullptr || width == 0 || height == 0))
    return surface;
  cairo_surface_destroy(surface);
  g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_NOMEM,
              "cannot make a drawing surface of %dx%d pixels (%s)", width, height,
              status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : "no pixel data");
  return nullptr;
}
