// The view: zoom and the size of the view surface, window/image/storable coordinates, the
// reset-zoom button, and the pointer readout in the status bar.
#include <string>

#include "gui/gtkquillane.h"
#include "gui/view.h"
#include "tests/gui/gui_harness.h"

namespace {

void zoom(double percent) {
  gtk_adjustment_set_value(zoom_adjustment, percent);
  settle();
}

void brush(double size) {
  gtk_adjustment_set_value(brush_adjustment, size);
  settle();
}

std::string readout() {
  GtkWidget* label = find_widget(status_bar, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
  return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "<no label>";
}

std::string expected_readout(guint32 argb, int x, int y) {
  gchar* t = g_strdup_printf("r%03d g%03d b%03d a%03d : x %d y %d", (argb >> 16) & 255,
                             (argb >> 8) & 255, argb & 255, argb >> 24, x, y);
  std::string s = t;
  g_free(t);
  return s;
}

void expect_view_size(int w, int h) {
  EXPECT_EQ(cairo_image_surface_get_width(win_surf), w);
  EXPECT_EQ(cairo_image_surface_get_height(win_surf), h);
  EXPECT_EQ(cairo_surface_status(win_surf), CAIRO_STATUS_SUCCESS);
  int rw = -1, rh = -1;
  gtk_widget_get_size_request(drawing_area, &rw, &rh);
  // GTK 2 stores a requested 0 as 1.
  EXPECT_EQ(rw, w == 0 ? 1 : w);
  EXPECT_EQ(rh, h == 0 ? 1 : h);
}

int changes = 0;
void count_change(GtkAdjustment*, gpointer) {
  ++changes;
}

}  // namespace

TEST_F(EditorTest, CoordinatesFollowZoomAndBrushParity) {
  zoom(200);
  EXPECT_EQ(scale, 2.0);
  double x = -9, y = -9;
  get_storable_coords(7, 9, &x, &y);
  EXPECT_EQ(x, 3.0);
  EXPECT_EQ(y, 4.0);
  get_storable_coords(-1, 0, &x, &y);
  EXPECT_EQ(x, 0.0) << "-0.5 truncates toward zero";
  convert_storable_coords(3, 4, &x, &y);
  EXPECT_EQ(x, 6.0);
  EXPECT_EQ(y, 8.0);
  brush(9);
  get_storable_coords(7, 9, &x, &y);
  EXPECT_EQ(x, 3.5);
  EXPECT_EQ(y, 4.5);
  convert_storable_coords(3.5, 4.5, &x, &y);
  EXPECT_EQ(x, 6.0);
  EXPECT_EQ(y, 8.0);
  zoom(12.5);
  get_storable_coords(17, 15, &x, &y);
  EXPECT_EQ(x, 136.5);
  EXPECT_EQ(y, 120.5);
}

TEST_F(EditorTest, PressesAreStoredInImageCoordinates) {
  open_generated(40, 30);
  zoom(200);
  brush(9);
  press(27, 29);
  release(27, 29);
  settle();
  const double* r = static_cast<const double*>(history->data);
  EXPECT_EQ(r[8], 13.5);
  EXPECT_EQ(r[9], 14.5);
  EXPECT_EQ(r[1], 4.5);
  EXPECT_EQ(r[2], 2.0);
  // The dot is centred on image pixel (13, 14), nine pixels across.
  EXPECT_EQ(layer_pixel(13, 14), 0xffffffffu);
  EXPECT_EQ(layer_pixel(9, 14), 0xffffffffu);
  EXPECT_EQ(layer_pixel(17, 14), 0xffffffffu);
  EXPECT_EQ(layer_pixel(8, 14), 0u);
  EXPECT_EQ(layer_pixel(18, 14), 0u);
  // On the view: the same dot at twice the size.
  EXPECT_EQ(view_pixel(27, 29), 0xffffffffu);
  EXPECT_EQ(view_pixel(19, 29), 0xffffffffu);
  EXPECT_NE(view_pixel(17, 29), 0xffffffffu);
}

TEST_F(EditorTest, ViewSurfaceHasTheZoomedImageSize) {
  // The 1 x 1 placeholder shrinks to nothing at 12.5 % without harm.
  zoom(12.5);
  expect_view_size(0, 0);
  motion(3, 2, 0);
  EXPECT_EQ(readout(), "r000 g000 b000 a000 : x 3 y 2");
  zoom(100);
  expect_view_size(1, 1);

  open_generated(101, 51);
  expect_view_size(101, 51);
  zoom(12.5);
  expect_view_size(12, 6);
  zoom(400);
  expect_view_size(404, 204);
  // Stepping the spin button: 112.5 % truncates 113.625 x 57.375.
  zoom(100);
  gtk_spin_button_spin(GTK_SPIN_BUTTON(gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 9)))),
                       GTK_SPIN_STEP_FORWARD, 0);
  settle();
  expect_view_size(113, 57);
  // The view holds the image: a pixel at 100 % is the image's own.
  zoom(100);
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(view_pixel(20 * i, 10 * i), pixbuf_pixel(pixbuf_no_alpha, 20 * i, 10 * i));
}

TEST_F(EditorTest, ZoomShowsImageAndStrokesScaled) {
  // Left half one colour, right half another, so that scaled pixels are exact inside.
  open(write_image(dir_, "halves.png", 40, 20, false,
                   [](int x, int) { return x < 20 ? 0xff3070b0u : 0xffd02010u; }));
  press(30, 10);
  release(30, 10);
  zoom(300);
  EXPECT_EQ(view_pixel(15, 30), 0xff3070b0u);
  EXPECT_EQ(view_pixel(110, 5), 0xffd02010u);
  EXPECT_EQ(view_pixel(90, 30), 0xffffffffu) << "the stroke layer is scaled with the image";
  EXPECT_EQ(view_pixel(96, 30), 0xffffffffu);
  EXPECT_EQ(view_pixel(110, 30), 0xffd02010u);

  // "Reset scale to 100%." goes back; pressing it again changes nothing.
  GtkWidget* reset = gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 11)));
  gtk_button_clicked(GTK_BUTTON(reset));
  settle();
  EXPECT_EQ(scale, 1.0);
  expect_view_size(40, 20);
  EXPECT_EQ(view_pixel(30, 10), 0xffffffffu);
  changes = 0;
  gulong id = g_signal_connect(zoom_adjustment, "value_changed", G_CALLBACK(count_change), nullptr);
  gtk_button_clicked(GTK_BUTTON(reset));
  settle();
  EXPECT_EQ(changes, 0);
  g_signal_handler_disconnect(zoom_adjustment, id);
}

TEST_F(EditorTest, PointerReadoutShowsTheViewPixelAndTheWindowPosition) {
  open_generated(60, 40);
  motion(5, 6, 0);
  EXPECT_EQ(readout(), expected_readout(pixbuf_pixel(pixbuf_no_alpha, 5, 6), 5, 6));
  // A stroke shows in the readout in edit mode.
  press(30, 20);
  release(30, 20);
  motion(30, 20, 0);
  EXPECT_EQ(readout(), "r255 g255 b255 a255 : x 30 y 20");
  // Outside the view: zeros and the window position, right, below and (during a drag) left.
  motion(60, 3, 0);
  EXPECT_EQ(readout(), "r000 g000 b000 a000 : x 60 y 3");
  motion(2, 45, 0);
  EXPECT_EQ(readout(), "r000 g000 b000 a000 : x 2 y 45");
  press(10, 10);
  motion(-4, -2);
  EXPECT_EQ(readout(), "r000 g000 b000 a000 : x -4 y -2");
  motion(-4, -2, 0);
  // At 200 % the position is the window's, and the colour the scaled view's.
  zoom(200);
  motion(60, 40, 0);
  EXPECT_EQ(readout(), expected_readout(view_pixel(60, 40), 60, 40));
  EXPECT_EQ(readout(), "r255 g255 b255 a255 : x 60 y 40");
  motion(119, 79, 0);
  EXPECT_EQ(readout(), expected_readout(view_pixel(119, 79), 119, 79));
  EXPECT_NE(view_pixel(119, 79) >> 24, 0u);
  motion(120, 79, 0);
  EXPECT_EQ(readout(), "r000 g000 b000 a000 : x 120 y 79");
  // The readout stays on context 0: one message, replaced each time.
  GtkWidget* label = find_widget(status_bar, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
  ASSERT_NE(label, nullptr);
  gtk_statusbar_pop(GTK_STATUSBAR(status_bar), 0);
  EXPECT_STREQ(gtk_label_get_text(GTK_LABEL(label)), "");
}
