// Single-pixel access to pixbufs and cairo image surfaces: channel orders, the alpha byte of
// 3- and 4-channel pixbufs, the native word layout of surfaces, out-of-range behaviour and
// the fatal precondition checks (run in child processes).
#include <cstring>
#include <initializer_list>
#include <string>
#include <utility>

#include "gui/pixel_access.h"
#include "tests/gui/gui_harness.h"

namespace {

// A pixbuf GdkPixbuf itself would never make (other depth or channel count), over buf.
GdkPixbuf* odd_pixbuf(int bits, int channels, guchar* buf) {
  return GDK_PIXBUF(g_object_new(GDK_TYPE_PIXBUF, "colorspace", GDK_COLORSPACE_RGB, "n-channels",
                                 channels, "has-alpha", channels > 3, "bits-per-sample", bits,
                                 "width", 2, "height", 2, "rowstride", 32, "pixels", buf, nullptr));
}

// The GLib assertion message for a failed condition, as a regular expression.
std::string assertion_regex(const std::string& condition) {
  std::string out = "assertion failed: \\(";
  for (char c : condition) {
    if (std::strchr("()[]{}.*+?|^$\\", c) != nullptr) out += '\\';
    out += c;
  }
  return out + "\\)";
}

}  // namespace

TEST(PixbufPixel, ThreeChannelsDropAlphaAndReadBackOpaque) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 3, 2);
  gdk_pixbuf_fill(pb, 0x00000000);
  gdkpixbuf_put_pixel(pb, 2, 1, 10, 20, 30, 40);
  // Width 3 x 3 bytes = 9, padded to a rowstride of 12: the pixel lives at 12 + 6.
  ASSERT_EQ(gdk_pixbuf_get_rowstride(pb), 12);
  const guchar* px = gdk_pixbuf_get_pixels(pb);
  EXPECT_EQ(px[18], 10);
  EXPECT_EQ(px[19], 20);
  EXPECT_EQ(px[20], 30);
  EXPECT_EQ(px[21], 0) << "the byte after the last pixel (row padding) must stay";
  guchar r = 0, g = 0, b = 0, a = 0;
  gdkpixbuf_get_pixel(pb, 2, 1, &r, &g, &b, &a);
  EXPECT_EQ(r, 10);
  EXPECT_EQ(g, 20);
  EXPECT_EQ(b, 30);
  EXPECT_EQ(a, 255);
  g_object_unref(pb);
}

TEST(PixbufPixel, FourChannelsKeepStraightAlpha) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 4, 4);
  gdk_pixbuf_fill(pb, 0x00000000);
  gdkpixbuf_put_pixel(pb, 1, 3, 200, 100, 50, 7);
  const guchar* p = gdk_pixbuf_get_pixels(pb) + 3 * gdk_pixbuf_get_rowstride(pb) + 4;
  EXPECT_EQ(p[0], 200);
  EXPECT_EQ(p[1], 100);
  EXPECT_EQ(p[2], 50);
  EXPECT_EQ(p[3], 7) << "alpha is stored as given, colour not premultiplied";
  EXPECT_EQ(pixbuf_pixel(pb, 1, 3), 0x07c86432u);
  EXPECT_EQ(pixbuf_pixel(pb, 0, 3), 0u);
  g_object_unref(pb);
}

TEST(PixbufPixel, OutsideWritesNothingAndLeavesOutputs) {
  GdkPixbuf* pb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 3);
  gdk_pixbuf_fill(pb, 0x11223344);
  size_t size = size_t(gdk_pixbuf_get_rowstride(pb)) * 3;
  std::string before(reinterpret_cast<char*>(gdk_pixbuf_get_pixels(pb)), size);
  for (std::pair<int, int> xy : std::initializer_list<std::pair<int, int>>{
           {-1, 0}, {3, 0}, {0, -1}, {0, 3}, {-1, -1}, {3, 3}}) {
    gdkpixbuf_put_pixel(pb, xy.first, xy.second, 1, 2, 3, 4);
    guchar r = 9, g = 8, b = 7, a = 6;
    gdkpixbuf_get_pixel(pb, xy.first, xy.second, &r, &g, &b, &a);
    EXPECT_EQ(r, 9) << xy.first << "," << xy.second;
    EXPECT_EQ(g, 8);
    EXPECT_EQ(b, 7);
    EXPECT_EQ(a, 6);
  }
  EXPECT_EQ(std::string(reinterpret_cast<char*>(gdk_pixbuf_get_pixels(pb)), size), before);
  g_object_unref(pb);
}

TEST(SurfacePixel, NativeWordWithAlphaOnTop) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 5, 3);
  cairoimagesurface_put_pixel(s, 4, 2, 255, 1, 2, 3);
  cairo_surface_mark_dirty(s);
  const unsigned char* p =
      cairo_image_surface_get_data(s) + 2 * cairo_image_surface_get_stride(s) + 16;
  // Little-endian memory order of the word 0xAARRGGBB: blue, green, red, alpha.
  EXPECT_EQ(p[0], 3);
  EXPECT_EQ(p[1], 2);
  EXPECT_EQ(p[2], 1);
  EXPECT_EQ(p[3], 255);
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(s, 4, 2, &a, &r, &g, &b);
  EXPECT_EQ(a, 255);
  EXPECT_EQ(r, 1);
  EXPECT_EQ(g, 2);
  EXPECT_EQ(b, 3);
  // Outside: outputs untouched.
  for (std::pair<int, int> xy :
       std::initializer_list<std::pair<int, int>>{{-1, 0}, {5, 0}, {0, -1}, {0, 3}}) {
    guchar oa = 41, orr = 42, og = 43, ob = 44;
    cairoimagesurface_get_pixel(s, xy.first, xy.second, &oa, &orr, &og, &ob);
    EXPECT_EQ(oa, 41);
    EXPECT_EQ(orr, 42);
    EXPECT_EQ(og, 43);
    EXPECT_EQ(ob, 44);
  }
  cairo_surface_destroy(s);
}

TEST(SurfacePixel, CairoDrawingReadsBackPremultipliedAndRgb24Works) {
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 2, 2);
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgba(cr, 1, 1, 1, 128 / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(s, 1, 1, &a, &r, &g, &b);
  EXPECT_EQ(a, 128);
  EXPECT_EQ(r, 128);
  EXPECT_EQ(g, 128);
  EXPECT_EQ(b, 128);
  cairo_surface_destroy(s);

  cairo_surface_t* rgb = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 2, 2);
  cairoimagesurface_put_pixel(rgb, 1, 0, 255, 9, 8, 7);
  cairoimagesurface_get_pixel(rgb, 1, 0, &a, &r, &g, &b);
  EXPECT_EQ(r, 9);
  EXPECT_EQ(g, 8);
  EXPECT_EQ(b, 7);
  cairo_surface_destroy(rgb);
}

class PixelAccessDeathTest : public ::testing::Test {
 protected:
  void SetUp() override { GTEST_FLAG_SET(death_test_style, "threadsafe"); }
};

namespace {

guchar death_buf[256];

void read_odd(int bits, int channels, int x) {
  guchar r, g, b, a;
  gdkpixbuf_get_pixel(odd_pixbuf(bits, channels, death_buf), x, 0, &r, &g, &b, &a);
}

void write_odd(int bits, int channels, int x) {
  gdkpixbuf_put_pixel(odd_pixbuf(bits, channels, death_buf), x, 0, 1, 2, 3, 4);
}

void surface_put(cairo_format_t fmt, int x, int y) {
  cairo_surface_t* s = cairo_image_surface_create(fmt, 4, 3);
  cairoimagesurface_put_pixel(s, x, y, 1, 2, 3, 4);
}

void surface_get(cairo_format_t fmt, int x, int y) {
  cairo_surface_t* s = cairo_image_surface_create(fmt, 4, 3);
  guchar a, r, g, b;
  cairoimagesurface_get_pixel(s, x, y, &a, &r, &g, &b);
}

const char kFormatCheck[] = "cairoFMT == CAIRO_FORMAT_ARGB32 || cairoFMT == CAIRO_FORMAT_RGB24";

}  // namespace

// The colour-space check cannot be reached: GdkPixbuf knows no colour space but RGB.
TEST_F(PixelAccessDeathTest, PixbufOfOtherDepthOrChannelsIsFatal) {
  const std::string depth = assertion_regex("gdk_pixbuf_get_bits_per_sample(pixbuf) == 8");
  const std::string channels = assertion_regex("n_channels == 4 || n_channels == 3");
  EXPECT_DEATH(read_odd(16, 3, 0), depth);
  EXPECT_DEATH(write_odd(16, 3, 0), depth);
  // The depth is tested before the channels, and both before the range: a point outside
  // is fatal too.
  EXPECT_DEATH(write_odd(16, 5, 0), depth);
  EXPECT_DEATH(write_odd(8, 5, -1), channels);
  EXPECT_DEATH(read_odd(8, 5, 0), channels);
}

TEST_F(PixelAccessDeathTest, SurfaceWriteOutsideOrOfOtherFormatIsFatal) {
  EXPECT_DEATH(surface_put(CAIRO_FORMAT_ARGB32, -1, 0), assertion_regex("x >= 0 && x < width"));
  EXPECT_DEATH(surface_put(CAIRO_FORMAT_ARGB32, 4, 0), assertion_regex("x >= 0 && x < width"));
  EXPECT_DEATH(surface_put(CAIRO_FORMAT_ARGB32, 0, 3), assertion_regex("y >= 0 && y < height"));
  EXPECT_DEATH(surface_put(CAIRO_FORMAT_RGB24, 0, -1), assertion_regex("y >= 0 && y < height"));
  // x is tested before y, and both before the format.
  EXPECT_DEATH(surface_put(CAIRO_FORMAT_A8, 9, 9), assertion_regex("x >= 0 && x < width"));
  EXPECT_DEATH(surface_put(CAIRO_FORMAT_A8, 0, 0), assertion_regex(kFormatCheck));
}

TEST_F(PixelAccessDeathTest, SurfaceReadOfOtherFormatIsFatalEvenOutside) {
  EXPECT_DEATH(surface_get(CAIRO_FORMAT_A8, 1, 1), assertion_regex(kFormatCheck));
  EXPECT_DEATH(surface_get(CAIRO_FORMAT_A1, -1, 50), assertion_regex(kFormatCheck));
}
