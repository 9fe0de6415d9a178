// Copy: the image on show, cut to the calculation region, read back from the CLIPBOARD.
#include <string>

#include "gui/clean_edges.h"
#include "gui/clipboard.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "tests/gui/dialog_script.h"
#include "tests/gui/gui_harness.h"

namespace {

guint32 colour_at(int x, int y) {
  return 0xff000000u | (guint32(x * 8 % 256) << 16) | (guint32(y * 12 % 256) << 8) | 77u;
}

// Copies and reads the clipboard back; null when it holds no image.
GdkPixbuf* copy_and_read() {
  gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  pixbuf_to_clipboard(nullptr, nullptr);
  settle();
  return gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
}

// Expects `copy` to be the (x, y, w, h) part of `source`, alpha included when it has one.
void expect_part(GdkPixbuf* copy, GdkPixbuf* source, int x, int y, int w, int h) {
  ASSERT_NE(copy, nullptr) << "nothing on the clipboard";
  ASSERT_EQ(gdk_pixbuf_get_width(copy), w);
  ASSERT_EQ(gdk_pixbuf_get_height(copy), h);
  EXPECT_EQ(gdk_pixbuf_get_has_alpha(copy), gdk_pixbuf_get_has_alpha(source));
  for (int j = 0; j < h; ++j)
    for (int i = 0; i < w; ++i) {
      guint32 want = pixbuf_pixel(source, x + i, y + j), got = pixbuf_pixel(copy, i, j);
      if (want >> 24 == 0) {
        ASSERT_EQ(got >> 24, 0u) << i << "," << j;
      } else {
        ASSERT_EQ(got, want) << i << "," << j;
      }
    }
}

void set_view_mode(bool on) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), on);
  settle();
}

class ClipboardTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    clean_edges_wanted = false;  // the copies are compared with the image's own colours
  }
  void open_picture(int w, int h) {
    open(write_image(dir_, "picture.png", w, h, false, colour_at));
  }
};

TEST_F(ClipboardTest, WithoutARegionTheWholeImageIsCopied) {
  open_picture(30, 20);
  drag(2, 2, 25, 2);  // strokes are not part of the copy
  ASSERT_EQ(w_img_ROI, 0);
  GdkPixbuf* copy = copy_and_read();
  expect_part(copy, pixbuf_no_alpha, 0, 0, 30, 20);
  if (copy != nullptr) g_object_unref(copy);

  // View mode before any calculation: the image with its (opaque) alpha.
  set_view_mode(true);
  copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 0, 0, 30, 20);
  if (copy != nullptr) g_object_unref(copy);
}

TEST_F(ClipboardTest, ADraggedRegionIsCopiedAndClampedToTheImage) {
  auto rgba = [](int x, int y) -> guint32 {
    return (guint32((x * 20 + y) % 256) << 24) | (colour_at(x, y) & 0xffffffu);
  };
  open(write_image(dir_, "cutout.png", 30, 20, true, rgba));
  set_view_mode(true);
  drag(5, 4, 14, 11);
  ASSERT_EQ(x_img_ROI, 5);
  ASSERT_EQ(w_img_ROI, 10);
  GdkPixbuf* copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 5, 4, 10, 8);
  if (copy != nullptr) g_object_unref(copy);

  // In edit mode the same region of the opaque image.
  set_view_mode(false);
  copy = copy_and_read();
  expect_part(copy, pixbuf_no_alpha, 5, 4, 10, 8);
  if (copy != nullptr) g_object_unref(copy);

  // Dragged past the canvas edge: only the part inside the image.
  set_view_mode(true);
  drag(20, 10, 45, 30);
  ASSERT_GT(x_img_ROI + w_img_ROI, 30);
  copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 20, 10, 10, 10);
  if (copy != nullptr) g_object_unref(copy);
  // A click without a drag: the whole image again.
  press(3, 3);
  motion(3, 3, 0);
  copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 0, 0, 30, 20);
  if (copy != nullptr) g_object_unref(copy);
}

TEST_F(ClipboardTest, ARegionLeftFromAnImageOfAnotherSizeIsNotUsed) {
  open_picture(40, 30);
  set_view_mode(true);
  drag(2, 2, 12, 8);
  ASSERT_EQ(w_img_ROI, 11);
  // A smaller image whose size the old region would cut wrongly, then a larger one.
  open(write_image(dir_, "small.png", 25, 15, false, colour_at));
  GdkPixbuf* copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 0, 0, 25, 15);
  if (copy != nullptr) g_object_unref(copy);
  open(write_image(dir_, "large.png", 50, 35, false, colour_at));
  copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 0, 0, 50, 35);
  if (copy != nullptr) g_object_unref(copy);
}

// A 40 x 30 picture, dark on the left and bright on the right, with white strokes on the
// bright side and black strokes on the dark side of the region.
class ClipboardCalcTest : public ClipboardTest {
 protected:
  void SetUp() override {
    ClipboardTest::SetUp();
    if (IsSkipped()) return;
    open(write_image(dir_, "halves.png", 40, 30, false, [](int x, int y) -> guint32 {
      guint32 v = x < 20 ? 30u + (y % 3) : 220u + (y % 3);
      return 0xff000000u | (v << 16) | (v << 8) | v;
    }));
  }
  void paint_strokes() {
    gtk_adjustment_set_value(brush_adjustment, 3);
    drag(28, 8, 28, 22);
    g_signal_emit_by_name(toolbar_item(toolbar, 6), "clicked");
    drag(12, 8, 12, 22);
  }
};

TEST_F(ClipboardCalcTest, AfterARegionCalculationOnlyTheRegionWithItsMatteIsCopied) {
  set_view_mode(true);
  drag(8, 5, 31, 24);  // region (8, 5, 24, 20)
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
  ASSERT_EQ(calc_ROI_is_set, 1);
  set_view_mode(false);
  paint_strokes();
  ASSERT_TRUE(calculate_and_wait());
  ASSERT_EQ(in_edit_mode, 0);

  GdkPixbuf* copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 8, 5, 24, 20);
  if (copy != nullptr) {
    EXPECT_TRUE(gdk_pixbuf_get_has_alpha(copy));
    EXPECT_GT(pixbuf_pixel(copy, 28 - 8, 10) >> 24, 230u);  // under the white stroke
    EXPECT_LT(pixbuf_pixel(copy, 12 - 8, 10) >> 24, 25u);   // under the black stroke
    g_object_unref(copy);
  }
}

TEST_F(ClipboardCalcTest, AfterAWholeImageCalculationTheWholeMatteIsCopied) {
  paint_strokes();
  ASSERT_TRUE(calculate_and_wait());
  GdkPixbuf* copy = copy_and_read();
  expect_part(copy, pixbuf_alpha, 0, 0, 40, 30);
  if (copy != nullptr) {
    EXPECT_GT(pixbuf_pixel(copy, 35, 15) >> 24, 230u);
    EXPECT_LT(pixbuf_pixel(copy, 3, 15) >> 24, 25u);
    g_object_unref(copy);
  }
}

TEST_F(ClipboardCalcTest, TheCopyKeepsItsPixelsWhenTheMatteChangesLater) {
  paint_strokes();
  ASSERT_TRUE(calculate_and_wait());
  GdkPixbuf* before = gdk_pixbuf_copy(pixbuf_alpha);
  GdkPixbuf* first = copy_and_read();
  ASSERT_NE(first, nullptr);
  g_object_unref(first);

  // A second calculation with the strokes the other way round rewrites the matte in place.
  set_view_mode(false);
  undo(nullptr, nullptr);
  undo(nullptr, nullptr);
  g_signal_emit_by_name(toolbar_item(toolbar, 6), "clicked");
  drag(28, 8, 28, 22);
  g_signal_emit_by_name(toolbar_item(toolbar, 5), "clicked");
  drag(12, 8, 12, 22);
  ASSERT_TRUE(calculate_and_wait());
  ASSERT_LT(pixbuf_pixel(pixbuf_alpha, 35, 15) >> 24, 25u);

  GdkPixbuf* still = gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  expect_part(still, before, 0, 0, 40, 30);
  if (still != nullptr) g_object_unref(still);
  g_object_unref(before);
}

}  // namespace
