#include "tests/gui/gui_harness.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <utility>

#include "gui/pixel_access.h"

Editor* ed = nullptr;

namespace {

bool display_ok = false;
std::string root_dir;
int dir_counter = 0;

guint32 word(guchar a, guchar r, guchar g, guchar b) {
  return (guint32(a) << 24) | (guint32(r) << 16) | (guint32(g) << 8) | b;
}
guint32 surface_pixel(cairo_surface_t* s, int x, int y) {
  cairo_surface_flush(s);
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(s, x, y, &a, &r, &g, &b);
  return word(a, r, g, b);
}

// Button and motion events share their leading fields, x, y and state.
void send(GdkEventType type, double x, double y, guint state, guint button = 0) {
  GdkEvent ev = {};
  GtkWidget* canvas = ed->view.drawing_area;
  ev.button = {type, canvas->window, TRUE, 0, x, y, nullptr, state, button, nullptr, 0, 0};
  gtk_widget_event(canvas, &ev);
}

// Closes the main window without its handlers: nothing is saved, no main loop is quit.
void destroy_main_window() {
  GtkWidget*& window = ed->view.main_window;
  if (window == nullptr) return;
  g_signal_handlers_disconnect_by_func(window, reinterpret_cast<gpointer>(destroy), ed);
  gtk_widget_destroy(window);
  window = nullptr;
  settle();
}

}  // namespace

bool gui_available() {
  return display_ok;
}
std::string fresh_dir(const std::string& name) {
  std::string dir = root_dir + "/" + name + "-" + std::to_string(++dir_counter);
  g_mkdir_with_parents(dir.c_str(), 0700);
  return dir;
}
void settle(int ms) {
  gint64 until = g_get_monotonic_time() + gint64(ms) * 1000;
  do {
    gdk_flush();
    while (gtk_events_pending()) gtk_main_iteration_do(FALSE);
    gdk_window_process_all_updates();
    if (g_get_monotonic_time() < until) g_usleep(5000);
  } while (g_get_monotonic_time() < until || gtk_events_pending());
}

void press(double x, double y, guint state, guint button) {
  send(GDK_BUTTON_PRESS, x, y, state, button);
}
void release(double x, double y, guint button) {
  send(GDK_BUTTON_RELEASE, x, y, GDK_BUTTON1_MASK, button);
}
void motion(double x, double y, guint state) {
  send(GDK_MOTION_NOTIFY, x, y, state);
}
void drag(double x0, double y0, double x1, double y1, int steps) {
  press(x0, y0);
  for (int i = 1; i <= steps; ++i) motion(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
  motion(x1, y1, 0);
}

guint32 layer_pixel(int x, int y) {
  return surface_pixel(ed->strokes.surf_layer, x, y);
}
guint32 view_pixel(int x, int y) {
  return surface_pixel(ed->view.win_surf, x, y);
}
guint32 pixbuf_pixel(GdkPixbuf* pixbuf, int x, int y) {
  guchar r = 0, g = 0, b = 0, a = 0;
  gdkpixbuf_get_pixel(pixbuf, x, y, &r, &g, &b, &a);
  return word(a, r, g, b);
}

guint32 matte(int x, int y) {
  return pixbuf_pixel(ed->doc().pixbuf_alpha, x, y) >> 24;
}

guint32 halves(int x, int y) {
  guint32 v = x < kHalvesWidth / 2 ? 30u + (x + y) % 4 : 220u + (x + y) % 4;
  return 0xff000000u | v * 0x010101u;
}
Pixels pixels_of(GdkPixbuf* pixbuf) {
  return [pixbuf](int x, int y) { return pixbuf_pixel(pixbuf, x, y); };
}

std::vector<guint32> layer_snapshot() {
  cairo_surface_t* layer = ed->strokes.surf_layer;
  int w = cairo_image_surface_get_width(layer), h = cairo_image_surface_get_height(layer);
  std::vector<guint32> words;
  for (int i = 0; i < w * h; ++i) words.push_back(layer_pixel(i % w, i / w));
  return words;
}

::testing::AssertionResult same_pixels(int w, int h, const Pixels& got, const Pixels& want,
                                       guint32 mask) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      if ((got(x, y) & mask) != (want(x, y) & mask))
        return ::testing::AssertionFailure() << "pixel (" << x << ", " << y << ") is " << std::hex
                                             << got(x, y) << ", wanted " << want(x, y);
  return ::testing::AssertionSuccess();
}

std::string write_image(const std::string& dir, const std::string& name, int w, int h,
                        bool with_alpha, const Pixels& fill, const char* type) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, with_alpha, 8, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      guint32 c = fill(x, y);
      gdkpixbuf_put_pixel(pixbuf, x, y, (c >> 16) & 255, (c >> 8) & 255, c & 255, c >> 24);
    }
  std::string path = dir + "/" + name;
  const bool jpeg = std::strcmp(type, "jpeg") == 0;
  EXPECT_TRUE(gdk_pixbuf_save(pixbuf, path.c_str(), type, nullptr, jpeg ? "quality" : nullptr,
                              "100", nullptr))
      << "cannot write " << path;
  g_object_unref(pixbuf);
  return path;
}

std::string file_contents(const std::string& path) {
  gchar* data = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &data, &len, nullptr)) return "";
  std::string s(data, len);
  g_free(data);
  return s;
}
GdkPixbuf* load_image(const std::string& path) {
  GdkPixbuf* p = gdk_pixbuf_new_from_file(path.c_str(), nullptr);
  EXPECT_NE(p, nullptr) << "cannot read " << path;
  return p;
}

namespace {

// Answers modal dialogs in order, each step only a visible modal dialog of its title; after
// the deadline any modal dialog is cancelled and its title kept as a stray.
struct DialogScript {
  DialogScript(Steps steps, int timeout_ms)
      : steps(std::move(steps)),
        deadline(g_get_monotonic_time() + gint64(timeout_ms) * 1000),
        source(g_timeout_add(20, poll, this)) {}
  ~DialogScript() { g_source_remove(source); }
  static gboolean poll(gpointer data);
  Steps steps;
  size_t done = 0;
  gint64 deadline;
  guint source;
  std::vector<std::string> stray;
};

gboolean DialogScript::poll(gpointer data) {
  DialogScript* self = static_cast<DialogScript*>(data);
  GtkDialog* last = nullptr;
  GList* tops = gtk_window_list_toplevels();
  for (GList* l = tops; l != nullptr; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (!GTK_IS_DIALOG(w) || !GTK_WIDGET_VISIBLE(w) || !gtk_window_get_modal(GTK_WINDOW(w)))
      continue;
    last = GTK_DIALOG(w);
    const gchar* title = gtk_window_get_title(GTK_WINDOW(w));
    if (self->done < self->steps.size() && title != nullptr &&
        self->steps[self->done].title == title) {
      g_list_free(tops);
      self->steps[self->done++].answer(last);
      return TRUE;
    }
  }
  g_list_free(tops);
  if (last != nullptr && g_get_monotonic_time() > self->deadline) {
    const gchar* title = gtk_window_get_title(GTK_WINDOW(last));
    self->stray.push_back(title != nullptr ? title : "");
    gtk_dialog_response(last, GTK_RESPONSE_CANCEL);
  }
  return TRUE;
}

// Answers a file dialog with ACCEPT. A plain ACCEPT is swallowed while the chooser's list has
// nothing selected; a response the chooser itself requests is not.
void accept_file_dialog(GtkDialog* d) {
  gtk_dialog_set_default_response(d, GTK_RESPONSE_ACCEPT);
  g_signal_emit_by_name(
      find_widget(GTK_WIDGET(d), [](GtkWidget* w) { return GTK_IS_FILE_CHOOSER_WIDGET(w); }),
      "response-requested");
}

}  // namespace

Step choose_file(const char* title, const std::string& path, gint response, const char* radio) {
  return {title, [path, response, radio](GtkDialog* d) {
            GtkWidget* button = find_widget(GTK_WIDGET(d), [radio](GtkWidget* w) {
              return radio != nullptr && GTK_IS_RADIO_BUTTON(w) &&
                     g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), radio) == 0;
            });
            EXPECT_TRUE(radio == nullptr || button != nullptr) << "no radio button " << radio;
            if (button != nullptr) gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(button), TRUE);
            if (!path.empty()) set_chooser_test_filename(GTK_FILE_CHOOSER(d), path.c_str());
            if (response == GTK_RESPONSE_ACCEPT) accept_file_dialog(d);
            if (response != GTK_RESPONSE_ACCEPT) gtk_dialog_response(d, response);
          }};
}

Step answer_reading(const char* title, std::string* text, gint response) {
  return {title, [text, response](GtkDialog* d) {
            if (text != nullptr) text->clear();
            find_widget(GTK_WIDGET(d), [text](GtkWidget* w) {
              if (text != nullptr && GTK_IS_LABEL(w) &&
                  gtk_widget_get_ancestor(w, GTK_TYPE_BUTTON) == nullptr)
                *text += gtk_label_get_text(GTK_LABEL(w));
              return false;
            });
            gtk_dialog_response(d, response);
          }};
}

GtkWidget* find_widget(GtkWidget* root, const std::function<bool(GtkWidget*)>& pred) {
  if (root == nullptr || pred(root)) return root;
  if (!GTK_IS_CONTAINER(root)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(root));
  GtkWidget* found = nullptr;
  for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
    found = find_widget(GTK_WIDGET(l->data), pred);
  g_list_free(children);
  return found;
}

std::string status_message(guint context) {
  // GTK 2 keeps the message stack in the public field `messages`, in this frozen layout.
  struct Message {
    gchar* text;
    guint context_id, message_id;
  };
  for (GSList* l = GTK_STATUSBAR(ed->view.status_bar)->messages; l != nullptr; l = l->next) {
    const Message* msg = static_cast<const Message*>(l->data);
    if (msg->context_id == context) return msg->text;
  }
  return "";
}

gboolean send_delete_event() {
  GtkWidget* window = ed->view.main_window;
  GdkEvent* ev = gdk_event_new(GDK_DELETE);
  ev->any.window = GDK_WINDOW(g_object_ref(window->window));
  gboolean kept = gtk_widget_event(window, ev);
  gdk_event_free(ev);
  return kept;
}

void rebuild_main_window() {
  destroy_main_window();
  gchar* icons = quillane_icon_dir();
  quillane_create_main_window(ed, icons);
  g_free(icons);
  settle(50);
}

void EditorTest::SetUp() {
  if (!gui_available()) GTEST_SKIP() << "no X display: GUI test skipped (run under xvfb-run)";
  dir_ = fresh_dir("editor");
  ed = quillane_shared_objects_init();
  rebuild_main_window();
}

void EditorTest::TearDown() {
  if (!gui_available()) return;
  destroy_main_window();
  quillane_shared_objects_release(ed);
  ed = nullptr;
}

void EditorTest::open(const std::string& path, int mode) {
  GError* error = nullptr;
  gboolean ok = open_image_file(ed, path.c_str(), static_cast<OpenMode>(mode), &error);
  ASSERT_TRUE(ok) << (error != nullptr ? error->message : "");
  settle();
}

void EditorTest::open_generated(int w, int h) {
  open(write_image(dir_, "generated.png", w, h, false, [](int x, int y) {
    return 0xff000000u | (guint32(x * 7 % 256) << 16) | (guint32(y * 5 % 256) << 8) | 90u;
  }));
}

void EditorTest::open_halves_watched(StageProbe* probe, bool before) {
  probe->hold_at = probe->fail_at = -1;
  probe->holders = probe->let_go = 0;
  probe->before = before;
  ed->calc.worker_observer = probe;
  open(write_image(dir_, "halves.png", kHalvesWidth, kHalvesHeight, false, halves));
}

bool loop_until(const std::function<bool()>& done, int seconds) {
  for (gint64 end = g_get_monotonic_time() + gint64(seconds) * G_USEC_PER_SEC; !done(); settle(1))
    if (g_get_monotonic_time() > end) return false;
  return true;
}

void StageProbe::stage_begin(MatteStage stage) {
  if (stage == fail_at) throw std::bad_alloc();
  if (before) hold(stage);
}
void StageProbe::stage_end(MatteStage stage) {
  if (!before) hold(stage);
}
void StageProbe::hold(MatteStage stage) {
  g_mutex_lock(&mutex);
  if (stage == hold_at) {
    const int ticket = ++holders;
    ++holding;
    while (let_go < ticket) g_cond_wait(&cond, &mutex);
    --holding;
  }
  g_mutex_unlock(&mutex);
}
void StageProbe::release(int n) {
  g_mutex_lock(&mutex);
  let_go += n;
  g_cond_broadcast(&cond);
  g_mutex_unlock(&mutex);
}

void EditorTest::with_dialogs(Steps steps, const std::function<void()>& action) {
  const bool none = steps.empty();
  DialogScript script(std::move(steps), none ? 300 : 15000);
  action();
  // Dialogs may come later, from the main loop; with none expected, wait for strays.
  while ((none || script.done < script.steps.size()) &&
         g_get_monotonic_time() < script.deadline + 100000)
    settle(1);
  EXPECT_EQ(script.done, script.steps.size()) << "a dialog did not come";
  EXPECT_TRUE(script.stray.empty()) << "unexpected dialog " << script.stray.front();
}
void EditorTest::click(ToolbarItem item) {
  // Through the item's own button, as a real click: a radio button is pressed by it.
  GtkWidget* button = gtk_bin_get_child(GTK_BIN(ed->view.tool[item]));
  if (GTK_IS_BUTTON(button))
    gtk_button_clicked(GTK_BUTTON(button));
  else
    g_signal_emit_by_name(ed->view.tool[item], "clicked");
  settle();
}
void EditorTest::set_view_mode(bool on) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(ed->view.tool[TOOL_MODE]), on);
  settle();
}
void EditorTest::zoom(double percent) {
  gtk_adjustment_set_value(ed->view.zoom_adjustment, percent);
  settle();
}
void EditorTest::set_colour(guint16 r, guint16 g, guint16 b) {
  GtkWidget* button = gtk_bin_get_child(GTK_BIN(ed->view.tool[TOOL_COLOUR]));
  GdkColor c = {0, r, g, b};
  gtk_color_button_set_color(GTK_COLOR_BUTTON(button), &c);
  g_signal_emit_by_name(button, "color-set");
}
bool EditorTest::ctrl(guint key) {
  bool handled = gtk_accel_groups_activate(G_OBJECT(ed->view.main_window), key, GDK_CONTROL_MASK);
  settle();
  return handled;
}
void EditorTest::select_region(int x0, int y0, int x1, int y1, bool use, bool view) {
  set_view_mode(true);
  drag(x0, y0, x1, y1);
  gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(ed->view.calc_roi_item), use);
  set_view_mode(view);
}

// Sets up the private environment before GTK reads it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  gchar* tmp = g_dir_make_tmp("quillane-gui-XXXXXX", nullptr);
  root_dir = tmp;
  g_free(tmp);
  // Recently used files (an existing folder keeps GTK quiet), recovery files, caches; and the
  // icons the build drew.
  g_mkdir_with_parents((root_dir + "/xdg-data").c_str(), 0700);
  const std::pair<const char*, std::string> env[] = {
      {"APPDATA", root_dir + "/appdata"},          {"XDG_CONFIG_HOME", root_dir + "/xdg"},
      {"XDG_DATA_HOME", root_dir + "/xdg-data"},   {"XDG_STATE_HOME", root_dir + "/xdg-state"},
      {"XDG_CACHE_HOME", root_dir + "/xdg-cache"}, {"HOME", root_dir},
      {"ICON_DIR", QUILLANE_TEST_ICON_DIR}};
  for (const auto& e : env) g_setenv(e.first, e.second.c_str(), TRUE);
  gdk_threads_enter();
  display_ok = gtk_init_check(&argc, &argv);
  if (!display_ok) std::printf("[  NOTE    ] no X display: every GUI test is skipped\n");
  int rc = RUN_ALL_TESTS();
  gdk_threads_leave();
  gchar* cmd = g_strdup_printf("rm -rf '%s'", root_dir.c_str());
  if (std::system(cmd) != 0) std::fprintf(stderr, "could not remove %s\n", root_dir.c_str());
  g_free(cmd);
  return rc;
}
