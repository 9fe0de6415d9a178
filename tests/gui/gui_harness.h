// Test harness for the editor: a fresh main window per test, synthetic input through the real
// handlers, pixel comparisons, and answers to modal dialogs from a timeout inside
// gtk_dialog_run(). main() points APPDATA, HOME, the XDG folders and ICON_DIR at a private
// temporary folder before GTK starts; without an X server every test is skipped visibly.
#ifndef QUILLANE_TESTS_GUI_HARNESS_H
#define QUILLANE_TESTS_GUI_HARNESS_H

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "gui/dialog_run.h"
#include "gui/editor.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/view.h"

extern Editor* ed;  // the editor of the running test

bool gui_available();
std::string fresh_dir(const std::string& name);  // a new empty folder of this run
void settle(int ms = 0);  // runs the main loop until idle and at least ms have passed

// Runs the main loop until done() holds; false when the deadline passed first.
bool loop_until(const std::function<bool()>& done, int seconds = 120);

// Watches a calculation's stages on its thread: holds workers at hold_at (after the stage, or
// before it with `before`) until let go, ticket by ticket, and fails fail_at as if memory ran
// out. Install as the editor's worker_observer.
struct StageProbe : MatteStageObserver {
  GMutex mutex;
  GCond cond;
  int hold_at = -1, fail_at = -1, holders = 0, let_go = 0;
  bool before = false;
  std::atomic<int> holding{0};
  void stage_begin(MatteStage stage) override;
  void stage_end(MatteStage stage) override;
  void hold(MatteStage stage);
  void release(int n = 1 << 20);  // lets the n longest waiting workers go on
};

// Pointer events on the canvas in window coordinates; a drag ends with a motion without button.
void press(double x, double y, guint state = 0, guint button = 1);
void motion(double x, double y, guint state = GDK_BUTTON1_MASK);
void release(double x, double y, guint button = 1);
void drag(double x0, double y0, double x1, double y1, int steps = 8);

// Pixels as 0xAARRGGBB; same_pixels() names the first (masked) difference over w x h.
using Pixels = std::function<guint32(int, int)>;
guint32 layer_pixel(int x, int y);
guint32 view_pixel(int x, int y);
guint32 pixbuf_pixel(GdkPixbuf* pixbuf, int x, int y);
guint32 matte(int x, int y);  // the document's alpha at (x, y), 0..255

// The calculation tests' image: kHalvesWidth x kHalvesHeight, dark left of x = 20, bright from
// there on, with a little texture (the pixels of any larger size continue the pattern).
constexpr int kHalvesWidth = 40, kHalvesHeight = 30;
guint32 halves(int x, int y);
Pixels pixels_of(GdkPixbuf* pixbuf);
std::vector<guint32> layer_snapshot();
::testing::AssertionResult same_pixels(int w, int h, const Pixels& got, const Pixels& want,
                                       guint32 mask = 0xffffffffu);

// Writes a w x h PNG or JPEG ("jpeg") of fill below dir and returns its path.
std::string write_image(const std::string& dir, const std::string& name, int w, int h,
                        bool with_alpha, const Pixels& fill, const char* type = "png");
std::string file_contents(const std::string& path);  // "" when unreadable
GdkPixbuf* load_image(const std::string& path);      // null, with a failure, when unreadable

// A modal dialog's expected title and what to do with it.
struct Step {
  std::string title;
  std::function<void(GtkDialog*)> answer;
};
using Steps = std::vector<Step>;
// Picks path in a file dialog (and the radio button `radio`), then answers with response.
Step choose_file(const char* title, const std::string& path, gint response = GTK_RESPONSE_ACCEPT,
                 const char* radio = nullptr);
// Collects the dialog's label texts into *text (when given), then answers with response.
Step answer_reading(const char* title, std::string* text, gint response = GTK_RESPONSE_OK);

GtkWidget* find_widget(GtkWidget* root, const std::function<bool(GtkWidget*)>& pred);
std::string status_message(guint context = STATUS_MESSAGE);  // newest message, "" when none
gboolean send_delete_event();  // the window manager's close; true when the window stays
void rebuild_main_window();    // from the current environment, on the same shared objects

// A fresh editor (shared objects and main window) per test; skipped without a display.
class EditorTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;
  void open(const std::string& path, int mode = OPEN_DEFAULT);  // fails the test on error
  void open_generated(int w, int h);  // an opaque image whose colour follows the position
  // The calculation tests' start: probe (borrowed) reset to hold and fail nothing, observing
  // the editor's workers (before: stage_begin rather than stage_end holds), and halves() open.
  void open_halves_watched(StageProbe* probe, bool before);
  // Runs action while steps answer modal dialogs in order (from a timeout inside
  // gtk_dialog_run()); expects every step used and no other dialog (any is cancelled).
  void with_dialogs(Steps steps, const std::function<void()>& action);
  void click(ToolbarItem item);
  void set_view_mode(bool on);
  void zoom(double percent);
  void set_colour(guint16 r, guint16 g, guint16 b);  // the colour button's brush
  bool ctrl(guint key);                              // an accelerator of the window
  // Drags a selection in view mode, sets the region item to `use`, ends in view mode or not.
  void select_region(int x0, int y0, int x1, int y1, bool use = true, bool view = false);
  std::string dir_;
};

#endif
