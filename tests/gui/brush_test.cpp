// Painting through the real canvas handlers: dots and strokes on the stroke layer and the view,
// the four brushes, the stroke records, Control-click lines, the end of a stroke, and how
// new presses, undo and redo meet the history list.
#include <dlfcn.h>
#include <gdk/gdkkeysyms.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <utility>
#include <vector>

#include "gui/brush.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "tests/gui/gui_harness.h"

// From gdk/gdkx.h, whose X11 macros (None, Bool) collide with GoogleTest.
extern "C" void* gdk_x11_display_get_xdisplay(GdkDisplay* display);

namespace {

using Pixels = std::set<std::pair<int, int>>;

// Layer pixels of exactly the given colour (0xAARRGGBB).
Pixels layer_pixels(guint32 colour) {
  Pixels out;
  int w = cairo_image_surface_get_width(surf_layer), h = cairo_image_surface_get_height(surf_layer);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (layer_pixel(x, y) == colour) out.insert({x, y});
  return out;
}

int count_layer(guint32 colour) {
  return int(layer_pixels(colour).size());
}

const double* record(int i) {
  return static_cast<const double*>(g_list_nth_data(history, guint(i)));
}

int length(int i) {
  return int(record(i)[7]);
}

std::vector<double> points(int i) {
  const double* r = record(i);
  return std::vector<double>(r + 8, r + length(i));
}

void click_tool(int index) {
  gtk_button_clicked(GTK_BUTTON(gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, index)))));
  settle();
}

void click(double x, double y, guint state = 0) {
  press(x, y, state);
  release(x, y);
  settle();
}

void press_of_type(GdkEventType type, double x, double y) {
  GdkEventButton ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = type;
  ev.window = drawing_area->window;
  ev.send_event = TRUE;
  ev.x = x;
  ev.y = y;
  ev.button = 1;
  gtk_widget_event(drawing_area, reinterpret_cast<GdkEvent*>(&ev));
}

void ctrl(guint key) {
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), key, GDK_CONTROL_MASK));
  settle();
}

}  // namespace

TEST_F(EditorTest, ClickPaintsOneRoundDotOfTheBrushDiameter) {
  open_generated(60, 50);
  click(20, 20);
  Pixels dot = layer_pixels(0xffffffff);
  int x0 = 99, x1 = -1, y0 = 99, y1 = -1;
  for (auto p : dot) {
    x0 = std::min(x0, p.first), x1 = std::max(x1, p.first);
    y0 = std::min(y0, p.second), y1 = std::max(y1, p.second);
    // Even diameter: centred on the pixel corner (20, 20), symmetric in both axes and the
    // diagonal.
    EXPECT_TRUE(dot.count({39 - p.first, p.second}) && dot.count({p.first, 39 - p.second}) &&
                dot.count({p.second, p.first}))
        << p.first << "," << p.second;
  }
  EXPECT_EQ(x0, 15);
  EXPECT_EQ(x1, 24);
  EXPECT_EQ(y0, 15);
  EXPECT_EQ(y1, 24);
  // Round, not square: about pi * 5^2 pixels, the corners of the box left out.
  EXPECT_GE(dot.size(), 72u);
  EXPECT_LE(dot.size(), 84u);
  EXPECT_EQ(dot.count({15, 15}), 0u);
  EXPECT_EQ(count_layer(0), 60 * 50 - int(dot.size())) << "everything else stays transparent";
  // The view shows the dot over the image.
  EXPECT_EQ(view_pixel(20, 20), 0xffffffffu);
  EXPECT_EQ(view_pixel(40, 40), pixbuf_pixel(pixbuf_no_alpha, 40, 40));

  // The record: kind, radius, zoom, colour, alpha, length, the press point twice.
  ASSERT_EQ(g_list_length(history), 1u);
  EXPECT_EQ(current, g_list_last(history));
  const double* r = record(0);
  EXPECT_EQ(r[0], 0.0);
  EXPECT_EQ(r[1], 5.0);
  EXPECT_EQ(r[2], 1.0);
  EXPECT_EQ(r[3], 1.0);
  EXPECT_EQ(r[4], 1.0);
  EXPECT_EQ(r[5], 1.0);
  EXPECT_EQ(r[6], 1.0);
  EXPECT_EQ(length(0), 12);
  EXPECT_EQ(points(0), (std::vector<double>{20, 20, 20, 20}));
}

TEST_F(EditorTest, OddBrushesCentreOnPixels) {
  open_generated(60, 50);
  gtk_adjustment_set_value(brush_adjustment, 1);
  settle();
  EXPECT_EQ(radius, 0.5);
  click(30, 12);
  EXPECT_EQ(layer_pixels(0xffffffff), (Pixels{{30, 12}}));
  EXPECT_EQ(points(0), (std::vector<double>{30.5, 12.5, 30.5, 12.5}));
  // Diameter 9: nine pixels across, centred on the pixel clicked.
  gtk_adjustment_set_value(brush_adjustment, 9);
  click_tool(6);  // BG
  click(40, 30);
  Pixels dot = layer_pixels(0xff000000);
  int x0 = 99, x1 = -1;
  for (auto p : dot) x0 = std::min(x0, p.first), x1 = std::max(x1, p.first);
  EXPECT_EQ(x0, 36);
  EXPECT_EQ(x1, 44);
  EXPECT_EQ(dot.count({40, 26}), 1u);
  EXPECT_EQ(dot.count({40, 34}), 1u);
  EXPECT_EQ(dot.count({40, 35}), 0u);
  EXPECT_EQ(record(1)[1], 4.5);
}

TEST_F(EditorTest, DragPaintsAStrokeUntilTheButtonIsUp) {
  open_generated(80, 50);
  drag(10, 20, 50, 20, 8);
  settle();
  for (int x = 10; x <= 50; ++x) EXPECT_EQ(layer_pixel(x, 20), 0xffffffffu) << x;
  EXPECT_EQ(layer_pixel(30, 15), 0xffffffffu);
  EXPECT_EQ(layer_pixel(30, 25), 0u) << "radius 5 reaches rows 15..24";
  EXPECT_EQ(layer_pixel(60, 20), 0u);
  // One record: the press point twice, then one point per motion with the button.
  ASSERT_EQ(g_list_length(history), 1u);
  EXPECT_EQ(length(0), 8 + 2 * (2 + 8));
  std::vector<double> p = points(0);
  EXPECT_EQ(p[0], 10);
  EXPECT_EQ(p[2], 10);
  EXPECT_EQ(p[4], 15);
  EXPECT_EQ(p[p.size() - 2], 50);
  // The motion without the button ended the stroke: held-button motion now paints nothing.
  EXPECT_EQ(finished_stroke, 1);
  motion(60, 40);
  motion(70, 40);
  settle();
  EXPECT_EQ(layer_pixel(65, 40), 0u);
  EXPECT_EQ(length(0), 28);
}

// A left release ends the stroke wherever it happens, so the next held-button motion (say,
// after a press outside the canvas) never continues the old stroke.
TEST_F(EditorTest, ReleaseEndsTheStroke) {
  open_generated(80, 50);
  press(10, 10);
  motion(20, 10);
  EXPECT_EQ(finished_stroke, 0);
  release(-50, -50);
  EXPECT_EQ(finished_stroke, 1);
  motion(40, 30);
  motion(60, 30);
  settle();
  EXPECT_EQ(layer_pixel(50, 30), 0u);
  EXPECT_EQ(length(0), 14);
  // A release of another button does not end a stroke.
  press(10, 40);
  release(10, 40, 3);
  motion(30, 40);
  settle();
  EXPECT_EQ(layer_pixel(20, 40), 0xffffffffu);
  // Other buttons do not paint or record.
  press(70, 10, 0, 3);
  press(70, 20, 0, 2);
  settle();
  EXPECT_EQ(layer_pixel(70, 10), 0u);
  EXPECT_EQ(g_list_length(history), 2u);
}

TEST_F(EditorTest, BrushesPaintTheirColoursAndTheEraserShowsTheImage) {
  open_generated(80, 50);
  click_tool(6);  // BG
  click(10, 10);
  EXPECT_EQ(layer_pixel(10, 10), 0xff000000u);
  EXPECT_EQ(view_pixel(10, 10), 0xff000000u);
  GtkWidget* colour = gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 8)));
  GdkColor c = {0, 0x8080, 0x4040, 0xc0c0};
  gtk_color_button_set_color(GTK_COLOR_BUTTON(colour), &c);
  g_signal_emit_by_name(colour, "color-set");
  settle();
  click(30, 10);
  EXPECT_EQ(layer_pixel(30, 10), 0xff8040c0u);
  EXPECT_EQ(record(1)[3], 0x8080 / 65535.0);
  click_tool(5);  // FG
  drag(10, 30, 70, 30);
  EXPECT_EQ(layer_pixel(40, 30), 0xffffffffu);

  click_tool(7);  // eraser
  EXPECT_EQ(alpha, 0.0);
  drag(40, 10, 40, 40);
  settle();
  EXPECT_EQ(layer_pixel(40, 30), 0u);
  EXPECT_EQ(layer_pixel(38, 10), 0u) << "erasing over nothing leaves nothing";
  EXPECT_EQ(view_pixel(40, 30), pixbuf_pixel(pixbuf_no_alpha, 40, 30));
  EXPECT_EQ(layer_pixel(20, 30), 0xffffffffu) << "outside the eraser the stroke stays";
  EXPECT_EQ(layer_pixel(30, 10), 0xff8040c0u);
  const double* e = record(3);
  EXPECT_EQ(e[6], 0.0);
  EXPECT_EQ(e[3], 0.3);
  // Undo replays the eraser as erasure too: undoing it brings the stroke back, redo erases.
  ctrl(GDK_z);
  EXPECT_EQ(layer_pixel(40, 30), 0xffffffffu);
  ctrl(GDK_y);
  EXPECT_EQ(layer_pixel(40, 30), 0u);
  EXPECT_EQ(view_pixel(40, 30), pixbuf_pixel(pixbuf_no_alpha, 40, 30));
}

TEST_F(EditorTest, ControlClickDrawsALineFromThePreviousStrokeEnd) {
  open_generated(80, 60);
  // Before any stroke the line starts at the image origin.
  click(30, 20, GDK_CONTROL_MASK);
  EXPECT_EQ(points(0), (std::vector<double>{0, 0, 30, 20}));
  EXPECT_EQ(layer_pixel(15, 10), 0xffffffffu);
  EXPECT_EQ(layer_pixel(1, 1), 0xffffffffu);

  drag(10, 40, 20, 50, 2);
  click(60, 30, GDK_CONTROL_MASK);
  EXPECT_EQ(points(2), (std::vector<double>{20, 50, 60, 30}));
  EXPECT_EQ(layer_pixel(40, 40), 0xffffffffu);
  EXPECT_EQ(layer_pixel(60, 30), 0xffffffffu);
  // Without Control a click is a dot of its own.
  click(70, 50);
  EXPECT_EQ(points(3), (std::vector<double>{70, 50, 70, 50}));
  EXPECT_EQ(layer_pixel(65, 40), 0u);
}

TEST_F(EditorTest, NewStrokesDiscardUndoneOnes) {
  open_generated(100, 40);
  for (int i = 0; i < 5; ++i) click(10 + 20 * i, 10);
  ASSERT_EQ(g_list_length(history), 5u);
  ctrl(GDK_z);
  ctrl(GDK_z);
  EXPECT_EQ(current, g_list_nth(history, 2));
  EXPECT_EQ(layer_pixel(70, 10), 0u);
  click(50, 30);
  EXPECT_EQ(g_list_length(history), 4u);
  EXPECT_EQ(current, g_list_last(history));
  EXPECT_EQ(points(3), (std::vector<double>{50, 30, 50, 30}));
  ctrl(GDK_y);  // nothing left to redo
  EXPECT_EQ(layer_pixel(70, 10), 0u);
  EXPECT_EQ(layer_pixel(90, 10), 0u);

  for (int i = 0; i < 6; ++i) ctrl(GDK_z);
  EXPECT_EQ(current, nullptr);
  EXPECT_EQ(count_layer(0xffffffff), 0);
  click(30, 30);
  EXPECT_EQ(g_list_length(history), 1u);
  EXPECT_EQ(points(0), (std::vector<double>{30, 30, 30, 30}));
  EXPECT_EQ(layer_pixel(10, 10), 0u);
}

TEST_F(EditorTest, DoubleClickRecordsThreeStrokes) {
  open_generated(60, 40);
  press_of_type(GDK_BUTTON_PRESS, 20, 20);
  release(20, 20);
  press_of_type(GDK_BUTTON_PRESS, 20, 20);
  press_of_type(GDK_2BUTTON_PRESS, 20, 20);
  release(20, 20);
  settle();
  ASSERT_EQ(g_list_length(history), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(points(i), (std::vector<double>{20, 20, 20, 20}));
  ctrl(GDK_z);
  ctrl(GDK_z);
  EXPECT_EQ(layer_pixel(20, 20), 0xffffffffu);
  ctrl(GDK_z);
  EXPECT_EQ(layer_pixel(20, 20), 0u);
}

// Undo or redo in the middle of a drag: the drag paints nothing more until the next press and
// appends to no record, whichever record is current by then (or none).
TEST_F(EditorTest, UndoAndRedoDuringADragStopIt) {
  open_generated(100, 60);
  click(10, 50);
  click(30, 50);
  press(10, 10);
  motion(20, 10);
  ASSERT_EQ(g_list_length(history), 3u);
  ASSERT_EQ(length(2), 14);
  ctrl(GDK_z);
  EXPECT_EQ(finished_stroke, 1);
  EXPECT_EQ(current, g_list_nth(history, 1));
  EXPECT_EQ(layer_pixel(15, 10), 0u);
  motion(40, 10);
  motion(60, 10);
  settle();
  EXPECT_EQ(layer_pixel(50, 10), 0u);
  EXPECT_EQ(layer_pixel(15, 10), 0u);
  EXPECT_EQ(length(0), 12);
  EXPECT_EQ(length(1), 12);
  EXPECT_EQ(length(2), 14);
  motion(60, 10, 0);

  // Everything undone while the button is held: nothing to append to.
  press(10, 30);
  motion(20, 30);
  for (int i = 0; i < 4; ++i) ctrl(GDK_z);
  EXPECT_EQ(current, nullptr);
  motion(40, 30);
  settle();
  EXPECT_EQ(layer_pixel(40, 30), 0u);
  EXPECT_EQ(count_layer(0xffffffff), 0);
  EXPECT_EQ(length(2), 14);
  // Redo during a drag stops it the same way.
  ctrl(GDK_y);
  EXPECT_EQ(layer_pixel(10, 50), 0xffffffffu);
  press(10, 20);
  EXPECT_EQ(g_list_length(history), 2u) << "the press dropped the undone records";
  ctrl(GDK_y);
  EXPECT_EQ(finished_stroke, 1);
  motion(50, 20);
  settle();
  EXPECT_EQ(layer_pixel(30, 20), 0u);
  EXPECT_EQ(length(1), 12);
  // The next press paints again.
  drag(70, 40, 90, 40, 2);
  EXPECT_EQ(layer_pixel(80, 40), 0xffffffffu);
  EXPECT_EQ(g_list_length(history), 3u);
}

TEST_F(EditorTest, StrokesAtAnyZoomCoverTheSameImagePixels) {
  open_generated(80, 60);
  drag(20, 20, 40, 30, 4);
  Pixels at100 = layer_pixels(0xffffffff);
  ASSERT_FALSE(at100.empty());
  ctrl(GDK_z);
  ASSERT_EQ(count_layer(0xffffffff), 0);
  gtk_adjustment_set_value(zoom_adjustment, 200);
  settle();
  drag(40, 40, 80, 60, 4);
  EXPECT_EQ(layer_pixels(0xffffffff), at100);
  EXPECT_EQ(record(0)[2], 2.0);
  EXPECT_EQ(points(0)[0], 20);
  EXPECT_EQ(points(0)[1], 20);
  // On the view the stroke has twice the size (drawn at view resolution, so its round edge
  // differs by a few pixels from 2 x 2 blocks of the layer).
  int view_white = 0;
  for (int y = 0; y < 120; ++y)
    for (int x = 0; x < 160; ++x) view_white += view_pixel(x, y) == 0xffffffffu;
  EXPECT_NEAR(view_white, 4 * int(at100.size()), 0.02 * 4 * int(at100.size()));
  EXPECT_EQ(view_pixel(40, 40), 0xffffffffu);
  EXPECT_EQ(view_pixel(81, 61), 0xffffffffu);
  // Replayed at 50 % it still covers the same layer pixels.
  ctrl(GDK_z);
  gtk_adjustment_set_value(zoom_adjustment, 50);
  settle();
  ctrl(GDK_y);
  EXPECT_EQ(layer_pixels(0xffffffff), at100);
}

// A press in view mode selects; it starts no stroke that a later edit-mode motion could
// continue.
TEST_F(EditorTest, PressInViewModeStartsNoStroke) {
  open_generated(60, 40);
  GtkToggleToolButton* mode = GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0));
  gtk_toggle_tool_button_set_active(mode, TRUE);
  press(10, 10);
  EXPECT_EQ(finished_stroke, 1);
  gtk_toggle_tool_button_set_active(mode, FALSE);
  motion(30, 10);
  settle();
  EXPECT_EQ(history, nullptr);
  EXPECT_EQ(count_layer(0xffffffff), 0);
}

// The brush cursor is drawn on the window at expose time, never into the view surface: a disc
// in the brush colour with a dot of (red, 1 - green, 1 - blue) in its middle.
TEST_F(EditorTest, BrushCursorIsDrawnOnTheWindowOnly) {
  open(write_image(dir_, "grey.png", 120, 90, false, [](int, int) { return 0xff608040u; }));
  gtk_adjustment_set_value(brush_adjustment, 20);
  motion(60, 45, 0);
  settle(100);
  auto screen = [](int x, int y) {
    GdkPixbuf* shot = gdk_pixbuf_get_from_drawable(nullptr, drawing_area->window,
                                                   gdk_colormap_get_system(), x, y, 0, 0, 1, 1);
    guint32 p = shot != nullptr ? pixbuf_pixel(shot, 0, 0) & 0xffffff : 0x1000000;
    if (shot != nullptr) g_object_unref(shot);
    return p;
  };
  EXPECT_EQ(screen(60, 45), 0xff0000u) << "red dot in the white brush";
  EXPECT_EQ(screen(60 + 8, 45), 0xffffffu) << "white between radius 5 and 10";
  EXPECT_EQ(screen(60 + 14, 45), 0x608040u) << "the image outside the brush";
  EXPECT_EQ(view_pixel(60, 45), 0xff608040u) << "the view surface holds no cursor";
  click_tool(6);  // BG: a cyan dot in a black disc
  settle(100);
  EXPECT_EQ(screen(60, 45), 0x00ffffu);
  EXPECT_EQ(screen(60, 45 + 8), 0x000000u);
  // The cursor follows the pointer; its old place shows the image again.
  motion(20, 20, 0);
  settle(100);
  EXPECT_EQ(screen(60, 45), 0x608040u);
  EXPECT_EQ(screen(20, 20), 0x00ffffu);
  // No brush cursor in view mode.
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), TRUE);
  motion(40, 40, 0);
  settle(100);
  EXPECT_EQ(screen(40, 40), 0x608040u);
}

// A drag through the X server itself (XTest, loaded at run time): motion hints, the pointer
// query in the motion handler and the implicit grab, up to a release outside the canvas.
TEST_F(EditorTest, RealPointerDragPaintsUntilReleasedOutside) {
  using FakeButton = int (*)(void* display, unsigned button, int is_press, unsigned long delay);
  void* xtst = dlopen("libXtst.so.6", RTLD_NOW);
  FakeButton fake_button =
      xtst != nullptr ? reinterpret_cast<FakeButton>(dlsym(xtst, "XTestFakeButtonEvent")) : nullptr;
  if (fake_button == nullptr) GTEST_SKIP() << "libXtst not available: real pointer test skipped";
  void* x = gdk_x11_display_get_xdisplay(gdk_display_get_default());
  open_generated(100, 80);
  int ox = 0, oy = 0;
  gdk_window_get_origin(drawing_area->window, &ox, &oy);
  auto move_to = [&](int cx, int cy) {
    gdk_display_warp_pointer(gdk_display_get_default(), gdk_screen_get_default(), ox + cx, oy + cy);
    settle(40);
  };
  auto button = [&](bool down) {
    fake_button(x, 1, down, 0);
    gdk_flush();
    settle(40);
  };
  move_to(20, 30);
  button(true);
  for (int cx = 25; cx <= 70; cx += 5) move_to(cx, 30);
  move_to(-40, 30);  // out of the canvas, button still held
  button(false);
  for (int cx = 20; cx <= 70; ++cx) EXPECT_EQ(layer_pixel(cx, 30), 0xffffffffu) << cx;
  EXPECT_EQ(g_list_length(history), 1u);
  EXPECT_EQ(finished_stroke, 1);
  // Back over the canvas without the button: nothing more is painted.
  for (int cy = 50; cy <= 70; cy += 5) move_to(50, cy);
  EXPECT_EQ(layer_pixel(50, 60), 0u);
  EXPECT_EQ(g_list_length(history), 1u);
  dlclose(xtst);
}
