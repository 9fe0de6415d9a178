// The main window: it comes up in edit mode with its icons, its menus and accelerators reach
// their commands, closing it ends the main loop, its geometry is kept between runs (and
// ignored when absurd or off every monitor), and the error and About dialogs.
#include <gdk/gdkkeysyms.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <string>

#include "gui/gtkquillane.h"
#include "gui/persistence.h"
#include "gui/quillane_opts.h"
#include "tests/gui/gui_harness.h"

namespace {

// The menu item with this stock id or label, in any menu of the menu bar.
GtkWidget* menu_item(const char* name) {
  GtkWidget* bar = find_widget(main_window, [](GtkWidget* w) { return GTK_IS_MENU_BAR(w); });
  GtkWidget* found = nullptr;
  GList* tops = gtk_container_get_children(GTK_CONTAINER(bar));
  for (GList* t = tops; t != nullptr && found == nullptr; t = t->next)
    found = find_widget(gtk_menu_item_get_submenu(GTK_MENU_ITEM(t->data)), [name](GtkWidget* w) {
      return GTK_IS_MENU_ITEM(w) && g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), name) == 0;
    });
  g_list_free(tops);
  return found;
}

// Sets an environment variable (null: unsets it) for the life of the object.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    const char* old = g_getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr) g_setenv(name, value, TRUE);
    if (value == nullptr) g_unsetenv(name);
  }
  ~EnvGuard() {
    if (had_) g_setenv(name_.c_str(), old_.c_str(), TRUE);
    if (!had_) g_unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

struct Geometry {
  int x, y, w, h;
  bool operator==(const Geometry& o) const { return x == o.x && y == o.y && w == o.w && h == o.h; }
};
std::ostream& operator<<(std::ostream& os, const Geometry& g) {
  return os << g.w << "x" << g.h << "+" << g.x << "+" << g.y;
}

Geometry window_geometry() {
  settle(200);
  Geometry g;
  gdk_window_get_root_origin(main_window->window, &g.x, &g.y);
  g.w = main_window->allocation.width;
  g.h = main_window->allocation.height;
  return g;
}

// The record as it is on disk: four little-endian 32-bit integers.
std::string record(const Geometry& g) {
  std::string out;
  for (int v : {g.x, g.y, g.w, g.h})
    for (int b = 0; b < 4; ++b) out += char((unsigned(v) >> (8 * b)) & 255);
  return out;
}

std::string geometry_path(const std::string& base) {
  return base + "/Tessaly/quillane/quillane-1.0";
}

}  // namespace

TEST_F(EditorTest, TheEditorComesUpInEditModeWithItsIcons) {
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window)), "Tessaly");
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), blank_cursor);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(toolbar_item(toolbar, i))), i != 3) << i;
  for (int i : {0, 3, 5, 6}) {  // icons read from ICON_DIR, not the missing-image placeholder
    GtkWidget* image = gtk_tool_button_get_icon_widget(GTK_TOOL_BUTTON(toolbar_item(toolbar, i)));
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF) << i;
  }
  open_generated(40, 30);
  drag(5, 5, 20, 5);
  EXPECT_EQ(layer_pixel(10, 5), 0xffffffffu);
  EXPECT_EQ(view_pixel(10, 5), 0xffffffffu);
  // Ctrl+Z and Ctrl+Y undo and redo, Ctrl+F switches the region item.
  EXPECT_TRUE(ctrl(GDK_z));
  EXPECT_EQ(layer_pixel(10, 5), 0u);
  EXPECT_TRUE(ctrl(GDK_y));
  EXPECT_EQ(layer_pixel(10, 5), 0xffffffffu);
  EXPECT_TRUE(ctrl(GDK_f));
  EXPECT_EQ(calc_ROI_is_set, 1);
  EXPECT_TRUE(ctrl(GDK_f));
  EXPECT_EQ(calc_ROI_is_set, 0);

  // Menu items, accelerators and toolbar buttons open their dialogs.
  struct Row {
    std::function<void()> act;
    const char* title;
  };
  const Row rows[] = {
      {[this] { ctrl(GDK_o); }, "Open image"},
      {[this] { click(1); }, "Open image"},
      {[this] { ctrl(GDK_s); }, "Save File"},
      {[this] { click(2); }, "Save File"},
      {[] { gtk_menu_item_activate(GTK_MENU_ITEM(menu_item(GTK_STOCK_PREFERENCES))); },
       "options for calculation"},
      {[] { gtk_menu_item_activate(GTK_MENU_ITEM(menu_item(GTK_STOCK_ABOUT))); }, "About Quillane"},
  };
  for (const Row& r : rows) {
    SCOPED_TRACE(r.title);
    with_dialogs({answer_reading(r.title, nullptr, GTK_RESPONSE_CANCEL)}, r.act);
  }
  EXPECT_EQ(pass_option_args->levels_num, 1);
}

TEST_F(EditorTest, ClosingTheWindowEndsTheMainLoop) {
  // Delivered as the main loop delivers it: an unhandled delete destroys the window.
  g_timeout_add(
      50,
      [](gpointer) -> gboolean {
        GdkEvent* ev = gdk_event_new(GDK_DELETE);
        ev->any.window = GDK_WINDOW(g_object_ref(main_window->window));
        gtk_main_do_event(ev);
        gdk_event_free(ev);
        return FALSE;
      },
      nullptr);
  static bool timed_out;
  timed_out = false;
  guint guard = g_timeout_add(
      10000, [](gpointer) -> gboolean { return timed_out = true, gtk_main_quit(), FALSE; },
      nullptr);
  gtk_main();
  EXPECT_FALSE(timed_out) << "the main loop did not end";
  if (!timed_out) g_source_remove(guard);
  EXPECT_EQ(main_window, nullptr) << "the window was not destroyed";
}

TEST(IconFolder, EnvironmentFolderGetsOneSeparatorAppended) {
  for (const char* dir : {"/opt/q/icons", "/opt/q/icons/", ""}) {
    EnvGuard env("ICON_DIR", dir);
    gchar* got = quillane_icon_dir();
    EXPECT_EQ(std::string(got), std::string(dir) + "/");
    g_free(got);
  }
  // Unset: the build's own icon folder.
  EnvGuard env("ICON_DIR", nullptr);
  gchar* got = quillane_icon_dir();
  EXPECT_TRUE(g_file_test((std::string(got) + "icon_tz16x24.png").c_str(), G_FILE_TEST_EXISTS));
  g_free(got);
}

// Saved on close under APPDATA (or the XDG configuration folder without it), restored at the
// next start; closing again with the folders in place is no error either.
TEST_F(EditorTest, GeometryIsSavedOnCloseAndRestoredAtStart) {
  const std::string base = fresh_dir("appdata"), xdg = test_root() + "/xdg";
  const struct {
    const char* appdata;
    std::string folder;
    Geometry g;
  } rows[] = {{base.c_str(), base, {130, 90, 1000, 760}},
              {base.c_str(), base, {40, 30, 900, 700}},
              {nullptr, xdg, {60, 70, 900, 700}},
              {"", xdg, {70, 60, 1000, 760}}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.folder);
    EnvGuard env("APPDATA", r.appdata);
    rebuild_main_window();
    gtk_window_move(GTK_WINDOW(main_window), r.g.x, r.g.y);
    gtk_window_resize(GTK_WINDOW(main_window), r.g.w, r.g.h);
    ASSERT_EQ(window_geometry(), r.g);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(send_delete_event()) << "the delete handler must let the window close";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(file_contents(geometry_path(r.folder)), record(r.g));
    rebuild_main_window();
    EXPECT_EQ(window_geometry(), r.g);
  }
}

// Short or absurd records are ignored; a position off every monitor (unless 40 pixels of the
// title bar are on one) opens the window centred at the saved size.
TEST_F(EditorTest, GeometryFilesThatCannotBeUsedAreIgnoredOrCentred) {
  std::string base = fresh_dir("appdata");
  EnvGuard env("APPDATA", base.c_str());
  rebuild_main_window();
  const Geometry plain = window_geometry();
  GdkScreen* screen = gdk_screen_get_default();
  const int sw = gdk_screen_get_width(screen), sh = gdk_screen_get_height(screen);
  const Geometry centred = {(sw - 900) / 2, (sh - 700) / 2, 900, 700};
  ASSERT_EQ(g_mkdir_with_parents((base + "/Tessaly/quillane").c_str(), 0700), 0);
  const struct {
    std::string bytes;
    Geometry want;
  } rows[] = {
      {"", plain},
      {record({10, 20, 900, 700}).substr(0, 15), plain},
      {record({10, 20, 0, 700}), plain},
      {record({10, 20, 900, -700}), plain},
      {record({10, 20, sw + 1, 700}), plain},
      {record({10, 20, 900, sh + 1}), plain},
      {record({0, 15, sw, 700}) + "trailing", {0, 15, sw, 700}},
      {record({5000, 5000, 900, 700}), centred},
      {record({-100000, 40, 900, 700}), centred},
      {record({40, -100000, 900, 700}), centred},
      {record({sw - 39, 40, 900, 700}), centred},
      {record({40, sh - 23, 900, 700}), centred},
      {record({sw - 40, 40, 900, 700}), {sw - 40, 40, 900, 700}},
      {record({-860, sh - 24, 900, 700}), {-860, sh - 24, 900, 700}},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.want);
    const std::string& b = r.bytes;
    ASSERT_TRUE(g_file_set_contents(geometry_path(base).c_str(), b.data(), b.size(), nullptr));
    rebuild_main_window();
    EXPECT_EQ(window_geometry(), r.want);
  }
}

TEST_F(EditorTest, UnwritableGeometryIsReportedAndTheWindowStillCloses) {
  std::string blocked = fresh_dir("blocked") + "/not-a-folder";
  ASSERT_TRUE(g_file_set_contents(blocked.c_str(), "x", 1, nullptr));
  EnvGuard env("APPDATA", blocked.c_str());
  rebuild_main_window();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(send_delete_event());
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "CreateDirectory failed (" + std::to_string(EEXIST) +
                ")\ncan't write persistence data " + geometry_path(blocked) + "\n");
}

// Every line in one plain label; the default pointer over the canvas while a dialog runs, the
// cursor of the mode afterwards.
TEST_F(EditorTest, TheErrorDialogShowsItsTextAsItIsAndRestoresTheCursor) {
  const std::string text =
      "The matte could not be solved.\nTry <b>fewer</b> & strokes,\n\nor less.";
  for (bool view : {false, true}) {
    set_view_mode(view);
    std::string shown;
    with_dialogs(
        {{"Error",
          [&](GtkDialog* d) {
            EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), nullptr);
            GtkWidget* label = find_widget(GTK_WIDGET(d->vbox), [](GtkWidget* w) {
              return GTK_IS_LABEL(w) && gtk_widget_get_ancestor(w, GTK_TYPE_BUTTON) == nullptr;
            });
            ASSERT_NE(label, nullptr);
            shown = gtk_label_get_text(GTK_LABEL(label));
            EXPECT_EQ(pango_layout_get_line_count(gtk_label_get_layout(GTK_LABEL(label))), 4);
            gtk_dialog_response(d, GTK_RESPONSE_NONE);
          }}},
        [&] { error_message_dialog(drawing_area, text.c_str()); });
    EXPECT_EQ(shown, text);
    EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), view ? nullptr : blank_cursor);
  }
  std::string about;
  with_dialogs({answer_reading("About Quillane", &about)},
               [] { help_about_dialog(nullptr, main_window); });
  EXPECT_NE(about.find("Quillane 0.10.4"), std::string::npos) << about;
}

// The logo fits a 71 x 27 unit box: narrow dialogs scale it by their width, low ones by their
// height.
TEST(LogoScale, NarrowByWidthLowByHeight) {
  EXPECT_DOUBLE_EQ(logo_scale(62, 27), 1.0);
  EXPECT_DOUBLE_EQ(logo_scale(133, 1000), 2.0);
  EXPECT_DOUBLE_EQ(logo_scale(1000, 54), 2.0);
  EXPECT_DOUBLE_EQ(logo_scale(200, 200), 209.0 / 71.0);
}
