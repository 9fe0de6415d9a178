// The "ALPHA" button: the alpha channel of the image with its matte shown as grey levels on
// the view only, until the view is next rebuilt.
#include <gdk/gdkkeysyms.h>

#include <string>

#include "gui/gtkquillane.h"
#include "tests/gui/gui_harness.h"

namespace {

// Alpha by column band: 0, 128, 255, 64; colour (200, 100, 50).
guint32 banded(int x, int) {
  static const guint32 alphas[4] = {0, 128, 255, 64};
  return (alphas[(x / 10) % 4] << 24) | 0xc86432u;
}

void set_mode(bool view) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), view);
  settle();
}

void show_alpha() {
  gtk_button_clicked(GTK_BUTTON(gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 3)))));
  settle();
}

std::string readout() {
  GtkWidget* label = find_widget(status_bar, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
  return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "<no label>";
}

}  // namespace

TEST_F(EditorTest, AlphaShowsAsOpaqueGreyLevels) {
  open(write_image(dir_, "bands.png", 40, 20, true, banded));
  set_mode(true);
  // A selection outline first: the grey picture covers it.
  press(12, 3);
  motion(27, 16);
  release(27, 16);
  settle();
  ASSERT_EQ(view_pixel(13, 2), 0xff000000u);
  ASSERT_TRUE(gtk_widget_get_visible(GTK_WIDGET(toolbar_item(toolbar, 3))));
  show_alpha();
  for (int y : {0, 2, 10, 19}) {
    EXPECT_EQ(view_pixel(5, y), 0xff000000u);
    EXPECT_EQ(view_pixel(15, y), 0xff808080u);
    EXPECT_EQ(view_pixel(25, y), 0xffffffffu);
    EXPECT_EQ(view_pixel(35, y), 0xff404040u);
  }
  EXPECT_EQ(view_pixel(13, 2), 0xff808080u) << "the outline is covered";
  motion(15, 5, 0);
  EXPECT_EQ(readout(), "r128 g128 b128 a255 : x 15 y 5");
  // Nothing but the view changed: the image keeps its alpha, the mode stays.
  EXPECT_EQ(pixbuf_pixel(pixbuf_alpha, 15, 5), 0x80c86432u);
  EXPECT_EQ(in_edit_mode, 0);

  // Edit mode and back: the image with its alpha again (premultiplied on the view).
  set_mode(false);
  set_mode(true);
  EXPECT_EQ(view_pixel(5, 10), 0u);
  EXPECT_EQ(view_pixel(25, 10), 0xffc86432u);
  guint32 half = view_pixel(15, 10);
  EXPECT_EQ(half >> 24, 128u);
  EXPECT_NEAR(int((half >> 16) & 255), 200 * 128 / 255, 1);
  motion(15, 10, 0);
  EXPECT_EQ(readout().substr(0, 20), "r100 g050 b025 a128 ");
}

TEST_F(EditorTest, ImageWithoutAlphaShowsAllWhiteAtAnyZoom) {
  open_generated(30, 20);
  set_mode(true);
  gtk_adjustment_set_value(zoom_adjustment, 200);
  settle();
  show_alpha();
  // Inside the one-pixel rim, where scaling blends the picture's edge with what was below.
  int not_white = 0;
  for (int y = 1; y < 39; ++y)
    for (int x = 1; x < 59; ++x) not_white += view_pixel(x, y) != 0xffffffffu;
  EXPECT_EQ(not_white, 0);
}

TEST_F(EditorTest, AlphaViewIsScaledAndLastsUntilTheViewIsRebuilt) {
  open(write_image(dir_, "bands.png", 40, 20, true, banded));
  // A black stroke on the opaque band, then undone.
  gtk_button_clicked(GTK_BUTTON(gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 6)))));
  press(25, 10);
  release(25, 10);
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_z, GDK_CONTROL_MASK));
  set_mode(true);
  gtk_adjustment_set_value(zoom_adjustment, 300);
  settle();
  show_alpha();
  EXPECT_EQ(view_pixel(45, 30), 0xff808080u);  // image pixel (15, 10)
  EXPECT_EQ(view_pixel(65, 5), 0xffffffffu);
  // A redo paints on top of the grey picture.
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_y, GDK_CONTROL_MASK));
  settle();
  EXPECT_EQ(view_pixel(75, 30), 0xff000000u);
  EXPECT_EQ(view_pixel(45, 30), 0xff808080u);
  // A zoom rebuilds the view: the image with its alpha again.
  gtk_adjustment_set_value(zoom_adjustment, 100);
  settle();
  EXPECT_EQ(view_pixel(25, 5), 0xffc86432u);
  EXPECT_EQ(view_pixel(5, 5), 0u);
  show_alpha();
  EXPECT_EQ(view_pixel(5, 5), 0xff000000u);
  // So does an undo.
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_z, GDK_CONTROL_MASK));
  settle();
  EXPECT_EQ(view_pixel(5, 5), 0u);
  EXPECT_EQ(view_pixel(25, 5), 0xffc86432u);
}
