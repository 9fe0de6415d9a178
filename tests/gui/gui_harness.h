// Test harness for the editor: a fresh main window per test, synthetic input through the real
// signal handlers, pixel reads, and answers to modal dialogs from a timeout callback.
//
// The harness points APPDATA, the XDG folders and ICON_DIR at a private temporary folder
// before GTK starts, so no test touches the user's files. Without an X server every test is
// skipped with a visible message.
#ifndef QUILLANE_TESTS_GUI_HARNESS_H
#define QUILLANE_TESTS_GUI_HARNESS_H

#include <gtk/gtk.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>

// True when gtk_init_check() found a display.
bool gui_available();

// The private folder of this test run (APPDATA and the XDG folders live below it).
const std::string& test_root();

// A new empty folder below test_root().
std::string fresh_dir(const std::string& name);

// Processes pending GTK events, repeatedly, until nothing is left (and at least ms have passed).
void settle(int ms = 0);

// Synthetic pointer events on the canvas, delivered through gtk_widget_event().
void press(double x, double y, guint state = 0, guint button = 1);
void motion(double x, double y, guint state = GDK_BUTTON1_MASK);
void release(double x, double y, guint button = 1);
// A press, motions along the straight line in `steps` steps, and a motion without button.
void drag(double x0, double y0, double x1, double y1, int steps = 8);

// Layer pixel (image coordinates) as (a, r, g, b) packed 0xAARRGGBB.
guint32 layer_pixel(int x, int y);
// View-surface pixel (window coordinates) as 0xAARRGGBB.
guint32 view_pixel(int x, int y);
// Pixbuf pixel as 0xAARRGGBB (alpha 255 without an alpha channel).
guint32 pixbuf_pixel(GdkPixbuf* pixbuf, int x, int y);

// Writes a w x h PNG (with alpha when `with_alpha`) whose pixel (x, y) is fill(x, y) as
// 0xAARRGGBB; returns its path below dir. `type` "png" or "jpeg".
std::string write_image(const std::string& dir, const std::string& name, int w, int h,
                        bool with_alpha, const std::function<guint32(int, int)>& fill,
                        const char* type = "png");

// Arranges for `answer` to run on the next modal dialog that appears (polled every 20 ms from
// a timeout, so it runs inside gtk_dialog_run()). Gives up after timeout_ms; answered()
// tells whether it ran.
class DialogAnswer {
 public:
  explicit DialogAnswer(std::function<void(GtkDialog*)> answer, int timeout_ms = 5000);
  ~DialogAnswer();
  bool answered() const { return answered_; }
  std::string title() const { return title_; }

 private:
  static gboolean poll(gpointer self);
  std::function<void(GtkDialog*)> answer_;
  guint source_ = 0;
  gint64 deadline_ = 0;
  bool answered_ = false;
  std::string title_;
};

// Finds a descendant widget of `root` for which pred returns true (depth first), or null.
GtkWidget* find_widget(GtkWidget* root, const std::function<bool(GtkWidget*)>& pred);

// What the window manager sends when the user closes the main window; returns whether a
// handler kept the window (the window itself is not destroyed either way).
gboolean send_delete_event();

// Destroys the main window as the program's end would, but without the delete handler
// (nothing is saved) and without quitting a main loop. main_window becomes null.
void destroy_main_window();

// Destroys the main window (if any) and builds it again from the current environment
// (ICON_DIR, APPDATA, ...) on the same shared objects, then settles.
void rebuild_main_window();

// Fixture: a fresh editor (shared objects + main window) per test; skipped without display.
class EditorTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
  // Opens path as Default open (or another mode) and settles; fails the test on error.
  void open(const std::string& path, int mode = 0);
  // A w x h opaque test image whose colour depends on position, opened as Default open.
  void open_generated(int w, int h);
  std::string dir_;
  bool created_ = false;
};

#endif
