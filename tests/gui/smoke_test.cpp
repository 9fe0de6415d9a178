#include "gui/gtkquillane.h"
#include "tests/gui/gui_harness.h"

TEST_F(EditorTest, WindowStartsInEditModeWithTitle) {
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window)), "Tessaly");
  EXPECT_EQ(in_edit_mode, 1);
  open_generated(40, 30);
  drag(5, 5, 20, 5);
  EXPECT_EQ(layer_pixel(10, 5), 0xffffffffu);
}
