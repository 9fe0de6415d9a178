// The canvas: pixel access, zoom and coordinates, the pointer readout, painting with the four
// brushes and their records, undo and redo, the two modes with the selection and its region,
// and the alpha view.
#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/pixel_access.h"
#include "gui/view.h"
#include "tests/gui/gui_harness.h"

namespace {

const double* record(int i) {
  return static_cast<const double*>(g_list_nth_data(history, guint(i)));
}
std::vector<double> points(int i) {
  return std::vector<double>(record(i) + 8, record(i) + int(record(i)[7]));
}

// The bounding box and count of the layer pixels of one colour.
struct Painted {
  int x0 = 1 << 20, y0 = 1 << 20, x1 = -1, y1 = -1, n = 0;
};
Painted painted(guint32 colour) {
  Painted p;
  int w = cairo_image_surface_get_width(surf_layer), h = cairo_image_surface_get_height(surf_layer);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (layer_pixel(x, y) == colour) {
        p.x0 = std::min(p.x0, x), p.x1 = std::max(p.x1, x), ++p.n;
        p.y0 = std::min(p.y0, y), p.y1 = std::max(p.y1, y);
      }
  return p;
}

std::set<std::pair<int, int>> view_pixels(guint32 colour) {
  std::set<std::pair<int, int>> out;
  int w = cairo_image_surface_get_width(win_surf), h = cairo_image_surface_get_height(win_surf);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (view_pixel(x, y) == colour) out.insert({x, y});
  return out;
}

// Pixels of the outline colour lie on the ring just outside the selection and cover a good
// part of it.
void expect_outline(guint32 colour) {
  auto dashes = view_pixels(colour);
  int l = int(left_x), t = int(top_y), r = int(left_x + selection_w), b = int(top_y + selection_h);
  for (auto p : dashes)
    EXPECT_TRUE(((p.first == l - 1 || p.first == r) && p.second >= t - 1 && p.second <= b) ||
                ((p.second == t - 1 || p.second == b) && p.first >= l - 1 && p.first <= r))
        << p.first << "," << p.second;
  EXPECT_GE(int(dashes.size()), (2 * (int(selection_w) + int(selection_h)) + 4) / 3);
}

void region_is(int x, int y, int w, int h) {
  EXPECT_EQ(x_img_ROI, x);
  EXPECT_EQ(y_img_ROI, y);
  EXPECT_EQ(w_img_ROI, w);
  EXPECT_EQ(h_img_ROI, h);
}

const guint32 kImage = 0xff406080u;  // a uniform image: scaled pixels stay exact

GdkPixbuf* odd_pixbuf(int bits, int channels) {
  static guchar buf[256];
  return GDK_PIXBUF(g_object_new(GDK_TYPE_PIXBUF, "colorspace", GDK_COLORSPACE_RGB, "n-channels",
                                 channels, "has-alpha", channels > 3, "bits-per-sample", bits,
                                 "width", 2, "height", 2, "rowstride", 32, "pixels", buf, nullptr));
}

}  // namespace

TEST(PixelAccess, ChannelOrdersAlphaAndPixelsOutside) {
  GdkPixbuf* rgb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 3, 2);
  gdk_pixbuf_fill(rgb, 0);
  gdkpixbuf_put_pixel(rgb, 2, 1, 10, 20, 30, 40);  // alpha dropped, row padding kept
  const guchar* p = gdk_pixbuf_get_pixels(rgb) + gdk_pixbuf_get_rowstride(rgb) + 6;
  EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{10, 20, 30, 0}));
  EXPECT_EQ(pixbuf_pixel(rgb, 2, 1), 0xff0a141eu);
  GdkPixbuf* rgba = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 4, 4);
  gdk_pixbuf_fill(rgba, 0x11223344);
  gdkpixbuf_put_pixel(rgba, 1, 3, 200, 100, 50, 7);  // straight alpha
  p = gdk_pixbuf_get_pixels(rgba) + 3 * gdk_pixbuf_get_rowstride(rgba) + 4;
  EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{200, 100, 50, 7}));
  // A native word with alpha on top: blue, green, red, alpha in little-endian memory.
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 5, 3);
  cairoimagesurface_put_pixel(s, 4, 2, 255, 1, 2, 3);
  const unsigned char* q = cairo_image_surface_get_data(s) + 2 * cairo_image_surface_get_stride(s);
  EXPECT_EQ(std::vector<int>(q + 16, q + 20), (std::vector<int>{3, 2, 1, 255}));
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(s, 4, 2, &a, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({a, r, g, b}), (std::vector<int>{255, 1, 2, 3}));
  // Outside: nothing written, the outputs left as they were.
  for (auto xy : std::vector<std::pair<int, int>>{{-1, 0}, {5, 0}, {0, -1}, {0, 4}}) {
    gdkpixbuf_put_pixel(rgba, xy.first, xy.second, 1, 2, 3, 4);
    a = r = g = b = 9;
    gdkpixbuf_get_pixel(rgba, xy.first, xy.second, &r, &g, &b, &a);
    cairoimagesurface_get_pixel(s, xy.first, xy.second, &a, &r, &g, &b);
    EXPECT_EQ(a + r + g + b, 36) << xy.first << "," << xy.second;
  }
  EXPECT_TRUE(same_pixels(4, 4, pixels_of(rgba), [](int x, int y) {
    return x == 1 && y == 3 ? 0x07c86432u : 0x44112233u;
  }));
  // cairo's own drawing reads back premultiplied.
  cairo_t* cr = cairo_create(s);
  cairo_set_source_rgba(cr, 1, 1, 1, 128 / 255.0);
  cairo_paint(cr);
  cairo_destroy(cr);
  cairo_surface_flush(s);
  cairoimagesurface_get_pixel(s, 1, 1, &a, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({a, r, g, b}), (std::vector<int>{128, 128, 128, 128}));
  cairo_surface_destroy(s);
  g_object_unref(rgb);
  g_object_unref(rgba);
}

// Broken preconditions end the program with the condition, tested in this order.
TEST(PixelAccessDeathTest, BrokenPreconditionsAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  auto get = [](GdkPixbuf* p, int x) {
    guchar r, g, b, a;
    gdkpixbuf_get_pixel(p, x, 0, &r, &g, &b, &a);
  };
  auto put_s = [](cairo_format_t f, int x, int y) {
    cairoimagesurface_put_pixel(cairo_image_surface_create(f, 4, 3), x, y, 1, 2, 3, 4);
  };
  auto get_s = [](cairo_format_t f, int x, int y) {
    guchar a, r, g, b;
    cairoimagesurface_get_pixel(cairo_image_surface_create(f, 4, 3), x, y, &a, &r, &g, &b);
  };
  const char* depth = "gdk_pixbuf_get_bits_per_sample\\(pixbuf\\) == 8";
  const char* channels = "n_channels == 4 \\|\\| n_channels == 3";
  const char* format = "cairoFMT == CAIRO_FORMAT_ARGB32 \\|\\| cairoFMT == CAIRO_FORMAT_RGB24";
  const char* xs = "x >= 0 && x < width";
  const char* ys = "y >= 0 && y < height";
  const std::pair<std::function<void()>, const char*> rows[] = {
      {[&] { get(odd_pixbuf(16, 3), 0); }, depth},
      {[&] { gdkpixbuf_put_pixel(odd_pixbuf(16, 5), 0, 0, 1, 2, 3, 4); }, depth},
      {[&] { gdkpixbuf_put_pixel(odd_pixbuf(8, 5), -1, 0, 1, 2, 3, 4); }, channels},
      {[&] { get(odd_pixbuf(8, 5), 0); }, channels},
      {[&] { put_s(CAIRO_FORMAT_ARGB32, -1, 0); }, xs},
      {[&] { put_s(CAIRO_FORMAT_ARGB32, 4, 0); }, xs},
      {[&] { put_s(CAIRO_FORMAT_ARGB32, 0, 3); }, ys},
      {[&] { put_s(CAIRO_FORMAT_RGB24, 0, -1); }, ys},
      {[&] { put_s(CAIRO_FORMAT_A8, 9, 9); }, xs},
      {[&] { put_s(CAIRO_FORMAT_A8, 0, 0); }, format},
      {[&] { get_s(CAIRO_FORMAT_A8, 1, 1); }, format},
      {[&] { get_s(CAIRO_FORMAT_A1, -1, 50); }, format},
  };
  for (const auto& row : rows)
    EXPECT_DEATH(row.first(), std::string("assertion failed: \\(") + row.second + "\\)");
}

// Window to storable (image) coordinates and back, at several zooms and brush parities.
TEST_F(EditorTest, CoordinatesFollowZoomAndBrushParity) {
  const struct {
    double zoom;
    int size;
    double wx, wy, sx, sy, bx, by;  // window, storable, and storable converted back
  } rows[] = {{200, 10, 7, 9, 3, 4, 6, 8},
              {200, 10, -1, 0, 0, 0, 0, 0},  // -0.5 truncates toward zero
              {200, 9, 7, 9, 3.5, 4.5, 6, 8},
              {12.5, 9, 17, 15, 136.5, 120.5, 17, 15}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.wx);
    zoom(r.zoom);
    brush(r.size);
    double x = -9, y = -9;
    get_storable_coords(r.wx, r.wy, &x, &y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(r.sx, r.sy));
    convert_storable_coords(r.sx, r.sy, &x, &y);
    EXPECT_EQ(std::make_pair(x, y), std::make_pair(r.bx, r.by));
  }
}

// The view surface has the zoomed size and shows the image and the strokes scaled; a zoom
// whose surface cairo cannot make is refused.
TEST_F(EditorTest, ZoomScalesTheViewSurface) {
  auto size_is = [](int w, int h) {
    EXPECT_EQ(cairo_image_surface_get_width(win_surf), w);
    EXPECT_EQ(cairo_image_surface_get_height(win_surf), h);
    int rw = -1, rh = -1;
    gtk_widget_get_size_request(drawing_area, &rw, &rh);
    EXPECT_EQ(std::make_pair(rw, rh), std::make_pair(std::max(w, 1), std::max(h, 1)));
  };
  zoom(12.5);  // the 1 x 1 placeholder shrinks to nothing without harm
  size_is(0, 0);
  open(write_image(dir_, "halves.png", 101, 51, false,
                   [](int x, int) { return x < 50 ? 0xff3070b0u : 0xffd02010u; }));
  size_is(12, 6);
  zoom(400);
  size_is(404, 204);
  zoom(100);
  press(80, 20);
  release(80, 20);
  // Stepping the spin button: 112.5 % truncates 113.625 x 57.375.
  gtk_spin_button_spin(GTK_SPIN_BUTTON(gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 9)))),
                       GTK_SPIN_STEP_FORWARD, 0);
  settle();
  EXPECT_DOUBLE_EQ(scale, 1.125);
  size_is(113, 57);
  zoom(300);
  EXPECT_EQ(view_pixel(15, 30), 0xff3070b0u);
  EXPECT_EQ(view_pixel(300, 5), 0xffd02010u);
  EXPECT_EQ(view_pixel(240, 60), 0xffffffffu) << "the stroke layer is scaled with the image";
  EXPECT_EQ(view_pixel(300, 60), 0xffd02010u);
  click(11);  // "Reset scale to 100%."
  EXPECT_EQ(scale, 1.0);
  size_is(101, 51);
  EXPECT_EQ(view_pixel(80, 20), 0xffffffffu);

  open(write_image(dir_, "long.png", 9000, 4, false, [](int, int) { return kImage; }));
  zoom(400);
  EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(zoom_adjustment), 100);
  EXPECT_DOUBLE_EQ(scale, 1.0);
  size_is(9000, 4);
  EXPECT_EQ(status_message(STATUS_MESSAGE).rfind("Cannot zoom to 400 %: ", 0), 0u);
}

// The readout shows the view pixel under the pointer and its window position; zeros outside.
TEST_F(EditorTest, PointerReadoutShowsTheViewPixelAndTheWindowPosition) {
  open(write_image(dir_, "uniform.png", 60, 40, false, [](int, int) { return kImage; }));
  press(30, 20);
  release(30, 20);
  const struct {
    double zoom;
    int x, y;
    guint state;
    const char* text;
  } rows[] = {{100, 5, 6, 0, "r064 g096 b128 a255 : x 5 y 6"},
              {100, 30, 20, 0, "r255 g255 b255 a255 : x 30 y 20"},
              {100, 60, 3, 0, "r000 g000 b000 a000 : x 60 y 3"},
              {100, 2, 40, 0, "r000 g000 b000 a000 : x 2 y 40"},
              {100, -4, -2, GDK_BUTTON1_MASK, "r000 g000 b000 a000 : x -4 y -2"},
              {200, 60, 40, 0, "r255 g255 b255 a255 : x 60 y 40"},
              {200, 118, 78, 0, "r064 g096 b128 a255 : x 118 y 78"},
              {200, 120, 79, 0, "r000 g000 b000 a000 : x 120 y 79"}};
  for (const auto& r : rows) {
    zoom(r.zoom);
    motion(r.x, r.y, r.state);
    EXPECT_EQ(readout(), r.text);
  }
}

// A click paints one round dot of the brush diameter, centred on a pixel corner (even) or a
// pixel centre (odd), records the press point twice, and is replayed the same by undo/redo.
TEST_F(EditorTest, AClickPaintsARoundDotCentredByTheBrushParity) {
  const struct {
    double zoom;
    int size, cx, cy;    // brush, click
    int x0, x1, y0, y1;  // the dot's box
    double px, py;       // the recorded point
  } rows[] = {{100, 10, 20, 20, 15, 24, 15, 24, 20, 20},
              {100, 1, 30, 12, 30, 30, 12, 12, 30.5, 12.5},
              {100, 9, 40, 30, 36, 44, 26, 34, 40.5, 30.5},
              {200, 9, 27, 29, 9, 17, 10, 18, 13.5, 14.5},
              {100, 7, 30, 20, 27, 33, 17, 23, 30.5, 20.5}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.size);
    open_generated(60, 50);
    zoom(r.zoom);
    brush(r.size);
    press(r.cx, r.cy);
    release(r.cx, r.cy);
    settle();
    Painted dot = painted(0xffffffffu);
    EXPECT_EQ(std::vector<int>({dot.x0, dot.x1, dot.y0, dot.y1}),
              std::vector<int>({r.x0, r.x1, r.y0, r.y1}));
    if (r.size > 1) {
      EXPECT_NEAR(dot.n, M_PI * r.size * r.size / 4, r.size * 1.5) << "round, not square";
      EXPECT_EQ(layer_pixel(r.x0, r.y0), 0u);
    }
    ASSERT_EQ(g_list_length(history), 1u);
    EXPECT_EQ(std::vector<double>(record(0), record(0) + 8),
              (std::vector<double>{0, r.size / 2.0, r.zoom / 100, 1, 1, 1, 1, 12}));
    EXPECT_EQ(points(0), (std::vector<double>{r.px, r.py, r.px, r.py}));
    std::vector<guint32> dot_layer = layer_snapshot();
    undo(nullptr, nullptr);
    EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 60 * 50);
    redo(nullptr, nullptr);
    EXPECT_EQ(layer_snapshot(), dot_layer);
  }
  EXPECT_EQ(view_pixel(30, 20), 0xffffffffu);
  EXPECT_EQ(view_pixel(40, 40), pixbuf_pixel(pixbuf_no_alpha, 40, 40));
}

// A drag paints until a motion without the button or a left release, wherever that happens;
// other buttons neither paint nor record.
TEST_F(EditorTest, ADragPaintsAStrokeUntilTheButtonIsUp) {
  open_generated(80, 50);
  drag(10, 20, 50, 20);
  EXPECT_TRUE(same_pixels(
      41, 1, [](int x, int) { return layer_pixel(x + 10, 20); },
      [](int, int) { return 0xffffffffu; }));
  EXPECT_EQ(layer_pixel(30, 15), 0xffffffffu);
  EXPECT_EQ(layer_pixel(30, 25), 0u) << "radius 5 reaches rows 15..24";
  EXPECT_EQ(points(0).size(), 2u * (2 + 8));  // the press twice, one point per motion
  motion(60, 40);
  motion(70, 40);
  EXPECT_EQ(layer_pixel(65, 40), 0u) << "the stroke ended";
  press(10, 40);
  motion(20, 40);
  release(-50, -50);
  motion(40, 45);
  EXPECT_EQ(layer_pixel(30, 45), 0u) << "a left release outside ended the stroke";
  press(10, 10);
  release(10, 10, 3);
  motion(30, 10);
  EXPECT_EQ(layer_pixel(20, 10), 0xffffffffu) << "another button's release does not end it";
  motion(30, 10, 0);
  press(70, 10, 0, 3);
  press(70, 30, 0, 2);
  settle();
  EXPECT_EQ(layer_pixel(70, 10) | layer_pixel(70, 30), 0u);
  EXPECT_EQ(g_list_length(history), 3u);
  // A press in view mode selects; it starts no stroke that edit mode could continue.
  set_view_mode(true);
  press(10, 30);
  set_view_mode(false);
  motion(30, 30);
  EXPECT_EQ(layer_pixel(20, 30), 0u);
  EXPECT_EQ(g_list_length(history), 3u);
}

TEST_F(EditorTest, BrushesPaintTheirColoursAndTheEraserShowsTheImage) {
  open_generated(80, 50);
  click(6);  // BG
  drag(10, 10, 10, 12);
  set_colour(0x8080, 0x4040, 0xc0c0);
  drag(30, 10, 30, 12);
  click(5);  // FG
  drag(10, 30, 70, 30);
  EXPECT_EQ(layer_pixel(10, 10), 0xff000000u);
  EXPECT_EQ(view_pixel(10, 10), 0xff000000u);
  EXPECT_EQ(layer_pixel(30, 10), 0xff8040c0u);
  EXPECT_EQ(record(1)[3], 0x8080 / 65535.0);
  EXPECT_EQ(layer_pixel(40, 30), 0xffffffffu);
  click(7);  // eraser
  drag(40, 10, 40, 40);
  const std::vector<guint32> erased = layer_snapshot();
  EXPECT_EQ(record(3)[6], 0.0);
  for (int i = 0; i < 2; ++i) {  // as painted, and replayed by undo and redo
    EXPECT_EQ(layer_pixel(40, 30), 0u);
    EXPECT_EQ(layer_pixel(38, 10), 0u) << "erasing over nothing leaves nothing";
    EXPECT_EQ(view_pixel(40, 30), pixbuf_pixel(pixbuf_no_alpha, 40, 30));
    EXPECT_EQ(layer_pixel(20, 30), 0xffffffffu) << "outside the eraser the stroke stays";
    EXPECT_EQ(layer_pixel(30, 10), 0xff8040c0u);
    EXPECT_EQ(layer_snapshot(), erased);
    ctrl(GDK_z);
    EXPECT_EQ(layer_pixel(40, 30), 0xffffffffu);
    EXPECT_EQ(view_pixel(40, 30), 0xffffffffu);
    ctrl(GDK_z);
    ctrl(GDK_y);
    ctrl(GDK_y);
  }
}

// A Control-click draws a line from the end of the previous stroke (the image origin before
// any); a double click records three strokes.
TEST_F(EditorTest, ControlClickLinesAndDoubleClicks) {
  open_generated(80, 60);
  press(30, 20, GDK_CONTROL_MASK);
  release(30, 20);
  EXPECT_EQ(points(0), (std::vector<double>{0, 0, 30, 20}));
  EXPECT_EQ(layer_pixel(15, 10) & layer_pixel(1, 1), 0xffffffffu);
  drag(10, 40, 20, 50, 2);
  press(60, 30, GDK_CONTROL_MASK);
  release(60, 30);
  EXPECT_EQ(points(2), (std::vector<double>{20, 50, 60, 30}));
  EXPECT_EQ(layer_pixel(40, 40), 0xffffffffu);
  GdkEventButton ev = {};
  ev.type = GDK_2BUTTON_PRESS;
  ev.window = drawing_area->window;
  ev.x = 70;
  ev.y = 50;
  ev.button = 1;
  press(70, 50);
  release(70, 50);
  press(70, 50);
  gtk_widget_event(drawing_area, reinterpret_cast<GdkEvent*>(&ev));
  release(70, 50);
  ASSERT_EQ(g_list_length(history), 6u);
  EXPECT_EQ(points(5), (std::vector<double>{70, 50, 70, 50}));
}

// Undo rebuilds the layer from its base and the strokes before; redo repaints the next; a new
// stroke discards what was undone.
TEST_F(EditorTest, UndoAndRedoStepThroughTheStrokes) {
  open_generated(60, 40);
  std::vector<std::vector<guint32>> states = {layer_snapshot()};
  drag(5, 5, 40, 5);  // white
  states.push_back(layer_snapshot());
  click(6);
  drag(20, 2, 20, 30);  // black, across the white one
  states.push_back(layer_snapshot());
  click(5);
  drag(50, 10, 50, 35);
  states.push_back(layer_snapshot());
  const guint32 image_20_20 = pixbuf_pixel(pixbuf_no_alpha, 20, 20);
  // Back to nothing (once more with nothing left), forward to the end (once more: nothing).
  for (int i : {2, 1, 0, 0}) {
    undo(nullptr, nullptr);
    EXPECT_EQ(layer_snapshot(), states[i]) << i;
  }
  EXPECT_EQ(current, nullptr);
  EXPECT_EQ(view_pixel(20, 5), pixbuf_pixel(pixbuf_no_alpha, 20, 5));
  for (int i : {1, 2, 3, 3}) {
    redo(nullptr, nullptr);
    EXPECT_EQ(layer_snapshot(), states[i]) << i;
  }
  EXPECT_EQ(current, g_list_last(history));
  undo(nullptr, nullptr);
  undo(nullptr, nullptr);
  EXPECT_EQ(layer_pixel(20, 5), 0xffffffffu) << "the white stroke shows again under the black";
  EXPECT_EQ(view_pixel(20, 20), image_20_20);
  drag(5, 30, 15, 30);  // discards the two undone strokes
  std::vector<guint32> after = layer_snapshot();
  EXPECT_EQ(g_list_length(history), 2u);
  redo(nullptr, nullptr);
  EXPECT_EQ(layer_snapshot(), after);
  EXPECT_EQ(layer_pixel(50, 20), 0u);
  // With everything undone a new stroke starts a list of its own.
  undo(nullptr, nullptr);
  undo(nullptr, nullptr);
  drag(30, 30, 30, 32);
  EXPECT_EQ(g_list_length(history), 1u);
  EXPECT_EQ(layer_pixel(10, 5), 0u);
}

// An undo or redo in the middle of a drag ends it: the rest of the drag paints nothing and
// appends to no record, whichever is current by then.
TEST_F(EditorTest, UndoAndRedoDuringADragStopIt) {
  open_generated(100, 60);
  drag(10, 50, 12, 50, 1);
  drag(30, 50, 32, 50, 1);
  press(10, 10);
  motion(20, 10);
  ctrl(GDK_z);
  EXPECT_EQ(current, g_list_nth(history, 1));
  motion(40, 10);
  EXPECT_EQ(layer_pixel(30, 10) | layer_pixel(15, 10), 0u);
  EXPECT_EQ(points(2).size(), 6u);
  motion(40, 10, 0);
  press(10, 30);
  motion(20, 30);
  for (int i = 0; i < 4; ++i) ctrl(GDK_z);
  motion(40, 30);
  EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 100 * 60);
  ctrl(GDK_y);
  press(10, 20);
  EXPECT_EQ(g_list_length(history), 2u) << "the press dropped the undone records";
  ctrl(GDK_y);
  motion(50, 20);
  EXPECT_EQ(layer_pixel(30, 20), 0u);
  EXPECT_EQ(points(1).size(), 4u);
  drag(70, 40, 90, 40, 2);
  EXPECT_EQ(layer_pixel(80, 40), 0xffffffffu);
}

// Strokes are recorded in image coordinates: painted and replayed at any zoom they cover the
// same layer pixels, and the view shows them at the zoom.
TEST_F(EditorTest, StrokesAtAnyZoomCoverTheSameImagePixels) {
  open_generated(80, 60);
  drag(20, 20, 40, 30, 4);
  const std::vector<guint32> at100 = layer_snapshot();
  const int n = count_pixels(at100, 0xffffffffu);
  ctrl(GDK_z);
  zoom(200);
  drag(40, 40, 80, 60, 4);
  EXPECT_EQ(layer_snapshot(), at100);
  EXPECT_EQ(record(0)[2], 2.0);
  EXPECT_NEAR(view_pixels(0xffffffffu).size(), 4 * n, 0.02 * 4 * n);
  ctrl(GDK_z);
  zoom(50);
  ctrl(GDK_y);
  EXPECT_EQ(layer_snapshot(), at100);
  EXPECT_EQ(view_pixel(15, 12), 0xffffffffu);
}

// The cursor is drawn on the window at expose time, never into the view surface: a disc in
// the brush colour with a dot of (red, 1 - green, 1 - blue) in its middle; none in view mode.
TEST_F(EditorTest, TheBrushCursorIsDrawnOnTheWindowOnly) {
  open(write_image(dir_, "grey.png", 120, 90, false, [](int, int) { return 0xff608040u; }));
  brush(20);
  auto screen = [](int x, int y) {
    settle(100);
    GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, drawing_area->window,
                                                   gdk_colormap_get_system(), x, y, 0, 0, 1, 1);
    guint32 p = shot != nullptr ? pixbuf_pixel(shot, 0, 0) & 0xffffff : 0x1000000;
    if (shot != nullptr) g_object_unref(shot);
    return p;
  };
  motion(60, 45, 0);
  EXPECT_EQ(screen(60, 45), 0xff0000u) << "red dot in the white brush";
  EXPECT_EQ(screen(68, 45), 0xffffffu);
  EXPECT_EQ(screen(74, 45), 0x608040u) << "the image outside the brush";
  EXPECT_EQ(view_pixel(60, 45), 0xff608040u) << "the view surface holds no cursor";
  click(6);
  EXPECT_EQ(screen(60, 45), 0x00ffffu) << "cyan dot in the black brush";
  motion(20, 20, 0);
  EXPECT_EQ(screen(60, 45), 0x608040u) << "the old place shows the image again";
  EXPECT_EQ(screen(20, 28), 0x000000u);
  set_view_mode(true);
  motion(40, 40, 0);
  EXPECT_EQ(screen(40, 40), 0x608040u);
}

// Edit mode: the opaque image with the strokes, the blank cursor, the painting tools. View
// mode: the image with its alpha and no strokes, the default pointer, "ALPHA".
TEST_F(EditorTest, TheModesShowTheirImageToolsAndCursor) {
  open(write_image(dir_, "halfclear.png", 60, 40, true,
                   [](int x, int) { return x < 30 ? 0x00406080u : kImage; }));
  press(45, 20);
  release(45, 20);
  const bool in_view[15] = {1, 1, 1, 1, 0, 0, 0, 0, 1, 1, 1, 1, 1, 0, 0};
  for (bool view : {true, false, true, false}) {
    SCOPED_TRACE(view);
    set_view_mode(view);
    EXPECT_EQ(in_edit_mode, !view);
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(toolbar_item(toolbar, i))),
                view ? in_view[i] : i != 3)
          << i;
    EXPECT_EQ(pixbuf_image, view ? pixbuf_alpha : pixbuf_no_alpha);
    EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), view ? nullptr : blank_cursor);
    EXPECT_EQ(view_pixel(10, 10), view ? 0u : kImage);
    EXPECT_EQ(view_pixel(45, 20), view ? kImage : 0xffffffffu);
  }
  EXPECT_EQ(layer_pixel(45, 20), 0xffffffffu);
}

// A drag in view mode selects a region, rounded half up to image pixels at any zoom, kept
// past the canvas edge; the outline follows the region to new zooms; a click selects the
// whole image.
TEST_F(EditorTest, TheSelectionGivesTheRegionAtEveryZoom) {
  open(write_image(dir_, "uniform.png", 60, 40, false, [](int, int) { return kImage; }));
  set_view_mode(true);
  press(30, 30);
  motion(30, 30, 0);
  region_is(0, 0, 60, 40);
  EXPECT_TRUE(view_pixels(0xff000000u).empty());
  drag(10, 10, 5, 20, 2);
  EXPECT_EQ(std::vector<double>({left_x, top_y, selection_w, selection_h}),
            (std::vector<double>{5, 10, 6, 11}));
  region_is(5, 10, 6, 11);
  expect_outline(0xff000000u);
  EXPECT_EQ(view_pixel(7, 15), kImage) << "the inside is untouched";
  EXPECT_EQ(view_pixels(0xff000000u).count({8, 16}), 0u) << "earlier drag positions are gone";
  zoom(200);
  drag(10, 10, 5, 20, 2);
  region_is(3, 5, 3, 6);
  zoom(400);
  EXPECT_EQ(std::vector<double>({left_x, top_y, selection_w, selection_h, m_button_x, m_button_y}),
            (std::vector<double>{12, 20, 12, 24, 23, 43}));
  expect_outline(0xff000000u);
  press(100, 100);
  motion(100, 100, 0);
  EXPECT_TRUE(view_pixels(0xff000000u).empty());
  region_is(0, 0, 60, 40);
  zoom(100);
  drag(10, 10, -5, -8, 2);
  region_is(-4, -7, 16, 19);  // (int)(-4.5) truncates toward zero
  drag(50, 30, 70, 45, 2);
  region_is(50, 30, 21, 16);
}

// "Calculate From Selection" draws the outline red, over the strokes, in either mode and at
// any zoom; off, it is black in view mode and gone in edit mode, with the strokes under it
// gone from the view (not from the layer).
TEST_F(EditorTest, TheRegionItemDrawsTheOutlineRedAndRemovesIt) {
  open(write_image(dir_, "uniform.png", 60, 40, false, [](int, int) { return kImage; }));
  select_region(10, 8, 40, 30, false);
  EXPECT_TRUE(view_pixels(0xff000000u).empty()) << "no outline in edit mode while not in use";
  press(25, 7);
  release(25, 7);
  auto toggle = [] {
    gtk_menu_item_activate(GTK_MENU_ITEM(calc_roi_item));
    settle();
  };
  toggle();
  EXPECT_EQ(calc_ROI_is_set, 1);
  expect_outline(0xffff0000u);
  EXPECT_TRUE(view_pixels(0xffff0000u).count({24, 7}) || view_pixels(0xffff0000u).count({25, 7}));
  set_view_mode(true);
  zoom(200);
  expect_outline(0xffff0000u);
  region_is(10, 8, 31, 23);
  toggle();
  EXPECT_TRUE(view_pixels(0xffff0000u).empty());
  expect_outline(0xff000000u);
  zoom(100);
  set_view_mode(false);
  toggle();
  expect_outline(0xffff0000u);
  toggle();
  EXPECT_TRUE(view_pixels(0xffff0000u).empty() && view_pixels(0xff000000u).empty());
  EXPECT_EQ(view_pixel(25, 7), kImage);
  EXPECT_EQ(layer_pixel(25, 7), 0xffffffffu);
  EXPECT_EQ(view_pixel(25, 4), 0xffffffffu) << "strokes away from the outline stay";
}

// "ALPHA" shows the alpha channel as opaque grey levels on the view only, over the outline,
// at the zoom, until the view is next rebuilt; a redo paints on top of it.
TEST_F(EditorTest, TheAlphaViewShowsGreyLevelsUntilTheViewIsRebuilt) {
  auto banded = [](int x, int) -> guint32 {
    static const guint32 alphas[4] = {0, 128, 255, 64};
    return (alphas[(x / 10) % 4] << 24) | 0xc86432u;
  };
  open(write_image(dir_, "bands.png", 40, 20, true, banded));
  click(6);
  press(25, 10);
  release(25, 10);
  ctrl(GDK_z);
  set_view_mode(true);
  drag(12, 3, 27, 16);
  click(3);
  auto grey = [](int x, int) {
    static const guint32 levels[4] = {0xff000000u, 0xff808080u, 0xffffffffu, 0xff404040u};
    return levels[(x / 10) % 4];
  };
  EXPECT_TRUE(same_pixels(40, 20, view_pixel, grey));
  motion(15, 5, 0);
  EXPECT_EQ(readout(), "r128 g128 b128 a255 : x 15 y 5");
  EXPECT_EQ(pixbuf_pixel(pixbuf_alpha, 15, 5), 0x80c86432u) << "the image keeps its alpha";
  EXPECT_EQ(in_edit_mode, 0);
  zoom(300);
  click(3);
  EXPECT_EQ(view_pixel(45, 30), 0xff808080u);
  ctrl(GDK_y);
  EXPECT_EQ(view_pixel(75, 30), 0xff000000u) << "a redo paints on top";
  EXPECT_EQ(view_pixel(45, 30), 0xff808080u);
  zoom(100);
  EXPECT_EQ(view_pixel(25, 5), 0xffc86432u) << "a zoom shows the image again";
  EXPECT_EQ(view_pixel(5, 5), 0u);
  click(3);
  ctrl(GDK_z);
  EXPECT_EQ(view_pixel(5, 5), 0u) << "and so does an undo";
  set_view_mode(false);
  set_view_mode(true);
  EXPECT_EQ(view_pixel(15, 10) >> 24, 128u) << "and a mode switch";
  // An image without alpha shows all white, at any zoom (inside its blended rim).
  open_generated(30, 20);
  zoom(200);
  click(3);
  EXPECT_TRUE(same_pixels(
      58, 38, [](int x, int y) { return view_pixel(x + 1, y + 1); },
      [](int, int) { return 0xffffffffu; }));
}
