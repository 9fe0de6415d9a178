// Closing the editor: the close button and File > Quit ask about strokes that were never
// saved, cancel a running calculation, write the geometry and remove the recovery file; a
// recovery file left behind is offered when its image is opened again.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <string>
#include <vector>

#include "gui/closing.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/layer_state.h"
#include "gui/persistence.h"
#include "gui/recovery.h"
#include "tests/gui/calc_probe.h"
#include "tests/gui/dialog_script.h"
#include "tests/gui/gui_harness.h"

namespace {

bool exists(const std::string& path) {
  return g_file_test(path.c_str(), G_FILE_TEST_EXISTS);
}

void click(int item) {
  g_signal_emit_by_name(toolbar_item(toolbar, item), "clicked");
}

// Ctrl+Q; true when the window is still there afterwards.
bool quit_kept() {
  // Outside gtk_main(): the window's end must not quit a loop that does not run.
  g_signal_handlers_disconnect_by_func(main_window, reinterpret_cast<gpointer>(destroy), nullptr);
  g_signal_connect(main_window, "destroy", G_CALLBACK(gtk_widget_destroyed), &main_window);
  EXPECT_TRUE(gtk_accel_groups_activate(G_OBJECT(main_window), GDK_q, GDK_CONTROL_MASK));
  settle();
  return main_window != nullptr;
}

struct CloseCase {
  const char* name;
  bool by_quit;     // File > Quit, else the window's close button
  bool save_first;  // the strokes were saved before: no question
  gint answer;      // to "Unsaved strokes"
  gint save;        // to the Save dialog the answer Save opens (0: none comes)
  bool kept;        // the window stays
};

class CloseTest : public EditorTest, public ::testing::WithParamInterface<CloseCase> {};

TEST_P(CloseTest, UnsavedStrokesAreAskedAboutAndAClosedWindowLeavesNothingRunning) {
  const CloseCase& c = GetParam();
  open_generated(40, 30);
  click(5);
  drag(30, 6, 30, 24);
  click(6);
  drag(9, 6, 9, 24);
  std::string strokes = dir_ + "/strokes.png";
  if (c.save_first) {
    DialogScript save({choose_file("Save File", strokes)});
    on_save_as(nullptr, main_window);
    settle();
    ASSERT_TRUE(save.finished());
    ASSERT_EQ(g_unlink(strokes.c_str()), 0);
  }
  // A calculation runs, held at the end of its first stage.
  probe.reset();
  probe.hold_at = MATTE_STAGE_LAPLACIAN;
  calc_worker_observer = &probe;
  {
    DialogScript options({answer_reading("options for calculation", nullptr, GTK_RESPONSE_OK)});
    click(4);
    ASSERT_TRUE(loop_until([] { return probe.holding.load() > 0; }));
  }
  gchar* recovery = recovery_file_for(opened_image_path());
  EXPECT_TRUE(exists(recovery)) << "written before the calculation";
  g_unlink(appdata);

  std::vector<DialogScript::Step> steps;
  if (!c.save_first) steps.push_back(answer_reading("Unsaved strokes", nullptr, c.answer));
  if (c.save != 0) steps.push_back(choose_file("Save File", strokes, c.save));
  int timeout_ms = steps.empty() ? 300 : 15000;
  DialogScript script(std::move(steps), timeout_ms);
  bool kept = c.by_quit ? quit_kept() : send_delete_event();
  settle(timeout_ms == 300 ? 350 : 0);
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();

  EXPECT_EQ(kept, c.kept);
  EXPECT_EQ(exists(appdata), !c.kept) << "the geometry is written whenever the window closes";
  EXPECT_EQ(exists(strokes), c.save != 0 && c.save != GTK_RESPONSE_CANCEL);
  EXPECT_EQ(calculation_running(), c.kept);
  EXPECT_EQ(exists(recovery), c.kept);
  g_free(recovery);

  probe.release();
  EXPECT_TRUE(loop_until([] { return calc_workers_alive() == 0 && !calculation_running(); }));
  calc_worker_observer = nullptr;
  remove_recovery_files();
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

TEST_F(EditorTest, ALeftOverRecoveryFileIsOfferedWhenItsImageIsOpened) {
  struct Row {
    gint answer;
    bool restored, file_left;
  };
  for (const Row& r :
       {Row{GTK_RESPONSE_REJECT, false, false}, Row{GTK_RESPONSE_DELETE_EVENT, false, true},
        Row{GTK_RESPONSE_ACCEPT, true, true}}) {
    SCOPED_TRACE(r.answer);
    open_generated(40, 30);
    drag(10, 5, 30, 20);
    std::vector<guint32> painted = layer_snapshot();
    ASSERT_TRUE(write_recovery_file(opened_image_path(), surf_layer));
    gchar* recovery = recovery_file_for(opened_image_path());
    std::string image = opened_image_path();

    std::string text;
    DialogScript script(
        {choose_file("Open image", image), answer_reading("Restore strokes", &text, r.answer)});
    on_open_image(nullptr, toolbar);
    settle();
    EXPECT_TRUE(script.finished());
    EXPECT_NE(text.find("Restore these strokes?"), std::string::npos) << text;
    std::vector<guint32> layer = layer_snapshot();
    EXPECT_EQ(layer == painted, r.restored);
    EXPECT_EQ(count_pixels(layer, 0u), r.restored ? count_pixels(painted, 0u) : 40 * 30);
    // Restored strokes are in no file of the user's: closing asks about them.
    EXPECT_EQ(layer_has_unsaved_changes(), r.restored);
    EXPECT_EQ(exists(recovery), r.file_left);
    g_free(recovery);
  }
  remove_recovery_files();
}

}  // namespace
