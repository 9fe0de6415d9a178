// The Calculate command and its options dialog: when it runs and when it refuses, the worker
// and the delivery of the matte, solver messages, progress and Cancel, what the window allows
// while a worker runs, and closing the editor with unsaved strokes during a calculation.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <sys/resource.h>
#include <unistd.h>

#include <atomic>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include "gui/calc_progress.h"
#include "gui/closing.h"
#include "gui/layer_state.h"
#include "gui/persistence.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "matting/calc_options.h"
#include "tests/gui/gui_harness.h"

namespace {

const int W = kHalvesWidth, H = kHalvesHeight;

StageProbe probe;

// The options dialog's widget of this name (levels, active, softness, threshold, radius, auto,
// solver) or button label.
GtkWidget* field(GtkDialog* d, const char* name) {
  return find_widget(GTK_WIDGET(d), [name](GtkWidget* w) {
    return g_strcmp0(gtk_widget_get_name(w), name) == 0 ||
           (GTK_IS_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), name) == 0);
  });
}
double value(GtkDialog* d, const char* name) {
  return gtk_spin_button_get_value(GTK_SPIN_BUTTON(field(d, name)));
}
void set(GtkDialog* d, const char* name, double v) {
  gtk_spin_button_set_value(GTK_SPIN_BUTTON(field(d, name)), v);
}

class CalcTest : public EditorTest {
 public:
  void SetUp() override {
    EditorTest::SetUp();
    if (IsSkipped()) return;
    open_halves_watched(&probe, false);
    gtk_adjustment_set_value(ed->view.brush_adjustment, 3);
  }
  void TearDown() override {
    if (gui_available()) {
      probe.release();  // never leave a worker behind
      EXPECT_TRUE(loop_until([] { return ed->calc.workers_alive() == 0; }));
      ed->calc.worker_observer = nullptr;
      remove_recovery_files(&ed->session);
    }
    EditorTest::TearDown();
  }
  void stroke(ToolbarItem brush_item, int x) {
    click(brush_item);
    drag(x, 6, x, 24);
  }
  void both_strokes() {
    stroke(TOOL_FG, 30);
    stroke(TOOL_BG, 9);
  }
  Step options() { return answer_reading("options for calculation", nullptr); }
  // Presses Calculate, accepts the options and waits for the result.
  void calculate() {
    with_dialogs({options()}, [this] { click(TOOL_CALCULATE); });
    EXPECT_TRUE(loop_until([] { return !ed->calc.running(); }));
  }
  // Presses Calculate, accepts the options, and waits until the worker waits at the end of
  // stage (no other worker may be waiting).
  void start_held(MatteStage stage, bool before = false) {
    probe.hold_at = stage;
    probe.before = before;
    probe.holders = probe.let_go = 0;
    with_dialogs({options()}, [this] { click(TOOL_CALCULATE); });
    ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
  }
  void expect_nothing_started() {
    EXPECT_FALSE(ed->calc.running());
    EXPECT_EQ(ed->view.in_edit_mode, 1);
    EXPECT_EQ(find_widget(ed->view.status_bar, [](GtkWidget* w) { return GTK_IS_PROGRESS_BAR(w); }),
              nullptr);
    EXPECT_TRUE(same_pixels(gdk_pixbuf_get_width(ed->doc().pixbuf_alpha),
                            gdk_pixbuf_get_height(ed->doc().pixbuf_alpha), matte,
                            [](int, int) { return 255u; }));
  }
};

// The matte is delivered into view mode, pinned under the strokes (grey at its level), with the
// image's colours. Outside a region everything becomes transparent; a region past the edge is
// clamped, and stays so; Copy takes the region with its matte, a copy of its own.
TEST_F(CalcTest, CalculateDeliversTheMatteOfTheRegionIntoViewMode) {
  stroke(TOOL_BG, 12);
  stroke(TOOL_FG, 36);
  set_colour(32896, 32896, 32896);  // grey 128
  drag(30, 6, 30, 24);
  calculate();
  EXPECT_EQ(std::vector<int>({ed->calc.ok_to_calc, ed->view.in_edit_mode, ed->doc().x_img_ROI,
                              ed->doc().y_img_ROI, ed->doc().w_img_ROI, ed->doc().h_img_ROI}),
            (std::vector<int>{1, 0, 0, 0, W, H}));
  for (int y = 8; y <= 22; ++y) {
    EXPECT_NEAR(int(matte(30, y)), 128, 2) << y;
    EXPECT_EQ(matte(36, y) / 250 + matte(12, y) / 6, 1u) << y;  // >= 250 and <= 5
  }
  EXPECT_TRUE(same_pixels(W, H, pixels_of(ed->doc().pixbuf_alpha), halves, 0xffffffu));
  EXPECT_TRUE(same_pixels(
      W, H, view_pixel, [](int x, int y) { return matte(x, y) << 24; }, 0xff000000u));
  EXPECT_EQ(layer_pixel(36, 10), 0xffffffffu) << "the strokes stay for the next round";

  select_region(8, 5, 31, 24);
  calculate();
  EXPECT_TRUE(same_pixels(W, H, matte, [](int x, int y) {
    return x >= 8 && x < 32 && y >= 5 && y < 25 ? matte(x, y) : 0u;
  }));
  EXPECT_EQ(matte(36, 12) / 250 + matte(12, 12) / 6, 0u) << "outside, and black";
  ctrl(GDK_c);
  GdkPixbuf* copied = gdk_pixbuf_copy(ed->doc().pixbuf_alpha);
  gdk_pixbuf_fill(ed->doc().pixbuf_alpha, 0);  // as the next matte does, in place
  GdkPixbuf* copy = gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  ASSERT_NE(copy, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(copy) * 100 + gdk_pixbuf_get_height(copy), 24 * 100 + 20);
  EXPECT_TRUE(same_pixels(24, 20, pixels_of(copy),
                          [&](int x, int y) { return pixbuf_pixel(copied, x + 8, y + 5); }));
  g_object_unref(copy);
  g_object_unref(copied);
  select_region(10, 4, 70, 50);
  calculate();
  EXPECT_EQ(std::vector<int>({ed->doc().x_img_ROI, ed->doc().y_img_ROI, ed->doc().w_img_ROI,
                              ed->doc().h_img_ROI}),
            (std::vector<int>{10, 4, W - 10, H - 4}));
  EXPECT_EQ(matte(9, 12) + matte(20, 3) + matte(12, 12) / 6, 0u);
  EXPECT_GE(matte(36, 12), 250u);
}

// Without a black stroke and another stroke inside the region nothing happens, silently;
// other refusals say why in the error dialog. The image, the strokes and the alpha stay as they
// were, and afterwards a calculation runs (black and grey strokes are enough).
TEST_F(CalcTest, RefusedCalculationsChangeNothing) {
  auto layer = [this](const Pixels& fill) {
    open(write_image(dir_, "layer.png", W, H, true, fill), OPEN_AS_LAYER);
  };
  const char* kPainted = "every pixel is painted: nothing to calculate.";
  const struct {
    std::function<void()> arrange;
    bool options_first;  // the options dialog comes first
    const char* text;    // the error's first words; null: no dialog at all
  } rows[] = {
      {[&] { stroke(TOOL_ERASER, 30); }, false, nullptr},      // the white stroke erased
      {[&] { stroke(TOOL_ERASER, 9); }, false, nullptr},       // the black one
      {[&] { select_region(2, 2, 25, 27); }, false, nullptr},  // white outside the region
      {[&] { layer([](int x, int) { return x < 8    ? 0xff000000u
                                           : x > 30 ? 0xfeffffffu
                                                    : 0u; }); },
       false, nullptr},  // a layer file whose white is not quite opaque
      {[&] {
         select_region(5, 5, 14, 24), stroke(TOOL_FG, 12),
             ed->calc.pass_option_args->options.window_radius = 5;
       },
       true,
       "Cannot calculate: the calculation region must be at least 2R+1 pixels in each "
       "direction (11 with window radius R = 5); it is 10x20."},
      {[&] { layer([](int x, int) { return x < W / 2 ? 0xff000000u : 0xffffffffu; }); }, false,
       kPainted},
      {[&] { layer([](int, int) { return 0xffffffffu; }); }, false, kPainted},  // no black too
      {[&] {  // a region chosen on a larger image, still in use
         open(write_image(dir_, "large.png", 90, 70, false, halves));
         select_region(50, 40, 80, 65);
         open(dir_ + "/halves.png");
       },
       false, "The calculation region lies outside the image."},
      {[&] { probe.fail_at = MATTE_STAGE_NUMERIC; }, true, "failure: out_of_memory"},
      {[&] {
         ed->calc.thread_create = [](GThreadFunc, gpointer, GError** error) -> GThread* {
           g_set_error_literal(error, G_THREAD_ERROR, G_THREAD_ERROR_AGAIN, "no thread for you");
           return nullptr;
         };
       },
       true, "The calculation could not be started: no thread for you"}};
  GThread* (*create)(GThreadFunc, gpointer, GError**) = ed->calc.thread_create;
  for (const auto& r : rows) {
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(ed->view.calc_roi_item), FALSE);
    open(dir_ + "/halves.png");
    both_strokes();
    r.arrange();
    std::vector<guint32> before = layer_snapshot();
    std::string text;
    Steps steps;
    if (r.options_first) steps.push_back(options());
    if (r.text != nullptr) steps.push_back(answer_reading("Error", &text));
    with_dialogs(steps, [this] { click(TOOL_CALCULATE); });
    EXPECT_TRUE(loop_until([] { return ed->calc.workers_alive() == 0; }));
    EXPECT_EQ(text.rfind(r.text != nullptr ? r.text : "", 0), 0u) << text;
    expect_nothing_started();
    EXPECT_EQ(layer_snapshot(), before);
    probe.fail_at = -1;
    ed->calc.thread_create = create;
  }
  open(dir_ + "/halves.png");
  stroke(TOOL_BG, 9);
  set_colour(32896, 32896, 32896);  // grey 128
  drag(30, 6, 30, 24);
  calculate();
  EXPECT_NEAR(int(matte(30, 12)), 128, 2);
}

// While a worker runs, strokes may change (it has its own copies), but Open and the region are
// refused with a word in the status bar. The matte of the strokes it started with arrives with
// a word that they changed since.
TEST_F(CalcTest, DuringARunStrokesChangeButOpenAndTheRegionAreRefused) {
  both_strokes();
  start_held(MATTE_STAGE_LAPLACIAN);
  stroke(TOOL_FG, 16);  // on the dark half, unknown to the running calculation
  undo(nullptr, ed);
  redo(nullptr, ed);
  const std::vector<guint32> layer = layer_snapshot();
  for (const std::function<void()>& refused : std::vector<std::function<void()>>{
           [] { on_open_image(nullptr, ed); },
           [this] {
             GError* error = nullptr;
             EXPECT_FALSE(
                 open_image_file(ed, (dir_ + "/halves.png").c_str(), OPEN_DEFAULT, &error));
             g_clear_error(&error);
           },
           [this] { select_region(5, 5, 15, 15, true, false); }}) {
    update_statusbar("", STATUS_MESSAGE, ed->view.status_bar);
    with_dialogs({}, refused);
    EXPECT_EQ(status_message().rfind("Calculating: wait for the matte", 0), 0u);
    EXPECT_EQ(layer_snapshot(), layer);
    EXPECT_EQ(std::vector<int>({gdk_pixbuf_get_width(ed->doc().pixbuf_no_alpha),
                                ed->doc().x_img_ROI, ed->doc().y_img_ROI, ed->doc().w_img_ROI,
                                ed->doc().h_img_ROI, ed->doc().calc_ROI_is_set}),
              (std::vector<int>{W, 0, 0, W, H, 0}));
  }
  EXPECT_TRUE(ed->calc.running());
  set_view_mode(true);  // modes work meanwhile
  probe.release();
  ASSERT_TRUE(loop_until([] { return !ed->calc.running(); }));
  EXPECT_EQ(status_message(), "strokes changed since this calculation");
  EXPECT_EQ(std::vector<int>({ed->calc.ok_to_calc, ed->view.in_edit_mode}),
            (std::vector<int>{1, 0}));
  EXPECT_LE(matte(16, 12), 55u) << "the stroke painted meanwhile is not in this matte";
  EXPECT_LE(view_pixel(9, 12) >> 24, 5u);
  set_view_mode(false);
  calculate();  // a new run knows every stroke
  EXPECT_GE(matte(16, 12), 250u);
}

// Cancel (the button beside the bar, or Escape) makes the window usable at once: no bar, a word
// in the status bar, painting works; the worker's late end changes and says nothing; the next
// calculation works. Held before the factorisation, the worker goes through the whole of it
// after the cancel, as a worker inside one does, and its result is thrown away.
TEST_F(CalcTest, CancelMakesTheWindowUsableAtOnceAndDiscardsTheLateResult) {
  both_strokes();
  const std::vector<guint32> layer = layer_snapshot();
  for (bool escape : {false, true}) {
    start_held(escape ? MATTE_STAGE_NUMERIC : MATTE_STAGE_LAPLACIAN, escape);
    settle(250);  // the label shows what the worker reported last; the bar pulses all along
    const CalcProgressView& p = ed->calc.progress;
    std::string stage = gtk_label_get_text(GTK_LABEL(p.stage_label));
    EXPECT_EQ(stage.rfind(escape ? "analysing" : "building the Laplacian", 0), 0u) << stage;
    EXPECT_STREQ(gtk_progress_bar_get_text(GTK_PROGRESS_BAR(p.progress_bar)), kCalculatingText);
    EXPECT_TRUE(GTK_PROGRESS(p.progress_bar)->activity_mode) << "the bar pulses";
    if (!escape) gtk_button_clicked(GTK_BUTTON(p.cancel_button));
    GdkEvent* ev = gdk_event_new(GDK_KEY_PRESS);
    ev->key.window = GDK_WINDOW(g_object_ref(ed->view.main_window->window));
    ev->key.keyval = GDK_Escape;
    if (escape) gtk_widget_event(ed->view.main_window, ev);
    gdk_event_free(ev);
    EXPECT_EQ(std::vector<int>({ed->calc.running(), ed->calc.ok_to_calc, ed->calc.workers_alive()}),
              (std::vector<int>{0, 1, 1}));
    EXPECT_EQ(find_widget(ed->view.status_bar, [](GtkWidget* b) { return GTK_IS_BUTTON(b); }),
              nullptr);
    EXPECT_EQ(status_message(), "Calculation cancelled");
    stroke(TOOL_FG, 20);
    undo(nullptr, ed);
    EXPECT_EQ(layer_snapshot(), layer);
    probe.release();
    ASSERT_TRUE(loop_until([] { return ed->calc.workers_alive() == 0; }));
    EXPECT_EQ(status_message(), "Calculation cancelled");
    expect_nothing_started();
  }
  probe.hold_at = -1;
  calculate();
  EXPECT_GE(matte(30, 12), 250u);
  EXPECT_EQ(status_message(), "");  // the new matte takes the word back
}

// Bytes of address space the process holds now.
double address_space_used() {
  std::ifstream statm("/proc/self/statm");
  double pages = 0;
  statm >> pages;
  return pages * static_cast<double>(sysconf(_SC_PAGESIZE));
}

// Under an address-space limit (ulimit -v) every method ends with the out-of-memory error in
// its dialog, or with a matte, within a minute — none spins for ever in the BLAS's buffer
// allocation — and the image and the strokes stay as they were.
TEST_F(CalcTest, UnderAMemoryLimitEveryMethodEndsAndKeepsTheWork) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than RLIMIT_AS allows";
#endif
  open(QUILLANE_SAMPLE_DIR "/lemur.png");
  open(QUILLANE_SAMPLE_DIR "/lemur_strokes.png", OPEN_AS_LAYER);
  ed->calc.memory_budget = 1e15;  // no "Large calculation" question: the limit is the test
  const struct {
    const char* name;
    int solver, auto_levels;
  } rows[] = {{"direct", CALC_SOLVER_DIRECT, 0},
              {"automatic levels", CALC_SOLVER_DIRECT, 1},
              {"iterative", CALC_SOLVER_ITERATIVE, 0}};
  for (const auto& r : rows)
    for (double extra_mb : {30.0, 60.0, 120.0}) {
      SCOPED_TRACE(testing::Message() << r.name << ", " << extra_mb << " MB more");
      CalcOptions& o = ed->calc.pass_option_args->options;
      o.solver = r.solver;
      o.auto_levels = r.auto_levels;
      o.levels_num = o.active_levels_num = 1;
      const std::vector<guint32> strokes = layer_snapshot();
      GdkPixbuf* image = ed->doc().pixbuf_no_alpha;
      rlimit old;
      ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
      rlimit limit = old;
      limit.rlim_cur = static_cast<rlim_t>(address_space_used() + extra_mb * (1 << 20));
      ASSERT_EQ(setrlimit(RLIMIT_AS, &limit), 0);
      std::string text;
      with_dialogs({options(), answer_reading("Error", &text)}, [this] { click(TOOL_CALCULATE); });
      const bool ended = loop_until([] { return ed->calc.workers_alive() == 0; }, 60);
      ASSERT_EQ(setrlimit(RLIMIT_AS, &old), 0);
      ASSERT_TRUE(ended) << "the calculation hangs under the limit";
      EXPECT_EQ(text.rfind("failure: out_of_memory", 0), 0u) << text;
      EXPECT_EQ(ed->doc().pixbuf_no_alpha, image);
      EXPECT_EQ(layer_snapshot(), strokes);
    }
  ed->calc.memory_budget = 0;
}

// A calculation that needs more memory than the computer has asks first ("Large calculation"):
// Cancel starts nothing; the default button, automatic levels with its time, ticks them and
// calculates.
TEST_F(CalcTest, LargeCalculationsAskFirstAndOfferAutomaticLevels) {
  both_strokes();
  ed->calc.memory_budget = 1;
  std::string text;
  with_dialogs({options(), answer_reading("Large calculation", &text, GTK_RESPONSE_CANCEL)},
               [this] { click(TOOL_CALCULATE); });
  expect_nothing_started();
  EXPECT_NE(text.find("Automatic levels"), std::string::npos) << text;
  with_dialogs({options(),
                {"Large calculation",
                 [](GtkDialog* d) {
                   GtkWidget* b = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
                     const char* l = GTK_IS_BUTTON(w) ? gtk_button_get_label(GTK_BUTTON(w)) : "";
                     return g_str_has_prefix(l, "Calculate with automatic levels\n (about ");
                   });
                   ASSERT_NE(b, nullptr);
                   EXPECT_TRUE(gtk_widget_has_default(b));
                   gtk_button_clicked(GTK_BUTTON(b));
                 }}},
               [this] { click(TOOL_CALCULATE); });
  ed->calc.memory_budget = 0;
  EXPECT_TRUE(loop_until([] { return !ed->calc.running(); }));
  EXPECT_EQ(ed->calc.pass_option_args->options.auto_levels, 1);
  EXPECT_GE(matte(30, 12), 250u);
}

// OK writes every field, the check box and the solver, which the calculation carries to the
// engine; Cancel and the close button leave the record and start nothing. The steps never
// exceed the levels, which the image's shorter side / 10 bounds; automatic levels take both out
// of the user's hands; Reset changes only the controls; Enter in a field accepts.
TEST_F(CalcTest, TheOptionsDialogEditsTheRecord) {
  both_strokes();
  auto record = [] {
    const CalcOptions& o = ed->calc.pass_option_args->options;
    return std::vector<double>({double(o.levels_num), double(o.active_levels_num), o.threshold,
                                o.softness, double(o.window_radius), double(o.auto_levels),
                                double(o.solver)});
  };
  const std::vector<double> defaults = {1, 1, 0.02, 1e-7, 1, 0, CALC_SOLVER_DIRECT},
                            changed = {3, 2, 0.3, 5e-6, 3, 1, CALC_SOLVER_ITERATIVE};
  probe.hold_at = MATTE_STAGE_LAPLACIAN;
  for (gint response : {GTK_RESPONSE_CANCEL, GTK_RESPONSE_DELETE_EVENT, GTK_RESPONSE_OK}) {
    with_dialogs({{"options for calculation",
                   [&](GtkDialog* d) {
                     EXPECT_EQ(value(d, "threshold"), 0.02) << "the dialog shows the record";
                     for (const CalcOptionSpec& row : calc_option_table) {
                       gchar* tip = gtk_widget_get_tooltip_text(field(d, row.name));
                       EXPECT_STREQ(tip, row.description) << "the table explains " << row.name;
                       g_free(tip);
                     }
                     set(d, "levels", 9);
                     EXPECT_EQ(value(d, "levels"), 3);  // 30 / 10
                     set(d, "active", 3);
                     set(d, "levels", 2);
                     set(d, "active", 3);
                     EXPECT_EQ(value(d, "active"), 2);
                     set(d, "levels", 3);
                     EXPECT_EQ(value(d, "active"), 2) << "raising the levels leaves the steps";
                     set(d, "threshold", 0.3);
                     set(d, "softness", 5e-6);
                     set(d, "radius", 3);
                     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(field(d, "auto")), TRUE);
                     for (const char* name : {"levels", "active", "threshold"})
                       EXPECT_EQ(GTK_WIDGET_IS_SENSITIVE(field(d, name)), name[0] == 't');
                     gtk_combo_box_set_active(GTK_COMBO_BOX(field(d, "solver")), 2);
                     gtk_dialog_response(d, response);
                   }}},
                 [this] { click(TOOL_CALCULATE); });
    EXPECT_EQ(record(), response == GTK_RESPONSE_OK ? changed : defaults);
    EXPECT_EQ(ed->calc.running(), response == GTK_RESPONSE_OK);
  }
  ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
  EXPECT_EQ(
      ed->calc.pass_calc_args->options.auto_levels * 10 + ed->calc.pass_calc_args->options.solver,
      10 + CALC_SOLVER_ITERATIVE);
  probe.release();
  ASSERT_TRUE(loop_until([] { return !ed->calc.running(); }));
  auto edit = [this](const std::function<void(GtkDialog*)>& act) {
    with_dialogs({{"options for calculation", act}}, [] { gtk_options_dialog_open(nullptr, ed); });
  };
  edit([&](GtkDialog* d) {
    gtk_button_clicked(GTK_BUTTON(field(d, "Reset to default values")));
    EXPECT_EQ(std::vector<double>({value(d, "levels"), value(d, "active"), value(d, "threshold"),
                                   value(d, "softness"), value(d, "radius")}),
              std::vector<double>(defaults.begin(), defaults.begin() + 5));
    EXPECT_EQ(gtk_combo_box_get_active(GTK_COMBO_BOX(field(d, "solver"))), CALC_SOLVER_DIRECT);
    EXPECT_EQ(record(), changed) << "Reset changes only the controls";
    gtk_entry_set_text(GTK_ENTRY(field(d, "threshold")), "0.25");
    gtk_widget_activate(field(d, "threshold"));  // Enter accepts, with the text typed
  });
  EXPECT_EQ(record(), std::vector<double>({1, 1, 0.25, 1e-7, 1, 0, CALC_SOLVER_DIRECT}));
  open(dir_ + "/halves.png");
  EXPECT_EQ(record(), defaults) << "a new image starts with the defaults";
}

// Closing (the close button, or File > Quit) asks about unsaved strokes; a window that closes
// cancels the running calculation, writes its geometry and removes the recovery file, which is
// written before each calculation.
TEST_F(CalcTest, ClosingAsksAboutUnsavedStrokesAndRecoveryFilesKeepThem) {
  const struct {
    bool by_quit, saved;  // File > Quit, else the close button; saved before: no question
    gint answer, save;    // to "Unsaved strokes", and to the Save dialog it opens (0: none)
    bool kept;            // the window stays
  } rows[] = {{false, false, GTK_RESPONSE_CANCEL, 0, true},
              {true, false, CLOSE_DISCARD, 0, false},
              {false, false, CLOSE_SAVE, GTK_RESPONSE_ACCEPT, false},
              {true, false, CLOSE_SAVE, GTK_RESPONSE_CANCEL, true},
              {false, true, 0, 0, false}};
  for (const auto& r : rows) {
    rebuild_main_window();
    open(dir_ + "/halves.png");
    both_strokes();
    const std::string strokes = dir_ + "/strokes.png";
    if (r.saved) with_dialogs({choose_file("Save File", strokes)}, [this] { ctrl(GDK_s); });
    g_unlink(strokes.c_str());
    start_held(MATTE_STAGE_LAPLACIAN);
    gchar* recovery = recovery_file_for(ed->doc().opened_image);
    EXPECT_TRUE(g_file_test(recovery, G_FILE_TEST_EXISTS)) << "written before the calculation";
    g_unlink(appdata);
    Steps steps;
    if (!r.saved) steps.push_back(answer_reading("Unsaved strokes", nullptr, r.answer));
    if (r.save != 0) steps.push_back(choose_file("Save File", strokes, r.save));
    bool kept = true;
    with_dialogs(steps, [&] {
      if (!r.by_quit) kept = send_delete_event();
      if (!r.by_quit) return;
      // Outside gtk_main(): the window's end must not quit a loop that does not run.
      g_signal_handlers_disconnect_by_func(ed->view.main_window,
                                           reinterpret_cast<gpointer>(destroy), ed);
      g_signal_connect(ed->view.main_window, "destroy", G_CALLBACK(gtk_widget_destroyed),
                       &ed->view.main_window);
      ctrl(GDK_q);
      kept = ed->view.main_window != nullptr;
    });
    EXPECT_EQ(std::vector<bool>({kept, g_file_test(appdata, G_FILE_TEST_EXISTS) != 0,
                                 ed->calc.running(), g_file_test(recovery, G_FILE_TEST_EXISTS) != 0,
                                 g_file_test(strokes.c_str(), G_FILE_TEST_EXISTS) != 0}),
              std::vector<bool>({r.kept, !r.kept, r.kept, r.kept, r.save == GTK_RESPONSE_ACCEPT}))
        << "kept, geometry written, calculating, recovery file, strokes saved: " << r.answer;
    g_free(recovery);
    probe.release();
    EXPECT_TRUE(loop_until([] { return ed->calc.workers_alive() == 0 && !ed->calc.running(); }));
    if (ed->view.main_window != nullptr)
      set_view_mode(false);  // the next window starts in edit mode
  }
  // Strokes that a crash left in a recovery file are offered when their image is opened again:
  // Discard deletes the file, closing the question keeps it, Restore brings them back unsaved.
  rebuild_main_window();
  for (gint answer : {GTK_RESPONSE_REJECT, GTK_RESPONSE_DELETE_EVENT, GTK_RESPONSE_ACCEPT}) {
    open(dir_ + "/halves.png");
    both_strokes();
    const std::vector<guint32> painted = layer_snapshot();
    ASSERT_TRUE(write_recovery_file(&ed->session, ed->doc().opened_image, ed->strokes.surf_layer));
    gchar* recovery = recovery_file_for(ed->doc().opened_image);
    with_dialogs({choose_file("Open image", ed->doc().opened_image),
                  answer_reading("Restore strokes", nullptr, answer)},
                 [] { on_open_image(nullptr, ed); });
    EXPECT_EQ(layer_snapshot() == painted, answer == GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(layer_has_unsaved_changes(ed->strokes), answer == GTK_RESPONSE_ACCEPT);
    EXPECT_EQ(g_file_test(recovery, G_FILE_TEST_EXISTS), answer != GTK_RESPONSE_REJECT);
    g_free(recovery);
  }
}

}  // namespace

namespace {

// A freehand lasso outline through the corners of the image rectangle (x0, y0) .. (x1, y1).
void lasso_box(int x0, int y0, int x1, int y1) {
  press(x0, y0);
  for (auto [x, y] : {std::pair{x1, y0}, {x1, y1}, {x0, y1}, {x0, y0}}) motion(x, y);
  release(x0, y0);
}

}  // namespace

// Lasso fills are strokes to the calculation: fills alone give their matte; a fill made while
// a worker runs is one undo step and unknown to that run.
TEST_F(CalcTest, LassoFillsAreStrokesAlsoDuringARun) {
  click(TOOL_LASSO);  // white, the brush chosen last
  lasso_box(24, 4, 36, 26);
  click(TOOL_BG);
  click(TOOL_LASSO);
  lasso_box(3, 4, 12, 26);
  calculate();
  EXPECT_GE(matte(30, 15), 250u);
  EXPECT_LE(matte(8, 15), 5u);
  set_view_mode(false);
  start_held(MATTE_STAGE_LAPLACIAN);
  click(TOOL_FG);
  click(TOOL_LASSO);
  const guint n = g_list_length(ed->strokes.history);
  lasso_box(14, 8, 18, 16);
  EXPECT_EQ(g_list_length(ed->strokes.history), n + 1);
  EXPECT_EQ(layer_pixel(16, 12), 0xffffffffu);
  undo(nullptr, ed);
  EXPECT_EQ(layer_pixel(16, 12), 0u);
  redo(nullptr, ed);
  probe.release();
  ASSERT_TRUE(loop_until([] { return !ed->calc.running(); }));
  EXPECT_EQ(status_message(), "strokes changed since this calculation");
  EXPECT_LE(matte(16, 12), 55u);
  set_view_mode(false);
  calculate();
  EXPECT_GE(matte(16, 12), 250u);
}

// "Matte only (grey PNG)" saves, and Copy in view mode gives, the matte alone: the bytes that
// quillane-matte --alpha-only writes for the same image and strokes. "Clean edge colours" has
// nothing to do then; the choice is remembered, and "Image with alpha" writes the image again.
TEST_F(CalcTest, MatteOnlySavesAndCopiesTheToolsGreyPng) {
#ifndef QUILLANE_MATTE_TOOL
  GTEST_SKIP() << "quillane-matte is not built";
#else
  both_strokes();
  const std::string image = dir_ + "/halves.png", strokes = dir_ + "/strokes.png",
                    saved = dir_ + "/matte.png", by_tool = dir_ + "/tool.png";
  with_dialogs({choose_file("Save File", strokes)}, [] { on_save_as(nullptr, ed); });
  calculate();
  ASSERT_EQ(ed->view.in_edit_mode, 0);
  auto choose = [](GtkDialog* d, const char* label) {
    GtkWidget* radio = find_widget(GTK_WIDGET(d), [label](GtkWidget* w) {
      return GTK_IS_RADIO_BUTTON(w) && g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), label) == 0;
    });
    EXPECT_NE(radio, nullptr) << label;
    const bool was = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(radio));
    gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(radio), TRUE);
    return was;
  };
  auto clean_box = [](GtkDialog* d) {
    return find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
      return GTK_IS_CHECK_BUTTON(w) && !GTK_IS_RADIO_BUTTON(w) &&
             g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Clean edge colours") == 0;
    });
  };
  bool was_image = false, clean_sensitive = true;
  with_dialogs({{"Save File",
                 [&](GtkDialog* d) {
                   was_image = !choose(d, "Matte only (grey PNG)");
                   clean_sensitive = gtk_widget_get_sensitive(clean_box(d));
                   choose_file("", saved).answer(d);
                 }}},
               [] { on_save_as(nullptr, ed); });
  EXPECT_TRUE(was_image) << "Image with alpha at start";
  EXPECT_FALSE(clean_sensitive);
  gchar* out = nullptr;
  gint status = -1;
  const gchar* argv[] = {QUILLANE_MATTE_TOOL, "--quiet",       "--alpha-only", image.c_str(),
                         strokes.c_str(),     by_tool.c_str(), nullptr};
  ASSERT_TRUE(g_spawn_sync(nullptr, const_cast<gchar**>(argv), nullptr, G_SPAWN_STDERR_TO_DEV_NULL,
                           nullptr, nullptr, &out, nullptr, &status, nullptr));
  g_free(out);
  ASSERT_EQ(status, 0);
  const std::string want = file_contents(by_tool);
  ASSERT_GT(want.size(), 8u);
  EXPECT_TRUE(file_contents(saved) == want) << "the tool's bytes";
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_clear(clipboard);
  ctrl(GDK_c);
  GtkSelectionData* png =
      gtk_clipboard_wait_for_contents(clipboard, gdk_atom_intern_static_string("image/png"));
  ASSERT_NE(png, nullptr);
  EXPECT_TRUE(std::string(reinterpret_cast<const char*>(gtk_selection_data_get_data(png)),
                          gtk_selection_data_get_length(png)) == want);
  gtk_selection_data_free(png);
  GdkPixbuf* grey = gtk_clipboard_wait_for_image(clipboard);
  ASSERT_NE(grey, nullptr);
  EXPECT_TRUE(same_pixels(W, H, pixels_of(grey),
                          [](int x, int y) { return 0xff000000u | matte(x, y) * 0x010101u; }));
  g_object_unref(grey);
  bool was_matte = false;
  with_dialogs({{"Save File",
                 [&](GtkDialog* d) {
                   was_matte = !choose(d, "Image with alpha");
                   choose_file("", saved).answer(d);
                 }},
                answer_reading("Replace file", nullptr, GTK_RESPONSE_ACCEPT)},
               [] { on_save_as(nullptr, ed); });
  EXPECT_TRUE(was_matte) << "the choice is remembered";
  GdkPixbuf* rgba = load_image(saved);
  ASSERT_NE(rgba, nullptr);
  EXPECT_TRUE(same_pixels(W, H, pixels_of(rgba), pixels_of(ed->doc().pixbuf_alpha)));
  g_object_unref(rgba);
#endif
}
