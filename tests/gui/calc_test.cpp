// The Calculate command and its options dialog: when it runs and when it refuses, the worker
// thread and the delivery of the matte, solver messages, progress and Cancel, what the window
// allows while a worker runs, and closing the editor with unsaved strokes or a calculation.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <atomic>
#include <functional>
#include <new>
#include <string>
#include <vector>

#include "gui/calc_progress.h"
#include "gui/clean_edges.h"
#include "gui/closing.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/layer_state.h"
#include "gui/persistence.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "matting/calc_options.h"
#include "matting/solver_status.h"
#include "tests/gui/gui_harness.h"

namespace {

const int W = 40, H = 30;

// Dark on the left, bright on the right, with a little texture.
guint32 halves(int x, int y) {
  guint32 v = x < W / 2 ? 30u + (x + y) % 4 : 220u + (x + y) % 4;
  return 0xff000000u | (v << 16) | (v << 8) | v;
}
guint32 matte(int x, int y) {
  return pixbuf_pixel(pixbuf_alpha, x, y) >> 24;
}

// Watches the worker's stages on its thread: holds workers at the end of a stage until let go,
// fails a stage as if memory ran out, and notes whether a cancel came during a factorisation.
struct StageProbe : MatteStageObserver {
  GMutex mutex;
  GCond cond;
  int hold_at = -1, fail_at = -1;
  int holders = 0, let_go = 0;  // workers that came to wait; how many of them may go on
  std::atomic<int> holding{0};
  std::atomic<bool> factorising{false}, cancel_during_factorisation{false};

  void stage_begin(MatteStage stage) override {
    if (stage == fail_at) throw std::bad_alloc();
    if (stage == MATTE_STAGE_NUMERIC) factorising = true;
  }
  void stage_end(MatteStage stage) override {
    if (stage == MATTE_STAGE_NUMERIC)
      cancel_during_factorisation = calc_control()->cancel_requested();
    g_mutex_lock(&mutex);
    if (stage == hold_at) {
      const int ticket = ++holders;
      ++holding;
      while (let_go < ticket) g_cond_wait(&cond, &mutex);
      --holding;
    }
    g_mutex_unlock(&mutex);
  }
  void release(int n = 1 << 20) {
    g_mutex_lock(&mutex);
    let_go += n;
    g_cond_broadcast(&cond);
    g_mutex_unlock(&mutex);
  }
} probe;

// Iterates the main loop until done() holds; false when the deadline passed first.
bool loop_until(const std::function<bool()>& done, int seconds = 120) {
  gint64 deadline = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > deadline) return false;
    gtk_main_iteration_do(FALSE);
    g_usleep(1000);
  }
  settle();
  return true;
}

GThread* failing_create(GThreadFunc, gpointer, GError** error) {
  g_set_error_literal(error, G_THREAD_ERROR, G_THREAD_ERROR_AGAIN, "no thread could be started");
  return nullptr;
}

// The options dialog's widget of this name (levels, active, softness, threshold, radius,
// auto, solver) or label.
GtkWidget* field(GtkDialog* d, const char* name) {
  return find_widget(GTK_WIDGET(d), [name](GtkWidget* w) {
    return g_strcmp0(gtk_widget_get_name(w), name) == 0 ||
           (GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), name) == 0);
  });
}
GtkSpinButton* spin(GtkDialog* d, const char* name) {
  return GTK_SPIN_BUTTON(field(d, name));
}

class CalcTest : public EditorTest {
 public:
  void SetUp() override {
    EditorTest::SetUp();
    if (IsSkipped()) return;
    saved_create_ = calc_thread_create;
    probe.hold_at = probe.fail_at = -1;
    probe.holders = probe.let_go = 0;
    calc_worker_observer = &probe;
    open(write_image(dir_, "halves.png", W, H, false, halves));
    brush(3);
  }
  void TearDown() override {
    if (gui_available()) {  // never leave a worker behind
      probe.release();
      EXPECT_TRUE(loop_until([] { return !calculation_running() && calc_workers_alive() == 0; }));
      calc_worker_observer = nullptr;
      calc_thread_create = saved_create_;
      remove_recovery_files();
    }
    EditorTest::TearDown();
  }
  void stroke(int brush_item, int x) {
    click(brush_item);
    drag(x, 6, x, 24);
  }
  void both_strokes() {
    stroke(5, 30);
    stroke(6, 9);
  }
  DialogScript::Step options(gint response = GTK_RESPONSE_OK) {
    return answer_reading("options for calculation", nullptr, response);
  }
  // Presses Calculate, accepts the options and waits for the result.
  void calculate() {
    with_dialogs({options()}, [this] { click(4); });
    EXPECT_TRUE(loop_until([] { return !calculation_running(); }));
  }
  // Presses Calculate, accepts the options, and waits until a worker waits at the end of stage.
  void start_held(MatteStage stage, int holding = 1) {
    probe.hold_at = stage;
    DialogScript script({options()});
    click(4);
    ASSERT_TRUE(loop_until([=] { return probe.holding.load() == holding; }));
  }
  void expect_nothing_started() {
    EXPECT_FALSE(calculation_running());
    EXPECT_EQ(in_edit_mode, 1);
    EXPECT_TRUE(find_widget(status_bar, [](GtkWidget* w) { return GTK_IS_PROGRESS_BAR(w); }) ==
                nullptr);
    EXPECT_TRUE(same_pixels(gdk_pixbuf_get_width(pixbuf_alpha), gdk_pixbuf_get_height(pixbuf_alpha),
                            matte, [](int, int) { return 255u; }));
  }
  GThread* (*saved_create_)(GThreadFunc, gpointer, GError**) = nullptr;
};

// Without a black stroke and another stroke inside the region nothing happens, silently.
TEST_F(CalcTest, WithoutBothKindsOfStrokesNothingHappens) {
  const std::function<void(CalcTest*)> rows[] = {
      [](CalcTest*) {},
      [](CalcTest* t) { t->stroke(5, 30); },
      [](CalcTest* t) { t->stroke(6, 9); },
      [](CalcTest* t) {  // the white one erased
        t->both_strokes();
        t->stroke(7, 30);
      },
      [](CalcTest* t) {  // the white one outside the region
        t->both_strokes();
        t->select_region(2, 2, 25, 27);
      },
      [](CalcTest* t) {  // a layer file: black, and white that is not quite opaque
        t->open(write_image(t->dir_, "soft.png", W, H, true,
                            [](int x, int) {
                              return x < 8 ? 0xff000000u : x > 30 ? 0xfeffffffu : 0u;
                            }),
                OPEN_AS_LAYER);
      }};
  for (const auto& arrange : rows) {
    open(dir_ + "/halves.png");
    arrange(this);
    with_dialogs({}, [this] { click(4); });
    expect_nothing_started();
  }
}

// Black and grey strokes are enough; the matte is delivered into view mode, pinned under the
// strokes (grey at its level), following the image elsewhere, with the image's colours.
TEST_F(CalcTest, AFullRunDeliversTheMatteInViewMode) {
  stroke(6, 9);
  set_colour(32896, 32896, 32896);  // grey 128
  drag(30, 6, 30, 24);
  calculate();
  EXPECT_NEAR(int(matte(30, 15)), 128, 2);
  EXPECT_LE(matte(9, 15), 5u);
  set_view_mode(false);
  stroke(5, 36);
  pass_option_args->softness = 1e-6;
  calculate();
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_EQ(calc_workers_alive(), 0);
  EXPECT_EQ(in_edit_mode, 0);
  EXPECT_EQ(pixbuf_image, pixbuf_alpha);
  EXPECT_EQ(x_img_ROI + y_img_ROI + 1000 * w_img_ROI + 1000000 * h_img_ROI, 1000 * W + 1000000 * H);
  for (int y = 8; y <= 22; ++y) {
    EXPECT_NEAR(int(matte(30, y)), 128, 2) << y;
    EXPECT_GE(matte(36, y), 250u) << y;
    EXPECT_LE(matte(9, y), 5u) << y;
  }
  EXPECT_GT(matte(37, 2), 200u) << "the bright half follows the white strokes";
  EXPECT_LT(matte(2, 28), 55u);
  EXPECT_TRUE(same_pixels(W, H, pixels_of(pixbuf_alpha), halves, 0xffffffu));
  EXPECT_LE(view_pixel(9, 10) >> 24, 5u);
  EXPECT_GE(view_pixel(36, 10) >> 24, 250u);
  EXPECT_EQ(layer_pixel(36, 10), 0xffffffffu) << "the strokes stay for the next round";
  EXPECT_NE(status_message(STATUS_MESSAGE), "strokes changed since this calculation");
}

// A rough matte made elsewhere, opened with alpha as input, seeds the calculation.
TEST_F(CalcTest, StrokesTakenFromAnAlphaChannelSeedTheCalculation) {
  open(write_image(dir_, "rough.png", W, H, true,
                   [](int x, int y) {
                     guint32 a = x >= 33 ? 255u : x < 7 ? 0u : 128u;
                     return (a << 24) | (halves(x, y) & 0xffffffu);
                   }),
       OPEN_ALPHA_AS_INPUT);
  calculate();
  for (int y = 0; y < H; y += 4) {
    EXPECT_GE(matte(36, y), 250u) << y;
    EXPECT_LE(matte(3, y), 5u) << y;
    EXPECT_GT(matte(26, y), 200u) << y;
    EXPECT_LT(matte(13, y), 55u) << y;
  }
}

// Everything outside the region becomes transparent; a region dragged past the edge is
// clamped and stays clamped; Copy then takes the region with its matte.
TEST_F(CalcTest, ARegionCalculationLeavesEverythingOutsideTransparent) {
  select_region(8, 5, 31, 24);
  both_strokes();
  calculate();
  EXPECT_TRUE(same_pixels(W, H, matte, [](int x, int y) {
    return x >= 8 && x < 32 && y >= 5 && y < 25 ? matte(x, y) : 0u;
  }));
  EXPECT_GE(matte(30, 12), 250u);
  EXPECT_LE(matte(9, 12), 5u);
  clean_edges_wanted = false;
  gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  ctrl(GDK_c);
  GdkPixbuf* copy = gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(copy) * 100 + gdk_pixbuf_get_height(copy), 24 * 100 + 20);
  EXPECT_TRUE(same_pixels(24, 20, pixels_of(copy),
                          [](int x, int y) { return pixbuf_pixel(pixbuf_alpha, x + 8, y + 5); }));
  g_object_unref(copy);
  select_region(10, 4, 70, 50);
  calculate();
  EXPECT_EQ(std::vector<int>({x_img_ROI, y_img_ROI, w_img_ROI, h_img_ROI}),
            (std::vector<int>{10, 4, W - 10, H - 4}));
  EXPECT_EQ(matte(9, 12) + matte(20, 3), 0u);
  EXPECT_GT(matte(39, 29), 200u);
}

// Refusals before a worker starts: the error dialog says why, and the image, the strokes and
// the alpha stay as they were.
TEST_F(CalcTest, RefusedCalculationsSayWhyAndChangeNothing) {
  auto layer = [this](const Pixels& fill, int w = W, int h = H) {
    open(write_image(dir_, "layer.png", w, h, true, fill), OPEN_AS_LAYER);
  };
  const struct {
    std::function<void()> arrange;
    bool options_first;  // the options dialog comes before the error
    const char* text;    // the error's first words
  } rows[] = {
      {[&] { select_region(5, 5, 14, 24), stroke(5, 12), pass_option_args->window_radius = 5; },
       true,
       "Cannot calculate: the calculation region must be at least 2R+1 pixels in each "
       "direction (11 with window radius R = 5); it is 10x20."},
      {[&] {
         open(write_image(dir_, "tiny.png", 2, 2, false, halves));
         layer([](int x, int y) { return x != y ? 0u : x ? 0xffffffffu : 0xff000000u; }, 2, 2);
       },
       true,
       "Cannot calculate: the calculation region must be at least 2R+1 pixels in each "
       "direction (3 with window radius R = 1); it is 2x2."},
      {[&] { layer([](int x, int) { return x < W / 2 ? 0xff000000u : 0xffffffffu; }); }, false,
       "every pixel is painted: nothing to calculate."},
      {[&] { layer([](int, int) { return 0xffffffffu; }); }, false,
       "every pixel is painted: nothing to calculate."},
      {[&] {  // a region chosen on a larger image, still in use
         open(write_image(dir_, "large.png", 90, 70, false, halves));
         select_region(50, 40, 80, 65);
         open(dir_ + "/halves.png");
       },
       false, "The calculation region lies outside the image."},
      {[&] { probe.fail_at = MATTE_STAGE_NUMERIC; }, true, "failure: out_of_memory"},
      {[&] { calc_thread_create = failing_create; }, true,
       "The calculation could not be started: no thread could be started"},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.text);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(calc_roi_item), FALSE);
    open(dir_ + "/halves.png");
    both_strokes();
    r.arrange();
    std::vector<guint32> before = layer_snapshot();
    std::string text;
    std::vector<DialogScript::Step> steps = {answer_reading("Error", &text)};
    if (r.options_first) steps.insert(steps.begin(), options());
    with_dialogs(steps, [this] { click(4); });
    EXPECT_TRUE(loop_until([] { return calc_workers_alive() == 0; }));
    EXPECT_EQ(text.rfind(r.text, 0), 0u) << text;
    expect_nothing_started();
    EXPECT_EQ(layer_snapshot(), before);
    probe.fail_at = -1;
    calc_thread_create = saved_create_;
  }
  // Nothing is left half done: the next calculation runs.
  open(dir_ + "/halves.png");
  both_strokes();
  calculate();
  EXPECT_GE(matte(30, 12), 250u);
}

// Too large for the memory: Cancel, full resolution anyway, or automatic levels (the
// default), which the request then carries to the engine.
TEST_F(CalcTest, ACalculationTooLargeForTheMemoryOffersAutomaticLevels) {
  both_strokes();
  calc_memory_budget = 1.0;
  std::string text, automatic;
  for (gint answer : {gint(GTK_RESPONSE_CANCEL), gint(GTK_RESPONSE_ACCEPT), 1}) {
    SCOPED_TRACE(answer);
    set_view_mode(false);
    probe.holders = probe.let_go = 0;
    DialogScript script({options(), {"Large calculation", [&](GtkDialog* d) {
                                       GtkWidget* b = gtk_dialog_get_widget_for_response(d, 1);
                                       automatic = gtk_button_get_label(GTK_BUTTON(b));
                                       EXPECT_TRUE(GTK_WIDGET_HAS_DEFAULT(b));
                                       answer_reading("", &text, answer).answer(d);
                                     }}});
    probe.hold_at = MATTE_STAGE_LAPLACIAN;
    click(4);
    if (answer != GTK_RESPONSE_CANCEL) {
      ASSERT_TRUE(loop_until([] { return probe.holding.load() > 0; }));
      EXPECT_EQ(pass_calc_args->auto_levels, answer == 1);
      probe.release();
    }
    EXPECT_TRUE(loop_until([] { return !calculation_running(); }));
    EXPECT_TRUE(script.finished());
    EXPECT_EQ(in_edit_mode, answer == GTK_RESPONSE_CANCEL);
    EXPECT_EQ(pass_option_args->auto_levels, answer == 1);
  }
  calc_memory_budget = 0;
  EXPECT_NE(text.find("may need about"), std::string::npos) << text;
  EXPECT_EQ(automatic.rfind("Calculate with automatic levels\n (about ", 0), 0u) << automatic;
  EXPECT_GE(matte(30, 15), 230u);
}

// Delivery of each solver status: the message (none for success, warnings are the engine's
// own), the matte written when one was made, the alpha kept otherwise.
TEST_F(CalcTest, SolverStatusesAreReportedAndAMatteIsWrittenWhenOneWasMade) {
  const std::string advice =
      "failure: invalid numeric object\nyou can try:\nScaling the image down using an external "
      "application or increase\nthe number of scaling steps in the calculation options.\n\nOr "
      "tighten the image trimatte i.e. paint out more foregound and\nbackground pixels.\n\nOr "
      "in preview mode (left tool bar button) drag the mouse to select\na smaller region of the "
      "image and make that the calculation region\nfrom the edit menu. Don't forget you'll need "
      "to toggle back to\nthe edit mode to perform the calculation.";
  const struct {
    int status;
    bool with_matte;
    std::string message;  // empty: no dialog
  } rows[] = {{-3, true, advice},
              {-8, true, "failure: invalid matrix"},
              {-911, true, "failure: UMF internal error"},
              {0, true, ""},
              {1, true, solver_warning_message(1)},
              {-1, false, "failure: out_of_memory"},
              {CALC_STATUS_CANCELLED, false, ""}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.status);
    set_view_mode(false);
    std::vector<guint32> before;
    for (int i = 0; i < W * H; ++i) before.push_back(matte(i % W, i / W));
    CalcArgs args = {};
    TIFF_img alpha = {};
    args.alpha_img = &alpha;
    ASSERT_EQ(r.with_matte ? get_TIFF(&alpha, H, W, 'g') : 0, 0);
    for (int i = 0; r.with_matte && i < W * H; ++i)
      alpha.plane[i / W][i % W] = static_cast<uint8_t>(i * 7 + r.status);
    args.status = r.status;
    args.mode_button = toolbar_item(toolbar, 0);
    args.region = {0, 0, W, H};
    args.source = pixbuf_no_alpha;
    args.strokes = layer_fingerprint(args.region);
    std::string text;
    std::vector<DialogScript::Step> steps;
    if (!r.message.empty()) steps.push_back(answer_reading("Error", &text));
    with_dialogs(steps, [&] { setup_results(&args); });
    EXPECT_EQ(text, r.message);
    EXPECT_EQ(in_edit_mode, !r.with_matte);
    if (r.status == CALC_STATUS_CANCELLED) {
      EXPECT_EQ(status_message(STATUS_MESSAGE), "Calculation cancelled");
    }
    EXPECT_TRUE(same_pixels(W, H, matte, [&](int x, int y) {
      return r.with_matte ? uint8_t((y * W + x) * 7 + r.status) : before[y * W + x];
    }));
    EXPECT_TRUE(same_pixels(W, H, pixels_of(pixbuf_alpha), halves, 0xffffffu));
    if (r.with_matte) free_TIFF(&alpha);
  }
}

// While a worker runs, strokes may change (the run keeps its copies), but Open and the region
// are refused with a word in the status bar; modes, zoom and the alpha view work. The matte of
// the strokes it started with arrives with a word that they changed since.
TEST_F(CalcTest, DuringARunStrokesChangeButOpenAndTheRegionAreRefused) {
  both_strokes();
  start_held(MATTE_STAGE_LAPLACIAN);
  EXPECT_EQ(ok_to_calc, 0);
  stroke(5, 16);  // on the dark half, unknown to the running calculation
  undo(nullptr, nullptr);
  redo(nullptr, nullptr);
  EXPECT_EQ(layer_pixel(16, 12), 0xffffffffu);
  std::vector<guint32> layer = layer_snapshot();
  GdkPixbuf* image = pixbuf_no_alpha;
  auto expect_refused = [&](const std::function<void()>& act) {
    update_statusbar("", STATUS_MESSAGE, status_bar);
    with_dialogs({}, act);
    EXPECT_EQ(status_message(STATUS_MESSAGE).rfind("Calculating: wait for the matte", 0), 0u);
    EXPECT_TRUE(calculation_running());
    EXPECT_EQ(layer_snapshot(), layer);
    EXPECT_EQ(pixbuf_no_alpha, image);
    EXPECT_EQ(std::vector<int>({x_img_ROI, y_img_ROI, w_img_ROI, h_img_ROI, calc_ROI_is_set}),
              (std::vector<int>{0, 0, W, H, 0}));
  };
  expect_refused([] { on_open_image(nullptr, toolbar); });
  expect_refused([this] {
    GError* error = nullptr;
    EXPECT_FALSE(open_image_file((dir_ + "/halves.png").c_str(), OPEN_DEFAULT, toolbar, &error));
    g_clear_error(&error);
  });
  expect_refused([this] { select_region(5, 5, 15, 15, true, false); });
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(calc_roi_item)));
  set_view_mode(true);
  zoom(200);
  EXPECT_NE(view_pixel(10, 30), 0xffffffffu);
  click(3);
  EXPECT_EQ(view_pixel(10, 30), 0xffffffffu) << "no matte yet: all opaque";
  on_open_image(nullptr, toolbar);
  probe.release();
  ASSERT_TRUE(loop_until([] { return !calculation_running(); }));
  EXPECT_EQ(status_message(STATUS_MESSAGE), "strokes changed since this calculation");
  EXPECT_EQ(ok_to_calc, 1);
  EXPECT_EQ(in_edit_mode, 0);
  EXPECT_LE(matte(16, 12), 55u);
  EXPECT_LE(view_pixel(2 * 9, 2 * 12) >> 24, 5u);
  // Afterwards the region may change again, and a new run knows every stroke.
  set_view_mode(false);
  calculate();
  EXPECT_GE(matte(16, 12), 250u);
}

// Calculate during a run starts again with the current strokes; the first worker ends,
// cancelled, without touching the new calculation or the window.
TEST_F(CalcTest, CalculateDuringARunStartsAgainWithTheCurrentStrokes) {
  both_strokes();
  start_held(MATTE_STAGE_LAPLACIAN);
  CalcArgs* first = pass_calc_args;
  stroke(5, 16);
  start_held(MATTE_STAGE_LAPLACIAN, 2);
  EXPECT_TRUE(first->control.cancel_requested());
  EXPECT_EQ(calc_workers_alive(), 2);
  update_statusbar("", STATUS_MESSAGE, status_bar);
  probe.release(1);
  ASSERT_TRUE(loop_until([] { return calc_workers_alive() == 1; }));
  EXPECT_TRUE(calculation_running());
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(status_message(STATUS_MESSAGE), "");
  // Delivered while the eraser is held down: the rest of that drag selects no region.
  click(7);
  press(20, 2);
  motion(22, 2);
  probe.release();
  ASSERT_TRUE(loop_until([] { return !calculation_running(); }));
  motion(35, 28);
  release(35, 28);
  EXPECT_EQ(w_img_ROI * h_img_ROI, W * H);
  EXPECT_GE(matte(16, 12), 250u);
  EXPECT_NE(status_message(STATUS_MESSAGE), "strokes changed since this calculation");
}

// A message that replaced the refusal during a run (a failed save) stays after delivery.
TEST_F(CalcTest, DeliveryKeepsAMessageThatReplacedTheRefusal) {
  both_strokes();
  start_held(MATTE_STAGE_LAPLACIAN);
  on_open_image(nullptr, toolbar);
  with_dialogs({choose_file("Save File", dir_ + "/no-such-folder/strokes.png")},
               [] { on_save_as(nullptr, main_window); });
  std::string failure = status_message(STATUS_MESSAGE);
  ASSERT_EQ(failure.rfind("Could not save ", 0), 0u) << failure;
  probe.release();
  ASSERT_TRUE(loop_until([] { return !calculation_running(); }));
  EXPECT_EQ(status_message(STATUS_MESSAGE), failure);
}

TEST(CalcProgressLook, TheFractionWhenKnownAndAPulseOtherwise) {
  const struct {
    CalcProgress progress;
    std::string text;
    double fraction;
  } rows[] = {{{0, 0, MATTE_STAGE_LAPLACIAN, -1}, "C A L C U L A T I N G", -1},
              {{2, 3, MATTE_STAGE_SOLVE, 0.4}, "level 2 of 3 \u00b7 solving \u00b7 40 %", 0.4},
              {{1, 1, MATTE_STAGE_NUMERIC, -1}, "factorising", -1}};
  for (const auto& r : rows) {
    ProgressLook look = progress_look(r.progress);
    EXPECT_EQ(look.text, r.text);
    EXPECT_DOUBLE_EQ(look.fraction, r.fraction);
  }
}

// Cancel (the button beside the bar, or Escape) makes the window usable at once: no bar, a
// word in the status bar, painting works; the worker's late end changes and says nothing;
// the next calculation works. Escape is pressed inside a factorisation of a larger image.
TEST_F(CalcTest, CancelMakesTheWindowUsableAtOnceAndDiscardsTheLateResult) {
  for (bool escape : {false, true}) {
    SCOPED_TRACE(escape);
    set_view_mode(false);
    const int w = escape ? 240 : W, h = escape ? 180 : H;
    open(write_image(dir_, "cancel.png", w, h, false, [w](int x, int y) {
      guint32 v = x < w / 2 ? 30u + (x * 7 + y * 3) % 11 : 210u + (x * 5 + y * 7) % 13;
      return 0xff000000u | (v << 16) | (v << 8) | v;
    }));
    stroke(5, w - 10);
    stroke(6, 9);
    std::vector<guint32> layer = layer_snapshot();
    probe.holders = probe.let_go = 0;
    probe.factorising = false;
    if (escape) {
      probe.hold_at = MATTE_STAGE_NUMERIC;
      DialogScript script({options()});
      click(4);
      ASSERT_TRUE(loop_until([] { return probe.factorising.load(); }));
      GdkEvent* ev = gdk_event_new(GDK_KEY_PRESS);
      ev->key.window = GDK_WINDOW(g_object_ref(main_window->window));
      ev->key.keyval = GDK_Escape;
      gtk_widget_event(main_window, ev);
      gdk_event_free(ev);
    } else {
      start_held(MATTE_STAGE_LAPLACIAN);
      settle(250);  // the bar shows what the worker reported last
      const std::string bar =
          gtk_progress_bar_get_text(GTK_PROGRESS_BAR(pass_calc_args->progress_bar));
      EXPECT_EQ(bar, progress_look(pass_calc_args->control.progress()).text);
      EXPECT_EQ(bar.rfind("building the Laplacian", 0), 0u) << bar;
      gtk_button_clicked(GTK_BUTTON(pass_calc_args->cancel_button));
    }
    EXPECT_FALSE(calculation_running());
    EXPECT_EQ(ok_to_calc, 1);
    EXPECT_EQ(find_widget(status_bar, [](GtkWidget* b) { return GTK_IS_BUTTON(b) != FALSE; }),
              nullptr);
    EXPECT_EQ(status_message(STATUS_MESSAGE), "Calculation cancelled");
    EXPECT_EQ(calc_workers_alive(), 1);
    stroke(5, w / 2);
    undo(nullptr, nullptr);
    EXPECT_EQ(layer_snapshot(), layer);
    update_statusbar("", STATUS_MESSAGE, status_bar);
    probe.release();
    ASSERT_TRUE(loop_until([] { return calc_workers_alive() == 0; }));
    EXPECT_TRUE(probe.cancel_during_factorisation || !escape) << "it ended before Escape";
    EXPECT_EQ(in_edit_mode, 1);
    EXPECT_EQ(status_message(STATUS_MESSAGE), "");
    expect_nothing_started();
    probe.hold_at = -1;
    calculate();
    EXPECT_GE(matte(w - 10, 12), 250u);
  }
}

// OK writes every field, the check box and the solver; Cancel, Escape and the close button
// leave the record and start nothing; Enter in a field accepts what was typed there.
TEST_F(CalcTest, TheOptionsDialogWritesTheRecordOnlyOnOk) {
  both_strokes();
  auto change_all = [](GtkDialog* d) {
    gtk_spin_button_set_value(spin(d, "levels"), 2);
    gtk_spin_button_set_value(spin(d, "active"), 2);
    gtk_spin_button_set_value(spin(d, "threshold"), 0.3);
    gtk_spin_button_set_value(spin(d, "softness"), 5e-6);
    gtk_spin_button_set_value(spin(d, "radius"), 3);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(field(d, "auto")), TRUE);
    gtk_combo_box_set_active(GTK_COMBO_BOX(field(d, "solver")), CALC_SOLVER_ITERATIVE);
  };
  for (gint response : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_DELETE_EVENT, GTK_RESPONSE_NONE}) {
    with_dialogs({{"options for calculation",
                   [&](GtkDialog* d) { change_all(d), gtk_dialog_response(d, response); }}},
                 [this] { click(4); });
    expect_nothing_started();
    EXPECT_EQ(ok_to_calc, 0);
    EXPECT_EQ(
        std::vector<double>({double(pass_option_args->levels_num), pass_option_args->softness,
                             pass_option_args->threshold, double(pass_option_args->auto_levels)}),
        (std::vector<double>{1, 1e-7, 0.02, 0}));
  }
  with_dialogs({{"options for calculation",
                 [&](GtkDialog* d) { change_all(d), gtk_dialog_response(d, GTK_RESPONSE_OK); }}},
               [] { gtk_options_dialog_open(nullptr, pass_option_args); });
  const OptionArgs& o = *pass_option_args;
  EXPECT_EQ(std::vector<double>({double(o.levels_num), double(o.active_levels_num), o.threshold,
                                 o.softness, double(o.window_radius), double(o.auto_levels),
                                 double(o.solver), double(ok_to_calc)}),
            (std::vector<double>{2, 2, 0.3, 5e-6, 3, 1, CALC_SOLVER_ITERATIVE, 1}));
  // The dialog starts from the record; Enter in a field accepts with the text typed there.
  with_dialogs({{"options for calculation",
                 [](GtkDialog* d) {
                   EXPECT_EQ(gtk_spin_button_get_value(spin(d, "threshold")), 0.3);
                   EXPECT_FALSE(GTK_WIDGET_IS_SENSITIVE(field(d, "levels")));
                   gtk_widget_grab_focus(field(d, "threshold"));
                   gtk_entry_set_text(GTK_ENTRY(field(d, "threshold")), "0.25");
                   gtk_widget_activate(field(d, "threshold"));
                 }}},
               [] { gtk_options_dialog_open(nullptr, pass_option_args); });
  EXPECT_EQ(pass_option_args->threshold, 0.25);
  open(dir_ + "/halves.png");  // a new image starts with the defaults
  EXPECT_EQ(pass_option_args->threshold + pass_option_args->auto_levels, 0.02);
}

// The steps never exceed the levels, which the image's shorter side / 10 bounds; the automatic
// levels take both out of the user's hands; Reset changes only the controls.
TEST_F(CalcTest, TheOptionsDialogKeepsItsFieldsConsistent) {
  auto options_of = [this](int w, int h, const std::function<void(GtkDialog*)>& act) {
    open(write_image(dir_, "sized.png", w, h, false, halves));
    with_dialogs({{"options for calculation", act}},
                 [] { gtk_options_dialog_open(nullptr, pass_option_args); });
  };
  auto value = [](GtkDialog* d, const char* name) {
    return gtk_spin_button_get_value(spin(d, name));
  };
  options_of(60, 50, [&](GtkDialog* d) {
    gtk_spin_button_set_value(spin(d, "levels"), 9);
    EXPECT_EQ(value(d, "levels"), 5);
    gtk_spin_button_set_value(spin(d, "active"), 4);
    gtk_spin_button_set_value(spin(d, "levels"), 2);
    EXPECT_EQ(value(d, "active"), 2);
    gtk_spin_button_set_value(spin(d, "active"), 3);
    EXPECT_EQ(value(d, "active"), 2);
    gtk_spin_button_set_value(spin(d, "levels"), 5);
    EXPECT_EQ(value(d, "active"), 2);
    gtk_spin_button_set_value(spin(d, "active"), 5);
    EXPECT_EQ(value(d, "active"), 5);
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(field(d, "auto")), TRUE);
    for (const char* name : {"levels", "active", "threshold", "softness", "radius"})
      EXPECT_EQ(GTK_WIDGET_IS_SENSITIVE(field(d, name)), name[0] != 'l' && name[0] != 'a');
    gtk_combo_box_set_active(GTK_COMBO_BOX(field(d, "solver")), CALC_SOLVER_AUTO);
    gtk_dialog_response(d, GTK_RESPONSE_OK);
  });
  options_of(25, 400, [&](GtkDialog* d) {
    gtk_spin_button_set_value(spin(d, "levels"), 3);
    EXPECT_EQ(value(d, "levels"), 2);
    gtk_dialog_response(d, GTK_RESPONSE_OK);
  });
  *pass_option_args = {3, 2, 2e-6, 0.1, 4, 25, 400, 1, CALC_SOLVER_ITERATIVE};
  for (gint response : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_OK}) {
    with_dialogs(
        {{"options for calculation",
          [&](GtkDialog* d) {
            gtk_button_clicked(GTK_BUTTON(field(d, "Reset to default values")));
            EXPECT_EQ(value(d, "levels") + value(d, "active") + value(d, "radius"), 3);
            EXPECT_EQ(value(d, "softness") + value(d, "threshold"), 1e-7 + 0.02);
            EXPECT_FALSE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(field(d, "auto"))));
            EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(field(d, "solver"))),
                      CALC_SOLVER_DIRECT);
            gtk_dialog_response(d, response);
          }}},
        [] { gtk_options_dialog_open(nullptr, pass_option_args); });
    EXPECT_EQ(pass_option_args->levels_num, response == GTK_RESPONSE_OK ? 1 : 3);
    EXPECT_EQ(pass_option_args->solver,
              response == GTK_RESPONSE_OK ? CALC_SOLVER_DIRECT : CALC_SOLVER_ITERATIVE);
  }
}

struct CloseCase {
  const char* name;
  bool by_quit;  // File > Quit, else the window's close button
  bool saved;    // the strokes were saved before: no question
  gint answer;   // to "Unsaved strokes"
  gint save;     // to the Save dialog that Save opens (0: none comes)
  bool kept;     // the window stays
};
class CloseTest : public CalcTest, public ::testing::WithParamInterface<CloseCase> {};

// Unsaved strokes are asked about; a window that closes cancels the running calculation,
// writes its geometry and removes the recovery file of the strokes.
TEST_P(CloseTest, UnsavedStrokesAreAskedAboutAndAClosedWindowLeavesNothingRunning) {
  const CloseCase& c = GetParam();
  both_strokes();
  const std::string strokes = dir_ + "/strokes.png";
  if (c.saved) {
    with_dialogs({choose_file("Save File", strokes)}, [] { on_save_as(nullptr, main_window); });
    ASSERT_EQ(g_unlink(strokes.c_str()), 0);
  }
  start_held(MATTE_STAGE_LAPLACIAN);
  gchar* recovery = recovery_file_for(opened_image_path());
  EXPECT_TRUE(g_file_test(recovery, G_FILE_TEST_EXISTS)) << "written before the calculation";
  g_unlink(appdata);
  std::vector<DialogScript::Step> steps;
  if (!c.saved) steps.push_back(answer_reading("Unsaved strokes", nullptr, c.answer));
  if (c.save != 0) steps.push_back(choose_file("Save File", strokes, c.save));
  bool kept = true;
  with_dialogs(steps, [&] {
    if (!c.by_quit) kept = send_delete_event();
    if (!c.by_quit) return;
    // Outside gtk_main(): the window's end must not quit a loop that does not run.
    g_signal_handlers_disconnect_by_func(main_window, reinterpret_cast<gpointer>(destroy), nullptr);
    g_signal_connect(main_window, "destroy", G_CALLBACK(gtk_widget_destroyed), &main_window);
    ctrl(GDK_q);
    kept = main_window != nullptr;
  });
  EXPECT_EQ(kept, c.kept);
  EXPECT_EQ(g_file_test(appdata, G_FILE_TEST_EXISTS), !c.kept) << "the geometry is written";
  EXPECT_EQ(g_file_test(strokes.c_str(), G_FILE_TEST_EXISTS), c.save == GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(calculation_running(), c.kept);
  EXPECT_EQ(g_file_test(recovery, G_FILE_TEST_EXISTS), c.kept);
  g_free(recovery);
}

INSTANTIATE_TEST_SUITE_P(
    Close, CloseTest,
    ::testing::Values(CloseCase{"Cancel", false, false, GTK_RESPONSE_CANCEL, 0, true},
                      CloseCase{"CloseWithoutSavingByQuit", true, false, CLOSE_DISCARD, 0, false},
                      CloseCase{"Save", false, false, CLOSE_SAVE, GTK_RESPONSE_ACCEPT, false},
                      CloseCase{"SaveThenCancelTheSaveDialogByQuit", true, false, CLOSE_SAVE,
                                GTK_RESPONSE_CANCEL, true},
                      CloseCase{"SavedBeforeNoQuestion", false, true, 0, 0, false}),
    [](const ::testing::TestParamInfo<CloseCase>& info) { return info.param.name; });

}  // namespace
