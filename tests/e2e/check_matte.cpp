// Checks the PNG the editor saved after a calculation against the stroke layer it saved before:
// RGBA of the image's size, alpha near 255 under white strokes and near 0 under black ones, and
// partial values along the subject's edge. Prints what it measured; exit 0 when all hold.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
  GdkPixbuf* result = argc == 5 ? gdk_pixbuf_new_from_file(argv[1], nullptr) : nullptr;
  GdkPixbuf* strokes = result != nullptr ? gdk_pixbuf_new_from_file(argv[2], nullptr) : nullptr;
  const int w = argc == 5 ? std::atoi(argv[3]) : 0, h = argc == 5 ? std::atoi(argv[4]) : 0;
  if (strokes == nullptr || gdk_pixbuf_get_n_channels(result) != 4 ||
      gdk_pixbuf_get_n_channels(strokes) != 4 || gdk_pixbuf_get_width(result) != w ||
      gdk_pixbuf_get_height(result) != h) {
    std::fprintf(stderr, "usage: check_matte RESULT.png STROKES.png WIDTH HEIGHT (both RGBA)\n");
    return 1;
  }
  long fg = 0, fg_high = 0, bg = 0, bg_low = 0, partial = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const guchar* s =
          gdk_pixbuf_get_pixels(strokes) + y * gdk_pixbuf_get_rowstride(strokes) + x * 4;
      const int a = gdk_pixbuf_get_pixels(result)[y * gdk_pixbuf_get_rowstride(result) + x * 4 + 3];
      const bool white = s[3] == 255 && s[0] == 255 && s[1] == 255 && s[2] == 255;
      const bool black = s[3] == 255 && s[0] == 0 && s[1] == 0 && s[2] == 0;
      fg += white, fg_high += white && a >= 230;
      bg += black, bg_low += black && a <= 25;
      partial += a > 12 && a < 243;
    }
  const bool ok =
      fg > 500 && bg > 500 && fg_high >= fg * 99 / 100 && bg_low >= bg * 99 / 100 && partial > 1000;
  std::printf(
      "%s: white stroke pixels %ld (alpha >= 230: %ld), black %ld (alpha <= 25: %ld), "
      "partial alpha %ld\n",
      ok ? "ok" : "FAIL", fg, fg_high, bg, bg_low, partial);
  return ok ? 0 : 1;
}
