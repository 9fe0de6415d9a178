#include "gui/matte_write.h"

void write_region_matte(GdkPixbuf* with_alpha, GdkPixbuf* image, const CalcRegion& r,
                        const uint8_t* alpha, int width, int height, int stride) {
  const int W = gdk_pixbuf_get_width(with_alpha);
  const int H = gdk_pixbuf_get_height(with_alpha);
  const guchar* src = gdk_pixbuf_get_pixels(image);
  const int src_stride = gdk_pixbuf_get_rowstride(image);
  const int src_channels = gdk_pixbuf_get_n_channels(image);
  guchar* dst = gdk_pixbuf_get_pixels(with_alpha);
  const int dst_stride = gdk_pixbuf_get_rowstride(with_alpha);
  for (int y = 0; y < H; ++y) {
    const guchar* s = src + static_cast<size_t>(y) * src_stride;
    guchar* d = dst + static_cast<size_t>(y) * dst_stride;
    const int yr = y - r.y;
    for (int x = 0; x < W; ++x, s += src_channels, d += 4) {
      const int xr = x - r.x;
      const bool inside = xr >= 0 && xr < r.w && yr >= 0 && yr < r.h && xr < width && yr < height;
      d[0] = s[0];
      d[1] = s[1];
      d[2] = s[2];
      d[3] = inside ? alpha[static_cast<size_t>(yr) * stride + xr] : 0;
    }
  }
}
