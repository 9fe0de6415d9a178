// The Calculate command: when it runs and when not, the options dialog, the worker thread,
// the delivery of the matte, solver messages, and what is refused while a worker runs.
#include <atomic>
#include <csignal>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gdk/gdkkeysyms.h>

#include "gui/calc_progress.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/layer_state.h"
#include "gui/view.h"
#include "matting/solver_status.h"
#include "tests/gui/calc_probe.h"
#include "tests/gui/dialog_script.h"
#include "tests/gui/gui_harness.h"

// After the test headers: Xlib's macros would clash with theirs.
#include <gdk/gdkx.h>

namespace {

const int W = 40, H = 30;

// Dark on the left, bright on the right, with a little texture so that the colour model of
// every window is well posed.
guint32 halves(int x, int y) {
  guint32 v = x < W / 2 ? 30u + (x + y) % 4 : 220u + (x + y) % 4;
  return 0xff000000u | (v << 16) | (v << 8) | v;
}

void click(int item) {
  g_signal_emit_by_name(toolbar_item(toolbar, item), "clicked");
}

void set_alternate_colour(guint16 v) {
  GtkWidget* button = gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 8)));
  GdkColor c = {0, v, v, v};
  gtk_color_button_set_color(GTK_COLOR_BUTTON(button), &c);
  g_signal_emit_by_name(button, "color-set");
}

void set_view_mode(bool on) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), on);
  settle();
}

bool toggle_active() {
  return gtk_toggle_tool_button_get_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)));
}

guint32 matte(int x, int y) {
  return pixbuf_pixel(pixbuf_alpha, x, y) >> 24;
}

GThread* failing_create(GThreadFunc, gpointer, GError** error) {
  g_set_error_literal(error, G_THREAD_ERROR, G_THREAD_ERROR_AGAIN, "no thread could be started");
  return nullptr;
}

class CalcTest : public EditorTest {
 protected:
  void SetUp() override {
    EditorTest::SetUp();
    if (IsSkipped()) return;
    saved_create_ = calc_thread_create;
    probe.reset();
    calc_worker_observer = &probe;
    open(write_image(dir_, "halves.png", W, H, false, halves));
    gtk_adjustment_set_value(brush_adjustment, 3);
  }
  void TearDown() override {
    if (gui_available()) {
      // Never leave a worker behind for the next test.
      probe.release();
      EXPECT_TRUE(wait_for_calculation());
      EXPECT_TRUE(loop_until([] { return calc_workers_alive() == 0; }));
      calc_worker_observer = nullptr;
      calc_thread_create = saved_create_;
    }
    EditorTest::TearDown();
  }

  void white_stroke(int x) {
    click(5);
    drag(x, 6, x, 24);
  }
  void black_stroke(int x) {
    click(6);
    drag(x, 6, x, 24);
  }

  // Presses Calculate expecting no dialog at all; returns false if one came.
  bool calculate_without_dialog() {
    DialogScript none({}, 300);
    click(4);
    settle(350);
    return none.stray().empty();
  }

  // Presses Calculate, accepts the options and waits until the worker waits at the end of
  // stage.
  void start_held(MatteStage stage) {
    probe.hold_at = stage;
    DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK)});
    click(4);
    ASSERT_TRUE(loop_until([] { return probe.holding.load() > 0; }));
    EXPECT_TRUE(script.finished());
  }

  void expect_nothing_started() {
    EXPECT_FALSE(calculation_running());
    EXPECT_EQ(progress_bars(), 0);
    EXPECT_EQ(in_edit_mode, 1);
    EXPECT_FALSE(toggle_active());
    for (int y = 0; y < H; y += 3)
      for (int x = 0; x < W; x += 3) ASSERT_EQ(matte(x, y), 255u) << x << "," << y;
  }

  GThread* (*saved_create_)(GThreadFunc, gpointer, GError**) = nullptr;
};

TEST_F(CalcTest, WithoutBothKindsOfStrokesNothingHappens) {
  EXPECT_TRUE(calculate_without_dialog()) << "no strokes";
  expect_nothing_started();
  // A layer from a file: black strokes and white paint that is not fully opaque.
  open(write_image(dir_, "soft-layer.png", W, H, true,
                   [](int x, int) -> guint32 {
                     if (x >= 5 && x < 8) return 0xff000000u;
                     return x >= 30 && x < 33 ? 0xc8ffffffu : 0u;
                   }),
       OPEN_AS_LAYER);
  ASSERT_EQ(layer_pixel(6, 10), 0xff000000u);
  ASSERT_NE(layer_pixel(31, 10) >> 24, 0u);
  EXPECT_TRUE(calculate_without_dialog()) << "white strokes with partial alpha";
  expect_nothing_started();
  open(dir_ + "/halves.png");
  white_stroke(30);
  EXPECT_TRUE(calculate_without_dialog()) << "only white";
  expect_nothing_started();
  undo(nullptr, nullptr);
  black_stroke(8);
  EXPECT_TRUE(calculate_without_dialog()) << "only black";
  expect_nothing_started();
  white_stroke(30);
  click(7);  // erased white is no stroke
  drag(30, 6, 30, 24);
  ASSERT_EQ(layer_pixel(30, 12), 0u);
  EXPECT_TRUE(calculate_without_dialog()) << "black and erased";
  expect_nothing_started();

  // Both kinds, but the white one outside the region in use.
  white_stroke(34);
  set_view_mode(true);
  drag(2, 2, 25, 27);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
  set_view_mode(false);
  EXPECT_TRUE(calculate_without_dialog()) << "white outside the region";
  expect_nothing_started();
}

TEST_F(CalcTest, AFullRunDeliversTheMatteInViewMode) {
  white_stroke(30);
  black_stroke(9);
  pass_option_args->softness = 1e-6;
  ASSERT_TRUE(calculate_and_wait());

  EXPECT_FALSE(calculation_running());
  EXPECT_EQ(calc_workers_alive(), 0);
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_EQ(progress_bars(), 0);
  EXPECT_TRUE(toggle_active());
  EXPECT_EQ(in_edit_mode, 0);
  EXPECT_EQ(pixbuf_image, pixbuf_alpha);
  EXPECT_EQ(x_img_ROI, 0);
  EXPECT_EQ(y_img_ROI, 0);
  EXPECT_EQ(w_img_ROI, W);
  EXPECT_EQ(h_img_ROI, H);
  for (int y = 6; y <= 24; ++y) {
    EXPECT_GE(matte(30, y), 250u) << y;
    EXPECT_LE(matte(9, y), 5u) << y;
  }
  // Away from the strokes the matte follows the two halves.
  EXPECT_GT(matte(37, 2), 200u);
  EXPECT_LT(matte(2, 28), 55u);
  // Colours are the image's; the view shows the image with its new alpha.
  EXPECT_EQ(pixbuf_pixel(pixbuf_alpha, 30, 10) & 0xffffffu, halves(30, 10) & 0xffffffu);
  EXPECT_EQ(pixbuf_pixel(pixbuf_alpha, 9, 10) & 0xffffffu, halves(9, 10) & 0xffffffu);
  EXPECT_LE(view_pixel(9, 10) >> 24, 5u);
  EXPECT_GE(view_pixel(30, 10) >> 24, 250u);
  // The strokes are still there for the next round.
  EXPECT_EQ(layer_pixel(30, 10), 0xffffffffu);

  // Saved in view mode: an RGBA PNG whose alpha is the matte.
  std::string out = fresh_dir("result");
  {
    DialogScript save({choose_file("Save File", out + "/result.jpg")});
    on_save_as(nullptr, main_window);
    settle();
    EXPECT_TRUE(save.finished());
  }
  GdkPixbuf* back = gdk_pixbuf_new_from_file((out + "/result.png").c_str(), nullptr);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_n_channels(back), 4);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) ASSERT_EQ(pixbuf_pixel(back, x, y) >> 24, matte(x, y));
  g_object_unref(back);
}

TEST_F(CalcTest, BlackAndAlternateColourStrokesRunAndGreyIsKeptAtItsLevel) {
  black_stroke(6);
  set_alternate_colour(32896);  // grey 128
  drag(30, 6, 30, 24);
  ASSERT_EQ(layer_pixel(30, 10), 0xff808080u);
  ASSERT_TRUE(calculate_and_wait());
  for (int y = 8; y <= 22; ++y) {
    EXPECT_NEAR(int(matte(30, y)), 128, 2) << y;
    EXPECT_LE(matte(6, y), 5u) << y;
  }

  // With white strokes too, the grey stroke still pins its pixels to 128.
  set_view_mode(false);
  white_stroke(36);
  ASSERT_TRUE(calculate_and_wait());
  for (int y = 8; y <= 22; ++y) {
    EXPECT_NEAR(int(matte(30, y)), 128, 2) << y;
    EXPECT_GE(matte(36, y), 250u) << y;
  }
}

TEST_F(CalcTest, StrokesTakenFromAnAlphaChannelSeedTheCalculation) {
  // A rough matte made elsewhere: opaque on the far right, transparent on the far left,
  // undecided in between.
  open(write_image(dir_, "rough.png", W, H, true,
                   [](int x, int y) -> guint32 {
                     guint32 a = x >= 33 ? 255u : x < 7 ? 0u : 128u;
                     return (a << 24) | (halves(x, y) & 0xffffffu);
                   }),
       OPEN_ALPHA_AS_INPUT);
  ASSERT_TRUE(calculate_and_wait());
  for (int y = 0; y < H; y += 4) {
    EXPECT_GE(matte(36, y), 250u) << y;
    EXPECT_LE(matte(3, y), 5u) << y;
    EXPECT_GT(matte(26, y), 200u) << y;  // the bright half follows the white side
    EXPECT_LT(matte(13, y), 55u) << y;   // the dark half the black side
  }
}

TEST_F(CalcTest, CancellingTheOptionsStartsNothing) {
  white_stroke(30);
  black_stroke(9);
  pass_option_args->levels_num = 1;
  DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_CANCEL)});
  click(4);
  settle();
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(script.stray().empty());
  expect_nothing_started();
  EXPECT_EQ(ok_to_calc, 0);
  EXPECT_EQ(pass_calc_args, nullptr);

  // The next Calculate asks again and runs.
  ASSERT_TRUE(calculate_and_wait());
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_TRUE(toggle_active());
}

// The label of a dialog's button with this response.
std::string button_label(GtkDialog* d, gint response) {
  GtkWidget* button = gtk_dialog_get_widget_for_response(d, response);
  return button != nullptr ? gtk_button_get_label(GTK_BUTTON(button)) : "";
}

TEST_F(CalcTest, ACalculationTooLargeForTheMemoryOffersAutomaticLevels) {
  white_stroke(30);
  black_stroke(9);
  calc_memory_budget = 1.0;  // every calculation is too large now
  std::string text, automatic, anyway;
  struct Answer {
    gint response;  // 1: the automatic levels (the default button)
    bool runs;
    int auto_levels;  // in the record afterwards
  };
  for (const Answer& a : {Answer{GTK_RESPONSE_CANCEL, false, 0},
                          Answer{GTK_RESPONSE_ACCEPT, true, 0}, Answer{1, true, 1}}) {
    SCOPED_TRACE(a.response);
    set_view_mode(false);
    DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK),
                         {"Large calculation", [&](GtkDialog* d) {
                            automatic = button_label(d, 1);
                            anyway = button_label(d, GTK_RESPONSE_ACCEPT);
                            EXPECT_TRUE(
                                GTK_WIDGET_HAS_DEFAULT(gtk_dialog_get_widget_for_response(d, 1)));
                            answer_reading("", &text, a.response).answer(d);
                          }}});
    probe.reset();
    probe.hold_at = MATTE_STAGE_LAPLACIAN;
    click(4);
    if (a.runs) {  // the request carries the choice to the engine
      ASSERT_TRUE(loop_until([] { return probe.holding.load() > 0; }));
      EXPECT_EQ(pass_calc_args->auto_levels, a.auto_levels);
      probe.release();
    }
    EXPECT_TRUE(wait_for_calculation());
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(toggle_active(), a.runs);
    EXPECT_EQ(pass_option_args->auto_levels, a.auto_levels);
  }
  calc_memory_budget = 0;
  EXPECT_NE(text.find("may need about"), std::string::npos) << text;
  EXPECT_EQ(automatic.rfind("Calculate with automatic levels\n (about ", 0), 0u) << automatic;
  EXPECT_EQ(anyway, "Calculate at full resolution anyway");
  EXPECT_GE(matte(30, 15), 230u);
  EXPECT_LE(matte(9, 15), 25u);
}

TEST_F(CalcTest, ARegionCalculationLeavesEverythingOutsideTransparent) {
  set_view_mode(true);
  drag(8, 5, 31, 24);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
  set_view_mode(false);
  white_stroke(28);
  black_stroke(12);
  ASSERT_TRUE(calculate_and_wait());
  EXPECT_EQ(x_img_ROI, 8);
  EXPECT_EQ(y_img_ROI, 5);
  EXPECT_EQ(w_img_ROI, 24);
  EXPECT_EQ(h_img_ROI, 20);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      bool inside = x >= 8 && x < 32 && y >= 5 && y < 25;
      if (!inside) {
        ASSERT_EQ(matte(x, y), 0u) << x << "," << y;
      }
    }
  EXPECT_GE(matte(28, 12), 250u);
  EXPECT_LE(matte(12, 12), 5u);
  EXPECT_GT(matte(30, 6), 200u);

  // A region dragged past the canvas edge is clamped, and the clamped values stay.
  set_view_mode(true);
  drag(10, 4, 70, 50);
  set_view_mode(false);
  ASSERT_GT(x_img_ROI + w_img_ROI, W);
  ASSERT_TRUE(calculate_and_wait());
  EXPECT_EQ(x_img_ROI, 10);
  EXPECT_EQ(y_img_ROI, 4);
  EXPECT_EQ(w_img_ROI, W - 10);
  EXPECT_EQ(h_img_ROI, H - 4);
  EXPECT_EQ(matte(9, 12), 0u);
  EXPECT_EQ(matte(20, 3), 0u);
  EXPECT_GE(matte(28, 12), 250u);
  EXPECT_GT(matte(39, 29), 200u);
}

TEST_F(CalcTest, ARegionWhollyOutsideTheImageIsRefused) {
  // A region chosen on a larger image, still in use after a smaller one is opened.
  open(write_image(dir_, "large.png", 90, 70, false, halves));
  set_view_mode(true);
  drag(50, 40, 80, 65);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
  set_view_mode(false);
  open(dir_ + "/halves.png");
  white_stroke(30);
  black_stroke(9);
  std::string text;
  DialogScript script({answer_reading("Error", &text)});
  click(4);
  settle();
  EXPECT_TRUE(script.finished()) << "no error dialog";
  EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();
  EXPECT_NE(text.find("outside the image"), std::string::npos) << text;
  expect_nothing_started();
}

TEST_F(CalcTest, SolverStatusesAreReportedAndAMatteIsWrittenWhenOneWasMade) {
  const std::string advice =
      "failure: invalid numeric object\nyou can try:\nScaling the image down using an external "
      "application or increase\nthe number of scaling steps in the calculation options.\n\nOr "
      "tighten the image trimatte i.e. paint out more foregound and\nbackground pixels.\n\nOr "
      "in preview mode (left tool bar button) drag the mouse to select\na smaller region of the "
      "image and make that the calculation region\nfrom the edit menu. Don't forget you'll need "
      "to toggle back to\nthe edit mode to perform the calculation.";
  struct Case {
    int status;
    bool with_matte;
    std::string message;  // empty: no dialog
  };
  for (const Case& c :
       {Case{-3, true, advice}, Case{-8, true, "failure: invalid matrix"},
        Case{-911, true, "failure: UMF internal error"}, Case{0, true, ""},
        Case{1, true, solver_warning_message(1)}, Case{-1, false, "failure: out_of_memory"},
        Case{CALC_STATUS_CANCELLED, false, ""}}) {
    SCOPED_TRACE(c.status);
    set_view_mode(false);
    std::vector<guint32> before;
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) before.push_back(matte(x, y));
    CalcArgs* args = new CalcArgs();
    args->alpha_img = static_cast<TIFF_img*>(g_malloc0(sizeof(TIFF_img)));
    if (c.with_matte) {
      ASSERT_EQ(get_TIFF(args->alpha_img, H, W, 'g'), 0);
      for (int y = 0; y < H; ++y)
        for (int x = 0; x < W; ++x)
          args->alpha_img->plane[y][x] = static_cast<uint8_t>(x * 5 + y + c.status);
    }
    args->status = c.status;
    args->mode_button = toolbar_item(toolbar, 0);
    args->region = {0, 0, W, H};
    args->source = GDK_PIXBUF(g_object_ref(pixbuf_no_alpha));
    args->strokes = layer_fingerprint(args->region);

    std::string text;
    std::vector<DialogScript::Step> steps;
    if (!c.message.empty()) steps.push_back(answer_reading("Error", &text));
    DialogScript script(std::move(steps), c.message.empty() ? 300 : 15000);
    setup_results(args);
    settle(c.message.empty() ? 350 : 0);
    EXPECT_TRUE(script.finished());
    EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();
    EXPECT_EQ(text, c.message);
    EXPECT_EQ(toggle_active(), c.with_matte);
    if (c.status == CALC_STATUS_CANCELLED) {
      EXPECT_EQ(status_message(STATUS_MESSAGE), "Calculation cancelled");
    }
    // Without a matte the previous alpha stays.
    for (int y = 0; y < H; ++y)
      for (int x = 0; x < W; ++x) {
        guint32 want = c.with_matte ? uint8_t(x * 5 + y + c.status) : before[y * W + x];
        ASSERT_EQ(matte(x, y), want) << x << "," << y;
        ASSERT_EQ(pixbuf_pixel(pixbuf_alpha, x, y) & 0xffffffu, halves(x, y) & 0xffffffu);
      }
    free_TIFF(args->alpha_img);
    g_free(args->alpha_img);
    g_object_unref(args->source);
    delete args;
  }
}

TEST_F(CalcTest, AWorkerThatCannotStartIsReported) {
  white_stroke(30);
  black_stroke(9);
  calc_thread_create = failing_create;
  std::string text;
  DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK),
                       answer_reading("Error", &text)});
  click(4);
  settle();
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(script.stray().empty());
  EXPECT_NE(text.find("no thread could be started"), std::string::npos) << text;
  expect_nothing_started();
  EXPECT_EQ(ok_to_calc, 1);
  settle(250);
  EXPECT_EQ(progress_bars(), 0);

  // Nothing is left half done: the next attempt runs normally.
  calc_thread_create = saved_create_;
  ASSERT_TRUE(calculate_and_wait());
  EXPECT_GE(matte(30, 12), 250u);
}

TEST_F(CalcTest, DuringARunStrokesChangeButOpenAndTheRegionAreRefused) {
  white_stroke(30);
  black_stroke(9);
  start_held(MATTE_STAGE_LAPLACIAN);
  ASSERT_TRUE(calculation_running());
  EXPECT_EQ(ok_to_calc, 0);
  EXPECT_EQ(progress_bars(), 1);

  // Painting, undo, redo, the eraser and a Control-click line change the layer, not the run.
  white_stroke(16);  // on the dark half, unknown to the running calculation
  EXPECT_EQ(layer_pixel(16, 12), 0xffffffffu);
  undo(nullptr, nullptr);
  EXPECT_EQ(layer_pixel(16, 12), 0u);
  redo(nullptr, nullptr);
  EXPECT_EQ(layer_pixel(16, 12), 0xffffffffu);
  click(7);
  drag(30, 6, 30, 9);
  EXPECT_EQ(layer_pixel(30, 7), 0u);
  click(5);
  press(30, 17, GDK_CONTROL_MASK);  // a line from (30, 9) down to (30, 17)
  release(30, 17);
  EXPECT_EQ(layer_pixel(30, 13), 0xffffffffu);
  EXPECT_EQ(g_list_length(history), 5u);
  EXPECT_TRUE(calculation_running());

  std::vector<guint32> layer = layer_snapshot();
  GdkPixbuf* image = pixbuf_no_alpha;
  auto expect_refused = [&](const char* what) {
    SCOPED_TRACE(what);
    EXPECT_NE(status_message(STATUS_MESSAGE).find("Calculating"), std::string::npos)
        << status_message(STATUS_MESSAGE);
    update_statusbar("", STATUS_MESSAGE, status_bar);
    EXPECT_TRUE(calculation_running());
    EXPECT_EQ(layer_snapshot(), layer);
    EXPECT_EQ(pixbuf_no_alpha, image);
    EXPECT_EQ(x_img_ROI + y_img_ROI, 0);
    EXPECT_EQ(w_img_ROI, W);
    EXPECT_EQ(h_img_ROI, H);
    EXPECT_EQ(calc_ROI_is_set, 0);
  };
  {
    DialogScript none({}, 300);
    on_open_image(nullptr, toolbar);
    settle(350);
    EXPECT_TRUE(none.stray().empty()) << "Open showed a dialog";
  }
  expect_refused("Open");
  GError* error = nullptr;
  EXPECT_FALSE(open_image_file((dir_ + "/halves.png").c_str(), OPEN_DEFAULT, toolbar, &error));
  if (error != nullptr) g_error_free(error);
  expect_refused("opening a file");
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
  settle();
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(calc_roi_item)));
  expect_refused("region item");

  // The mode toggle, zoom and the alpha view keep working.
  set_view_mode(true);
  EXPECT_EQ(in_edit_mode, 0);
  drag(5, 5, 15, 15);
  settle();
  expect_refused("region drag in view mode");
  gtk_adjustment_set_value(zoom_adjustment, 200);
  settle();
  EXPECT_DOUBLE_EQ(scale, 2.0);
  EXPECT_EQ(cairo_image_surface_get_width(win_surf), 2 * W);
  EXPECT_NE(view_pixel(10, 30), 0xffffffffu);  // the dark half of the image
  click(3);                                    // ALPHA
  settle();
  EXPECT_EQ(view_pixel(10, 30), 0xffffffffu);  // no matte yet: all opaque

  // The matte of the strokes the run started with, delivered into view mode, and a word that
  // the strokes have changed since; the refusal does not outlive the calculation.
  on_open_image(nullptr, toolbar);
  ASSERT_NE(status_message(STATUS_MESSAGE).find("Calculating"), std::string::npos);
  probe.release();
  ASSERT_TRUE(wait_for_calculation());
  EXPECT_EQ(status_message(STATUS_MESSAGE), "strokes changed since this calculation");
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_EQ(progress_bars(), 0);
  EXPECT_TRUE(toggle_active());
  EXPECT_EQ(pixbuf_image, pixbuf_alpha);
  EXPECT_LE(matte(9, 12), 5u);
  EXPECT_GE(matte(30, 7), 250u);
  EXPECT_LE(matte(16, 12), 55u);
  EXPECT_LE(view_pixel(2 * 9, 2 * 12) >> 24, 5u);
  EXPECT_GE(view_pixel(2 * 30, 2 * 12) >> 24, 250u);

  // Afterwards the region can change again, and a new run knows every stroke.
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
  EXPECT_EQ(calc_ROI_is_set, 1);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), FALSE);
  set_view_mode(false);
  ASSERT_TRUE(calculate_and_wait());
  EXPECT_GE(matte(16, 12), 250u);
  EXPECT_NE(status_message(STATUS_MESSAGE), "strokes changed since this calculation");
}

TEST_F(CalcTest, CalculateDuringARunStartsAgainWithTheCurrentStrokes) {
  white_stroke(30);
  black_stroke(9);
  start_held(MATTE_STAGE_LAPLACIAN);
  CalcArgs* first = pass_calc_args;
  white_stroke(16);
  {
    DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK)});
    click(4);
    ASSERT_TRUE(loop_until([] { return probe.holding.load() == 2; }));
  }
  EXPECT_TRUE(first->control.cancel_requested());
  EXPECT_NE(pass_calc_args, first);
  EXPECT_EQ(calc_workers_alive(), 2);
  // The first worker ends, cancelled, without touching the new calculation or the window.
  update_statusbar("", STATUS_MESSAGE, status_bar);
  probe.release_one();
  ASSERT_TRUE(loop_until([] { return calc_workers_alive() == 1; }));
  settle();
  EXPECT_TRUE(calculation_running());
  EXPECT_EQ(progress_bars(), 1);
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(status_message(STATUS_MESSAGE), "");
  // The new one delivers the matte of the current strokes, into view mode, while the eraser is
  // held down over nothing: the rest of that drag selects no region.
  click(7);
  press(20, 2);
  motion(22, 2);
  probe.release();
  ASSERT_TRUE(wait_for_calculation());
  motion(35, 28);
  release(35, 28);
  EXPECT_EQ(in_edit_mode, 0);
  EXPECT_EQ(w_img_ROI * h_img_ROI, W * H);
  EXPECT_GE(matte(16, 12), 250u);
  EXPECT_NE(status_message(STATUS_MESSAGE), "strokes changed since this calculation");
}

// Escape in the main window, as the keyboard delivers it.
void press_escape() {
  GdkEvent* ev = gdk_event_new(GDK_KEY_PRESS);
  ev->key.window = GDK_WINDOW(g_object_ref(main_window->window));
  ev->key.send_event = TRUE;
  ev->key.keyval = GDK_Escape;
  gtk_widget_event(main_window, ev);
  gdk_event_free(ev);
}

struct CancelCase {
  const char* name;
  bool in_factorisation;  // else the worker waits between two stages
  bool escape;            // else the Cancel button
};

class CancelTest : public CalcTest, public ::testing::WithParamInterface<CancelCase> {};

TEST_P(CancelTest, TheWindowIsUsableAtOnceAndTheLateResultIsDiscarded) {
  const CancelCase& c = GetParam();
  int w = W, h = H;
  if (c.in_factorisation) {
    // Large enough that its factorisation takes a good while.
    w = 240;
    h = 180;
    open(write_image(dir_, "large.png", w, h, false, [w](int x, int y) {
      guint32 v = x < w / 2 ? 30u + (x * 7 + y * 3) % 11 : 210u + (x * 5 + y * 7) % 13;
      return 0xff000000u | (v << 16) | (v << 8) | v;
    }));
  }
  white_stroke(w - 10);
  black_stroke(9);
  std::vector<guint32> layer = layer_snapshot();
  if (c.in_factorisation) {
    DialogScript script({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK)});
    click(4);
    ASSERT_TRUE(loop_until([] { return probe.factorising.load(); }));
  } else {
    start_held(MATTE_STAGE_LAPLACIAN);
    // The bar shows what the worker reported last.
    settle(250);
    ProgressLook look = progress_look(pass_calc_args->control.progress());
    EXPECT_EQ(look.text.rfind("building the Laplacian \u00b7 ", 0), 0u) << look.text;
    GtkProgressBar* bar = GTK_PROGRESS_BAR(pass_calc_args->progress_bar);
    EXPECT_EQ(gtk_progress_bar_get_text(bar), look.text);
    EXPECT_DOUBLE_EQ(gtk_progress_bar_get_fraction(bar), look.fraction);
  }
  ASSERT_TRUE(calculation_running());
  if (c.escape)
    press_escape();
  else
    gtk_button_clicked(GTK_BUTTON(pass_calc_args->cancel_button));

  // At once: no bar, no Cancel button, a word in the status bar, everything as it was.
  EXPECT_FALSE(calculation_running());
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_EQ(progress_bars(), 0);
  EXPECT_EQ(find_widget(status_bar, [](GtkWidget* b) { return GTK_IS_BUTTON(b) != FALSE; }),
            nullptr);
  EXPECT_EQ(status_message(STATUS_MESSAGE), "Calculation cancelled");
  EXPECT_EQ(layer_snapshot(), layer);
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(calc_workers_alive(), 1);
  // Painting works while the worker finishes.
  click(5);
  drag(w / 2, 3, w / 2, 8);
  EXPECT_EQ(layer_pixel(w / 2, 5), 0xffffffffu);
  undo(nullptr, nullptr);

  // The worker's late end changes nothing and says nothing.
  update_statusbar("", STATUS_MESSAGE, status_bar);
  probe.release();
  ASSERT_TRUE(loop_until([] { return calc_workers_alive() == 0; }));
  settle();
  if (c.in_factorisation) {
    EXPECT_TRUE(probe.cancel_during_factorisation) << "the factorisation ended before Cancel";
  }
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(status_message(STATUS_MESSAGE), "");
  EXPECT_EQ(matte(w - 10, 12), 255u);  // no matte was delivered: alpha as opened
  EXPECT_EQ(matte(9, 12), 255u);

  // The next calculation works.
  ASSERT_TRUE(calculate_and_wait());
  EXPECT_GE(matte(w - 10, 12), 250u);
  EXPECT_LE(matte(9, 12), 5u);
}

INSTANTIATE_TEST_SUITE_P(
    Cancel, CancelTest,
    ::testing::Values(CancelCase{"BetweenStagesWithTheButton", false, false},
                      CancelCase{"DuringAFactorisationWithEscape", true, true}),
    [](const ::testing::TestParamInfo<CancelCase>& info) { return info.param.name; });

TEST(CalcProgressLook, TheFractionWhenKnownAndAPulseOtherwise) {
  struct Row {
    CalcProgress progress;
    std::string text;
    double fraction;
  };
  for (const Row& r :
       {Row{{0, 0, MATTE_STAGE_LAPLACIAN, -1}, "C A L C U L A T I N G", -1},
        Row{{2, 3, MATTE_STAGE_SOLVE, 0.4}, "level 2 of 3 \u00b7 solving \u00b7 40 %", 0.4},
        Row{{1, 1, MATTE_STAGE_NUMERIC, -1}, "factorising", -1}}) {
    ProgressLook look = progress_look(r.progress);
    EXPECT_EQ(look.text, r.text);
    EXPECT_DOUBLE_EQ(look.fraction, r.fraction);
  }
}

// A layer file of the test image's size: pixel (x, y) is fill(x, y).
std::string layer_file(const std::string& dir, int w, int h,
                       const std::function<guint32(int, int)>& fill) {
  return write_image(dir, "layer.png", w, h, true, fill);
}

struct RefusalCase {
  const char* name;
  std::function<void(CalcTest*)> arrange;
  bool options_first;  // the options dialog comes before the error
  std::string text;    // the error dialog's text starts with this
};

class RefusalTest : public CalcTest, public ::testing::WithParamInterface<RefusalCase> {
 public:
  void open_file(const std::string& path, int mode) { open(path, mode); }
  const std::string& dir() const { return dir_; }
};

// Errors of issue-prone inputs and of memory: the error dialog, and the image, the strokes
// and the alpha stay as they were.
TEST_P(RefusalTest, TheErrorDialogSaysWhyAndNothingChanges) {
  const RefusalCase& c = GetParam();
  white_stroke(30);
  black_stroke(9);
  c.arrange(this);
  std::vector<guint32> layer = layer_snapshot();
  int w = gdk_pixbuf_get_width(pixbuf_no_alpha), h = gdk_pixbuf_get_height(pixbuf_no_alpha);
  std::string text;
  std::vector<DialogScript::Step> steps;
  if (c.options_first) steps.push_back(answer_reading("options for calculation", nullptr));
  steps.push_back(answer_reading("Error", &text));
  DialogScript script(std::move(steps));
  click(4);
  ASSERT_TRUE(loop_until([&] { return script.finished() && calc_workers_alive() == 0; }, 60));
  settle();
  EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();
  EXPECT_EQ(text.rfind(c.text, 0), 0u) << text;
  EXPECT_FALSE(calculation_running());
  EXPECT_EQ(progress_bars(), 0);
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(layer_snapshot(), layer);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(matte(x, y), 255u) << x << "," << y;
}

INSTANTIATE_TEST_SUITE_P(
    Calc, RefusalTest,
    ::testing::Values(
        RefusalCase{"ARegionNarrowerThanOneWindow",
                    [](CalcTest*) {
                      set_view_mode(true);
                      drag(5, 5, 14, 24);  // 10 < 2 * 5 + 1 wide
                      gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), TRUE);
                      set_view_mode(false);
                      click(5);
                      drag(12, 6, 12, 24);  // a white stroke inside it too
                      pass_option_args->window_radius = 5;
                    },
                    true,
                    "Cannot calculate: the calculation region must be at least 2R+1 pixels in "
                    "each direction (11 with window radius R = 5); it is 10x20."},
        RefusalCase{"AnImageSmallerThanOneWindow",
                    [](CalcTest* t) {
                      auto* r = static_cast<RefusalTest*>(t);
                      r->open_file(write_image(r->dir(), "tiny.png", 2, 2, false, halves), 0);
                      r->open_file(layer_file(r->dir(), 2, 2,
                                              [](int x, int y) -> guint32 {
                                                return x == y ? (x ? 0xffffffffu : 0xff000000u)
                                                              : 0u;
                                              }),
                                   2);
                    },
                    true,
                    "Cannot calculate: the calculation region must be at least 2R+1 pixels in "
                    "each direction (3 with window radius R = 1); it is 2x2."},
        RefusalCase{"EveryPixelPainted",
                    [](CalcTest* t) {
                      auto* r = static_cast<RefusalTest*>(t);
                      r->open_file(layer_file(r->dir(), W, H,
                                              [](int x, int) {
                                                return x < W / 2 ? 0xff000000u : 0xffffffffu;
                                              }),
                                   2);
                    },
                    false, "every pixel is painted: nothing to calculate."},
        RefusalCase{"EveryPixelPaintedWhite",  // before the silent "no background" case
                    [](CalcTest* t) {
                      auto* r = static_cast<RefusalTest*>(t);
                      r->open_file(layer_file(r->dir(), W, H, [](int, int) { return 0xffffffffu; }),
                                   2);
                    },
                    false, "every pixel is painted: nothing to calculate."},
        RefusalCase{"OutOfMemoryDuringTheFactorisation",
                    [](CalcTest*) { probe.fail_at = MATTE_STAGE_NUMERIC; }, true,
                    "failure: out_of_memory"}),
    [](const ::testing::TestParamInfo<RefusalCase>& info) { return info.param.name; });

TEST_F(CalcTest, DeliveryKeepsAMessageThatReplacedTheRefusal) {
  white_stroke(30);
  black_stroke(9);
  start_held(MATTE_STAGE_LAPLACIAN);
  ASSERT_TRUE(calculation_running());
  on_open_image(nullptr, toolbar);
  ASSERT_NE(status_message(STATUS_MESSAGE).find("Calculating"), std::string::npos);
  // Saving is allowed meanwhile; its failure replaces the refusal and must stay readable.
  {
    DialogScript save({choose_file("Save File", dir_ + "/no-such-folder/strokes.png")});
    on_save_as(nullptr, main_window);
    settle();
    ASSERT_TRUE(save.finished());
  }
  std::string failure = status_message(STATUS_MESSAGE);
  ASSERT_EQ(failure.rfind("Could not save ", 0), 0u) << failure;
  probe.release();
  ASSERT_TRUE(wait_for_calculation());
  EXPECT_EQ(status_message(STATUS_MESSAGE), failure);
}

// The real program in a child process, driven with xdotool through the X server.
class EditorProcess {
 public:
  ~EditorProcess() {
    if (pid_ > 0) {  // still running: end the child this test started
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool start(const std::string& binary, const std::string& image, const std::string& dir) {
    out_ = dir + "/out.txt";
    int out = open(out_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    int err = open((dir + "/err.txt").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    gchar** env = g_get_environ();
    env = g_environ_setenv(env, "APPDATA", (dir + "/appdata").c_str(), TRUE);
    env = g_environ_setenv(env, "XDG_CONFIG_HOME", (dir + "/xdg").c_str(), TRUE);
    env = g_environ_setenv(env, "HOME", dir.c_str(), TRUE);
    env = g_environ_setenv(env, "XDG_STATE_HOME", (dir + "/state").c_str(), TRUE);
    env = g_environ_setenv(env, "QUILLANE_PRINT_LAYOUT", "1", TRUE);
    const gchar* argv[] = {binary.c_str(), image.c_str(), nullptr};
    GError* error = nullptr;
    gboolean ok = g_spawn_async_with_fds(dir.c_str(), const_cast<gchar**>(argv), env,
                                         G_SPAWN_DO_NOT_REAP_CHILD, nullptr, nullptr, &pid_, -1,
                                         out, err, &error);
    g_strfreev(env);
    close(out);
    close(err);
    if (!ok) {
      ADD_FAILURE() << "cannot start " << binary << ": " << error->message;
      g_error_free(error);
      pid_ = 0;
    }
    return ok;
  }
  std::string output() const {
    gchar* data = nullptr;
    gsize len = 0;
    std::string s;
    if (g_file_get_contents(out_.c_str(), &data, &len, nullptr)) s.assign(data, len);
    g_free(data);
    return s;
  }
  // Waits up to `seconds` for the child to end; true with its wait status when it did.
  bool wait_exit(int seconds, int* status) {
    gint64 deadline = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC;
    while (g_get_monotonic_time() < deadline) {
      if (waitpid(pid_, status, WNOHANG) == pid_) {
        pid_ = 0;
        return true;
      }
      g_usleep(50000);
    }
    return false;
  }

 private:
  GPid pid_ = 0;
  std::string out_;
};

// Runs a command (searched in PATH); its standard output, or "" when it failed.
std::string run(const std::vector<std::string>& args, bool* ok = nullptr) {
  std::vector<const gchar*> argv;
  for (const std::string& a : args) argv.push_back(a.c_str());
  argv.push_back(nullptr);
  gchar* out = nullptr;
  gint status = 0;
  gboolean spawned =
      g_spawn_sync(nullptr, const_cast<gchar**>(argv.data()), nullptr,
                   static_cast<GSpawnFlags>(G_SPAWN_SEARCH_PATH | G_SPAWN_STDERR_TO_DEV_NULL),
                   nullptr, nullptr, &out, nullptr, &status, nullptr);
  std::string s = spawned && out != nullptr ? out : "";
  g_free(out);
  if (ok != nullptr) *ok = spawned && g_spawn_check_exit_status(status, nullptr);
  return s;
}

// A widget's box from the program's "layout NAME INDEX X Y W H" lines (screen pixels).
struct Box {
  int x = 0, y = 0, w = 0, h = 0;
  int cx() const { return x + w / 2; }
  int cy() const { return y + h / 2; }
};
bool layout_box(const std::string& output, const std::string& name, int index, Box* box) {
  gchar** lines = g_strsplit(output.c_str(), "\n", -1);
  bool found = false;
  for (gchar** l = lines; *l != nullptr && !found; ++l) {
    char what[32];
    int i = 0;
    Box b;
    if (std::sscanf(*l, "layout %31s %d %d %d %d %d", what, &i, &b.x, &b.y, &b.w, &b.h) == 6 &&
        name == what && i == index) {
      *box = b;
      found = true;
    }
  }
  g_strfreev(lines);
  return found;
}

void xdo_drag(int x0, int y0, int x1, int y1) {
  run({"xdotool", "mousemove", std::to_string(x0), std::to_string(y0), "mousedown", "1"});
  for (int i = 1; i <= 10; ++i)
    run({"xdotool", "mousemove", std::to_string(x0 + (x1 - x0) * i / 10),
         std::to_string(y0 + (y1 - y0) * i / 10)});
  run({"xdotool", "mouseup", "1"});
}

void xdo_click(int x, int y) {
  run({"xdotool", "mousemove", std::to_string(x), std::to_string(y), "click", "1"});
}

// Asks a top-level window to close the way a window manager's close button does.
void ask_to_close(const std::string& window_id) {
  GdkEventClient ev = {};
  ev.type = GDK_CLIENT_EVENT;
  ev.message_type = gdk_atom_intern("WM_PROTOCOLS", FALSE);
  ev.data_format = 32;
  ev.data.l[0] =
      static_cast<long>(gdk_x11_atom_to_xatom(gdk_atom_intern("WM_DELETE_WINDOW", FALSE)));
  ev.data.l[1] = 0;  // CurrentTime
  gdk_event_send_client_message(reinterpret_cast<GdkEvent*>(&ev),
                                static_cast<GdkNativeWindow>(std::stoul(window_id)));
  gdk_flush();
}

bool wait_for(int seconds, const std::function<bool()>& done) {
  gint64 deadline = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    g_usleep(100000);
  }
  return true;
}

TEST(EditorProcessTest, ClosingTheWindowDuringACalculationEndsTheProgram) {
  if (!gui_available()) GTEST_SKIP() << "no X display: GUI test skipped (run under xvfb-run)";
  gchar* self = g_file_read_link("/proc/self/exe", nullptr);
  ASSERT_NE(self, nullptr);
  gchar* tests_dir = g_path_get_dirname(self);  // BUILD/tests/gui
  std::string binary = std::string(tests_dir) + "/../../gui/quillane";
  g_free(tests_dir);
  g_free(self);
  gchar* xdotool = g_find_program_in_path("xdotool");
  bool have_tools = xdotool != nullptr && g_file_test(binary.c_str(), G_FILE_TEST_IS_EXECUTABLE);
  g_free(xdotool);
  if (!have_tools) GTEST_SKIP() << "needs xdotool and the built program " << binary;

  std::string dir = fresh_dir("process");
  // A window placed at (10, 10), large enough for the toolbar and much of the picture.
  std::string geometry_dir = dir + "/appdata/Tessaly/quillane";
  g_mkdir_with_parents(geometry_dir.c_str(), 0700);
  const char geometry[16] = {10, 0, 0, 0, 10, 0, 0, 0, char(0xe8), 3, 0, 0, char(0xf8), 2, 0, 0};
  ASSERT_TRUE(g_file_set_contents((geometry_dir + "/quillane-1.0").c_str(), geometry, 16, nullptr));
  // Large enough that its matte takes a while.
  std::string image = write_image(dir, "large.png", 720, 540, false, [](int x, int y) -> guint32 {
    guint32 v = (x < 360 ? 40u : 200u) + guint32((x * 7 + y * 13) % 23);
    return 0xff000000u | (v << 16) | ((v / 2) << 8) | (255 - v);
  });

  EditorProcess editor;
  ASSERT_TRUE(editor.start(binary, image, dir));
  ASSERT_TRUE(wait_for(30, [&] {
    return editor.output().find("layout done") != std::string::npos;
  })) << "the program did not show its window";
  std::string layout = editor.output();
  Box canvas, bg, calc;
  ASSERT_TRUE(layout_box(layout, "canvas", 0, &canvas)) << layout;
  ASSERT_TRUE(layout_box(layout, "item", 6, &bg)) << layout;
  ASSERT_TRUE(layout_box(layout, "item", 4, &calc)) << layout;
  int left = canvas.x, top = canvas.y;

  xdo_drag(left + 500, top + 40, left + 500, top + 300);  // white, on the bright side
  xdo_click(bg.cx(), bg.cy());
  xdo_drag(left + 100, top + 40, left + 100, top + 300);  // black, on the dark side
  xdo_click(calc.cx(), calc.cy());
  bool found = false;
  std::string options = run({"timeout", "20", "xdotool", "search", "--sync", "--onlyvisible",
                             "--name", "^options for calculation$"},
                            &found);
  ASSERT_TRUE(found) << "no options dialog";
  std::string geometry_shell =
      run({"xdotool", "getwindowgeometry", "--shell", options.substr(0, options.find('\n'))});
  int wx = 0, wy = 0;
  std::sscanf(geometry_shell.c_str(), "WINDOW=%*d X=%d Y=%d", &wx, &wy);
  run({"xdotool", "mousemove", std::to_string(wx + 40), std::to_string(wy + 30), "sleep", "0.3",
       "key", "Return"});
  ASSERT_TRUE(wait_for(20, [] {
    bool shown = false;
    run({"xdotool", "search", "--onlyvisible", "--name", "^options for calculation$"}, &shown);
    return !shown;
  })) << "the options dialog did not close";
  g_usleep(300000);
  ASSERT_EQ(editor.output().find('\a'), std::string::npos)
      << "the calculation ended before the window could be closed; use a larger image";

  bool window_found = false;
  std::string main_ids =
      run({"xdotool", "search", "--onlyvisible", "--name", "^Tessaly$"}, &window_found);
  ASSERT_TRUE(window_found) << "no main window";
  // The strokes were kept against a crash before the calculation started.
  const std::string recovery = dir + "/state/quillane/recovery";
  auto recovery_files = [&recovery] {
    int n = 0;
    if (GDir* d = g_dir_open(recovery.c_str(), 0, nullptr)) {
      while (g_dir_read_name(d) != nullptr) ++n;
      g_dir_close(d);
    }
    return n;
  };
  EXPECT_EQ(recovery_files(), 1);
  ask_to_close(main_ids.substr(0, main_ids.find('\n')));
  // The strokes were never saved: the program asks; "Close without saving" (Alt+W) closes.
  bool asked = false;
  std::string question = run({"timeout", "20", "xdotool", "search", "--sync", "--onlyvisible",
                              "--name", "^Unsaved strokes$"},
                             &asked);
  ASSERT_TRUE(asked) << "no question about the unsaved strokes";
  geometry_shell =
      run({"xdotool", "getwindowgeometry", "--shell", question.substr(0, question.find('\n'))});
  std::sscanf(geometry_shell.c_str(), "WINDOW=%*d X=%d Y=%d", &wx, &wy);
  run({"xdotool", "mousemove", std::to_string(wx + 40), std::to_string(wy + 30), "sleep", "0.3",
       "key", "alt+w"});

  int status = 0;
  ASSERT_TRUE(editor.wait_exit(60, &status)) << "the program is still running after the close";
  EXPECT_TRUE(WIFEXITED(status)) << "ended by signal "
                                 << (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
  if (WIFEXITED(status)) {
    EXPECT_EQ(WEXITSTATUS(status), 0);
  }
  EXPECT_EQ(recovery_files(), 0) << "a normal close removes the recovery file";
}

}  // namespace
