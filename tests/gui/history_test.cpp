// Undo and redo of strokes, checked on the pixels of the stroke layer and of the view.
#include <algorithm>
#include <string>
#include <vector>

#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "tests/gui/dialog_script.h"
#include "tests/gui/gui_harness.h"

namespace {

void click(int item) {
  g_signal_emit_by_name(toolbar_item(toolbar, item), "clicked");
}
void do_undo() {
  undo(nullptr, nullptr);
  settle();
}
void do_redo() {
  redo(nullptr, nullptr);
  settle();
}

guint32 image_colour(int x, int y) {
  return pixbuf_pixel(pixbuf_no_alpha, x, y);
}

class HistoryTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    if (IsSkipped()) return;
    open_generated(60, 40);
  }
};

TEST_F(HistoryTest, UndoWithEmptyHistoryLeavesTheBaseAlone) {
  // No base: the layer stays empty and the view shows the image.
  do_undo();
  EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 60 * 40);
  EXPECT_EQ(history, nullptr);
  EXPECT_EQ(current, nullptr);
  EXPECT_EQ(view_pixel(10, 10), image_colour(10, 10));

  // A layer opened from a file is the base: undo with nothing to undo keeps it.
  std::string file = write_image(dir_, "layer.png", 60, 40, true, [](int x, int) -> guint32 {
    return x < 20 ? 0xffffffffu : x < 40 ? 0u : 0xff000000u;
  });
  open(file, OPEN_AS_LAYER);
  std::vector<guint32> base = layer_snapshot();
  ASSERT_EQ(count_pixels(base, 0xffffffffu), 20 * 40);
  do_undo();
  do_undo();
  EXPECT_EQ(layer_snapshot(), base);
  EXPECT_EQ(view_pixel(5, 5), 0xffffffffu);
  EXPECT_EQ(view_pixel(30, 5), image_colour(30, 5));
  EXPECT_EQ(view_pixel(50, 5), 0xff000000u);
  do_redo();
  EXPECT_EQ(layer_snapshot(), base);
}

TEST_F(HistoryTest, UndoAndRedoStepThroughTheStrokes) {
  std::vector<std::vector<guint32>> states = {layer_snapshot()};
  drag(5, 5, 40, 5);  // white
  states.push_back(layer_snapshot());
  click(6);
  drag(20, 2, 20, 30);  // black, across the white one
  states.push_back(layer_snapshot());
  click(5);
  drag(50, 10, 50, 35);  // white again
  states.push_back(layer_snapshot());
  ASSERT_EQ(g_list_length(history), 3u);
  ASSERT_EQ(layer_pixel(20, 5), 0xff000000u);

  do_undo();
  EXPECT_EQ(layer_snapshot(), states[2]);
  EXPECT_EQ(view_pixel(50, 20), image_colour(50, 20));
  do_undo();
  EXPECT_EQ(layer_snapshot(), states[1]);
  EXPECT_EQ(layer_pixel(20, 5), 0xffffffffu);  // the white stroke shows again under the black
  EXPECT_EQ(view_pixel(20, 5), 0xffffffffu);
  EXPECT_EQ(view_pixel(20, 20), image_colour(20, 20));
  do_redo();
  EXPECT_EQ(layer_snapshot(), states[2]);
  EXPECT_EQ(view_pixel(20, 5), 0xff000000u);
  do_redo();
  EXPECT_EQ(layer_snapshot(), states[3]);
  EXPECT_EQ(view_pixel(50, 20), 0xffffffffu);

  // Redo at the end does nothing.
  GList* last = current;
  do_redo();
  EXPECT_EQ(current, last);
  EXPECT_EQ(current, g_list_last(history));
  EXPECT_EQ(layer_snapshot(), states[3]);

  // Undo everything, and once more with nothing left; redo starts from the first stroke.
  for (int i = 0; i < 4; ++i) do_undo();
  EXPECT_EQ(current, nullptr);
  EXPECT_EQ(layer_snapshot(), states[0]);
  EXPECT_EQ(view_pixel(10, 5), image_colour(10, 5));
  do_redo();
  EXPECT_EQ(layer_snapshot(), states[1]);

  // A new stroke discards what was undone: redo has nothing to bring back.
  click(6);
  drag(5, 30, 15, 30);
  std::vector<guint32> after = layer_snapshot();
  EXPECT_EQ(g_list_length(history), 2u);
  do_redo();
  EXPECT_EQ(layer_snapshot(), after);
  EXPECT_EQ(layer_pixel(20, 20), 0u);
}

TEST_F(HistoryTest, EraserStrokesAreReplayedAsErasure) {
  drag(5, 20, 55, 20);
  click(7);  // eraser
  drag(30, 5, 30, 35);
  std::vector<guint32> erased = layer_snapshot();
  ASSERT_EQ(layer_pixel(30, 20), 0u);
  ASSERT_EQ(layer_pixel(10, 20), 0xffffffffu);

  do_undo();
  EXPECT_EQ(layer_pixel(30, 20), 0xffffffffu);
  EXPECT_EQ(view_pixel(30, 20), 0xffffffffu);
  do_redo();
  EXPECT_EQ(layer_snapshot(), erased);
  EXPECT_EQ(view_pixel(30, 20), image_colour(30, 20));

  // Replayed from the start: the eraser still removes only what lies under it.
  do_undo();
  do_undo();
  do_redo();
  do_redo();
  EXPECT_EQ(layer_snapshot(), erased);
  EXPECT_EQ(view_pixel(30, 20), image_colour(30, 20));
  EXPECT_EQ(view_pixel(10, 20), 0xffffffffu);
}

TEST_F(HistoryTest, AStrokeRecordedAt200PercentIsReplayedAt50PercentOnTheSamePixels) {
  gtk_adjustment_set_value(zoom_adjustment, 200);
  settle();
  ASSERT_DOUBLE_EQ(scale, 2.0);
  drag(20, 20, 90, 50);  // image (10, 10) to (45, 25)
  click(6);
  drag(100, 10, 100, 70);  // image column 50
  std::vector<guint32> painted = layer_snapshot();
  ASSERT_EQ(layer_pixel(10, 10), 0xffffffffu);
  ASSERT_EQ(layer_pixel(50, 20), 0xff000000u);
  ASSERT_EQ(layer_pixel(58, 2), 0u);

  gtk_adjustment_set_value(zoom_adjustment, 50);
  settle();
  ASSERT_DOUBLE_EQ(scale, 0.5);
  do_undo();
  do_undo();
  EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 60 * 40);
  do_redo();
  do_redo();
  EXPECT_EQ(layer_snapshot(), painted);
  // The view at 50 % shows the replayed strokes at half their image position.
  EXPECT_EQ(view_pixel(5, 5), 0xffffffffu);
  EXPECT_EQ(view_pixel(25, 10), 0xff000000u);
  EXPECT_NE(view_pixel(5, 15), 0xffffffffu);
  EXPECT_NE(view_pixel(5, 15), 0xff000000u);
}

TEST_F(HistoryTest, AClickIsReplayedAsARoundDot) {
  for (int size : {10, 7}) {
    SCOPED_TRACE(size);
    open_generated(60, 40);
    gtk_adjustment_set_value(brush_adjustment, size);
    press(30, 20);
    release(30, 20);
    motion(30, 20, 0);
    settle();
    ASSERT_EQ(g_list_length(history), 1u);
    const double* record = static_cast<const double*>(current->data);
    ASSERT_EQ(static_cast<int>(record[7]), 12);
    EXPECT_EQ(record[8], record[10]);
    EXPECT_EQ(record[9], record[11]);
    std::vector<guint32> dot = layer_snapshot();
    int painted = count_pixels(dot, 0xffffffffu);
    // A disc of diameter `size`: about pi/4 of its square, no corner of the square.
    EXPECT_NEAR(painted, 3.14159 * size * size / 4, size * 1.5);
    int x0 = 60, x1 = -1, y0 = 40, y1 = -1;
    for (int y = 0; y < 40; ++y)
      for (int x = 0; x < 60; ++x)
        if (dot[size_t(y) * 60 + x] != 0u) {
          x0 = std::min(x0, x), x1 = std::max(x1, x), y0 = std::min(y0, y), y1 = std::max(y1, y);
        }
    EXPECT_EQ(x1 - x0 + 1, size);
    EXPECT_EQ(y1 - y0 + 1, size);
    EXPECT_EQ(layer_pixel(x0, y0), 0u);
    EXPECT_EQ(layer_pixel(x1, y1), 0u);
    EXPECT_EQ(layer_pixel((x0 + x1) / 2, y0), 0xffffffffu);

    do_undo();
    EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 60 * 40);
    do_redo();
    EXPECT_EQ(layer_snapshot(), dot);
  }
}

TEST_F(HistoryTest, AfterAlphaAsInputUndoReturnsToTheStrokesOfTheAlpha) {
  drag(5, 5, 50, 5);  // a stroke on the previous image: it must never come back
  std::string file = write_image(dir_, "matte.png", 50, 30, true, [](int x, int y) -> guint32 {
    guint32 a = x < 20 ? 255u : x < 30 ? 100u : 0u;
    return (a << 24) | (guint32(y * 8) << 8) | 40u;
  });
  open(file, OPEN_ALPHA_AS_INPUT);
  std::vector<guint32> derived = layer_snapshot();
  ASSERT_EQ(count_pixels(derived, 0xffffffffu), 20 * 30);
  ASSERT_EQ(count_pixels(derived, 0xff000000u), 20 * 30);

  click(6);
  drag(5, 15, 45, 15);  // black over the white part
  std::vector<guint32> painted = layer_snapshot();
  ASSERT_EQ(layer_pixel(10, 15), 0xff000000u);
  do_undo();
  EXPECT_EQ(layer_snapshot(), derived);
  EXPECT_EQ(view_pixel(10, 15), 0xffffffffu);
  EXPECT_EQ(view_pixel(25, 15), pixbuf_pixel(pixbuf_no_alpha, 25, 15));
  do_undo();
  EXPECT_EQ(layer_snapshot(), derived);
  do_redo();
  EXPECT_EQ(layer_snapshot(), painted);
  do_redo();
  EXPECT_EQ(layer_snapshot(), painted);
}

TEST_F(HistoryTest, OpenAsLayerKeepsTheHistoryAndUndoReplaysOverTheNewBase) {
  drag(5, 5, 50, 5);
  click(6);
  drag(5, 30, 50, 30);
  std::string file = write_image(dir_, "layer.png", 60, 40, true,
                                 [](int x, int) -> guint32 { return x >= 40 ? 0xff000000u : 0u; });
  open(file, OPEN_AS_LAYER);
  ASSERT_EQ(g_list_length(history), 2u);
  ASSERT_EQ(layer_pixel(10, 5), 0u);  // the file replaced the painted layer

  do_undo();  // base + first stroke
  EXPECT_EQ(layer_pixel(10, 5), 0xffffffffu);
  EXPECT_EQ(layer_pixel(45, 5), 0xffffffffu);
  EXPECT_EQ(layer_pixel(10, 30), 0u);
  EXPECT_EQ(layer_pixel(55, 30), 0xff000000u);
  do_undo();  // base alone
  EXPECT_EQ(layer_pixel(10, 5), 0u);
  EXPECT_EQ(layer_pixel(55, 5), 0xff000000u);
  do_redo();
  do_redo();
  EXPECT_EQ(layer_pixel(10, 5), 0xffffffffu);
  EXPECT_EQ(layer_pixel(10, 30), 0xff000000u);
  EXPECT_EQ(layer_pixel(55, 20), 0xff000000u);
}

TEST_F(HistoryTest, UndoDuringADragEndsTheStroke) {
  drag(5, 5, 50, 5);
  press(5, 20);
  motion(20, 20);
  do_undo();  // goes back past the stroke in progress
  std::vector<guint32> after_undo = layer_snapshot();
  EXPECT_EQ(layer_pixel(10, 5), 0xffffffffu);
  EXPECT_EQ(layer_pixel(10, 20), 0u);
  // The rest of the drag paints nothing and records nothing.
  motion(40, 20);
  motion(50, 25);
  motion(50, 25, 0);
  settle();
  EXPECT_EQ(layer_snapshot(), after_undo);
  // The next press starts a new stroke after the one in force.
  drag(5, 35, 30, 35);
  EXPECT_EQ(g_list_length(history), 2u);
  do_undo();
  EXPECT_EQ(layer_snapshot(), after_undo);
}

}  // namespace
