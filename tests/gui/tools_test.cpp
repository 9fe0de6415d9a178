// Painting large areas and finding one's way: the lasso (drag and polygon fills, one undo step
// each, read by the calculation as strokes), the radio group of tools, the single keys,
// Control + wheel zoom around the pointer and zoom to fit.
#include <gdk/gdkkeysyms.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "gui/image_source.h"
#include "gui/lasso.h"
#include "gui/shortcuts.h"
#include "gui/tool_group.h"
#include "gui/zoom_commands.h"
#include "matting/calc_input.h"
#include "numeric/allocate.h"
#include "tests/gui/gui_harness.h"

namespace {

using Corners = std::vector<std::pair<int, int>>;  // image pixels

// A key pressed in the main window; true when a handler used it.
bool key(guint keyval, guint state = 0) {
  GdkEvent* ev = gdk_event_new(GDK_KEY_PRESS);
  ev->key.window = GDK_WINDOW(g_object_ref(ed->view.main_window->window));
  ev->key.keyval = keyval;
  ev->key.state = state;
  gunichar c = gdk_keyval_to_unicode(keyval);
  ev->key.string = c != 0 ? g_ucs4_to_utf8(&c, 1, nullptr, nullptr, nullptr) : g_strdup("");
  ev->key.length = static_cast<gint>(std::string(ev->key.string).size());
  const gboolean used = gtk_widget_event(ed->view.main_window, ev);
  gdk_event_free(ev);
  settle();
  return used;
}

void double_click(double x, double y) {
  GdkEvent ev = {};
  ev.button = {GDK_2BUTTON_PRESS,
               ed->view.drawing_area->window,
               TRUE,
               0,
               x,
               y,
               nullptr,
               0,
               1,
               nullptr,
               0,
               0};
  gtk_widget_event(ed->view.drawing_area, &ev);
  settle();
}

// The window point of image pixel (x, y) at the zoom: inside the pixel, off its corner.
std::pair<double, double> at(int x, int y) {
  const double s = ed->view.scale;
  return {x * s + (s > 1 ? s / 2 : 0), y * s + (s > 1 ? s / 2 : 0)};
}

// Draws the outline through corners with the lasso: dragged (two motions a corner), or
// Control-clicked and closed by a double click.
void outline(const Corners& corners, bool polygon) {
  if (polygon) {
    for (auto [x, y] : corners) {
      auto [wx, wy] = at(x, y);
      press(wx, wy, GDK_CONTROL_MASK);
      release(wx, wy);
    }
    auto [wx, wy] = at(corners.back().first, corners.back().second);
    press(wx, wy);
    double_click(wx, wy);
    release(wx, wy);
    return;
  }
  auto [x0, y0] = at(corners[0].first, corners[0].second);
  press(x0, y0);
  for (size_t i = 1; i <= corners.size(); ++i) {
    auto [x, y] = at(corners[i % corners.size()].first, corners[i % corners.size()].second);
    motion(x, y);
    motion(x, y);
    x0 = x, y0 = y;
  }
  release(x0, y0);
}

int history_length() {
  return static_cast<int>(g_list_length(ed->strokes.history));
}
int kind(int i) {
  return static_cast<int>(static_cast<const double*>(g_list_nth_data(ed->strokes.history, i))[0]);
}

std::vector<ToolbarItem> pressed() {  // the tool buttons that are pressed
  std::vector<ToolbarItem> out;
  for (ToolbarItem i : {TOOL_FG, TOOL_BG, TOOL_ERASER, TOOL_LASSO})
    if (gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(ed->view.tool[i])))
      out.push_back(i);
  return out;
}

double brush_size() {
  return gtk_adjustment_get_value(ed->view.brush_adjustment);
}

class ToolsTest : public EditorTest {};

// The white rectangle's pixels: the corners' pixels and everything between, edges included.
guint32 rectangle(int x, int y) {
  return x >= 10 && x <= 30 && y >= 8 && y <= 20 ? 0xffffffffu : 0u;
}

}  // namespace

// A white rectangle, then a black triangle and an erased corner of the rectangle: by drag and
// by polygon, at 100, 50 and 200 %, the same image pixels; each fill one undo step.
TEST_F(ToolsTest, ALassoFillLandsOnTheSameImagePixelsAtEveryZoom) {
  const Corners rect = {{10, 8}, {30, 8}, {30, 20}, {10, 20}};
  const Corners triangle = {{40, 4}, {56, 30}, {36, 26}};
  const Corners corner = {{26, 16}, {34, 16}, {34, 24}, {26, 24}};
  std::vector<guint32> first;
  for (double z : {100.0, 50.0, 200.0})
    for (bool polygon : {false, true}) {
      SCOPED_TRACE(testing::Message() << z << " %" << (polygon ? " polygon" : " drag"));
      open_generated(60, 40);
      zoom(z);
      click(TOOL_FG);  // the lasso fills in the brush chosen last
      click(TOOL_LASSO);
      outline(rect, polygon);
      ASSERT_EQ(history_length(), 1);
      EXPECT_EQ(kind(0), kLassoFillRecord);
      EXPECT_TRUE(same_pixels(60, 40, layer_pixel, rectangle));
      auto [wx, wy] = at(20, 14);
      EXPECT_EQ(view_pixel(int(wx), int(wy)), 0xffffffffu) << "on the view too";
      key(GDK_x);  // the lasso's colour: black
      outline(triangle, polygon);
      key(GDK_e);  // the lasso erases
      outline(corner, polygon);
      EXPECT_EQ(pressed(), std::vector<ToolbarItem>{TOOL_LASSO});
      EXPECT_EQ(layer_pixel(46, 20), 0xff000000u);
      EXPECT_EQ(layer_pixel(28, 18) | layer_pixel(30, 20), 0u) << "erased";
      EXPECT_EQ(layer_pixel(25, 15), 0xffffffffu);
      const std::vector<guint32> all = layer_snapshot();
      if (first.empty()) first = all;
      EXPECT_EQ(all, first) << "the same pixels as the first";
      EXPECT_EQ(history_length(), 3);
      ctrl(GDK_z);
      ctrl(GDK_z);
      EXPECT_TRUE(same_pixels(60, 40, layer_pixel, rectangle)) << "one undo step each";
      ctrl(GDK_y);
      ctrl(GDK_y);
      EXPECT_EQ(layer_snapshot(), all);
    }
}

// A click encloses nothing and records nothing; Escape drops a polygon, Enter fills it; a
// plain press after Control-clicks goes on with the polygon; after a fill the brushes paint
// strokes again.
TEST_F(ToolsTest, ThePolygonIsClosedByEnterAndDroppedByEscape) {
  open_generated(60, 40);
  key(GDK_l);
  press(5, 5);
  release(5, 5);
  EXPECT_EQ(history_length(), 0);
  const std::vector<guint32> empty = layer_snapshot();
  for (guint closing : {GDK_Escape, GDK_Return}) {
    press(10, 8, GDK_CONTROL_MASK);
    release(10, 8);
    press(30, 8);  // no Control: still a corner
    release(30, 8);
    press(30, 20, GDK_CONTROL_MASK);
    release(30, 20);
    press(10, 20, GDK_CONTROL_MASK);
    release(10, 20);
    EXPECT_EQ(layer_snapshot(), empty) << "nothing before it closes";
    EXPECT_TRUE(key(closing));
  }
  EXPECT_EQ(history_length(), 1);
  EXPECT_TRUE(same_pixels(60, 40, layer_pixel, rectangle));
  EXPECT_FALSE(key(GDK_Escape)) << "nothing left to drop";
  click(TOOL_BG);
  drag(40, 30, 50, 30);
  EXPECT_EQ(kind(1), 0);
  EXPECT_EQ(layer_pixel(45, 30), 0xff000000u);
}

// The calculation reads filled pixels as it reads strokes: opaque, their grey level the
// target; and a fill made while a stroke of another colour lies under it replaces it.
TEST_F(ToolsTest, TheCalculationReadsFillsAsStrokes) {
  open_generated(60, 40);
  set_colour(0x8080, 0x8080, 0x8080);
  drag(5, 30, 55, 30);  // a grey stroke under the fills
  click(TOOL_LASSO);
  key(GDK_x);  // from grey to white
  outline({{10, 8}, {30, 8}, {30, 20}, {10, 20}}, false);
  key(GDK_x);
  outline({{40, 4}, {56, 34}, {36, 34}}, true);
  cairo_surface_t* layer = ed->strokes.surf_layer;
  cairo_surface_flush(layer);
  GdkPixbuf* image = ed->doc().pixbuf_no_alpha;
  TIFF_img input = {};
  double **mask = nullptr, **value = nullptr;
  ASSERT_EQ(
      read_calc_input(gdk_pixbuf_get_pixels(image), gdk_pixbuf_get_rowstride(image),
                      gdk_pixbuf_get_n_channels(image), cairo_image_surface_get_data(layer),
                      cairo_image_surface_get_stride(layer), {0, 0, 60, 40}, &input, &mask, &value),
      CALC_INPUT_OK);
  for (int y = 0; y < 40; ++y)
    for (int x = 0; x < 60; ++x) {
      const guint32 p = layer_pixel(x, y);
      ASSERT_EQ(mask[y][x], p >> 24 == 255 ? 1.0 : 0.0) << x << "," << y;
      if (p >> 24 == 255) {
        ASSERT_EQ(value[y][x], (p & 255) / 255.0) << x << "," << y;
      }
    }
  EXPECT_EQ(value[14][20], 1.0);
  EXPECT_EQ(value[30][45], 0.0) << "black over the grey stroke";
  EXPECT_NEAR(value[30][5], 128 / 255.0, 1e-9);
  free_TIFF(&input);
  free_img_t(mask);
  free_img_t(value);
}

// FG, BG, Eraser and Lasso: exactly one pressed, the one chosen last, also when clicked again;
// the colour button releases them all but Lasso, which takes its colour.
TEST_F(ToolsTest, TheToolsAreARadioGroup) {
  open_generated(20, 20);
  EXPECT_EQ(pressed(), std::vector<ToolbarItem>{TOOL_FG});
  for (ToolbarItem i : {TOOL_BG, TOOL_ERASER, TOOL_LASSO, TOOL_LASSO, TOOL_FG, TOOL_FG}) {
    click(i);
    EXPECT_EQ(pressed(), std::vector<ToolbarItem>{i});
  }
  set_colour(0xffff, 0, 0);
  EXPECT_EQ(pressed(), std::vector<ToolbarItem>{});
  EXPECT_EQ(ed->brush.red + ed->brush.green, 1.0);
  click(TOOL_LASSO);
  set_colour(0, 0, 0xffff);
  EXPECT_EQ(pressed(), std::vector<ToolbarItem>{TOOL_LASSO});
  drag(2, 2, 12, 2);
  drag(12, 2, 12, 12);  // a line encloses only itself
  press(2, 2);
  motion(12, 2);
  motion(12, 12);
  motion(2, 12, 0);  // the button went up elsewhere: the motion without it ends the drag
  EXPECT_EQ(layer_pixel(9, 5), 0xff0000ffu);
  EXPECT_EQ(pressed(), std::vector<ToolbarItem>{TOOL_LASSO});
}

// [ and ] by about 15 % and at least a pixel, within 1 .. 1024; X swaps the brushes (white
// from the others); E the eraser; L the lasso and back to the brush of its colour. Not while a
// spin button has the focus, not with Control, not in view mode.
TEST_F(ToolsTest, TheSingleKeys) {
  open_generated(20, 20);
  const struct {
    double from;
    guint keyval;
    double to;
  } sizes[] = {{10, GDK_bracketright, 12},   {12, GDK_bracketright, 14},
               {100, GDK_bracketright, 115}, {10, GDK_bracketleft, 9},
               {100, GDK_bracketleft, 87},   {1, GDK_bracketleft, 1},
               {2, GDK_bracketleft, 1},      {1000, GDK_bracketright, 1024}};
  for (const auto& r : sizes) {
    gtk_adjustment_set_value(ed->view.brush_adjustment, r.from);
    EXPECT_TRUE(key(r.keyval));
    EXPECT_EQ(brush_size(), r.to) << r.from;
    EXPECT_EQ(ed->brush.radius, r.to / 2);
  }
  const struct {
    guint keyval;
    std::vector<ToolbarItem> pressed;
    double red, alpha;  // the brush's
  } keys[] = {
      {GDK_x, {TOOL_BG}, 0, 1},      {GDK_X, {TOOL_FG}, 1, 1},       {GDK_e, {TOOL_ERASER}, 0.3, 0},
      {GDK_x, {TOOL_FG}, 1, 1},      {GDK_l, {TOOL_LASSO}, 1, 1},    {GDK_x, {TOOL_LASSO}, 0, 1},
      {GDK_e, {TOOL_LASSO}, 0.3, 0}, {GDK_l, {TOOL_ERASER}, 0.3, 0}, {GDK_l, {TOOL_LASSO}, 0.3, 0},
      {GDK_x, {TOOL_LASSO}, 1, 1},   {GDK_L, {TOOL_FG}, 1, 1}};
  for (const auto& r : keys) {
    EXPECT_TRUE(key(r.keyval)) << gdk_keyval_name(r.keyval);
    EXPECT_EQ(pressed(), r.pressed) << gdk_keyval_name(r.keyval);
    EXPECT_EQ(std::vector<double>({ed->brush.red, ed->brush.alpha}),
              std::vector<double>({r.red, r.alpha}));
  }
  set_colour(0x8080, 0x8080, 0x8080);
  key(GDK_x);
  EXPECT_EQ(pressed(), std::vector<ToolbarItem>{TOOL_FG}) << "from another colour: white";
  // Keys that stay with the focus widget, or belong to accelerators, or are not for this mode.
  GtkWidget* spin = gtk_bin_get_child(GTK_BIN(ed->view.tool[TOOL_BRUSH_SPIN]));
  gtk_adjustment_set_value(ed->view.brush_adjustment, 10);
  gtk_widget_grab_focus(spin);
  for (guint k : {GDK_bracketright, GDK_x, GDK_e, GDK_l}) key(k);
  EXPECT_EQ(brush_size(), 10);
  EXPECT_EQ(pressed(), std::vector<ToolbarItem>{TOOL_FG});
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(spin)), "]xel") << "typed into the entry";
  gtk_entry_set_text(GTK_ENTRY(spin), "10");
  gtk_window_set_focus(GTK_WINDOW(ed->view.main_window), nullptr);
  EXPECT_FALSE(key(GDK_e, GDK_CONTROL_MASK));
  set_view_mode(true);
  EXPECT_FALSE(key(GDK_bracketright));
  EXPECT_EQ(brush_size(), 10);
  set_view_mode(false);
  EXPECT_TRUE(key(GDK_bracketright));
  EXPECT_EQ(brush_size(), 12);
}

// Control + wheel zooms by the steps of other editors within 12.5 .. 400 %, keeping the image
// point under the pointer where it is on the screen; the toolbar shows the zoom; the wheel
// without Control scrolls as before.
TEST_F(ToolsTest, ControlWheelZoomsAroundThePointer) {
  open_generated(600, 400);
  zoom(200);
  GtkScrolledWindow* sw = GTK_SCROLLED_WINDOW(ed->view.scrolled_window);
  GtkAdjustment* h = gtk_scrolled_window_get_hadjustment(sw);
  GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(sw);
  gtk_adjustment_set_value(h, 300);
  gtk_adjustment_set_value(v, 200);
  settle(50);
  auto wheel = [&](double screen_x, double screen_y, GdkScrollDirection dir, guint state) {
    GdkEvent* ev = gdk_event_new(GDK_SCROLL);
    ev->scroll.window = GDK_WINDOW(g_object_ref(ed->view.drawing_area->window));
    ev->scroll.direction = dir;
    ev->scroll.state = state;
    ev->scroll.x = gtk_adjustment_get_value(h) + screen_x;
    ev->scroll.y = gtk_adjustment_get_value(v) + screen_y;
    const double ix = ev->scroll.x / ed->view.scale, iy = ev->scroll.y / ed->view.scale;
    gtk_propagate_event(ed->view.drawing_area, ev);  // on to the scrolled window if unused
    gdk_event_free(ev);
    settle(50);
    // The image point's place on the screen now.
    return std::pair<double, double>{ix * ed->view.scale - gtk_adjustment_get_value(h),
                                     iy * ed->view.scale - gtk_adjustment_get_value(v)};
  };
  const struct {
    double x, y;
    GdkScrollDirection dir;
    double zoom;
  } rows[] = {{250, 180, GDK_SCROLL_UP, 300},   {100, 300, GDK_SCROLL_UP, 400},
              {400, 50, GDK_SCROLL_UP, 400},    {320, 200, GDK_SCROLL_DOWN, 300},
              {320, 200, GDK_SCROLL_DOWN, 200}, {20, 30, GDK_SCROLL_DOWN, 150}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.zoom);
    auto [sx, sy] = wheel(r.x, r.y, r.dir, GDK_CONTROL_MASK);
    EXPECT_EQ(gtk_adjustment_get_value(ed->view.zoom_adjustment), r.zoom);
    EXPECT_EQ(ed->view.scale, r.zoom / 100);
    EXPECT_NEAR(sx, r.x, 1.0);
    EXPECT_NEAR(sy, r.y, 1.0);
  }
  GtkWidget* spin = gtk_bin_get_child(GTK_BIN(ed->view.tool[TOOL_ZOOM_SPIN]));
  EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(spin)), "150.0");
  const double before = gtk_adjustment_get_value(v);
  wheel(100, 100, GDK_SCROLL_DOWN, 0);
  EXPECT_EQ(ed->view.scale, 1.5) << "no Control: no zoom";
  EXPECT_GT(gtk_adjustment_get_value(v), before) << "but a scroll";
  zoom(12.5);
  wheel(10, 10, GDK_SCROLL_DOWN, GDK_CONTROL_MASK);
  EXPECT_EQ(ed->view.scale, 0.125);
  for (double step : {16.7, 25.0, 33.3, 50.0, 66.7, 100.0}) {
    wheel(10, 10, GDK_SCROLL_UP, GDK_CONTROL_MASK);
    EXPECT_NEAR(ed->view.scale * 100, step, 0.05);
  }
}

// View > Zoom to fit (Ctrl+0): the whole image in the canvas without scroll bars, as large as
// the zoom range allows; then the 100 % button and the spin button work as before.
TEST_F(ToolsTest, ZoomToFitShowsTheWholeImage) {
  GtkScrolledWindow* sw = GTK_SCROLLED_WINDOW(ed->view.scrolled_window);
  GtkWidget* spin = gtk_bin_get_child(GTK_BIN(ed->view.tool[TOOL_ZOOM_SPIN]));
  const struct {
    int w, h;
    bool wide;  // the width decides
  } rows[] = {{2000, 300, true}, {300, 2000, false}, {90, 60, true}, {40, 40, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h);
    open_generated(r.w, r.h);
    zoom(100);
    EXPECT_TRUE(ctrl(GDK_0));
    settle(100);
    GtkWidget* viewport = gtk_bin_get_child(GTK_BIN(sw));
    const int vw = viewport->allocation.width, vh = viewport->allocation.height;
    const int sw_ = cairo_image_surface_get_width(ed->view.win_surf);
    const int sh = cairo_image_surface_get_height(ed->view.win_surf);
    EXPECT_FALSE(gtk_widget_get_visible(gtk_scrolled_window_get_hscrollbar(sw)));
    EXPECT_FALSE(gtk_widget_get_visible(gtk_scrolled_window_get_vscrollbar(sw)));
    const int fx = viewport->style->xthickness, fy = viewport->style->ythickness;
    const double used = r.wide ? double(sw_) / (vw - 2 * fx) : double(sh) / (vh - 2 * fy);
    if (ed->view.scale < 4)
      EXPECT_GT(used, 0.99) << sw_ << "x" << sh << " in " << vw << "x" << vh;
    else
      EXPECT_EQ(ed->view.scale, 4.0);
    char shown[16];
    std::snprintf(shown, sizeof shown, "%.1f", ed->view.scale * 100);
    EXPECT_STREQ(gtk_entry_get_text(GTK_ENTRY(spin)), shown);
  }
  click(TOOL_ZOOM_100);
  EXPECT_EQ(ed->view.scale, 1.0);
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), 250);
  settle();
  EXPECT_EQ(ed->view.scale, 2.5);
}

// Below 100 % the eraser's fill shows the image exactly as the view shows it after a zoom:
// erased strokes leave no trace on the view, whatever the size and zoom. The same holds for
// the live matte's picture of the image, which is shown in the image's place, and for a new
// picture at the same zoom (each round's picture has colours of its own).
TEST_F(ToolsTest, AnEraserFillShowsTheImageAsTheZoomShowsIt) {
  int round = 0;
  for (bool picture : {false, true})
    for (double z : {25.0, 50.0, 50.0, 75.0}) {
      SCOPED_TRACE(std::string(picture ? "live picture, " : "image, ") + std::to_string(z));
      ++round;
      open_generated(61, 43);
      cairo_surface_t* backdrop = nullptr;
      if (picture) {
        backdrop = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 61, 43);
        cairo_t* c = cairo_create(backdrop);
        cairo_pattern_t* ramp = cairo_pattern_create_linear(0, 0, 61, 43);
        cairo_pattern_add_color_stop_rgb(ramp, 0, 1, 0, 0.1 * round);
        cairo_pattern_add_color_stop_rgb(ramp, 1, 0, 0.8, 0.2);
        cairo_set_source(c, ramp);
        cairo_paint(c);
        cairo_pattern_destroy(ramp);
        cairo_destroy(c);
        set_backdrop(&ed->view, cairo_surface_reference(backdrop));
      }
      zoom(z);
      gtk_adjustment_set_value(ed->view.brush_adjustment, 30);
      click(TOOL_FG);
      drag(2, 2, 30, 20);
      click(TOOL_ERASER);
      click(TOOL_LASSO);
      const int w = cairo_image_surface_get_width(ed->view.win_surf);
      const int h = cairo_image_surface_get_height(ed->view.win_surf);
      outline({{0, 0}, {60, 0}, {60, 42}, {0, 42}}, true);
      EXPECT_EQ(layer_snapshot(), std::vector<guint32>(61 * 43, 0u));
      cairo_surface_t* want = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
      cairo_t* cr = cairo_create(want);
      cairo_scale(cr, ed->view.scale, ed->view.scale);
      if (picture)
        cairo_set_source_surface(cr, backdrop, 0, 0);
      else
        gdk_cairo_set_source_pixbuf(cr, ed->doc().pixbuf_no_alpha, 0, 0);
      cairo_paint(cr);
      cairo_destroy(cr);
      cairo_surface_flush(want);
      EXPECT_TRUE(same_pixels(w, h, view_pixel, [want](int x, int y) {
        return reinterpret_cast<const guint32*>(cairo_image_surface_get_data(want) +
                                                y * cairo_image_surface_get_stride(want))[x];
      }));
      cairo_surface_destroy(want);
      set_backdrop(&ed->view, nullptr);
      if (backdrop != nullptr) cairo_surface_destroy(backdrop);
    }
}
