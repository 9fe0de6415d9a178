// The editor window: it comes up in edit mode with its icons, its menus and accelerators reach
// their commands, its geometry is kept between runs (ignored when absurd, centred when off
// every monitor). Its canvas: pixel access, zoom and the pointer readout, painting with the
// four brushes and their records, undo and redo, the two modes with the selection and its
// region, and the alpha view.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <functional>
#include <set>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "gui/pixel_access.h"
#include "tests/gui/gui_harness.h"

namespace {

struct EnvGuard {  // sets (or, with null, unsets) a variable until the end of the scope
  EnvGuard(const char* name, const char* value) : name(name), old(g_strdup(g_getenv(name))) {
    set(value);
  }
  ~EnvGuard() { set(old), g_free(old); }
  void set(const char* v) { v != nullptr ? (void)g_setenv(name, v, TRUE) : g_unsetenv(name); }
  const char* name;
  gchar* old;
};

// x, y, width, height: of the window frame, and as the geometry file holds them.
using Geometry = std::vector<int>;
Geometry window_geometry() {
  settle(200);
  int x = 0, y = 0;
  gdk_window_get_root_origin(ed->view.main_window->window, &x, &y);
  return {x, y, ed->view.main_window->allocation.width, ed->view.main_window->allocation.height};
}
std::string bytes_of(const Geometry& g) {  // four little-endian 32-bit integers
  std::string out;
  for (int v : g)
    for (int b = 0; b < 4; ++b) out += char((unsigned(v) >> (8 * b)) & 255);
  return out;
}
std::string geometry_path(const std::string& base) {
  return base + "/Tessaly/quillane/quillane-1.0";
}

const guint32 kImage = 0xff406080u;  // a uniform image: scaled pixels stay exact

const double* record(int i) {
  return static_cast<const double*>(g_list_nth_data(ed->strokes.history, guint(i)));
}
std::vector<double> points(int i) {
  return std::vector<double>(record(i) + 8, record(i) + int(record(i)[7]));
}
int count(guint32 colour) {
  std::vector<guint32> layer = layer_snapshot();
  return int(std::count(layer.begin(), layer.end(), colour));
}
std::set<std::pair<int, int>> view_pixels(guint32 colour) {
  std::set<std::pair<int, int>> out;
  int w = cairo_image_surface_get_width(ed->view.win_surf),
      h = cairo_image_surface_get_height(ed->view.win_surf);
  for (int i = 0; i < w * h; ++i)
    if (view_pixel(i % w, i / w) == colour) out.insert({i % w, i / w});
  return out;
}
std::string readout() {
  return gtk_label_get_text(
      GTK_LABEL(find_widget(ed->view.status_bar, [](GtkWidget* w) { return GTK_IS_LABEL(w); })));
}
std::vector<int> region() {
  return {ed->doc().x_img_ROI, ed->doc().y_img_ROI, ed->doc().w_img_ROI, ed->doc().h_img_ROI};
}

// The selection's outline: pixels of its colour lie on the ring just outside the selection
// and cover a good part of it.
void expect_outline(guint32 colour) {
  auto dashes = view_pixels(colour);
  int l = int(ed->view.left_x), t = int(ed->view.top_y),
      r = int(ed->view.left_x + ed->view.selection_w),
      b = int(ed->view.top_y + ed->view.selection_h);
  for (auto p : dashes)
    EXPECT_TRUE(((p.first == l - 1 || p.first == r) && p.second >= t - 1 && p.second <= b) ||
                ((p.second == t - 1 || p.second == b) && p.first >= l - 1 && p.first <= r))
        << p.first << "," << p.second;
  EXPECT_GE(int(dashes.size()), (2 * (r - l + b - t) + 4) / 3);
}

}  // namespace

TEST_F(EditorTest, TheEditorComesUpInEditModeAndItsCommandsAreReached) {
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(ed->view.main_window)), "Tessaly");
  for (int i = 0; i < TOOL_COUNT; ++i)
    EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(ed->view.tool[i])), i != TOOL_ALPHA) << i;
  for (int i : {TOOL_MODE, TOOL_ALPHA, TOOL_FG,
                TOOL_BG}) {  // read from ICON_DIR, not the missing-image placeholder
    GtkWidget* image = gtk_tool_button_get_icon_widget(GTK_TOOL_BUTTON(ed->view.tool[i]));
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF) << i;
  }
  open_generated(40, 30);
  drag(5, 5, 20, 5);
  EXPECT_EQ(layer_pixel(10, 5) & view_pixel(10, 5), 0xffffffffu);
  EXPECT_TRUE(ctrl(GDK_z) && layer_pixel(10, 5) == 0u);
  EXPECT_TRUE(ctrl(GDK_y) && layer_pixel(10, 5) == 0xffffffffu);
  EXPECT_TRUE(ctrl(GDK_f) && ed->doc().calc_ROI_is_set == 1);
  // Accelerators, toolbar buttons and menu items open their dialogs.
  auto menu = [](const char* stock) {
    GtkWidget* bar =
        find_widget(ed->view.main_window, [](GtkWidget* w) { return GTK_IS_MENU_BAR(w); });
    GList* tops = gtk_container_get_children(GTK_CONTAINER(bar));
    GtkWidget* item = nullptr;
    for (GList* t = tops; t != nullptr && item == nullptr; t = t->next)
      item = find_widget(gtk_menu_item_get_submenu(GTK_MENU_ITEM(t->data)), [stock](GtkWidget* w) {
        return GTK_IS_MENU_ITEM(w) &&
               g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), stock) == 0;
      });
    g_list_free(tops);
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
  };
  const std::pair<std::function<void()>, const char*> rows[] = {
      {[this] { ctrl(GDK_o); }, "Open image"},
      {[this] { click(TOOL_SAVE); }, "Save File"},
      {[&] { menu(GTK_STOCK_PREFERENCES); }, "options for calculation"},
      {[&] { menu(GTK_STOCK_ABOUT); }, "About Quillane"}};
  std::string about;
  for (const auto& r : rows) {
    with_dialogs({{r.second,
                   [&](GtkDialog* d) {
                     EXPECT_EQ(gdk_window_get_cursor(ed->view.drawing_area->window), nullptr);
                     answer_reading("", &about, GTK_RESPONSE_CANCEL).answer(d);
                   }}},
                 r.first);
    EXPECT_EQ(gdk_window_get_cursor(ed->view.drawing_area->window), ed->view.blank_cursor)
        << "after " << r.second;
  }
  EXPECT_NE(about.find("Quillane 0.10.4"), std::string::npos) << about;
}

// Saved on close under APPDATA (or the XDG configuration folder without it) and restored at
// the next start; short or absurd records are ignored; a position off every monitor (unless
// 40 pixels of the title bar are on one) opens the window centred at the saved size; a file
// that cannot be written is reported.
TEST_F(EditorTest, TheGeometryIsKeptBetweenRuns) {
  const std::string base = fresh_dir("appdata"), xdg = g_get_user_config_dir();
  const struct {
    const char* appdata;
    std::string folder;
    Geometry g;
  } saved[] = {{base.c_str(), base, {130, 90, 1000, 760}},
               {base.c_str(), base, {40, 30, 900, 700}},  // with the folders in place
               {nullptr, xdg, {60, 70, 900, 700}},
               {"", xdg, {70, 60, 1000, 760}}};
  for (const auto& r : saved) {
    EnvGuard env("APPDATA", r.appdata);
    rebuild_main_window();
    gtk_window_move(GTK_WINDOW(ed->view.main_window), r.g[0], r.g[1]);
    gtk_window_resize(GTK_WINDOW(ed->view.main_window), r.g[2], r.g[3]);
    ASSERT_EQ(window_geometry(), r.g);
    testing::internal::CaptureStderr();
    with_dialogs({}, [] { EXPECT_FALSE(send_delete_event()) << "the window may close"; });
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(file_contents(geometry_path(r.folder)), bytes_of(r.g));
    rebuild_main_window();
    EXPECT_EQ(window_geometry(), r.g);
  }
  EnvGuard env("APPDATA", base.c_str());
  g_remove(geometry_path(base).c_str());
  rebuild_main_window();
  const Geometry plain = window_geometry();
  GdkScreen* screen = gdk_screen_get_default();
  const int sw = gdk_screen_get_width(screen), sh = gdk_screen_get_height(screen);
  const Geometry centred = {(sw - 900) / 2, (sh - 700) / 2, 900, 700};
  const std::pair<std::string, Geometry> rows[] = {
      {bytes_of({10, 20, 900, 700}).substr(0, 15), plain},
      {bytes_of({10, 20, 0, 700}), plain},
      {bytes_of({10, 20, sw + 1, 700}), plain},
      {bytes_of({0, 15, sw, 700}) + "trailing", {0, 15, sw, 700}},
      {bytes_of({sw - 39, 40, 900, 700}), centred},
      {bytes_of({40, sh - 23, 900, 700}), centred},
      {bytes_of({sw - 40, 40, 900, 700}), {sw - 40, 40, 900, 700}},
      {bytes_of({-860, sh - 24, 900, 700}), {-860, sh - 24, 900, 700}}};
  for (const auto& r : rows) {
    ASSERT_TRUE(
        g_file_set_contents(geometry_path(base).c_str(), r.first.data(), r.first.size(), nullptr));
    rebuild_main_window();
    EXPECT_EQ(window_geometry(), r.second) << r.first.size() << " bytes";
  }
  // A geometry file that cannot be written is reported, and the window closes all the same.
  const std::string blocked = geometry_path(base) + "/not-a-folder";
  env.set(blocked.c_str());
  rebuild_main_window();
  testing::internal::CaptureStderr();
  with_dialogs({}, [] { EXPECT_FALSE(send_delete_event()); });
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "CreateDirectory failed (" + std::to_string(EEXIST) +
                ")\ncan't write persistence data " + geometry_path(blocked) + "\n");
}

// Pixbufs: red, green, blue, alpha (dropped without an alpha channel, read as 255, straight
// otherwise); surfaces: one native word, alpha on top. Outside, outputs are left alone.
TEST(PixelAccess, ChannelOrdersAlphaAndPixelsOutside) {
  GdkPixbuf* rgb = gdk_pixbuf_new(GDK_COLORSPACE_RGB, FALSE, 8, 3, 2);
  GdkPixbuf* rgba = gdk_pixbuf_new(GDK_COLORSPACE_RGB, TRUE, 8, 3, 2);
  gdkpixbuf_put_pixel(rgb, 2, 1, 10, 20, 30, 40);
  gdkpixbuf_put_pixel(rgba, 2, 1, 200, 100, 50, 7);
  EXPECT_EQ(pixbuf_pixel(rgb, 2, 1), 0xff0a141eu);
  EXPECT_EQ(pixbuf_pixel(rgba, 2, 1), 0x07c86432u);
  cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, 5, 3);
  cairoimagesurface_put_pixel(s, 4, 2, 255, 1, 2, 3);
  const guchar* p = cairo_image_surface_get_data(s) + 2 * cairo_image_surface_get_stride(s) + 16;
  EXPECT_EQ(std::vector<int>(p, p + 4), (std::vector<int>{3, 2, 1, 255}));  // little-endian
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(s, 4, 2, &a, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({a, r, g, b}), (std::vector<int>{255, 1, 2, 3}));
  gdkpixbuf_get_pixel(rgba, 3, 0, &r, &g, &b, &a);
  cairoimagesurface_get_pixel(s, 0, 3, &a, &r, &g, &b);
  EXPECT_EQ(std::vector<int>({a, r, g, b}), (std::vector<int>{255, 1, 2, 3})) << "outside";
  cairo_surface_destroy(s);
  g_object_unref(rgb);
  g_object_unref(rgba);
}

// Broken preconditions end the program with the condition, tested in this order.
TEST(PixelAccessDeathTest, BrokenPreconditionsAreFatal) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  static guchar buf[256];
  auto odd = [](int bits, int channels) {  // a pixbuf GdkPixbuf would never make
    return GDK_PIXBUF(g_object_new(GDK_TYPE_PIXBUF, "n-channels", channels, "has-alpha",
                                   channels > 3, "bits-per-sample", bits, "width", 2, "height", 2,
                                   "rowstride", 32, "pixels", buf, nullptr));
  };
  auto surface = [](bool put, cairo_format_t f, int x, int y) {
    guchar a, r, g, b;
    cairo_surface_t* s = cairo_image_surface_create(f, 4, 3);
    put ? cairoimagesurface_put_pixel(s, x, y, 1, 2, 3, 4)
        : cairoimagesurface_get_pixel(s, x, y, &a, &r, &g, &b);
  };
  const char* depth = "gdk_pixbuf_get_bits_per_sample\\(pixbuf\\) == 8";
  const char* channels = "n_channels == 4 \\|\\| n_channels == 3";
  const char* format = "cairoFMT == CAIRO_FORMAT_ARGB32 \\|\\| cairoFMT == CAIRO_FORMAT_RGB24";
  const std::pair<std::function<void()>, const char*> rows[] = {
      {[&] { gdkpixbuf_put_pixel(odd(16, 5), 0, 0, 1, 2, 3, 4); }, depth},
      {[&] { gdkpixbuf_put_pixel(odd(8, 5), -1, 0, 1, 2, 3, 4); }, channels},
      {[&] { surface(true, CAIRO_FORMAT_ARGB32, 4, 0); }, "x >= 0 && x < width"},
      {[&] { surface(true, CAIRO_FORMAT_RGB24, 0, -1); }, "y >= 0 && y < height"},
      {[&] { surface(true, CAIRO_FORMAT_A8, 9, 9); }, "x >= 0 && x < width"},
      {[&] { surface(true, CAIRO_FORMAT_A8, 0, 0); }, format},
      {[&] { surface(false, CAIRO_FORMAT_A1, -1, 50); }, format}};
  for (const auto& row : rows)
    EXPECT_DEATH(row.first(), std::string("assertion failed: \\(") + row.second + "\\)");
}

// The view surface has the zoomed size, truncated, and shows the image and the strokes scaled;
// a zoom whose surface cairo cannot make is refused. The readout shows the view pixel under
// the pointer and the window position, zeros outside the view.
TEST_F(EditorTest, ZoomScalesTheViewAndTheReadoutShowsIt) {
  auto size_is = [](int w, int h) {
    int rw = -1, rh = -1;
    gtk_widget_get_size_request(ed->view.drawing_area, &rw, &rh);
    EXPECT_EQ(std::vector<int>({cairo_image_surface_get_width(ed->view.win_surf),
                                cairo_image_surface_get_height(ed->view.win_surf), rw, rh}),
              std::vector<int>({w, h, std::max(w, 1), std::max(h, 1)}));
  };
  zoom(12.5);  // the 1 x 1 placeholder shrinks to nothing without harm
  size_is(0, 0);
  open(write_image(dir_, "uniform.png", 101, 51, false, [](int, int) { return kImage; }));
  size_is(12, 6);
  press(4, 2);  // image (32, 16)
  release(4, 2);
  zoom(300);
  size_is(303, 153);
  for (auto [x, y, text] : {std::tuple{96, 48, "r255 g255 b255 a255 : x 96 y 48"},
                            {297, 147, "r064 g096 b128 a255 : x 297 y 147"},
                            {40, 153, "r000 g000 b000 a000 : x 40 y 153"},
                            {-4, -2, "r000 g000 b000 a000 : x -4 y -2"}}) {
    motion(x, y, 0);
    EXPECT_EQ(readout(), text);
  }
  click(TOOL_ZOOM_100);
  size_is(101, 51);
  open(write_image(dir_, "long.png", 9000, 4, false, [](int, int) { return kImage; }));
  zoom(400);
  EXPECT_EQ(gtk_adjustment_get_value(ed->view.zoom_adjustment), 100);
  size_is(9000, 4);
  EXPECT_EQ(status_message().rfind("Cannot zoom to 400 %: ", 0), 0u);
}

// A click paints one round dot of the brush diameter, centred on a pixel corner (even) or a
// pixel centre (odd), records the press point twice, and is replayed the same by undo/redo.
TEST_F(EditorTest, AClickPaintsARoundDotCentredByTheBrushParity) {
  const struct {
    double zoom;
    int size, cx, cy;  // brush, click
    std::vector<int> box;
    double px, py;  // the recorded point
  } rows[] = {{100, 10, 20, 20, {15, 24, 15, 24}, 20, 20},
              {100, 1, 30, 12, {30, 30, 12, 12}, 30.5, 12.5},
              {100, 9, 40, 30, {36, 44, 26, 34}, 40.5, 30.5},
              {200, 9, 27, 29, {9, 17, 10, 18}, 13.5, 14.5}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.size);
    open_generated(60, 50);
    zoom(r.zoom);
    gtk_adjustment_set_value(ed->view.brush_adjustment, r.size);
    press(r.cx, r.cy);
    release(r.cx, r.cy);
    std::vector<int> box = {99, -1, 99, -1};
    for (int i = 0; i < 60 * 50; ++i)
      if (layer_pixel(i % 60, i / 60) == 0xffffffffu)
        box = {std::min(box[0], i % 60), std::max(box[1], i % 60), std::min(box[2], i / 60),
               std::max(box[3], i / 60)};
    EXPECT_EQ(box, r.box);
    EXPECT_NEAR(count(0xffffffffu), M_PI * r.size * r.size / 4, r.size * 1.5) << "round";
    EXPECT_EQ(std::vector<double>(record(0), record(0) + 8),
              (std::vector<double>{0, r.size / 2.0, r.zoom / 100, 1, 1, 1, 1, 12}));
    EXPECT_EQ(points(0), (std::vector<double>{r.px, r.py, r.px, r.py}));
    std::vector<guint32> dot = layer_snapshot();
    undo(nullptr, ed);
    EXPECT_EQ(count(0u), 60 * 50);
    redo(nullptr, ed);
    EXPECT_EQ(layer_snapshot(), dot);
  }
  EXPECT_EQ(view_pixel(27, 29), 0xffffffffu);  // on the view at 200 %
}

// The four brushes; the eraser clears layer pixels and shows the image again, painted and
// replayed alike. A stroke lasts until a motion without the button or a left release (other
// buttons neither paint nor record); a Control-click draws a line from the previous stroke's
// end (the image origin before any).
TEST_F(EditorTest, BrushesPaintTheirColoursUntilTheButtonIsUp) {
  open_generated(80, 50);
  press(30, 20, GDK_CONTROL_MASK);
  release(30, 20);
  EXPECT_EQ(points(0), (std::vector<double>{0, 0, 30, 20}));
  EXPECT_EQ(layer_pixel(15, 10) & layer_pixel(1, 1), 0xffffffffu);
  click(TOOL_BG);
  drag(10, 40, 12, 40);
  set_colour(0x8080, 0x4040, 0xc0c0);
  drag(30, 40, 32, 40);
  EXPECT_EQ(record(2)[3], 0x8080 / 65535.0);
  click(TOOL_FG);
  drag(10, 30, 70, 30);
  motion(75, 45);  // after the stroke: nothing
  press(60, 10, GDK_CONTROL_MASK);
  release(-50, -50);  // a left release anywhere ends the stroke
  motion(70, 40);
  press(70, 10, 0, 3);
  EXPECT_EQ(points(4), (std::vector<double>{70, 30, 60, 10}));
  EXPECT_EQ(g_list_length(ed->strokes.history), 5u);
  click(TOOL_ERASER);
  drag(40, 10, 40, 48);
  EXPECT_EQ(record(5)[6], 0.0);
  const std::vector<guint32> erased = layer_snapshot();
  for (int i = 0; i < 2; ++i) {  // painted, then replayed by undo and redo
    EXPECT_EQ(layer_snapshot(), erased);
    EXPECT_EQ(view_pixel(10, 40), 0xff000000u);
    EXPECT_EQ(layer_pixel(30, 40), 0xff8040c0u);
    EXPECT_EQ(layer_pixel(20, 30), 0xffffffffu) << "outside the eraser the stroke stays";
    EXPECT_EQ(layer_pixel(40, 30) | layer_pixel(38, 12) | layer_pixel(75, 42), 0u);
    EXPECT_EQ(view_pixel(40, 30), pixbuf_pixel(ed->doc().pixbuf_no_alpha, 40, 30));
    ctrl(GDK_z);
    EXPECT_EQ(layer_pixel(40, 30) & view_pixel(40, 30), 0xffffffffu);
    ctrl(GDK_y);
  }
}

// Undo rebuilds the layer from the strokes before, redo repaints the next, in image coordinates
// whatever the zoom; a new stroke discards what was undone; an undo or redo ends a drag.
TEST_F(EditorTest, UndoAndRedoStepThroughTheStrokes) {
  open_generated(60, 40);
  zoom(200);
  std::vector<std::vector<guint32>> states = {layer_snapshot()};
  drag(10, 10, 80, 10);  // white
  states.push_back(layer_snapshot());
  click(TOOL_BG);
  drag(40, 4, 40, 60);  // black, across the white one
  states.push_back(layer_snapshot());
  click(TOOL_FG);
  drag(100, 20, 100, 70);
  states.push_back(layer_snapshot());
  zoom(50);  // replayed at another zoom, on the same pixels
  for (int i : {2, 1, 0, 0}) {
    undo(nullptr, ed);
    EXPECT_EQ(layer_snapshot(), states[i]) << i;
  }
  for (int i : {1, 2, 3, 3}) {
    redo(nullptr, ed);
    EXPECT_EQ(layer_snapshot(), states[i]) << i;
  }
  EXPECT_EQ(view_pixel(10, 10), 0xff000000u);  // image (20, 20) at 50 %
  undo(nullptr, ed);
  undo(nullptr, ed);
  EXPECT_EQ(layer_pixel(20, 5), 0xffffffffu) << "the white stroke shows again under the black";
  EXPECT_NE(view_pixel(10, 10), 0xff000000u);
  press(2, 15);  // discards the two undone strokes
  motion(8, 15);
  EXPECT_EQ(g_list_length(ed->strokes.history), 2u);
  ctrl(GDK_y);  // nothing to redo, but the drag ends
  motion(20, 15);
  EXPECT_EQ(points(1).size(), 6u);
  EXPECT_EQ(layer_pixel(30, 30), 0u);
  undo(nullptr, ed);
  undo(nullptr, ed);
  press(15, 15);  // with everything undone, a list of its own
  ctrl(GDK_y);
  motion(15, 16);
  EXPECT_EQ(g_list_length(ed->strokes.history), 1u);
  EXPECT_EQ(points(0).size(), 4u);
  EXPECT_EQ(layer_pixel(10, 5), 0u);
}

// A drag in view mode selects a region, rounded half up to image pixels at any zoom, kept past
// the canvas edge; its outline follows it to new zooms; a click selects the whole image. With
// "Calculate From Selection" the outline is red, over the strokes, in both modes; off, it is
// black in view mode and gone in edit mode with the strokes under it (from the view only).
TEST_F(EditorTest, TheSelectionGivesTheRegionAndItsOutline) {
  open(write_image(dir_, "uniform.png", 60, 40, false, [](int, int) { return kImage; }));
  set_view_mode(true);
  drag(10, 10, 5, 20, 2);
  EXPECT_EQ(std::vector<double>(
                {ed->view.left_x, ed->view.top_y, ed->view.selection_w, ed->view.selection_h}),
            (std::vector<double>{5, 10, 6, 11}));
  EXPECT_EQ(region(), (std::vector<int>{5, 10, 6, 11}));
  expect_outline(0xff000000u);
  EXPECT_EQ(view_pixel(8, 16), kImage) << "the inside, and the outlines of the drag, are clear";
  zoom(200);
  drag(10, 10, 5, 20, 2);
  EXPECT_EQ(region(), (std::vector<int>{3, 5, 3, 6}));
  zoom(400);
  EXPECT_EQ(std::vector<double>({ed->view.left_x, ed->view.top_y, ed->view.selection_w,
                                 ed->view.selection_h, ed->view.m_button_x, ed->view.m_button_y}),
            (std::vector<double>{12, 20, 12, 24, 23, 43}));
  expect_outline(0xff000000u);
  press(100, 100);
  motion(100, 100, 0);
  EXPECT_TRUE(view_pixels(0xff000000u).empty());
  EXPECT_EQ(region(), (std::vector<int>{0, 0, 60, 40}));
  zoom(100);
  drag(10, 10, -5, -8, 2);
  EXPECT_EQ(region(), (std::vector<int>{-4, -7, 16, 19}));  // (int)(-4.5) truncates
  select_region(10, 8, 40, 30, false);
  EXPECT_TRUE(view_pixels(0xff000000u).empty()) << "no outline in edit mode while not in use";
  press(25, 7);
  release(25, 7);
  for (auto [view, on] : {std::pair{false, true}, {true, false}, {false, true}, {false, false}}) {
    set_view_mode(view);
    gtk_menu_item_activate(GTK_MENU_ITEM(ed->view.calc_roi_item));
    settle();
    EXPECT_EQ(ed->doc().calc_ROI_is_set, on);
    if (on || view) expect_outline(on ? 0xffff0000u : 0xff000000u);
    auto red = view_pixels(0xffff0000u);
    EXPECT_TRUE(!on || red.count({24, 7}) || red.count({25, 7})) << "over the strokes";
  }
  EXPECT_TRUE(view_pixels(0xffff0000u).empty() && view_pixels(0xff000000u).empty());
  EXPECT_EQ(view_pixel(25, 7), kImage);
  EXPECT_EQ(layer_pixel(25, 7), 0xffffffffu);
}

// Edit mode shows the opaque image with the strokes, the blank cursor and the painting tools;
// view mode the image with its alpha and no strokes, the default pointer and "ALPHA", which
// shows the alpha channel as opaque grey on the view only, over the outline, at the zoom,
// until the view is next rebuilt (a redo paints on top of it).
TEST_F(EditorTest, TheModesAndTheAlphaView) {
  const guint32 alphas[4] = {0, 128, 255, 64};
  open(write_image(dir_, "bands.png", 40, 20, true,
                   [&](int x, int) { return (alphas[x / 10 % 4] << 24) | 0xc86432u; }));
  click(TOOL_BG);
  press(25, 10);
  release(25, 10);
  const std::set<int> edit_only = {TOOL_CALCULATE, TOOL_FG,         TOOL_BG,          TOOL_ERASER,
                                   TOOL_LASSO,     TOOL_BRUSH_SPIN, TOOL_BRUSH_SLIDER};
  for (bool view : {true, false}) {
    set_view_mode(view);
    EXPECT_EQ(ed->view.in_edit_mode, !view);
    for (int i = 0; i < TOOL_COUNT; ++i)
      EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(ed->view.tool[i])),
                view ? !edit_only.count(i) : i != TOOL_ALPHA)
          << i;
    EXPECT_EQ(gdk_window_get_cursor(ed->view.drawing_area->window),
              view ? nullptr : ed->view.blank_cursor);
    EXPECT_EQ(std::vector<guint32>({view_pixel(5, 10), view_pixel(25, 10)}),
              (std::vector<guint32>{view ? 0u : 0xffc86432u, view ? 0xffc86432u : 0xff000000u}));
  }
  ctrl(GDK_z);
  set_view_mode(true);
  drag(12, 3, 27, 16);
  click(TOOL_ALPHA);
  EXPECT_TRUE(same_pixels(40, 20, view_pixel, [&](int x, int) {
    return 0xff000000u | alphas[x / 10 % 4] * 0x010101u;
  }));
  motion(15, 5, 0);
  EXPECT_EQ(readout(), "r128 g128 b128 a255 : x 15 y 5");
  EXPECT_EQ(pixbuf_pixel(ed->doc().pixbuf_alpha, 15, 5), 0x80c86432u)
      << "the image keeps its alpha";
  zoom(300);
  click(TOOL_ALPHA);
  ctrl(GDK_y);
  EXPECT_EQ(view_pixel(75, 30), 0xff000000u) << "a redo paints on top";
  EXPECT_EQ(view_pixel(45, 30), 0xff808080u);
  for (int i = 0; i < 3; ++i) {  // a zoom, an undo and a mode switch show the image again
    click(TOOL_ALPHA);
    i == 0 ? zoom(100) : i == 1 ? (void)ctrl(GDK_z) : (set_view_mode(false), set_view_mode(true));
    EXPECT_EQ(view_pixel(5, 5) | view_pixel(25, 5), 0xffc86432u) << i;
  }
}
