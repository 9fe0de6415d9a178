#include "gui/clean_edges.h"

#include "matting/foreground.h"

namespace {

// True when some pixel is neither fully transparent nor opaque: only then is there anything to
// clean (and a copy worth making).
bool has_partial_alpha(GdkPixbuf* pixbuf) {
  if (!gdk_pixbuf_get_has_alpha(pixbuf)) return false;
  const int w = gdk_pixbuf_get_width(pixbuf), h = gdk_pixbuf_get_height(pixbuf);
  const int stride = gdk_pixbuf_get_rowstride(pixbuf);
  const guchar* pixels = gdk_pixbuf_read_pixels(pixbuf);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const guchar a = pixels[static_cast<size_t>(y) * stride + static_cast<size_t>(x) * 4 + 3];
      if (a != 0 && a != 255) return true;
    }
  return false;
}

}  // namespace

bool clean_pixbuf_edges(GdkPixbuf* pixbuf, bool wanted) {
  if (!wanted || !gdk_pixbuf_get_has_alpha(pixbuf)) return true;
  return clean_edge_colours(gdk_pixbuf_get_pixels(pixbuf), gdk_pixbuf_get_width(pixbuf),
                            gdk_pixbuf_get_height(pixbuf), gdk_pixbuf_get_rowstride(pixbuf)) == 0;
}

GdkPixbuf* pixbuf_to_write(GdkPixbuf* shown, bool wanted) {
  if (!wanted || !has_partial_alpha(shown)) return GDK_PIXBUF(g_object_ref(shown));
  GdkPixbuf* copy = gdk_pixbuf_copy(shown);
  // An uncleaned file written in its place would look like a success.
  if (copy != nullptr && !clean_pixbuf_edges(copy, true)) {
    g_object_unref(copy);
    copy = nullptr;
  }
  return copy;
}
