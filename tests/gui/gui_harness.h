// Test harness for the editor: a fresh main window per test, synthetic input through the real
// signal handlers, pixel reads and comparisons, and answers to modal dialogs from a timeout
// that runs inside gtk_dialog_run().
//
// main() points APPDATA, HOME, the XDG folders and ICON_DIR at a private temporary folder
// before GTK starts, so no test touches the user's files. Without an X server every test is
// skipped with a visible message.
#ifndef QUILLANE_TESTS_GUI_HARNESS_H
#define QUILLANE_TESTS_GUI_HARNESS_H

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "gui/dialog_run.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/view.h"

bool gui_available();
const std::string& test_root();
// A new empty folder below test_root().
std::string fresh_dir(const std::string& name);
// Processes pending GTK events until none are left and at least ms have passed.
void settle(int ms = 0);

// Synthetic pointer events on the canvas (window coordinates), through gtk_widget_event().
void press(double x, double y, guint state = 0, guint button = 1);
void motion(double x, double y, guint state = GDK_BUTTON1_MASK);
void release(double x, double y, guint button = 1);
// A press, `steps` motions along the line with the button, and a motion without it.
void drag(double x0, double y0, double x1, double y1, int steps = 8);

// Pixels as 0xAARRGGBB: a function of (x, y), and views of the editor's rasters.
using Pixels = std::function<guint32(int, int)>;
guint32 layer_pixel(int x, int y);  // stroke layer, image coordinates
guint32 view_pixel(int x, int y);   // view surface, window coordinates
guint32 pixbuf_pixel(GdkPixbuf* pixbuf, int x, int y);
Pixels pixels_of(GdkPixbuf* pixbuf);
// The whole stroke layer, for exact comparisons.
std::vector<guint32> layer_snapshot();
int count_pixels(const std::vector<guint32>& words, guint32 value);
// Compares got with want (both masked) over w x h pixels; names the first difference.
::testing::AssertionResult same_pixels(int w, int h, const Pixels& got, const Pixels& want,
                                       guint32 mask = 0xffffffffu);

// Writes a w x h image (with alpha when `with_alpha`) of fill(x, y) below dir; `type` "png" or
// "jpeg". Returns its path.
std::string write_image(const std::string& dir, const std::string& name, int w, int h,
                        bool with_alpha, const Pixels& fill, const char* type = "png");
std::string file_contents(const std::string& path);  // "" when unreadable
GdkPixbuf* load_image(const std::string& path);      // null, with a failure, when unreadable

// Answers modal dialogs in order, each step only a visible modal dialog with its title. After
// the deadline every modal dialog still shown is cancelled and its title recorded in stray(),
// so that a test never hangs in gtk_dialog_run().
class DialogScript {
 public:
  struct Step {
    std::string title;
    std::function<void(GtkDialog*)> answer;
  };
  explicit DialogScript(std::vector<Step> steps, int timeout_ms = 15000);
  ~DialogScript();
  bool finished() const { return done_ == steps_.size(); }
  const std::vector<std::string>& stray() const { return stray_; }

 private:
  static gboolean poll(gpointer self);
  std::vector<Step> steps_;
  size_t done_ = 0;
  guint source_ = 0;
  gint64 deadline_ = 0;
  std::vector<std::string> stray_;
};
// A step that picks `path` in a file dialog (with radio button `radio` when given) and answers
// with `response` as a double click or Enter would.
DialogScript::Step choose_file(const char* title, const std::string& path,
                               gint response = GTK_RESPONSE_ACCEPT, const char* radio = nullptr);
// A step that collects the dialog's label texts into *text (when given) and answers.
DialogScript::Step answer_reading(const char* title, std::string* text,
                                  gint response = GTK_RESPONSE_OK);
// Answers a file dialog with ACCEPT through its chooser, as GTK requires.
void accept_file_dialog(GtkDialog* d);
// Waits until the chooser shows `folder`; returns the folder it shows in the end.
std::string chooser_folder_when(GtkFileChooser* chooser, const std::string& folder);

GtkWidget* find_widget(GtkWidget* root, const std::function<bool(GtkWidget*)>& pred);
// The newest status-bar message of a context, "" when none.
std::string status_message(guint context);
// The pointer readout of the status bar.
std::string readout();
// What the window manager sends when the user closes the main window; true when kept.
gboolean send_delete_event();
// Destroys the main window without its close handlers; main_window becomes null.
void destroy_main_window();
// Builds the main window again from the current environment, on the same shared objects.
void rebuild_main_window();

// Fixture: a fresh editor (shared objects + main window) per test; skipped without display.
class EditorTest : public ::testing::Test {
 public:
  void SetUp() override;
  void TearDown() override;
  // Opens path in mode (an OpenMode) and settles; fails the test on error.
  void open(const std::string& path, int mode = 0);
  // A w x h opaque image whose colour depends on position, opened as Default open.
  void open_generated(int w, int h);
  // Runs action while `steps` answer its dialogs; expects every step used and no other dialog.
  void with_dialogs(std::vector<DialogScript::Step> steps, const std::function<void()>& action);
  void click(int item);  // "clicked" of a toolbar item
  void set_view_mode(bool on);
  void zoom(double percent);
  void brush(double size);
  void set_colour(guint16 r, guint16 g, guint16 b);  // the colour button's brush
  bool ctrl(guint key);                              // a Control accelerator of the window
  // Drags a selection in view mode, with the region item set to `use`, back in `view` mode.
  void select_region(int x0, int y0, int x1, int y1, bool use = true, bool view = false);
  std::string dir_;
  bool created_ = false;
};

#endif
