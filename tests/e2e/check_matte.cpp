// Checks the PNG the editor saved after a calculation against the stroke layer it saved before:
// RGBA, the image's size, alpha near 255 under white strokes, near 0 under black strokes, and
// partial values along the subject's edge. Prints what it measured; exit 0 when all hold.
#include <gdk-pixbuf/gdk-pixbuf.h>

#include <cstdio>

namespace {

const guchar* pixel(GdkPixbuf* p, int x, int y) {
  return gdk_pixbuf_get_pixels(p) + y * gdk_pixbuf_get_rowstride(p) +
         x * gdk_pixbuf_get_n_channels(p);
}

GdkPixbuf* load(const char* path) {
  GError* error = nullptr;
  GdkPixbuf* p = gdk_pixbuf_new_from_file(path, &error);
  if (p == nullptr) {
    std::fprintf(stderr, "check_matte: %s: %s\n", path, error->message);
    g_error_free(error);
  }
  return p;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: check_matte RESULT.png STROKES.png WIDTH HEIGHT\n");
    return 2;
  }
  GdkPixbuf* result = load(argv[1]);
  GdkPixbuf* strokes = load(argv[2]);
  if (result == nullptr || strokes == nullptr) return 1;
  int w = atoi(argv[3]), h = atoi(argv[4]);
  int failures = 0;
  auto expect = [&](bool ok, const char* what) {
    std::printf("%s %s\n", ok ? "ok  " : "FAIL", what);
    if (!ok) ++failures;
  };
  expect(gdk_pixbuf_get_has_alpha(result) && gdk_pixbuf_get_n_channels(result) == 4,
         "result is RGBA");
  expect(gdk_pixbuf_get_width(result) == w && gdk_pixbuf_get_height(result) == h,
         "result has the image's size");
  expect(gdk_pixbuf_get_has_alpha(strokes), "stroke layer has alpha");
  if (failures) return 1;

  long fg = 0, fg_high = 0, bg = 0, bg_low = 0, partial = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const guchar* s = pixel(strokes, x, y);
      int a = pixel(result, x, y)[3];
      if (a > 12 && a < 243) ++partial;
      if (s[3] != 255) continue;
      if (s[0] == 255 && s[1] == 255 && s[2] == 255) {
        ++fg;
        fg_high += a >= 230;
      } else if (s[0] == 0 && s[1] == 0 && s[2] == 0) {
        ++bg;
        bg_low += a <= 25;
      }
    }
  std::printf(
      "white stroke pixels %ld (alpha >= 230: %ld), black stroke pixels %ld (alpha <= 25: %ld), "
      "partial alpha pixels %ld\n",
      fg, fg_high, bg, bg_low, partial);
  expect(fg > 500 && bg > 500, "both kinds of strokes were painted");
  expect(fg_high >= fg * 99 / 100, "alpha near 255 under the white strokes");
  expect(bg_low >= bg * 99 / 100, "alpha near 0 under the black strokes");
  expect(partial > 1000, "partial alpha along the subject's edge");
  g_object_unref(result);
  g_object_unref(strokes);
  return failures ? 1 : 0;
}
