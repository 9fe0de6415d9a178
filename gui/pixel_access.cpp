#include "gui/pixel_access.h"

#include <cstdint>
#include <cstring>

#include <glib.h>

// g_assert() compiles away under G_DISABLE_ASSERT; these checks must not.
#define PIXEL_CHECK(expr)                                                           \
  do {                                                                              \
    if (G_UNLIKELY(!(expr)))                                                        \
      g_assertion_message_expr(G_LOG_DOMAIN, __FILE__, __LINE__, G_STRFUNC, #expr); \
  } while (0)

namespace {

int checked_channels(GdkPixbuf* pixbuf) {
  PIXEL_CHECK(gdk_pixbuf_get_colorspace(pixbuf) == GDK_COLORSPACE_RGB);
  PIXEL_CHECK(gdk_pixbuf_get_bits_per_sample(pixbuf) == 8);
  int n_channels = gdk_pixbuf_get_n_channels(pixbuf);
  PIXEL_CHECK(n_channels == 4 || n_channels == 3);
  return n_channels;
}

bool outside(int x, int y, int width, int height) {
  return x < 0 || x >= width || y < 0 || y >= height;
}

}  // namespace

void gdkpixbuf_put_pixel(GdkPixbuf* pixbuf, int x, int y, guchar r, guchar g, guchar b, guchar a) {
  int n_channels = checked_channels(pixbuf);
  if (outside(x, y, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf))) return;
  guchar* p = gdk_pixbuf_get_pixels(pixbuf) +
              static_cast<size_t>(y) * gdk_pixbuf_get_rowstride(pixbuf) + x * n_channels;
  p[0] = r;
  p[1] = g;
  p[2] = b;
  if (n_channels == 4) p[3] = a;
}

void gdkpixbuf_get_pixel(GdkPixbuf* pixbuf, int x, int y, guchar* r, guchar* g, guchar* b,
                         guchar* a) {
  int n_channels = checked_channels(pixbuf);
  if (outside(x, y, gdk_pixbuf_get_width(pixbuf), gdk_pixbuf_get_height(pixbuf))) return;
  const guchar* p = gdk_pixbuf_get_pixels(pixbuf) +
                    static_cast<size_t>(y) * gdk_pixbuf_get_rowstride(pixbuf) + x * n_channels;
  *r = p[0];
  *g = p[1];
  *b = p[2];
  *a = n_channels == 4 ? p[3] : 255;
}

void cairoimagesurface_put_pixel(cairo_surface_t* surface, int x, int y, guchar a, guchar r,
                                 guchar g, guchar b) {
  int width = cairo_image_surface_get_width(surface);
  int height = cairo_image_surface_get_height(surface);
  PIXEL_CHECK(x >= 0 && x < width);
  PIXEL_CHECK(y >= 0 && y < height);
  cairo_format_t cairoFMT = cairo_image_surface_get_format(surface);
  PIXEL_CHECK(cairoFMT == CAIRO_FORMAT_ARGB32 || cairoFMT == CAIRO_FORMAT_RGB24);
  uint32_t word = (uint32_t(a) << 24) | (uint32_t(r) << 16) | (uint32_t(g) << 8) | b;
  unsigned char* p = cairo_image_surface_get_data(surface) +
                     static_cast<size_t>(y) * cairo_image_surface_get_stride(surface) + x * 4;
  std::memcpy(p, &word, 4);
}

void cairoimagesurface_get_pixel(cairo_surface_t* surface, int x, int y, guchar* a, guchar* r,
                                 guchar* g, guchar* b) {
  int width = cairo_image_surface_get_width(surface);
  int height = cairo_image_surface_get_height(surface);
  bool in_range = !outside(x, y, width, height);
  cairo_format_t cairoFMT = cairo_image_surface_get_format(surface);
  PIXEL_CHECK(cairoFMT == CAIRO_FORMAT_ARGB32 || cairoFMT == CAIRO_FORMAT_RGB24);
  if (!in_range) return;
  uint32_t word;
  std::memcpy(&word,
              cairo_image_surface_get_data(surface) +
                  static_cast<size_t>(y) * cairo_image_surface_get_stride(surface) + x * 4,
              4);
  *a = word >> 24;
  *r = (word >> 16) & 255;
  *g = (word >> 8) & 255;
  *b = word & 255;
}
