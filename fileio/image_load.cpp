#include "fileio/image_load.h"

#include <cstring>

#include "fileio/image_intact.h"

namespace {

// True, with *error set, when width or height exceeds max_side (0: no limit).
bool too_large(const char* filename, int width, int height, int max_side, GError** error) {
  if (max_side <= 0 || (width <= max_side && height <= max_side)) return false;
  gchar* name = g_filename_display_basename(filename);
  g_set_error(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
              "\xe2\x80\x9c%s\xe2\x80\x9d is %dx%d pixels; at most %d in each direction can be "
              "shown",
              name, width, height, max_side);
  g_free(name);
  return true;
}

}  // namespace

GdkPixbuf* load_image_file(const char* filename, int max_side, GError** error) {
  if (g_file_test(filename, G_FILE_TEST_IS_DIR)) {  // the loader would say "contains no data"
    gchar* name = g_filename_display_name(filename);
    g_set_error(error, G_FILE_ERROR, G_FILE_ERROR_ISDIR,
                "\xe2\x80\x9c%s\xe2\x80\x9d is a directory", name);
    g_free(name);
    return nullptr;
  }
  int width = 0, height = 0;
  GdkPixbufFormat* format = gdk_pixbuf_get_file_info(filename, &width, &height);
  if (format != nullptr && too_large(filename, width, height, max_side, error)) return nullptr;
  gchar* format_name = format != nullptr ? gdk_pixbuf_format_get_name(format) : nullptr;
  const bool intact = format_name == nullptr || image_file_intact(filename, format_name, error);
  g_free(format_name);
  if (!intact) return nullptr;

  GdkPixbuf* loaded = gdk_pixbuf_new_from_file(filename, error);
  if (loaded == nullptr) return nullptr;
  GdkPixbuf* oriented = gdk_pixbuf_apply_embedded_orientation(loaded);
  g_object_unref(loaded);
  if (oriented == nullptr) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_INSUFFICIENT_MEMORY,
                        "not enough memory to turn the image");
    return nullptr;
  }
  if (gdk_pixbuf_get_bits_per_sample(oriented) != 8 ||
      gdk_pixbuf_get_colorspace(oriented) != GDK_COLORSPACE_RGB ||
      gdk_pixbuf_get_n_channels(oriented) < 3) {
    g_set_error_literal(error, GDK_PIXBUF_ERROR, GDK_PIXBUF_ERROR_UNKNOWN_TYPE,
                        "unsupported pixel format");
    g_object_unref(oriented);
    return nullptr;
  }
  // A format whose size could not be read before decoding is checked now.
  if (too_large(filename, gdk_pixbuf_get_width(oriented), gdk_pixbuf_get_height(oriented), max_side,
                error)) {
    g_object_unref(oriented);
    return nullptr;
  }
  return oriented;
}
