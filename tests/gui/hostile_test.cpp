// Hostile input and low memory in the editor: recovery files under other names of the same
// image, and damaged or foreign ones; previews and opens of images too large for memory;
// clean edge colours without memory for them; messages too long for a dialog or the status
// bar. operator new can be made to fail here from a given size on (the engine's foreground
// estimation allocates with it).
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <png.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <new>
#include <string>
#include <vector>

#include "gui/file_preview.h"
#include "gui/recovery.h"
#include "tests/gui/gui_harness.h"
#include "tests/common/refusing_new.h"

namespace {

std::atomic<size_t> fail_from{0};  // operator new of at least this many bytes fails; 0: none

}  // namespace

bool refuse_allocation(size_t n) {
  const size_t limit = fail_from.load();
  return limit != 0 && n >= limit;
}

namespace {

struct EnvGuard {  // sets a variable until the end of the scope
  EnvGuard(const char* name, const char* value) : name(name), old(g_strdup(g_getenv(name))) {
    g_setenv(name, value, TRUE);
  }
  ~EnvGuard() {
    old != nullptr ? (void)g_setenv(name, old, TRUE) : g_unsetenv(name);
    g_free(old);
  }
  const char* name;
  gchar* old;
};

guint32 colour_at(int x, int y) {
  return 0xff000000u | (guint32(x * 9 % 256) << 16) | (guint32(y * 11 % 256) << 8) | 60u;
}

// A w x h grey PNG of zeros written row by row: a small file for a large image.
void write_large_png(const std::string& path, int w, int h) {
  FILE* f = std::fopen(path.c_str(), "wb");
  ASSERT_NE(f, nullptr);
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  png_init_io(png, f);
  png_set_compression_level(png, 1);
  png_set_IHDR(png, info, w, h, 8, PNG_COLOR_TYPE_GRAY, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  std::vector<png_byte> row(w, 0);
  for (int y = 0; y < h; ++y) png_write_row(png, row.data());
  png_write_end(png, info);
  png_destroy_write_struct(&png, &info);
  std::fclose(f);
}

class HostileTest : public EditorTest {
 public:
  void TearDown() override {
    if (gui_available()) remove_recovery_files(&ed->session);
    EditorTest::TearDown();
  }
  void open_with_dialog(const std::string& path, Steps after = {}) {
    Steps steps = {choose_file("Open image", path)};
    steps.insert(steps.end(), after.begin(), after.end());
    with_dialogs(steps, [] { on_open_image(nullptr, ed); });
  }
};

}  // namespace

// The strokes kept for an image are offered whatever path names it again: with "." or "..",
// doubled separators, through a link, relative to the working folder.
TEST_F(HostileTest, RecoveryFilesAreFoundUnderEveryNameOfTheImage) {
  const std::string folder = dir_ + "/rec";
  g_mkdir(folder.c_str(), 0700);
  const std::string image = write_image(folder, "photo.png", 20, 16, false, colour_at);
  ASSERT_EQ(symlink(image.c_str(), (dir_ + "/link.png").c_str()), 0);
  open(image);
  drag(2, 2, 15, 2);
  ASSERT_TRUE(write_recovery_file(&ed->session, ed->doc().opened_image, ed->strokes.surf_layer));
  gchar* cwd = g_get_current_dir();
  ASSERT_EQ(g_chdir(dir_.c_str()), 0);
  for (const std::string& name :
       {folder + "/./photo.png", dir_ + "//rec///photo.png", folder + "/../rec/photo.png",
        dir_ + "/link.png", std::string("rec/photo.png"), std::string("./rec/../link.png")}) {
    SCOPED_TRACE(name);
    open_with_dialog(name, {answer_reading("Restore strokes", nullptr, GTK_RESPONSE_DELETE_EVENT)});
  }
  EXPECT_EQ(g_chdir(cwd), 0);
  g_free(cwd);
}

// A recovery file that is not a stroke layer of the image (no alpha, another size, not an
// image) or is cut short is read back before anything is offered: it is removed, and the
// status bar says so. A recovery file that cannot be written is said there too.
TEST_F(HostileTest, UnusableRecoveryFilesAreDroppedAndProblemsShown) {
  const std::string image = write_image(dir_, "photo.png", 24, 18, false, colour_at);
  open(image);
  drag(2, 2, 15, 2);
  ASSERT_TRUE(write_recovery_file(&ed->session, ed->doc().opened_image, ed->strokes.surf_layer));
  gchar* recovery = recovery_file_for(image.c_str());
  const std::string layer = file_contents(recovery);
  const struct {
    const char* what;
    std::string bytes;
    const char* says;
  } rows[] = {
      {"an RGB image", file_contents(image), "not a stroke layer"},
      {"another size", file_contents(write_image(dir_, "small.png", 12, 9, true, colour_at)),
       "is 12x9 pixels"},
      {"cut short", layer.substr(0, layer.size() / 2), ""},
      {"not an image", "not an image at all", ""},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.what);
    ASSERT_TRUE(g_file_set_contents(recovery, r.bytes.data(), r.bytes.size(), nullptr));
    update_statusbar("", STATUS_MESSAGE, ed->view.status_bar);
    testing::internal::CaptureStderr();
    open_with_dialog(image);  // no "Restore strokes"
    testing::internal::GetCapturedStderr();
    EXPECT_FALSE(g_file_test(recovery, G_FILE_TEST_EXISTS)) << "removed";
    const std::string said = status_message();
    EXPECT_EQ(
        said.rfind("Strokes kept for \xe2\x80\x9cphoto.png\xe2\x80\x9d could not be restored: ", 0),
        0u)
        << said;
    EXPECT_NE(said.find(r.says), std::string::npos) << said;
    EXPECT_NE(said.find("their recovery file was removed"), std::string::npos) << said;
  }
  g_free(recovery);
  // A state folder that is a file: the calculation goes on, the status bar says why.
  const std::string blocked = dir_ + "/state-is-a-file";
  ASSERT_TRUE(g_file_set_contents(blocked.c_str(), "", 0, nullptr));
  EnvGuard env("XDG_STATE_HOME", blocked.c_str());
  gtk_adjustment_set_value(ed->view.brush_adjustment, 3);
  drag(3, 4, 3, 14);
  click(TOOL_BG);
  drag(20, 4, 20, 14);
  testing::internal::CaptureStderr();
  with_dialogs({answer_reading("options for calculation", nullptr)},
               [this] { click(TOOL_CALCULATE); });
  for (gint64 end = g_get_monotonic_time() + 60 * G_USEC_PER_SEC;
       ed->calc.running() && g_get_monotonic_time() < end;)
    settle(5);
  const std::string stderr_text = testing::internal::GetCapturedStderr();
  const std::string said = status_message();
  EXPECT_EQ(said.rfind("Strokes not kept for recovery: recovery file " + blocked, 0), 0u) << said;
  EXPECT_NE(stderr_text.find(said.substr(said.find("recovery file "))), std::string::npos);
}

// The preview decodes at preview size: a JPEG scaled while decoding; a PNG of 144 megapixels
// (a 150 KB file) is not decoded at all.
TEST_F(HostileTest, PreviewsNeverDecodeALargeImageWhole) {
  const std::string bomb = dir_ + "/bomb.png";
  write_large_png(bomb, 12000, 12000);
  EXPECT_LT(file_contents(bomb).size(), 2000000u);
  const struct {
    std::string path;
    int w, h;  // of the preview; 0: none
  } rows[] = {{bomb, 0, 0},
              {write_image(dir_, "photo.jpg", 7000, 5000, false, colour_at, "jpeg"), 128, 91},
              {write_image(dir_, "small.png", 400, 300, true, colour_at), 128, 96},
              {dir_ + "/bomb.png.txt", 0, 0}};
  g_file_set_contents((dir_ + "/bomb.png.txt").c_str(), "text", -1, nullptr);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    GdkPixbuf* preview = load_preview(r.path.c_str(), 128);
    EXPECT_EQ(std::vector<int>({preview != nullptr ? gdk_pixbuf_get_width(preview) : 0,
                                preview != nullptr ? gdk_pixbuf_get_height(preview) : 0}),
              std::vector<int>({r.w, r.h}));
    if (preview != nullptr) g_object_unref(preview);
  }
}

// An image that needs more memory than the computer can give is refused before it is decoded,
// with the numbers, and changes nothing; within the budget it opens.
TEST_F(HostileTest, AnImageTooLargeForMemoryIsRefusedBeforeDecoding) {
  open(write_image(dir_, "first.png", 30, 20, false, colour_at));
  drag(2, 2, 20, 2);
  const std::string large = write_image(dir_, "large.png", 1200, 1000, false, colour_at);
  ed->calc.memory_budget = 20e6;
  GdkPixbuf* before = ed->doc().pixbuf_no_alpha;
  const std::vector<guint32> layer = layer_snapshot();
  std::string text;
  open_with_dialog(large, {answer_reading("Error", &text)});
  EXPECT_NE(text.find("File open error: \xe2\x80\x9clarge.png\xe2\x80\x9d is 1200x1000 pixels: "
                      "opening it needs about 34 MB of memory, and this computer can give "
                      "about 20 MB"),
            std::string::npos)
      << text;
  EXPECT_EQ(ed->doc().pixbuf_no_alpha, before);
  EXPECT_EQ(layer_snapshot(), layer);
  ed->calc.memory_budget = 40e6;
  open_with_dialog(large);
  EXPECT_EQ(gdk_pixbuf_get_width(ed->doc().pixbuf_no_alpha), 1200);
}

// An error with a long line (a long file name) wraps: the dialog is no wider than the window,
// and says everything.
TEST_F(HostileTest, ErrorDialogsAreNoWiderThanTheWindow) {
  const std::string missing = dir_ + "/" + std::string(200, 'n') + ".png";
  std::string text;
  int width = 0;
  open_with_dialog(missing, {{"Error", [&](GtkDialog* d) {
                                GtkRequisition r;
                                gtk_widget_size_request(GTK_WIDGET(d), &r);
                                width = r.width;
                                // Wrapped, not cut: the text's lines fit the label.
                                GtkWidget* label = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
                                  return GTK_IS_LABEL(w) &&
                                         gtk_widget_get_ancestor(w, GTK_TYPE_BUTTON) == nullptr;
                                });
                                int lw = 0;
                                pango_layout_get_pixel_size(gtk_label_get_layout(GTK_LABEL(label)),
                                                            &lw, nullptr);
                                EXPECT_LE(lw, label->allocation.width);
                                answer_reading("", &text).answer(d);
                              }}});
  EXPECT_NE(text.find(std::string(200, 'n') + ".png"), std::string::npos) << text;
  EXPECT_GT(width, 100);
  EXPECT_LE(width, ed->view.main_window->allocation.width);
}

// A save failure too long for the status bar leaves out the middle of the file name, never the
// reason at its end; the whole message is the bar's tooltip.
TEST_F(HostileTest, TheReasonOfASaveFailureStaysReadable) {
  open(write_image(dir_, "photo.png", 20, 16, false, colour_at));
  const std::string folder = dir_ + "/" + std::string(150, 'f');
  with_dialogs({choose_file("Save File", folder + "/strokes.png")},
               [] { on_save_as(nullptr, ed); });
  const std::string message = status_message();
  const std::string ending = ": No such file or directory";
  ASSERT_EQ(message, "Could not save " + folder + "/strokes.png" + ending);
  gchar* tip = gtk_widget_get_tooltip_text(ed->view.status_bar);
  EXPECT_STREQ(tip, message.c_str());
  g_free(tip);
  GtkWidget* label = find_widget(ed->view.status_bar, [](GtkWidget* w) { return GTK_IS_LABEL(w); });
  PangoLayout* layout = gtk_label_get_layout(GTK_LABEL(label));
  ASSERT_TRUE(pango_layout_is_ellipsized(layout)) << "the message is longer than the bar";
  PangoRectangle shown;
  pango_layout_get_pixel_extents(layout, nullptr, &shown);
  int index = 0, trailing = 0;
  pango_layout_line_x_to_index(pango_layout_get_line_readonly(layout, 0),
                               (shown.width - 2) * PANGO_SCALE, &index, &trailing);
  EXPECT_GE(index + trailing, int(message.size()) - 2) << "the last character shown";
}

// Clean edge colours without memory for them: Save writes nothing and Copy leaves the
// clipboard as it was, both saying why in the status bar; with memory both work again.
TEST_F(HostileTest, CleanEdgeColoursWithoutMemoryWriteNothing) {
  open(write_image(dir_, "edge.png", 200, 100, true, [](int x, int) -> guint32 {
    const double a = std::clamp((x - 50) / 85.0, 0.0, 1.0);  // red seen through blue
    return guint32(std::lround(255 * a)) << 24 | guint32(std::lround(30 + 190 * a)) << 16 |
           40u << 8 | guint32(std::lround(210 - 180 * a));
  }));
  set_view_mode(true);
  const std::string out = dir_ + "/clean.png";
  auto save = [&] {
    with_dialogs({{"Save File",
                   [&](GtkDialog* d) {
                     GtkWidget* clean = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
                       return GTK_IS_CHECK_BUTTON(w) &&
                              g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)),
                                        "Clean edge colours") == 0;
                     });
                     gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(clean), TRUE);
                     choose_file("", out).answer(d);
                   }}},
                 [] { on_save_as(nullptr, ed); });
  };
  GtkClipboard* clipboard = gtk_clipboard_get(GDK_SELECTION_CLIPBOARD);
  gtk_clipboard_set_text(clipboard, "before", -1);
  fail_from = 50000;  // the estimation's first buffer is 60000 bytes
  save();
  ctrl(GDK_c);
  const std::string said_after_copy = status_message();
  fail_from = 0;
  EXPECT_FALSE(g_file_test(out.c_str(), G_FILE_TEST_EXISTS)) << "no uncleaned file";
  gchar* text = gtk_clipboard_wait_for_text(clipboard);
  EXPECT_STREQ(text, "before");
  g_free(text);
  EXPECT_EQ(said_after_copy, "Could not copy: not enough memory to clean the edge colours");
  update_statusbar("", STATUS_MESSAGE, ed->view.status_bar);
  fail_from = 50000;
  save();
  fail_from = 0;
  EXPECT_EQ(status_message(),
            "Could not save " + out + ": not enough memory to clean the edge colours");
  save();
  EXPECT_TRUE(g_file_test(out.c_str(), G_FILE_TEST_EXISTS));
  ctrl(GDK_c);
  GdkPixbuf* copied = gtk_clipboard_wait_for_image(clipboard);
  ASSERT_NE(copied, nullptr);
  EXPECT_NE(pixbuf_pixel(copied, 60, 5), pixbuf_pixel(ed->doc().pixbuf_alpha, 60, 5)) << "cleaned";
  g_object_unref(copied);
}
