// Edit and view modes: what the toolbar shows, which image is on show and with what cursor;
// the selection dragged in view mode, its region at several zooms, and its dashed outline,
// black or red with "Calculate From Selection".
#include <set>
#include <utility>

#include "gui/gtkquillane.h"
#include "tests/gui/gui_harness.h"

namespace {

const guint32 kImage = 0xff406080u;  // a uniform image, so that zoomed pixels stay exact

using Pixels = std::set<std::pair<int, int>>;

Pixels view_pixels(guint32 colour) {
  Pixels out;
  int w = cairo_image_surface_get_width(win_surf), h = cairo_image_surface_get_height(win_surf);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if (view_pixel(x, y) == colour) out.insert({x, y});
  return out;
}

// Pixels of the outline colour must all lie on the ring just outside the selection, and the
// dashes must cover a good part of it.
void expect_outline(guint32 colour) {
  Pixels dashes = view_pixels(colour);
  int l = int(left_x), t = int(top_y), r = int(left_x + selection_w), b = int(top_y + selection_h);
  for (auto p : dashes) {
    bool on_ring = ((p.first == l - 1 || p.first == r) && p.second >= t - 1 && p.second <= b) ||
                   ((p.second == t - 1 || p.second == b) && p.first >= l - 1 && p.first <= r);
    EXPECT_TRUE(on_ring) << p.first << "," << p.second;
  }
  int ring = 2 * (int(selection_w) + int(selection_h)) + 4;
  EXPECT_GE(int(dashes.size()), ring / 3) << "too little of the outline drawn";
}

void set_mode(bool view) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), view);
  settle();
}

void zoom(double percent) {
  gtk_adjustment_set_value(zoom_adjustment, percent);
  settle();
}

void select_drag(double x0, double y0, double x1, double y1) {
  press(x0, y0);
  motion((x0 + x1) / 2, (y0 + y1) / 2);
  motion(x1, y1);
  release(x1, y1);
  settle();
}

void region_item() {
  gtk_menu_item_activate(GTK_MENU_ITEM(calc_roi_item));
  settle();
}

class ModesTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    if (IsSkipped()) return;
    open(write_image(dir_, "uniform.png", 60, 40, false, [](int, int) { return kImage; }));
  }
};

}  // namespace

TEST_F(ModesTest, ToolbarImageAndCursorFollowTheMode) {
  const bool in_view[15] = {true, true, true, true, false, false, false, false,
                            true, true, true, true, true,  false, false};
  for (bool view : {true, false, true, false}) {
    set_mode(view);
    SCOPED_TRACE(view ? "view mode" : "edit mode");
    EXPECT_EQ(in_edit_mode, view ? 0 : 1);
    for (int i = 0; i < 15; ++i)
      EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(toolbar_item(toolbar, i))),
                view ? in_view[i] : i != 3)
          << "item " << i;
    EXPECT_EQ(pixbuf_image, view ? pixbuf_alpha : pixbuf_no_alpha);
    EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), view ? nullptr : blank_cursor);
  }
}

TEST_F(ModesTest, ViewModeShowsTheAlphaAndNoStrokes) {
  open(write_image(dir_, "halfclear.png", 60, 40, true,
                   [](int x, int) { return x < 30 ? 0x00406080u : kImage; }));
  press(45, 20);
  release(45, 20);
  settle();
  EXPECT_EQ(view_pixel(10, 10), kImage) << "edit mode shows the opaque image";
  EXPECT_EQ(view_pixel(45, 20), 0xffffffffu);
  set_mode(true);
  EXPECT_EQ(view_pixel(10, 10), 0u) << "transparent parts stay transparent";
  EXPECT_EQ(view_pixel(45, 20), kImage) << "no strokes in view mode";
  EXPECT_EQ(layer_pixel(45, 20), 0xffffffffu);
  set_mode(false);
  EXPECT_EQ(view_pixel(10, 10), kImage);
  EXPECT_EQ(view_pixel(45, 20), 0xffffffffu);
}

TEST_F(ModesTest, SelectionGivesTheRegionAtEveryZoom) {
  set_mode(true);
  // A click alone: the whole image, no outline.
  press(30, 30);
  release(30, 30);
  settle();
  EXPECT_EQ(x_img_ROI, 0);
  EXPECT_EQ(y_img_ROI, 0);
  EXPECT_EQ(w_img_ROI, 60);
  EXPECT_EQ(h_img_ROI, 40);
  EXPECT_TRUE(view_pixels(0xff000000u).empty());

  select_drag(10, 10, 5, 20);
  EXPECT_EQ(left_x, 5);
  EXPECT_EQ(top_y, 10);
  EXPECT_EQ(selection_w, 6);
  EXPECT_EQ(selection_h, 11);
  EXPECT_EQ(x_img_ROI, 5);
  EXPECT_EQ(y_img_ROI, 10);
  EXPECT_EQ(w_img_ROI, 6);
  EXPECT_EQ(h_img_ROI, 11);
  expect_outline(0xff000000u);
  EXPECT_EQ(view_pixel(7, 15), kImage) << "the inside is untouched";
  // The outline of the earlier, larger drag position is gone.
  EXPECT_EQ(view_pixels(0xff000000u).count({8, 16}), 0u);

  zoom(200);
  select_drag(10, 10, 5, 20);
  EXPECT_EQ(x_img_ROI, 3);
  EXPECT_EQ(y_img_ROI, 5);
  EXPECT_EQ(w_img_ROI, 3);
  EXPECT_EQ(h_img_ROI, 6);

  // The outline follows the image region to the new zoom, with the anchor at its far corner.
  zoom(400);
  EXPECT_EQ(left_x, 12);
  EXPECT_EQ(top_y, 20);
  EXPECT_EQ(selection_w, 12);
  EXPECT_EQ(selection_h, 24);
  EXPECT_EQ(m_button_x, 23);
  EXPECT_EQ(m_button_y, 43);
  expect_outline(0xff000000u);
  EXPECT_EQ(x_img_ROI, 3);
  EXPECT_EQ(w_img_ROI, 3);

  // A click removes the outline again and takes the whole image; the size stays.
  press(100, 100);
  release(100, 100);
  settle();
  EXPECT_TRUE(view_pixels(0xff000000u).empty());
  EXPECT_EQ(w_img_ROI, 60);
  EXPECT_EQ(h_img_ROI, 40);
  EXPECT_EQ(left_x, 0);
  EXPECT_EQ(selection_w, 12);
}

TEST_F(ModesTest, SelectionPastTheEdgeIsKept) {
  set_mode(true);
  select_drag(10, 10, -5, -8);
  EXPECT_EQ(left_x, -5);
  EXPECT_EQ(top_y, -8);
  EXPECT_EQ(x_img_ROI, -4) << "(int)(-4.5) truncates toward zero";
  EXPECT_EQ(y_img_ROI, -7);
  EXPECT_EQ(w_img_ROI, 16);
  EXPECT_EQ(h_img_ROI, 19);
  select_drag(50, 30, 70, 45);
  EXPECT_EQ(x_img_ROI, 50);
  EXPECT_EQ(w_img_ROI, 21);
  EXPECT_EQ(h_img_ROI, 16);
}

TEST_F(ModesTest, RegionItemDrawsTheOutlineRedAndRemovesIt) {
  set_mode(true);
  select_drag(10, 8, 40, 30);
  set_mode(false);
  EXPECT_TRUE(view_pixels(0xff000000u).empty()) << "no outline in edit mode while not in use";
  // A stroke across the outline's top edge.
  press(25, 7);
  release(25, 7);
  settle();
  ASSERT_EQ(view_pixel(25, 7), 0xffffffffu);

  region_item();
  EXPECT_EQ(calc_ROI_is_set, 1);
  expect_outline(0xffff0000u);
  EXPECT_TRUE(view_pixels(0xffff0000u).count({24, 7}) || view_pixels(0xffff0000u).count({25, 7}))
      << "the outline is drawn over the strokes";
  // Survives a mode switch and a zoom, red all the time.
  set_mode(true);
  expect_outline(0xffff0000u);
  zoom(200);
  expect_outline(0xffff0000u);
  EXPECT_EQ(x_img_ROI, 10);
  EXPECT_EQ(w_img_ROI, 31);
  // Off in view mode: black.
  region_item();
  EXPECT_EQ(calc_ROI_is_set, 0);
  EXPECT_TRUE(view_pixels(0xffff0000u).empty());
  expect_outline(0xff000000u);
  // On and off in edit mode: the outline goes, and with it the strokes' view under it,
  // while the layer keeps them.
  zoom(100);
  set_mode(false);
  region_item();
  expect_outline(0xffff0000u);
  region_item();
  EXPECT_TRUE(view_pixels(0xffff0000u).empty());
  EXPECT_TRUE(view_pixels(0xff000000u).empty());
  EXPECT_EQ(view_pixel(25, 7), kImage);
  EXPECT_EQ(layer_pixel(25, 7), 0xffffffffu);
  EXPECT_EQ(view_pixel(25, 4), 0xffffffffu) << "strokes away from the outline stay";
}
