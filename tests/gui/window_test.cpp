// The main window: it comes up in edit mode with its icons, its menus and accelerators reach
// their commands and dialogs, and its geometry is kept between runs (ignored when absurd,
// centred when off every monitor).
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <cerrno>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "tests/gui/gui_harness.h"

namespace {

struct EnvGuard {  // sets (or, with null, unsets) a variable until the end of the scope
  EnvGuard(const char* name, const char* value) : name(name), old(g_strdup(g_getenv(name))) {
    set(value);
  }
  ~EnvGuard() { set(old), g_free(old); }
  void set(const char* v) { v != nullptr ? (void)g_setenv(name, v, TRUE) : g_unsetenv(name); }
  const char* name;
  gchar* old;
};

// x, y, width, height: of the window frame, and as the geometry file holds them.
using Geometry = std::vector<int>;
Geometry window_geometry() {
  settle(200);
  int x = 0, y = 0;
  gdk_window_get_root_origin(main_window->window, &x, &y);
  return {x, y, main_window->allocation.width, main_window->allocation.height};
}
std::string record(const Geometry& g) {  // four little-endian 32-bit integers
  std::string out;
  for (int v : g)
    for (int b = 0; b < 4; ++b) out += char((unsigned(v) >> (8 * b)) & 255);
  return out;
}
std::string geometry_path(const std::string& base) {
  return base + "/Tessaly/quillane/quillane-1.0";
}

}  // namespace

TEST_F(EditorTest, TheEditorComesUpInEditModeAndItsCommandsAreReached) {
  EXPECT_STREQ(gtk_window_get_title(GTK_WINDOW(main_window)), "Tessaly");
  EXPECT_EQ(in_edit_mode, 1);
  EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), blank_cursor);
  for (int i = 0; i < 15; ++i)
    EXPECT_EQ(gtk_widget_get_visible(GTK_WIDGET(toolbar_item(toolbar, i))), i != 3) << i;
  for (int i : {0, 3, 5, 6}) {  // read from ICON_DIR, not the missing-image placeholder
    GtkWidget* image = gtk_tool_button_get_icon_widget(GTK_TOOL_BUTTON(toolbar_item(toolbar, i)));
    EXPECT_EQ(gtk_image_get_storage_type(GTK_IMAGE(image)), GTK_IMAGE_PIXBUF) << i;
  }
  open_generated(40, 30);
  drag(5, 5, 20, 5);
  EXPECT_EQ(layer_pixel(10, 5) & view_pixel(10, 5), 0xffffffffu);
  EXPECT_TRUE(ctrl(GDK_z) && layer_pixel(10, 5) == 0u);
  EXPECT_TRUE(ctrl(GDK_y) && layer_pixel(10, 5) == 0xffffffffu);
  EXPECT_TRUE(ctrl(GDK_f) && calc_ROI_is_set == 1);
  // Accelerators, toolbar buttons and menu items open their dialogs.
  auto menu = [](const char* stock) {
    GtkWidget* bar = find_widget(main_window, [](GtkWidget* w) { return GTK_IS_MENU_BAR(w); });
    GList* tops = gtk_container_get_children(GTK_CONTAINER(bar));
    GtkWidget* item = nullptr;
    for (GList* t = tops; t != nullptr && item == nullptr; t = t->next)
      item = find_widget(gtk_menu_item_get_submenu(GTK_MENU_ITEM(t->data)), [stock](GtkWidget* w) {
        return GTK_IS_MENU_ITEM(w) &&
               g_strcmp0(gtk_menu_item_get_label(GTK_MENU_ITEM(w)), stock) == 0;
      });
    g_list_free(tops);
    gtk_menu_item_activate(GTK_MENU_ITEM(item));
  };
  const std::pair<std::function<void()>, const char*> rows[] = {
      {[this] { ctrl(GDK_o); }, "Open image"},
      {[this] { click(2); }, "Save File"},
      {[&] { menu(GTK_STOCK_PREFERENCES); }, "options for calculation"},
      {[&] { menu(GTK_STOCK_ABOUT); }, "About Quillane"}};
  std::string about;
  for (const auto& r : rows) {
    with_dialogs({{r.second,
                   [&](GtkDialog* d) {
                     EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), nullptr);
                     answer_reading("", &about, GTK_RESPONSE_CANCEL).answer(d);
                   }}},
                 r.first);
    EXPECT_EQ(gdk_window_get_cursor(drawing_area->window), blank_cursor) << "after " << r.second;
  }
  EXPECT_NE(about.find("Quillane 0.10.4"), std::string::npos) << about;
}

// Saved on close under APPDATA (or the XDG configuration folder without it) and restored at
// the next start; short or absurd records are ignored; a position off every monitor (unless
// 40 pixels of the title bar are on one) opens the window centred at the saved size.
TEST_F(EditorTest, TheGeometryIsKeptBetweenRuns) {
  const std::string base = fresh_dir("appdata"), xdg = g_get_user_config_dir();
  const struct {
    const char* appdata;
    std::string folder;
    Geometry g;
  } saved[] = {{base.c_str(), base, {130, 90, 1000, 760}},
               {base.c_str(), base, {40, 30, 900, 700}},  // with the folders in place
               {nullptr, xdg, {60, 70, 900, 700}},
               {"", xdg, {70, 60, 1000, 760}}};
  for (const auto& r : saved) {
    EnvGuard env("APPDATA", r.appdata);
    rebuild_main_window();
    gtk_window_move(GTK_WINDOW(main_window), r.g[0], r.g[1]);
    gtk_window_resize(GTK_WINDOW(main_window), r.g[2], r.g[3]);
    ASSERT_EQ(window_geometry(), r.g);
    testing::internal::CaptureStderr();
    EXPECT_FALSE(send_delete_event()) << "the delete handler must let the window close";
    EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
    EXPECT_EQ(file_contents(geometry_path(r.folder)), record(r.g));
    rebuild_main_window();
    EXPECT_EQ(window_geometry(), r.g);
  }
  EnvGuard env("APPDATA", base.c_str());
  g_remove(geometry_path(base).c_str());
  rebuild_main_window();
  const Geometry plain = window_geometry();
  GdkScreen* screen = gdk_screen_get_default();
  const int sw = gdk_screen_get_width(screen), sh = gdk_screen_get_height(screen);
  const Geometry centred = {(sw - 900) / 2, (sh - 700) / 2, 900, 700};
  const std::pair<std::string, Geometry> rows[] = {
      {record({10, 20, 900, 700}).substr(0, 15), plain},
      {record({10, 20, 0, 700}), plain},
      {record({10, 20, sw + 1, 700}), plain},
      {record({0, 15, sw, 700}) + "trailing", {0, 15, sw, 700}},
      {record({5000, 5000, 900, 700}), centred},
      {record({sw - 39, 40, 900, 700}), centred},
      {record({40, sh - 23, 900, 700}), centred},
      {record({sw - 40, 40, 900, 700}), {sw - 40, 40, 900, 700}},
      {record({-860, sh - 24, 900, 700}), {-860, sh - 24, 900, 700}}};
  for (const auto& r : rows) {
    ASSERT_TRUE(
        g_file_set_contents(geometry_path(base).c_str(), r.first.data(), r.first.size(), nullptr));
    rebuild_main_window();
    EXPECT_EQ(window_geometry(), r.second) << r.first.size() << " bytes";
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
