// The live matte and the View menu: the matte follows strokes, undo and redo, and is shown in
// each of the five views; a change during an update restarts it; Calculate and the live matte
// never run two calculations at once, and Calculate updates the live session when its options
// are the session's; problems go to the status bar, never to a dialog; the first matte of a
// zoomed-out view comes from a coarse level; the view settings are kept beside the geometry.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <atomic>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "gui/brush.h"
#include "gui/calc_progress.h"
#include "gui/calc_slot.h"
#include "gui/display_prefs.h"
#include "gui/live_matte.h"
#include "gui/live_worker.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "matting/matte_session.h"
#include "tests/gui/gui_harness.h"

namespace {

const int W = kHalvesWidth, H = kHalvesHeight;
std::string state() {
  return live_state_text(*ed);
}
StageProbe probe;  // SetUp holds before the stage

// Counts the calculation threads alive, and the most ever alive at once.
std::atomic<int> alive{0}, most{0};
struct Counted {
  GThreadFunc func;
  gpointer data;
};
gpointer counted(gpointer data) {
  Counted c = *static_cast<Counted*>(data);
  delete static_cast<Counted*>(data);
  const int now = ++alive;
  for (int m = most; now > m && !most.compare_exchange_weak(m, now);) {
  }
  gpointer result = c.func(c.data);
  --alive;
  return result;
}
GThread* counting_create(GThreadFunc func, gpointer data, GError** error) {
  return g_thread_try_new("counted", counted, new Counted{func, data}, error);
}

class LiveTest : public EditorTest {
 public:
  void SetUp() override {
    EditorTest::SetUp();
    if (IsSkipped()) return;
    alive = most = 0;
    ed->calc.thread_create = counting_create;
    open_halves_watched(&probe, true);
    gtk_adjustment_set_value(ed->view.brush_adjustment, 3);
    show(SHOW_OVERLAY);  // an earlier test's choice is kept in the settings file
  }
  void TearDown() override {
    if (gui_available()) {
      probe.release();
      EXPECT_TRUE(loop_until([] { return !calculation_thread_alive(*ed); }));
      ed->calc.worker_observer = nullptr;
      remove_recovery_files(&ed->session);
    }
    EditorTest::TearDown();
  }
  void stroke(ToolbarItem brush, int x, int y0 = 6, int y1 = 24) {
    click(brush);
    drag(x, y0, x, y1);
  }
  void both_strokes() {
    stroke(TOOL_FG, 30);
    stroke(TOOL_BG, 9);
  }
  void live(bool on) {
    if (ed->live.on != on) ctrl(GDK_l);
  }
  bool up_to_date() {
    return loop_until([] {
      const LiveMatte& l = ed->live;
      return state() == "live · up to date" && l.job == nullptr && !l.pending && l.kick == 0;
    });
  }
  void show(MatteShow s) {
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(ed->view.show_item[s]), TRUE);
    settle();
  }
  // Presses Calculate and answers the options dialog, ticking automatic levels or not.
  void calculate(bool auto_levels) {
    with_dialogs({{"options for calculation",
                   [auto_levels](GtkDialog* d) {
                     GtkWidget* check = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
                       return g_strcmp0(gtk_widget_get_name(w), "auto") == 0;
                     });
                     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(check), auto_levels);
                     gtk_dialog_response(d, GTK_RESPONSE_OK);
                   }}},
                 [this] { click(TOOL_CALCULATE); });
  }
  std::string stage_label() {
    GtkWidget* label = ed->calc.progress.stage_label;
    return label != nullptr ? gtk_label_get_text(GTK_LABEL(label)) : "";
  }
};

guint32 channel(guint32 pixel, int shift) {
  return (pixel >> shift) & 255;
}

// Ctrl+L and the toolbar toggle are one switch. With strokes of both kinds the live matte
// becomes the image's matte without a mode switch, and the canvas shows it in each view, in
// edit mode under the strokes and in view mode; undo and redo follow; off, the views are the
// specified ones again.
TEST_F(LiveTest, TheLiveMatteFollowsStrokesUndoAndRedoInEveryView) {
  live(true);
  GtkToggleToolButton* toggle = GTK_TOGGLE_TOOL_BUTTON(ed->view.tool[TOOL_LIVE]);
  EXPECT_TRUE(gtk_toggle_tool_button_get_active(toggle));
  EXPECT_TRUE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(ed->view.live_item)));
  EXPECT_TRUE(loop_until([] { return state() == "live · paint both foreground and background"; }));
  both_strokes();
  ASSERT_TRUE(up_to_date());
  EXPECT_EQ(ed->view.in_edit_mode, 1);
  EXPECT_GE(matte(36, 15), 250u);
  EXPECT_LE(matte(4, 15), 5u);

  // The dark half is background (alpha near 0), the bright half foreground (near 255).
  const guint32 dark = 31, bright = 220 + (36 + 15) % 4;
  const struct {
    MatteShow show;
    guint32 red, green;  // expected on the dark half, within 4
    bool image_bright;   // the bright half shows the image itself (else white)
  } rows[] = {{SHOW_OVERLAY, (dark + 255) / 2, dark / 2, true},
              {SHOW_ON_BLACK, 0, 0, true},
              {SHOW_ON_WHITE, 255, 255, true},
              {SHOW_ALPHA, 0, 0, false}};
  for (bool view_mode : {false, true}) {
    set_view_mode(view_mode);
    for (const auto& r : rows) {
      show(r.show);
      const guint32 p = view_pixel(4, 15), q = view_pixel(36, 15);
      EXPECT_NEAR(int(channel(p, 16)), int(r.red), 4) << r.show << " " << view_mode;
      EXPECT_NEAR(int(channel(p, 8)), int(r.green), 4) << r.show << " " << view_mode;
      EXPECT_NEAR(int(channel(q, 8)), r.image_bright ? int(bright) : 255, 6) << r.show;
      EXPECT_EQ(p >> 24, 255u) << "opaque";
    }
    show(SHOW_ON_CHECKERS);  // squares of 8 pixels, white and light grey
    EXPECT_NEAR(int(channel(view_pixel(12, 12), 0)), 255, 4);
    EXPECT_NEAR(int(channel(view_pixel(4, 12), 0)), 0xcc, 4);
  }
  set_view_mode(false);
  EXPECT_EQ(view_pixel(9, 15), 0xff000000u) << "the strokes on top";

  undo(nullptr, ed);  // the background stroke goes
  EXPECT_TRUE(loop_until([] { return state() == "live · paint both foreground and background"; }));
  EXPECT_NE(view_pixel(9, 15), 0xff000000u) << "the matte shows where the stroke was";
  redo(nullptr, ed);
  EXPECT_TRUE(up_to_date());

  gtk_toggle_tool_button_set_active(toggle, FALSE);
  settle();
  EXPECT_FALSE(gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(ed->view.live_item)));
  EXPECT_EQ(state(), "");
  EXPECT_EQ(view_pixel(4, 15), halves(4, 15));
  set_view_mode(true);
  EXPECT_LE(view_pixel(4, 15) >> 24, 5u) << "view mode as specified: transparent";
  set_view_mode(false);
  live(true);  // another image of the same size shows at once, with its own (opaque) alpha
  open(write_image(dir_, "other.png", W, H, false, [](int, int) { return 0xff336699u; }));
  EXPECT_EQ(view_pixel(4, 15), 0xff336699u);
}

// A stroke during an update cancels it; when it has returned the next update starts with the
// new strokes. One thread at a time, and the result knows the new stroke.
TEST_F(LiveTest, AChangeDuringAnUpdateRestartsIt) {
  both_strokes();
  probe.hold_at = MATTE_STAGE_SOLVE;  // after the factorisation
  live(true);
  ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
  const unsigned first = ed->live.serial;
  stroke(TOOL_FG, 16);  // on the dark half
  ASSERT_NE(ed->live.job, nullptr);
  EXPECT_TRUE(ed->live.job->control.cancel_requested()) << "the update is asked to stop";
  EXPECT_EQ(ed->live.serial, first) << "no second update beside the first";
  EXPECT_EQ(alive.load(), 1);
  probe.hold_at = -1;
  probe.release();
  ASSERT_TRUE(up_to_date());
  EXPECT_EQ(ed->live.serial, first + 1);
  EXPECT_EQ(most.load(), 1);
  EXPECT_GE(matte(16, 15), 250u) << "the restarted update has the new stroke";
}

// Calculate, a live restart, or both, while a calculation's thread is inside a factorisation
// that cannot be interrupted: the newcomer waits (the status bar says so), and only one thread
// ever runs. Each ends with the newest matte.
TEST_F(LiveTest, OneCalculationAtATime) {
  const struct {
    bool live_first;   // a live update is in the factorisation, else a Calculate
    bool calculate;    // then Calculate is pressed, else a stroke is painted (live on)
    const char* says;  // what the status bar says meanwhile
  } rows[] = {{false, true, kWaitingText},
              {true, true, kWaitingText},
              {false, false, "live · waiting for the calculation"}};
  for (const auto& r : rows) {
    live(false);
    open(dir_ + "/halves.png");
    both_strokes();
    alive = most = 0;
    probe.hold_at = MATTE_STAGE_NUMERIC;
    probe.holders = probe.let_go = 0;
    if (r.live_first) live(true);
    if (!r.live_first) calculate(false);
    ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
    if (!r.live_first && !r.calculate) live(true);
    if (r.calculate) calculate(false);
    if (!r.calculate) stroke(TOOL_FG, 16);
    settle(100);
    EXPECT_EQ(alive.load(), 1) << r.says;
    EXPECT_EQ(ed->calc.workers_alive() + int(ed->live.job != nullptr), 1);
    EXPECT_EQ(r.calculate ? stage_label() : state(), r.says);
    probe.hold_at = -1;
    probe.release();
    ASSERT_TRUE(loop_until([] { return !ed->calc.running() && !calculation_thread_alive(*ed); }));
    EXPECT_EQ(most.load(), 1) << r.says;
    EXPECT_EQ(ed->view.in_edit_mode, 0) << "Calculate delivered";
    EXPECT_GE(matte(36, 15), 250u);
    if (!r.calculate) {
      EXPECT_TRUE(up_to_date());
      EXPECT_GE(matte(16, 15), 250u) << "the live matte knows the new stroke";
    }
    set_view_mode(false);
  }
}

// Cancel while a Calculate waits for a cancelled worker drops the waiting one: nothing starts
// when the worker ends, and the status bar says it was cancelled.
TEST_F(LiveTest, CancelDropsACalculateThatWaits) {
  both_strokes();
  probe.hold_at = MATTE_STAGE_NUMERIC;
  calculate(false);
  ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
  calculate(false);
  ASSERT_TRUE(ed->calc.running() && ed->calc.pass_calc_args->waiting);
  gtk_button_clicked(GTK_BUTTON(ed->calc.progress.cancel_button));
  EXPECT_FALSE(ed->calc.running());
  EXPECT_EQ(status_message(), "Calculation cancelled");
  probe.hold_at = -1;
  probe.release();
  ASSERT_TRUE(loop_until([] { return !calculation_thread_alive(*ed); }));
  settle(100);
  EXPECT_EQ(std::vector<int>({ed->calc.running(), ed->calc.workers_alive(), most.load()}),
            std::vector<int>({0, 0, 1}));
  EXPECT_EQ(ed->view.in_edit_mode, 1) << "nothing was delivered";
  EXPECT_EQ(matte(4, 15), 255u);
}

// A new region, or new options the matte depends on, recalculate the live matte (outside the
// region alpha 0); options it does not use (the levels) do not.
TEST_F(LiveTest, RegionAndOptionChangesRecalculate) {
  live(true);
  both_strokes();
  ASSERT_TRUE(up_to_date());
  // Edit > Preferences: the field of this name set to v, and OK.
  auto option = [this](const char* name, double v) {
    with_dialogs({{"options for calculation",
                   [name, v](GtkDialog* d) {
                     GtkWidget* field = find_widget(GTK_WIDGET(d), [name](GtkWidget* w) {
                       return g_strcmp0(gtk_widget_get_name(w), name) == 0;
                     });
                     gtk_spin_button_set_value(GTK_SPIN_BUTTON(field), v);
                     gtk_dialog_response(d, GTK_RESPONSE_OK);
                   }}},
                 [] { gtk_options_dialog_open(nullptr, ed); });
  };
  const struct {
    std::function<void()> change;
    bool recalculates;
    double softness;  // of the live session afterwards
  } rows[] = {{[this] { select_region(4, 2, 35, 27); }, true, 1e-7},
              {[&] { option("levels", 2); }, false, 1e-7},
              {[&] { option("softness", 1e-6); }, true, 1e-6}};
  for (const auto& r : rows) {
    const unsigned before = ed->live.serial;
    r.change();
    ASSERT_TRUE(up_to_date());
    EXPECT_EQ(ed->live.serial != before, r.recalculates);
    EXPECT_EQ(ed->live.key.softness, r.softness);
  }
  EXPECT_EQ(std::vector<guint32>({matte(2, 15), matte(37, 15), matte(20, 1)}),
            std::vector<guint32>({0, 0, 0}))
      << "outside the region";
  EXPECT_GE(matte(33, 15), 250u);
}

// The live matte is the image's matte: Save in view mode and Copy write it.
TEST_F(LiveTest, SaveAndCopyWriteTheLiveMatte) {
  live(true);
  both_strokes();
  ASSERT_TRUE(up_to_date());
  set_view_mode(true);
  const std::string path = dir_ + "/saved.png";
  with_dialogs({choose_file("Save File", path)}, [] { on_save_as(nullptr, ed); });
  GdkPixbuf* saved = load_image(path);
  ASSERT_NE(saved, nullptr);
  ctrl(GDK_c);
  GdkPixbuf* copied = gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  ASSERT_NE(copied, nullptr);
  for (GdkPixbuf* p : {saved, copied}) {
    EXPECT_TRUE(same_pixels(W, H, pixels_of(p), pixels_of(ed->doc().pixbuf_alpha)));
    g_object_unref(p);
  }
  EXPECT_LE(matte(4, 15), 5u);
}

// Calculate with automatic levels and the live session's options updates that session (its
// matte is the live one, byte for byte); with other options it calculates anew, after the
// session let go of its cache, and the live matte leaves that result alone.
TEST_F(LiveTest, CalculateUpdatesTheLiveSessionWhenItsOptionsAreTheSessions) {
  live(true);
  both_strokes();
  ASSERT_TRUE(up_to_date());
  GdkPixbuf* live_matte = gdk_pixbuf_copy(ed->doc().pixbuf_alpha);
  const double cached = ed->live.session->cached_bytes();
  const unsigned updates = ed->live.serial;
  for (bool auto_levels : {true, false}) {
    probe.hold_at = MATTE_STAGE_LAPLACIAN;
    probe.holders = probe.let_go = 0;
    calculate(auto_levels);
    ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
    EXPECT_EQ(ed->calc.pass_calc_args->session == ed->live.session, auto_levels);
    if (!auto_levels) {
      EXPECT_LT(ed->live.session->cached_bytes(), cached) << "cache dropped";
    }
    probe.hold_at = -1;
    probe.release();
    ASSERT_TRUE(loop_until([] { return !ed->calc.running() && !calculation_thread_alive(*ed); }));
    EXPECT_EQ(ed->view.in_edit_mode, 0);
    if (auto_levels) {
      EXPECT_TRUE(same_pixels(W, H, pixels_of(ed->doc().pixbuf_alpha), pixels_of(live_matte)));
    }
    settle(300);
    EXPECT_EQ(state(), "live · up to date");
    set_view_mode(false);
  }
  EXPECT_EQ(ed->live.serial, updates) << "no live update replaced Calculate's matte";
  g_object_unref(live_matte);
}

// Whatever stops the live matte is said in the status bar, and never in a dialog.
TEST_F(LiveTest, ProblemsGoToTheStatusBarNeverToADialog) {
  GThread* (*create)(GThreadFunc, gpointer, GError**) = ed->calc.thread_create;
  const struct {
    std::function<void()> arrange;
    std::string says;
  } rows[] = {
      {[this] { stroke(TOOL_FG, 30); }, "paint both foreground and background"},
      {[this] {
         open(write_image(dir_, "layer.png", W, H, true,
                          [](int x, int) { return x < W / 2 ? 0xff000000u : 0xffffffffu; }),
              OPEN_AS_LAYER);
       },
       "every pixel is painted: nothing to calculate"},
      {[this] { both_strokes(), select_region(2, 2, 3, 3); },
       "the calculation region must be at least 2R+1 pixels in each direction (3 with window "
       "radius R = 1); it is 2x2"},
      {[this] {
         open(write_image(dir_, "large.png", 90, 70, false, halves));
         select_region(50, 40, 80, 65);
         open(dir_ + "/halves.png");
         both_strokes();
       },
       "the calculation region lies outside the image"},
      {[this] { both_strokes(), probe.fail_at = MATTE_STAGE_LAPLACIAN; }, "failure: out_of_memory"},
      {[this] {
         both_strokes();
         ed->calc.thread_create = [](GThreadFunc, gpointer, GError** error) -> GThread* {
           g_set_error_literal(error, G_THREAD_ERROR, G_THREAD_ERROR_AGAIN, "no thread for you");
           return nullptr;
         };
       },
       "could not start: no thread for you"}};
  for (const auto& r : rows) {
    live(false);
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(ed->view.calc_roi_item), FALSE);
    open(dir_ + "/halves.png");
    with_dialogs({}, [&] {
      r.arrange();
      live(true);
      EXPECT_TRUE(loop_until([&] { return state() == "live · " + r.says; }, 20)) << state();
    });
    probe.fail_at = -1;
    ed->calc.thread_create = create;
  }
}

// Turned off during an update, the live matte cancels it and shows nothing more of it: the
// specified views come back at once and stay; turned on again, it calculates anew.
TEST_F(LiveTest, TurningItOffCancelsTheUpdate) {
  both_strokes();
  probe.hold_at = MATTE_STAGE_SOLVE;
  live(true);
  ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
  LiveJob* job = ed->live.job;
  live(false);
  EXPECT_TRUE(job->control.cancel_requested());
  EXPECT_EQ(std::vector<bool>({ed->live.session == nullptr, ed->view.backdrop == nullptr}),
            std::vector<bool>({true, true}));
  probe.hold_at = -1;
  probe.release();
  ASSERT_TRUE(loop_until([] { return !calculation_thread_alive(*ed); }));
  settle(100);
  EXPECT_EQ(view_pixel(4, 15), halves(4, 15)) << "nothing of the cancelled update shows";
  EXPECT_EQ(matte(4, 15), 255u);
  live(true);
  EXPECT_TRUE(up_to_date());
  EXPECT_LE(matte(4, 15), 5u);
}

// Zoomed out, the first matte shown is the coarse level nearest to the view's size, then the
// full-resolution one replaces it; at 100 % the first is the full-resolution one.
TEST_F(LiveTest, TheFirstMatteComesFromTheLevelNearestTheZoomedView) {
  open(write_image(dir_, "wide.png", 320, 240, false, [](int x, int y) {
    return 0xff000000u | ((x < 160 ? 40u : 210u) * 0x010101u + guint32((x * 3 + y) % 8));
  }));
  gtk_adjustment_set_value(ed->view.brush_adjustment, 6);
  for (double zoom_percent : {50.0, 100.0}) {
    zoom(zoom_percent);
    live(false);
    open(dir_ + "/wide.png");
    const double s = zoom_percent / 100;
    click(TOOL_FG);
    drag(260 * s, 40 * s, 260 * s, 200 * s);
    click(TOOL_BG);
    drag(60 * s, 40 * s, 60 * s, 200 * s);
    probe.hold_at = MATTE_STAGE_LAPLACIAN;  // of the coarsest level, then of the full one
    probe.holders = probe.let_go = 0;
    live(true);
    ASSERT_TRUE(loop_until([] { return probe.holding > 0; }));
    probe.release(1);
    ASSERT_TRUE(loop_until([] { return probe.holders == 2 && probe.holding > 0; }));
    settle(150);
    EXPECT_EQ(ed->live.preview.width > 0 && ed->live.preview.width < 320, zoom_percent == 50);
    EXPECT_EQ(state(), "live · level 2 of 2");
    const guint32 p = view_pixel(10, 100);  // background: tinted once a matte is on show
    EXPECT_EQ(channel(p, 16) > channel(p, 8) + 60, zoom_percent == 50);
    probe.release();
    EXPECT_TRUE(up_to_date());
    EXPECT_EQ(ed->live.preview.width, 0);
  }
}

// View > Show matte as and the overlay colour are written beside the geometry file and read by
// the next window; a file it cannot read leaves the defaults.
TEST_F(LiveTest, TheViewSettingsAreKeptBesideTheGeometryFile) {
  gchar* path = display_prefs_path();
  show(SHOW_ON_CHECKERS);
  with_dialogs(
      {{"Overlay colour",
        [](GtkDialog* d) {
          GdkColor c = {0, 0x1000, 0x8000, 0xf000};
          gtk_color_selection_set_current_color(
              GTK_COLOR_SELECTION(
                  gtk_color_selection_dialog_get_color_selection(GTK_COLOR_SELECTION_DIALOG(d))),
              &c);
          gtk_dialog_response(d, GTK_RESPONSE_OK);
        }}},
      [] {
        GtkWidget* item = find_widget(gtk_widget_get_parent(ed->view.live_item), [](GtkWidget* w) {
          return GTK_IS_LABEL(w) &&
                 g_strcmp0(gtk_label_get_text(GTK_LABEL(w)), "Overlay Colour…") == 0;
        });
        ASSERT_NE(item, nullptr);
        gtk_menu_item_activate(GTK_MENU_ITEM(gtk_widget_get_parent(item)));
      });
  EXPECT_EQ(file_contents(path), "show checkerboard\noverlay-colour 4096 32768 61440\n");
  // The overlay is tinted with it: half of it where the matte is 0.
  live(true);
  both_strokes();
  ASSERT_TRUE(up_to_date());
  show(SHOW_OVERLAY);
  const guint32 p = view_pixel(4, 15), dark = halves(4, 15) & 255;
  EXPECT_NEAR(int(channel(p, 0)), int(dark + 0xf0) / 2, 4);
  EXPECT_NEAR(int(channel(p, 8)), int(dark + 0x80) / 2, 4);
  live(false);
  for (const char* text : {"show checkerboard\noverlay-colour 4096 32768 61440\n",
                           "show sepia\noverlay-colour 1 2\n"}) {
    ASSERT_TRUE(g_file_set_contents(path, text, -1, nullptr));
    ed->display = MatteDisplay();
    rebuild_main_window();
    const bool read = text[5] == 'c';
    EXPECT_EQ(ed->display.show, read ? SHOW_ON_CHECKERS : SHOW_OVERLAY);
    EXPECT_EQ(ed->display.tint.green, read ? 0x8000 : 0);
    EXPECT_TRUE(gtk_check_menu_item_get_active(
        GTK_CHECK_MENU_ITEM(ed->view.show_item[read ? SHOW_ON_CHECKERS : SHOW_OVERLAY])));
  }
  g_free(path);
}

}  // namespace

// A lasso fill is a change of strokes like a stroke: with only foreground painted, filling the
// dark half with the background brush brings the matte, transparent where the fill lies.
TEST_F(LiveTest, ALassoFillRecalculatesTheLiveMatte) {
  stroke(TOOL_FG, 30);
  live(true);
  ASSERT_TRUE(loop_until([] { return state() == "live · paint both foreground and background"; }));
  click(TOOL_BG);
  click(TOOL_LASSO);
  const double s = ed->view.scale;
  press(2 * s, 3 * s);
  for (auto [x, y] : {std::pair{12, 3}, {12, 27}, {2, 27}, {2, 3}}) motion(x * s, y * s);
  release(2 * s, 3 * s);
  ASSERT_TRUE(up_to_date());
  EXPECT_LE(matte(6, 15), 5u);
  EXPECT_GE(matte(36, 15), 250u);
}
