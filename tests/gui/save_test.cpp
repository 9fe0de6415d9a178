// Saving through the Save dialog: the stroke layer, the opaque image and the image with its
// alpha; the names actually written; the overwrite question; failures; the names and folders
// proposed by the next Save.
#include <glib/gstdio.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "gui/clean_edges.h"
#include "gui/clipboard.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/view.h"
#include "tests/gui/dialog_script.h"
#include "tests/gui/gui_harness.h"

namespace {

const gint kSaveImage = 2;

guint32 colour_at(int x, int y) {
  return 0xff000000u | (guint32(x * 7 % 256) << 16) | (guint32(y * 13 % 256) << 8) | 150u;
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  GDir* d = g_dir_open(dir.c_str(), 0, nullptr);
  if (d == nullptr) return names;
  while (const gchar* n = g_dir_read_name(d)) names.insert(n);
  g_dir_close(d);
  return names;
}

std::string file_contents(const std::string& path) {
  gchar* data = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &data, &len, nullptr)) return "";
  std::string s(data, len);
  g_free(data);
  return s;
}

GdkPixbuf* load(const std::string& path) {
  GError* error = nullptr;
  GdkPixbuf* p = gdk_pixbuf_new_from_file(path.c_str(), &error);
  if (p == nullptr) {
    ADD_FAILURE() << "cannot read " << path << ": " << error->message;
    g_error_free(error);
  }
  return p;
}

// The text of the Save dialog's name field as proposed, without what the field's inline
// completion has appended (selected) from the names in the folder.
std::string name_field(GtkDialog* d) {
  GtkWidget* entry = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
    return GTK_IS_ENTRY(w) && std::string(G_OBJECT_TYPE_NAME(w)) == "GtkFileChooserEntry";
  });
  if (entry == nullptr) return "<no name field>";
  std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
  gint start = 0, end = 0;
  if (gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end) && start > 0 &&
      end == g_utf8_strlen(text.c_str(), -1)) {
    gchar* head = g_utf8_substring(text.c_str(), 0, start);
    text = head;
    g_free(head);
  }
  return text;
}

void click(int item) {
  g_signal_emit_by_name(toolbar_item(toolbar, item), "clicked");
}

void set_alternate_colour(guint16 r, guint16 g, guint16 b) {
  GtkWidget* button = gtk_bin_get_child(GTK_BIN(toolbar_item(toolbar, 8)));
  GdkColor c = {0, r, g, b};
  gtk_color_button_set_color(GTK_COLOR_BUTTON(button), &c);
  g_signal_emit_by_name(button, "color-set");
}

void set_view_mode(bool on) {
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), on);
  settle();
}

// The Save dialog's check box "Clean edge colours", or null.
GtkToggleButton* clean_box(GtkDialog* d) {
  GtkWidget* box = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
    return GTK_IS_CHECK_BUTTON(w) &&
           g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Clean edge colours") == 0;
  });
  return box != nullptr ? GTK_TOGGLE_BUTTON(box) : nullptr;
}

class SaveTest : public EditorTest {
 protected:
  // Runs Save with the given dialog steps; every step must be used and no other dialog seen.
  void save(std::vector<DialogScript::Step> steps) {
    DialogScript script(std::move(steps));
    on_save_as(nullptr, main_window);
    settle();
    EXPECT_TRUE(script.finished()) << "dialog steps left: " << script.done();
    EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();
  }
  void save_as(const std::string& path, gint response) {
    save({choose_file("Save File", path, response)});
  }
  // Saves in view mode with the check box "Clean edge colours" set to `on`; returns how the
  // dialog showed it.
  bool save_clean(const std::string& path, bool on) {
    bool shown = false;
    save({{"Save File", [&](GtkDialog* d) {
             GtkToggleButton* box = clean_box(d);
             ASSERT_NE(box, nullptr);
             shown = gtk_toggle_button_get_active(box);
             gtk_toggle_button_set_active(box, on);
             set_chooser_test_filename(GTK_FILE_CHOOSER(d), path.c_str());
             accept_file_dialog(d);
           }}});
    return shown;
  }

  // An image with white, black, blue and erased strokes.
  void paint_all_kinds() {
    open(write_image(dir_, "photo.png", 40, 30, false, colour_at));
    drag(4, 4, 30, 4);                  // white
    click(6);                           // BG
    drag(4, 20, 30, 20);                // black
    set_alternate_colour(0, 0, 65535);  // blue
    drag(35, 2, 35, 27);
    click(7);  // eraser
    drag(16, 0, 16, 29);
    click(5);  // FG again
  }
};

TEST_F(SaveTest, FirstSaveProposesTheImagesNameAndRemembersTheFolderWhenCancelled) {
  open_generated(20, 10);
  std::string proposed, folder;
  std::string other = fresh_dir("elsewhere");
  save({{"Save File", [&](GtkDialog* d) {
           proposed = name_field(d);
           folder = chooser_folder_when(GTK_FILE_CHOOSER(d), dir_);
           EXPECT_FALSE(gtk_file_chooser_get_do_overwrite_confirmation(GTK_FILE_CHOOSER(d)));
           GtkWidget* button = gtk_dialog_get_widget_for_response(d, kSaveImage);
           ASSERT_NE(button, nullptr);
           EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(button)), "Save image");
           gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), other.c_str());
           chooser_folder_when(GTK_FILE_CHOOSER(d), other);
           gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
         }}});
  EXPECT_EQ(proposed, "generated_strokes");
  EXPECT_EQ(folder, dir_);
  EXPECT_TRUE(files_in(other).empty());

  // View mode: no "Save image" button; the cancelled dialog's folder is where it starts.
  set_view_mode(true);
  save({{"Save File", [&](GtkDialog* d) {
           proposed = name_field(d);
           folder = chooser_folder_when(GTK_FILE_CHOOSER(d), other);
           EXPECT_EQ(gtk_dialog_get_widget_for_response(d, kSaveImage), nullptr);
           gtk_dialog_response(d, GTK_RESPONSE_DELETE_EVENT);
         }}});
  EXPECT_EQ(proposed, "generated_matte");
  EXPECT_EQ(folder, other);
  EXPECT_EQ(files_in(dir_), std::set<std::string>{"generated.png"});
}

TEST_F(SaveTest, EditModeSaveWritesOnlyTheStrokeLayer) {
  paint_all_kinds();
  std::vector<guint32> layer = layer_snapshot();
  GdkPixbuf* shown = pixbuf_image;
  std::string out = fresh_dir("out");
  save_as(out + "/strokes.png", GTK_RESPONSE_ACCEPT);

  EXPECT_EQ(files_in(out), std::set<std::string>{"strokes.png"});
  GdkPixbuf* back = load(out + "/strokes.png");
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(gdk_pixbuf_get_has_alpha(back));
  EXPECT_EQ(gdk_pixbuf_get_n_channels(back), 4);
  ASSERT_EQ(gdk_pixbuf_get_width(back), 40);
  ASSERT_EQ(gdk_pixbuf_get_height(back), 30);
  int white = 0, black = 0, blue = 0, clear = 0;
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      guint32 p = pixbuf_pixel(back, x, y), l = layer[size_t(y) * 40 + x];
      if (l >> 24 == 0) {
        ASSERT_EQ(p >> 24, 0u) << x << "," << y;
        ++clear;
      } else {
        ASSERT_EQ(p, l) << x << "," << y;
      }
      white += p == 0xffffffffu;
      black += p == 0xff000000u;
      blue += p == 0xff0000ffu;
    }
  g_object_unref(back);
  EXPECT_GT(white, 100);
  EXPECT_GT(black, 100);
  EXPECT_GT(blue, 100);
  EXPECT_GT(clear, 500);
  EXPECT_EQ(layer_pixel(16, 4) >> 24, 0u);  // the eraser's cut is in the file too
  // Saving changes neither the layer, nor the image, nor the mode.
  EXPECT_EQ(layer_snapshot(), layer);
  EXPECT_EQ(pixbuf_image, shown);
  EXPECT_EQ(in_edit_mode, 1);
}

TEST_F(SaveTest, SaveImageButtonWritesTheOpaqueImageWithoutStrokes) {
  paint_all_kinds();
  std::string out = fresh_dir("out");
  save_as(out + "/picture", kSaveImage);
  EXPECT_EQ(files_in(out), std::set<std::string>{"picture.png"});
  GdkPixbuf* back = load(out + "/picture.png");
  ASSERT_NE(back, nullptr);
  EXPECT_FALSE(gdk_pixbuf_get_has_alpha(back));
  EXPECT_EQ(gdk_pixbuf_get_n_channels(back), 3);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x)
      ASSERT_EQ(pixbuf_pixel(back, x, y), colour_at(x, y)) << x << "," << y;
  g_object_unref(back);
}

TEST_F(SaveTest, ViewModeSaveWritesTheImageWithItsAlpha) {
  auto rgba = [](int x, int y) -> guint32 {
    guint32 a = (x * 17 + y * 3) % 256;
    return (a << 24) | (colour_at(x, y) & 0xffffffu);
  };
  open(write_image(dir_, "cutout.png", 23, 17, true, rgba));
  drag(2, 2, 20, 2);
  set_view_mode(true);
  std::string out = fresh_dir("out");
  save_clean(out + "/cutout-matte.png", false);
  GdkPixbuf* back = load(out + "/cutout-matte.png");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_n_channels(back), 4);
  for (int y = 0; y < 17; ++y)
    for (int x = 0; x < 23; ++x) {
      guint32 p = pixbuf_pixel(back, x, y);
      ASSERT_EQ(p >> 24, rgba(x, y) >> 24) << x << "," << y;
      if (p >> 24 != 0) {
        ASSERT_EQ(p, rgba(x, y)) << x << "," << y;  // no strokes in it
      }
    }
  g_object_unref(back);

  // An opaque image saved in view mode before any calculation: RGBA, alpha 255 everywhere.
  open_generated(12, 8);
  save_as(out + "/opaque", GTK_RESPONSE_ACCEPT);
  back = load(out + "/opaque.png");
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_n_channels(back), 4);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 12; ++x)
      ASSERT_EQ(pixbuf_pixel(back, x, y), pixbuf_pixel(pixbuf_no_alpha, x, y));
  g_object_unref(back);
}

// Red seen through blue along a soft edge: with "Clean edge colours" on (the default) the file
// and the copy have red at the partly transparent pixels and every other byte unchanged, and
// the image itself keeps its colours; turned off, the box stays off and both are the image.
TEST_F(SaveTest, CleanEdgeColoursInTheFileAndTheCopy) {
  auto edge = [](int x, int) -> guint32 {
    const double a = std::clamp((x - 4) / 16.0, 0.0, 1.0);
    return guint32(std::lround(255 * a)) << 24 | guint32(std::lround(30 + 190 * a)) << 16 |
           40u << 8 | guint32(std::lround(210 - 180 * a));
  };
  const int red[3] = {220, 40, 30};
  open(write_image(dir_, "edge.png", 24, 6, true, edge));
  set_view_mode(true);
  auto check = [&](GdkPixbuf* p, bool clean) {
    ASSERT_NE(p, nullptr);
    for (int x = 0; x < 24; ++x) {
      const guint32 got = pixbuf_pixel(p, x, 3), want = edge(x, 3);
      if (clean && (want >> 24) % 255 != 0) {
        EXPECT_EQ(got >> 24, want >> 24) << x;
        for (int c = 0; c < 3; ++c) EXPECT_NEAR(int(got >> (16 - 8 * c) & 255), red[c], 4) << x;
      } else {
        EXPECT_EQ(got, want) << x;
      }
    }
    g_object_unref(p);
  };
  auto copy = [] {
    gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    pixbuf_to_clipboard(nullptr, nullptr);
    settle();
    return gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  };
  std::string out = fresh_dir("clean");
  EXPECT_TRUE(save_clean(out + "/clean.png", true));
  check(load(out + "/clean.png"), true);
  check(copy(), true);
  for (int x = 0; x < 24; ++x) EXPECT_EQ(pixbuf_pixel(pixbuf_alpha, x, 3), edge(x, 3));

  EXPECT_TRUE(save_clean(out + "/plain.png", false));
  check(load(out + "/plain.png"), false);
  check(copy(), false);
  EXPECT_FALSE(save_clean(out + "/again.png", true));  // remembered
  // Edit mode saves no matte: no box.
  set_view_mode(false);
  save({{"Save File", [](GtkDialog* d) {
           EXPECT_EQ(clean_box(d), nullptr);
           gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
         }}});
}

TEST_F(SaveTest, TheWrittenNameIsTheChosenNameWithItsExtensionReplacedByPng) {
  open_generated(10, 10);
  drag(1, 1, 8, 8);
  std::string out = fresh_dir("names");
  std::string dotted = out + "/my.pictures";
  g_mkdir_with_parents(dotted.c_str(), 0700);
  struct Case {
    std::string chosen, written;
    gint response;
  };
  std::vector<Case> cases = {
      {"photo.jpg", "photo.png", GTK_RESPONSE_ACCEPT},
      {"result", "result.png", kSaveImage},
      {"result2.png", "result2.png", GTK_RESPONSE_ACCEPT},
      {"archive.tar.gz", "archive.tar.png", kSaveImage},
      {".hidden", ".hidden.png", GTK_RESPONSE_ACCEPT},
      {"my.pictures/layer", "my.pictures/layer.png", GTK_RESPONSE_ACCEPT},
      {"my.pictures/image", "my.pictures/image.png", kSaveImage},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.chosen);
    save_as(out + "/" + c.chosen, c.response);
    EXPECT_TRUE(g_file_test((out + "/" + c.written).c_str(), G_FILE_TEST_IS_REGULAR));
    GdkPixbuf* back = load(out + "/" + c.written);
    if (back != nullptr) {
      EXPECT_EQ(gdk_pixbuf_get_has_alpha(back), c.response == GTK_RESPONSE_ACCEPT);
      g_object_unref(back);
    }
  }
  EXPECT_EQ(files_in(out),
            (std::set<std::string>{"photo.png", "result.png", "result2.png", "archive.tar.png",
                                   ".hidden.png", "my.pictures"}));
  EXPECT_EQ(files_in(dotted), (std::set<std::string>{"layer.png", "image.png"}));
}

TEST_F(SaveTest, ReplacingTheWrittenFileIsAskedFirst) {
  open_generated(16, 12);
  drag(2, 2, 12, 2);
  std::string out = fresh_dir("replace");
  std::string existing = write_image(out, "photo.png", 5, 5, false, colour_at);
  std::string original = file_contents(existing);

  // photo.jpg would write photo.png: asked about photo.png; declining returns to the dialog.
  std::string question;
  save({choose_file("Save File", out + "/photo.jpg", GTK_RESPONSE_ACCEPT),
        answer_reading("Replace file", &question, GTK_RESPONSE_CANCEL),
        choose_file("Save File", "", GTK_RESPONSE_CANCEL)});
  EXPECT_NE(question.find("\"photo.png\""), std::string::npos) << question;
  EXPECT_EQ(file_contents(existing), original);
  EXPECT_EQ(files_in(out), std::set<std::string>{"photo.png"});

  // Declined, then another name: that one is written, photo.png stays.
  save({choose_file("Save File", out + "/photo.jpg", kSaveImage),
        answer_reading("Replace file", nullptr, GTK_RESPONSE_CANCEL),
        choose_file("Save File", out + "/other.jpg", kSaveImage)});
  EXPECT_EQ(file_contents(existing), original);
  EXPECT_EQ(files_in(out), (std::set<std::string>{"photo.png", "other.png"}));

  // Agreed: photo.png becomes the stroke layer.
  save({choose_file("Save File", out + "/photo.jpg", GTK_RESPONSE_ACCEPT),
        answer_reading("Replace file", nullptr, GTK_RESPONSE_ACCEPT)});
  GdkPixbuf* back = load(existing);
  ASSERT_NE(back, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(back), 16);
  EXPECT_EQ(pixbuf_pixel(back, 6, 2), 0xffffffffu);
  g_object_unref(back);

  // An existing file of the chosen name that is not the one written: nothing to ask.
  std::string jpeg = write_image(out, "fresh.jpg", 4, 4, false, colour_at, "jpeg");
  std::string jpeg_bytes = file_contents(jpeg);
  save_as(out + "/fresh.jpg", GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(file_contents(jpeg), jpeg_bytes);
  EXPECT_TRUE(g_file_test((out + "/fresh.png").c_str(), G_FILE_TEST_IS_REGULAR));
}

// A failed save names the file in the status bar and keeps what the name held: a missing
// folder, and a disk that fills up while an existing file is replaced (RLIMIT_FSIZE with
// SIGXFSZ ignored: writes past the limit fail with EFBIG), for each of the three saves.
TEST_F(SaveTest, FailedSavesAreReportedAndKeepTheOldFile) {
  open_generated(10, 8);
  drag(1, 1, 8, 1);
  const std::string missing = dir_ + "/no-such-folder", full = fresh_dir("full");
  const std::string old_bytes = "the previous file";
  struct Case {
    bool view_mode;
    std::string folder, chosen;
    gint response;
    const char* written;
  };
  const Case cases[] = {
      {false, missing, "strokes.png", GTK_RESPONSE_ACCEPT, "strokes.png"},
      {false, missing, "image.jpg", kSaveImage, "image.png"},
      {true, missing, "matte", GTK_RESPONSE_ACCEPT, "matte.png"},
      {false, full, "strokes.png", GTK_RESPONSE_ACCEPT, "strokes.png"},
      {false, full, "image.jpg", kSaveImage, "image.png"},
      {true, full, "matte", GTK_RESPONSE_ACCEPT, "matte.png"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.folder + "/" + c.chosen);
    set_view_mode(c.view_mode);
    update_statusbar("", STATUS_MESSAGE, status_bar);
    const std::string written = c.folder + "/" + c.written;
    const bool replacing = c.folder == full;
    struct rlimit limit;
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
    if (replacing) {
      ASSERT_TRUE(g_file_set_contents(written.c_str(), old_bytes.data(), -1, nullptr));
      struct rlimit small = {64, limit.rlim_max};  // room for the PNG header, not the pixels
      signal(SIGXFSZ, SIG_IGN);
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
      save({choose_file("Save File", c.folder + "/" + c.chosen, c.response),
            answer_reading("Replace file", nullptr, GTK_RESPONSE_ACCEPT)});
      setrlimit(RLIMIT_FSIZE, &limit);
      EXPECT_EQ(file_contents(written), old_bytes);
      EXPECT_EQ(files_in(full), std::set<std::string>{c.written});
      g_remove(written.c_str());
    } else {
      save_as(c.folder + "/" + c.chosen, c.response);
      EXPECT_FALSE(g_file_test(missing.c_str(), G_FILE_TEST_EXISTS));
    }
    const std::string message = status_message(STATUS_MESSAGE);
    EXPECT_EQ(message.rfind("Could not save " + written + ": ", 0), 0u) << message;
  }

  // The failed names are remembered all the same.
  std::string proposed;
  save({{"Save File", [&](GtkDialog* d) {
           proposed = name_field(d);
           gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
         }}});
  EXPECT_EQ(proposed, "matte");
}

TEST_F(SaveTest, TheNextSaveProposesTheLastNameOfItsKind) {
  open_generated(12, 9);
  drag(1, 1, 10, 1);
  std::string layers = fresh_dir("layers"), images = fresh_dir("images");
  save_as(layers + "/strokes.png", GTK_RESPONSE_ACCEPT);
  save_as(images + "/picture.jpg", kSaveImage);

  std::string name, folder;
  auto look = [&](const std::string& expected_folder) {
    return DialogScript::Step{"Save File", [&, expected_folder](GtkDialog* d) {
                                name = name_field(d);
                                folder = chooser_folder_when(GTK_FILE_CHOOSER(d), expected_folder);
                                gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
                              }};
  };
  save({look(layers)});
  EXPECT_EQ(name, "strokes");
  EXPECT_EQ(folder, layers);

  set_view_mode(true);
  save({look(images)});
  EXPECT_EQ(name, "picture");
  EXPECT_EQ(folder, images);

  // A view-mode save replaces the image name; the layer name stays.
  save_as(images + "/final.png", GTK_RESPONSE_ACCEPT);
  save({look(images)});
  EXPECT_EQ(name, "final");
  set_view_mode(false);
  save({look(layers)});
  EXPECT_EQ(name, "strokes");
  EXPECT_EQ(folder, layers);
}

TEST_F(SaveTest, ASavedLayerOpensAsTheSameLayer) {
  paint_all_kinds();
  std::vector<guint32> layer = layer_snapshot();
  std::string out = fresh_dir("roundtrip");
  save_as(out + "/layer.png", GTK_RESPONSE_ACCEPT);

  // The same image opened afresh, then the saved file as its layer.
  open(dir_ + "/photo.png");
  ASSERT_EQ(count_pixels(layer_snapshot(), 0u), 40 * 30);
  DialogScript script(
      {choose_file("Open image", out + "/layer.png", GTK_RESPONSE_ACCEPT, "Open as layer")});
  on_open_image(nullptr, toolbar);
  settle();
  ASSERT_TRUE(script.finished());
  EXPECT_EQ(layer_snapshot(), layer);
  // And the view shows it over the image.
  EXPECT_EQ(view_pixel(6, 4), 0xffffffffu);
  EXPECT_EQ(view_pixel(6, 20), 0xff000000u);
  EXPECT_EQ(view_pixel(16, 4), colour_at(16, 4));
}

}  // namespace
