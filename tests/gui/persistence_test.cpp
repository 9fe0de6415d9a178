// The window geometry file: saved by the delete handler, restored at start, found through
// APPDATA or the XDG configuration folder, bad records ignored; and fopen_p's folders.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <glib/gstdio.h>

#include "gui/gtkquillane.h"
#include "gui/persistence.h"
#include "tests/gui/gui_harness.h"

namespace {

// Sets an environment variable for the life of the object and restores it afterwards.
class EnvGuard {
 public:
  EnvGuard(const char* name, const char* value) : name_(name) {
    const char* old = g_getenv(name);
    had_ = old != nullptr;
    if (had_) old_ = old;
    if (value != nullptr)
      g_setenv(name, value, TRUE);
    else
      g_unsetenv(name);
  }
  ~EnvGuard() {
    if (had_)
      g_setenv(name_.c_str(), old_.c_str(), TRUE);
    else
      g_unsetenv(name_.c_str());
  }

 private:
  std::string name_, old_;
  bool had_ = false;
};

struct Geometry {
  int x, y, w, h;
};

Geometry window_geometry() {
  Geometry g;
  gdk_window_get_root_origin(main_window->window, &g.x, &g.y);
  g.w = main_window->allocation.width;
  g.h = main_window->allocation.height;
  return g;
}

std::string file_contents(const std::string& path) {
  gchar* data = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &data, &len, nullptr)) return "<missing>";
  std::string out(data, len);
  g_free(data);
  return out;
}

// The record as it is on disk: four little-endian 32-bit integers.
std::string record(int x, int y, int w, int h) {
  std::string out;
  for (int v : {x, y, w, h})
    for (int b = 0; b < 4; ++b) out += char((unsigned(v) >> (8 * b)) & 255);
  return out;
}

Geometry decode(const std::string& bytes) {
  int v[4];
  for (int i = 0; i < 4; ++i) {
    unsigned u = 0;
    for (int b = 0; b < 4; ++b)
      u |= unsigned(static_cast<unsigned char>(bytes[i * 4 + b])) << (8 * b);
    v[i] = static_cast<int>(u);
  }
  return {v[0], v[1], v[2], v[3]};
}

std::string geometry_path(const std::string& base) {
  return base + "/Tessaly/quillane/quillane-1.0";
}

bool is_dir(const std::string& path) {
  return g_file_test(path.c_str(), G_FILE_TEST_IS_DIR);
}

}  // namespace

TEST_F(EditorTest, GeometryIsSavedOnCloseAndRestoredAtStart) {
  std::string base = fresh_dir("appdata");
  EnvGuard env("APPDATA", base.c_str());
  rebuild_main_window();
  const std::string path = geometry_path(base);
  EXPECT_STREQ(appdata, path.c_str());
  EXPECT_FALSE(is_dir(base + "/Tessaly")) << "nothing is written before the first close";

  gtk_window_move(GTK_WINDOW(main_window), 130, 90);
  gtk_window_resize(GTK_WINDOW(main_window), 1000, 760);
  settle(200);
  Geometry before = window_geometry();
  ASSERT_EQ(before.w, 1000);
  ASSERT_EQ(before.h, 760);
  ASSERT_EQ(before.x, 130);

  testing::internal::CaptureStderr();
  EXPECT_FALSE(send_delete_event()) << "the delete handler must let the window close";
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  std::string bytes = file_contents(path);
  ASSERT_EQ(bytes.size(), 16u);
  Geometry saved = decode(bytes);
  EXPECT_EQ(saved.x, 130);
  EXPECT_EQ(saved.y, 90);
  EXPECT_EQ(saved.w, 1000);
  EXPECT_EQ(saved.h, 760);

  // Next start: position and size come back.
  rebuild_main_window();
  settle(200);
  Geometry after = window_geometry();
  EXPECT_EQ(after.x, 130);
  EXPECT_EQ(after.y, 90);
  EXPECT_EQ(after.w, 1000);
  EXPECT_EQ(after.h, 760);

  // Closing again, now in view mode and with the folders in place, is no error either.
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), TRUE);
  gtk_window_move(GTK_WINDOW(main_window), 40, 30);
  settle(200);
  testing::internal::CaptureStderr();
  EXPECT_FALSE(send_delete_event());
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(file_contents(path), record(40, 30, 1000, 760));
}

// Without APPDATA the file lives in the XDG configuration folder, which the harness points
// at its own folder before GTK starts.
TEST_F(EditorTest, GeometryFallsBackToTheConfigFolderWithoutAppdata) {
  const std::string xdg = test_root() + "/xdg";
  ASSERT_EQ(std::string(g_get_user_config_dir()), xdg);
  for (const char* value : {static_cast<const char*>(nullptr), ""}) {
    SCOPED_TRACE(value == nullptr ? "APPDATA unset" : "APPDATA empty");
    EnvGuard env("APPDATA", value);
    g_remove(geometry_path(xdg).c_str());
    rebuild_main_window();
    EXPECT_STREQ(appdata, geometry_path(xdg).c_str());
    gtk_window_move(GTK_WINDOW(main_window), 60, 70);
    gtk_window_resize(GTK_WINDOW(main_window), 900, 700);
    settle(200);
    EXPECT_FALSE(send_delete_event());
    EXPECT_EQ(file_contents(geometry_path(xdg)), record(60, 70, 900, 700));
    rebuild_main_window();
    settle(200);
    Geometry g = window_geometry();
    EXPECT_EQ(g.x, 60);
    EXPECT_EQ(g.w, 900);
    EXPECT_EQ(g.h, 700);
  }
}

TEST_F(EditorTest, ShortOrAbsurdGeometryFilesAreIgnored) {
  std::string base = fresh_dir("appdata");
  EnvGuard env("APPDATA", base.c_str());
  rebuild_main_window();
  settle(200);
  const Geometry plain = window_geometry();  // centred, default size

  GdkScreen* screen = gtk_widget_get_screen(main_window);
  const int sw = gdk_screen_get_width(screen), sh = gdk_screen_get_height(screen);
  ASSERT_TRUE(g_mkdir_with_parents((base + "/Tessaly/quillane").c_str(), 0700) == 0);
  struct Case {
    const char* what;
    std::string bytes;
  };
  const Case bad[] = {
      {"empty", ""},
      {"12 bytes", record(10, 20, 900, 700).substr(0, 12)},
      {"15 bytes", record(10, 20, 900, 700).substr(0, 15)},
      {"zero width", record(10, 20, 0, 700)},
      {"negative height", record(10, 20, 900, -700)},
      {"wider than the screen", record(10, 20, sw + 1, 700)},
      {"taller than the screen", record(10, 20, 900, sh + 1)},
  };
  for (const Case& c : bad) {
    SCOPED_TRACE(c.what);
    ASSERT_TRUE(g_file_set_contents(geometry_path(base).c_str(), c.bytes.data(),
                                    gssize(c.bytes.size()), nullptr));
    rebuild_main_window();
    settle(200);
    Geometry g = window_geometry();
    EXPECT_EQ(g.x, plain.x);
    EXPECT_EQ(g.y, plain.y);
    EXPECT_EQ(g.w, plain.w);
    EXPECT_EQ(g.h, plain.h);
  }
  // A record exactly as wide as the screen is still taken, and longer files are read for
  // their first 16 bytes.
  std::string good = record(0, 15, sw, 700) + "trailing";
  ASSERT_TRUE(
      g_file_set_contents(geometry_path(base).c_str(), good.data(), gssize(good.size()), nullptr));
  rebuild_main_window();
  settle(200);
  Geometry g = window_geometry();
  EXPECT_EQ(g.x, 0);
  EXPECT_EQ(g.y, 15);
  EXPECT_EQ(g.w, sw);
  EXPECT_EQ(g.h, 700);
}

// A position saved on a monitor that is gone would open the window out of reach (and X wraps
// -100000 to 31072): unless 40 pixels of the title bar are on a monitor, the window opens
// centred, at the saved size.
TEST_F(EditorTest, PositionsOffEveryMonitorAreCentred) {
  std::string base = fresh_dir("appdata");
  EnvGuard env("APPDATA", base.c_str());
  GdkScreen* screen = gdk_screen_get_default();
  const int sw = gdk_screen_get_width(screen), sh = gdk_screen_get_height(screen);
  ASSERT_EQ(gdk_screen_get_n_monitors(screen), 1);
  ASSERT_TRUE(g_mkdir_with_parents((base + "/Tessaly/quillane").c_str(), 0700) == 0);
  const struct {
    int x, y;
    bool kept;
  } cases[] = {{5000, 5000, false},  {-100000, 40, false}, {40, -100000, false},
               {sw - 39, 40, false}, {40, sh - 23, false}, {sw - 40, 40, true},
               {-860, sh - 24, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.x) + "," + std::to_string(c.y));
    const std::string bytes = record(c.x, c.y, 900, 700);
    ASSERT_TRUE(g_file_set_contents(geometry_path(base).c_str(), bytes.data(), 16, nullptr));
    rebuild_main_window();
    settle(200);
    Geometry g = window_geometry();
    EXPECT_EQ(g.x, c.kept ? c.x : (sw - 900) / 2);
    EXPECT_EQ(g.y, c.kept ? c.y : (sh - 700) / 2);
    EXPECT_EQ(g.w, 900);
    EXPECT_EQ(g.h, 700);
  }
}

TEST_F(EditorTest, UnwritableGeometryIsReportedAndTheWindowStillCloses) {
  std::string dir = fresh_dir("blocked");
  std::string plain_file = dir + "/not-a-folder";
  ASSERT_TRUE(g_file_set_contents(plain_file.c_str(), "x", 1, nullptr));
  EnvGuard env("APPDATA", plain_file.c_str());
  rebuild_main_window();
  testing::internal::CaptureStderr();
  EXPECT_FALSE(send_delete_event());
  std::string out = testing::internal::GetCapturedStderr();
  EXPECT_EQ(out, "CreateDirectory failed (" + std::to_string(EEXIST) + ")\n" +
                     "can't write persistence data " + geometry_path(plain_file) + "\n");
}

TEST(FopenP, CreatesMissingFoldersAndAcceptsExistingOnes) {
  gchar* tmp = g_dir_make_tmp("quillane-fopen-XXXXXX", nullptr);
  std::string root = tmp;
  g_free(tmp);
  std::string path = root + "/a/b/c/file.bin";
  testing::internal::CaptureStderr();
  FILE* f = fopen_p(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  std::fputs("one", f);
  std::fclose(f);
  EXPECT_TRUE(is_dir(root + "/a/b/c"));
  // Everything exists now: no error, and the mode is passed on (append).
  f = fopen_p(path.c_str(), "ab");
  ASSERT_NE(f, nullptr);
  std::fputs("two", f);
  std::fclose(f);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(file_contents(path), "onetwo");
  // A path without any folder to make opens as fopen would; a missing file for reading is
  // still null, without a message.
  testing::internal::CaptureStderr();
  EXPECT_EQ(fopen_p((root + "/a/missing").c_str(), "rb"), nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(), "");

  // A folder in the path that is a regular file cannot be made: message, null, and nothing
  // created below it.
  testing::internal::CaptureStderr();
  FILE* g = fopen_p((root + "/a/b/c/file.bin/d/e").c_str(), "wb");
  EXPECT_EQ(g, nullptr);
  EXPECT_EQ(testing::internal::GetCapturedStderr(),
            "CreateDirectory failed (" + std::to_string(EEXIST) + ")\n");
  EXPECT_EQ(file_contents(path), "onetwo");
  gchar* cmd = g_strdup_printf("rm -rf '%s'", root.c_str());
  EXPECT_EQ(std::system(cmd), 0);
  g_free(cmd);
}
