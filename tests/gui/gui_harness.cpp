#include "tests/gui/gui_harness.h"

#include <cstdlib>
#include <cstring>

#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/pixel_access.h"

namespace {

bool display_ok = false;
std::string root_dir;
int dir_counter = 0;

}  // namespace

bool gui_available() {
  return display_ok;
}
const std::string& test_root() {
  return root_dir;
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

namespace {

void send(GdkEvent* event) {
  gtk_widget_event(drawing_area, event);
}

}  // namespace

void press(double x, double y, guint state, guint button) {
  GdkEventButton ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = GDK_BUTTON_PRESS;
  ev.window = drawing_area->window;
  ev.send_event = TRUE;
  ev.time = GDK_CURRENT_TIME;
  ev.x = x;
  ev.y = y;
  ev.state = state;
  ev.button = button;
  send(reinterpret_cast<GdkEvent*>(&ev));
}

void release(double x, double y, guint button) {
  GdkEventButton ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = GDK_BUTTON_RELEASE;
  ev.window = drawing_area->window;
  ev.send_event = TRUE;
  ev.x = x;
  ev.y = y;
  ev.state = GDK_BUTTON1_MASK;
  ev.button = button;
  send(reinterpret_cast<GdkEvent*>(&ev));
}

void motion(double x, double y, guint state) {
  GdkEventMotion ev;
  std::memset(&ev, 0, sizeof ev);
  ev.type = GDK_MOTION_NOTIFY;
  ev.window = drawing_area->window;
  ev.send_event = TRUE;
  ev.x = x;
  ev.y = y;
  ev.state = state;
  ev.is_hint = FALSE;
  send(reinterpret_cast<GdkEvent*>(&ev));
}

void drag(double x0, double y0, double x1, double y1, int steps) {
  press(x0, y0);
  for (int i = 1; i <= steps; ++i) motion(x0 + (x1 - x0) * i / steps, y0 + (y1 - y0) * i / steps);
  motion(x1, y1, 0);
}

guint32 layer_pixel(int x, int y) {
  cairo_surface_flush(surf_layer);
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(surf_layer, x, y, &a, &r, &g, &b);
  return (guint32(a) << 24) | (guint32(r) << 16) | (guint32(g) << 8) | b;
}

guint32 view_pixel(int x, int y) {
  cairo_surface_flush(win_surf);
  guchar a = 0, r = 0, g = 0, b = 0;
  cairoimagesurface_get_pixel(win_surf, x, y, &a, &r, &g, &b);
  return (guint32(a) << 24) | (guint32(r) << 16) | (guint32(g) << 8) | b;
}

guint32 pixbuf_pixel(GdkPixbuf* pixbuf, int x, int y) {
  guchar r = 0, g = 0, b = 0, a = 0;
  gdkpixbuf_get_pixel(pixbuf, x, y, &r, &g, &b, &a);
  return (guint32(a) << 24) | (guint32(r) << 16) | (guint32(g) << 8) | b;
}

std::string write_image(const std::string& dir, const std::string& name, int w, int h,
                        bool with_alpha, const std::function<guint32(int, int)>& fill,
                        const char* type) {
  GdkPixbuf* pixbuf = gdk_pixbuf_new(GDK_COLORSPACE_RGB, with_alpha, 8, w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      guint32 c = fill(x, y);
      gdkpixbuf_put_pixel(pixbuf, x, y, (c >> 16) & 255, (c >> 8) & 255, c & 255, c >> 24);
    }
  std::string path = dir + "/" + name;
  GError* error = nullptr;
  gboolean ok = std::strcmp(type, "jpeg") == 0
                    ? gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, "quality", "100", nullptr)
                    : gdk_pixbuf_save(pixbuf, path.c_str(), type, &error, nullptr);
  g_object_unref(pixbuf);
  if (!ok) {
    ADD_FAILURE() << "cannot write " << path << ": " << error->message;
    g_error_free(error);
  }
  return path;
}

DialogAnswer::DialogAnswer(std::function<void(GtkDialog*)> answer, int timeout_ms)
    : answer_(std::move(answer)) {
  deadline_ = g_get_monotonic_time() + gint64(timeout_ms) * 1000;
  source_ = g_timeout_add(20, poll, this);
}

DialogAnswer::~DialogAnswer() {
  if (source_ != 0) g_source_remove(source_);
}

gboolean DialogAnswer::poll(gpointer data) {
  DialogAnswer* self = static_cast<DialogAnswer*>(data);
  GList* tops = gtk_window_list_toplevels();
  GtkDialog* found = nullptr;
  for (GList* l = tops; l != nullptr; l = l->next) {
    GtkWidget* w = GTK_WIDGET(l->data);
    if (GTK_IS_DIALOG(w) && GTK_WIDGET_VISIBLE(w) && gtk_window_get_modal(GTK_WINDOW(w)))
      found = GTK_DIALOG(w);
  }
  g_list_free(tops);
  if (found != nullptr) {
    self->source_ = 0;
    self->answered_ = true;
    const gchar* title = gtk_window_get_title(GTK_WINDOW(found));
    self->title_ = title != nullptr ? title : "";
    self->answer_(found);
    return FALSE;
  }
  if (g_get_monotonic_time() > self->deadline_) {
    self->source_ = 0;
    return FALSE;
  }
  return TRUE;
}

GtkWidget* find_widget(GtkWidget* root, const std::function<bool(GtkWidget*)>& pred) {
  if (root == nullptr) return nullptr;
  if (pred(root)) return root;
  if (!GTK_IS_CONTAINER(root)) return nullptr;
  GList* children = gtk_container_get_children(GTK_CONTAINER(root));
  GtkWidget* found = nullptr;
  for (GList* l = children; l != nullptr && found == nullptr; l = l->next)
    found = find_widget(GTK_WIDGET(l->data), pred);
  g_list_free(children);
  return found;
}

gboolean send_delete_event() {
  GdkEvent* ev = gdk_event_new(GDK_DELETE);
  ev->any.window = GDK_WINDOW(g_object_ref(main_window->window));
  ev->any.send_event = TRUE;
  gboolean kept = gtk_widget_event(main_window, ev);
  gdk_event_free(ev);
  return kept;
}

void destroy_main_window() {
  if (main_window == nullptr) return;
  // Closing the window outside gtk_main(): keep its handler from quitting a loop that
  // does not run.
  g_signal_handlers_disconnect_by_func(main_window, reinterpret_cast<gpointer>(destroy), nullptr);
  gtk_widget_destroy(main_window);
  main_window = nullptr;
}

void rebuild_main_window() {
  destroy_main_window();
  settle();
  gchar* icons = quillane_icon_dir();
  quillane_create_main_window(icons);
  g_free(icons);
  settle(50);
}

void EditorTest::SetUp() {
  if (!gui_available()) GTEST_SKIP() << "no X display: GUI test skipped (run under xvfb-run)";
  dir_ = fresh_dir("editor");
  quillane_shared_objects_init();
  gchar* icons = quillane_icon_dir();
  quillane_create_main_window(icons);
  g_free(icons);
  created_ = true;
  settle(50);
}

void EditorTest::TearDown() {
  if (!created_) return;
  destroy_main_window();
  settle();
  quillane_shared_objects_release();
}

void EditorTest::open(const std::string& path, int mode) {
  GError* error = nullptr;
  gboolean ok = open_image_file(path.c_str(), static_cast<OpenMode>(mode), toolbar, &error);
  ASSERT_TRUE(ok) << (error != nullptr ? error->message : "");
  settle();
}

void EditorTest::open_generated(int w, int h) {
  std::string path = write_image(dir_, "generated.png", w, h, false, [](int x, int y) {
    return 0xff000000u | (guint32(x * 7 % 256) << 16) | (guint32(y * 5 % 256) << 8) | 90u;
  });
  open(path);
}

// Sets up the private environment before GTK reads it.
int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  gchar* tmp = g_dir_make_tmp("quillane-gui-XXXXXX", nullptr);
  root_dir = tmp;
  g_free(tmp);
  std::string appdata = root_dir + "/appdata", xdg = root_dir + "/xdg", icons = root_dir + "/icons";
  g_mkdir_with_parents(icons.c_str(), 0700);
  g_setenv("APPDATA", appdata.c_str(), TRUE);
  g_setenv("XDG_CONFIG_HOME", xdg.c_str(), TRUE);
  g_setenv("HOME", root_dir.c_str(), TRUE);
  // The file dialogs record recently used files there; an existing folder keeps GTK quiet.
  std::string data = root_dir + "/xdg-data";
  g_mkdir_with_parents(data.c_str(), 0700);
  g_setenv("XDG_DATA_HOME", data.c_str(), TRUE);
  // Recovery files of the strokes, and anything cached.
  g_setenv("XDG_STATE_HOME", (root_dir + "/xdg-state").c_str(), TRUE);
  g_setenv("XDG_CACHE_HOME", (root_dir + "/xdg-cache").c_str(), TRUE);
#ifdef QUILLANE_TEST_ICON_DIR
  // The icons the build drew, copied so that the tests read them from their own folder.
  for (const char* f : {"icon_tz16x24.png", "icon_alpha24x24.png", "iconFG.png", "iconBG.png"}) {
    gchar* contents = nullptr;
    gsize len = 0;
    std::string from = std::string(QUILLANE_TEST_ICON_DIR) + "/" + f;
    if (g_file_get_contents(from.c_str(), &contents, &len, nullptr)) {
      g_file_set_contents((icons + "/" + f).c_str(), contents, len, nullptr);
      g_free(contents);
    }
  }
#endif
  g_setenv("ICON_DIR", icons.c_str(), TRUE);
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
