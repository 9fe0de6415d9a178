// Files and the clipboard: the Open dialog and its three modes, refused files, the recovery
// offer; the Save dialog with what it writes, the names it writes and proposes, the overwrite
// question, safe failures and clean edge colours; Copy.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "gui/clean_edges.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/layer_state.h"
#include "gui/quillane_opts.h"
#include "gui/recovery.h"
#include "gui/view.h"
#include "matting/imgutil.h"
#include "tests/gui/gui_harness.h"

namespace {

const char kDefault[] = "Default open", kAlpha[] = "Open with alpha as input",
           kLayer[] = "Open as layer";
const gint kSaveImage = 2;

guint32 colour_at(int x, int y) {
  return 0xff000000u | (guint32(x * 9 % 256) << 16) | (guint32(y * 11 % 256) << 8) | 60u;
}
// Alpha by column: 255, 0, 1, 254, 128, repeating.
guint32 rgba_at(int x, int y) {
  static const guint32 cycle[] = {255, 0, 1, 254, 128};
  return (cycle[x % 5] << 24) | (colour_at(x, y) & 0xffffffu);
}
// A stroke layer: white in the left half of each band, black in the right, bands apart.
guint32 layer_at(int x, int y) {
  return y % 4 == 3 ? 0u : x % 6 < 3 ? 0xffffffffu : 0xff000000u;
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
    while (const gchar* n = g_dir_read_name(d)) names.insert(n);
    g_dir_close(d);
  }
  return names;
}

// The Save dialog's name field as proposed, without the completion GTK appends (selected).
std::string name_field(GtkDialog* d) {
  GtkWidget* entry = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
    return GTK_IS_ENTRY(w) && std::string(G_OBJECT_TYPE_NAME(w)) == "GtkFileChooserEntry";
  });
  std::string text = gtk_entry_get_text(GTK_ENTRY(entry));
  gint start = 0, end = 0;
  if (gtk_editable_get_selection_bounds(GTK_EDITABLE(entry), &start, &end) && start > 0)
    text = text.substr(0, start);
  return text;
}

// The Save dialog's check box "Clean edge colours", or null.
GtkWidget* clean_box(GtkDialog* d) {
  return find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
    return GTK_IS_CHECK_BUTTON(w) &&
           g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Clean edge colours") == 0;
  });
}

GdkPixbuf* copy_and_read() {
  gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  gtk_accel_groups_activate(G_OBJECT(main_window), GDK_c, GDK_CONTROL_MASK);
  settle();
  return gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
}

class FilesTest : public EditorTest {
 protected:
  void open_with_dialog(const std::string& path, const char* radio) {
    with_dialogs({choose_file("Open image", path, GTK_RESPONSE_ACCEPT, radio)},
                 [] { on_open_image(nullptr, toolbar); });
  }
  void save(std::vector<DialogScript::Step> steps) {
    with_dialogs(std::move(steps), [] { on_save_as(nullptr, main_window); });
  }
  void save_as(const std::string& path, gint response) {
    save({choose_file("Save File", path, response)});
  }
  // A step that reads the proposed name and folder (waiting for `folder`) and cancels.
  DialogScript::Step look(std::string* name, std::string* folder, const std::string& want) {
    return {"Save File", [=](GtkDialog* d) {
              *name = name_field(d);
              *folder = chooser_folder_when(GTK_FILE_CHOOSER(d), want);
              gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
            }};
  }
  // An image with two strokes in its history and options that are not the defaults.
  void image_with_strokes(int w, int h) {
    open(write_image(dir_, "before.png", w, h, false, colour_at));
    drag(2, 2, 8, 2);
    drag(3, 6, 3, 9);
    pass_option_args->softness = 0.25;
  }
  // The state of a newly opened w x h image: sizes, empty history, selection, default options.
  void expect_new_image(int w, int h) {
    EXPECT_EQ(gdk_pixbuf_get_width(pixbuf_alpha) + gdk_pixbuf_get_height(pixbuf_no_alpha), w + h);
    EXPECT_EQ(gdk_pixbuf_get_n_channels(pixbuf_no_alpha), 3);
    EXPECT_EQ(gdk_pixbuf_get_n_channels(pixbuf_alpha), 4);
    EXPECT_EQ(cairo_image_surface_get_width(surf_layer), w);
    EXPECT_EQ(cairo_image_surface_get_height(win_surf), h);
    EXPECT_EQ(history, nullptr);
    EXPECT_EQ(std::vector<double>({left_x, top_y, selection_w, selection_h}),
              (std::vector<double>{0, 0, w - 1.0, h - 1.0}));
    EXPECT_EQ(pass_option_args->softness, 1e-7);
    EXPECT_EQ(pass_option_args->img_width, w);
    EXPECT_EQ(pass_option_args->img_height, h);
  }
};

// Kept first: the Open dialog remembers its folder for the life of the program.
TEST_F(FilesTest, TheOpenDialogStartsInTheImagesFolderThenWhereItWasLeft) {
  const std::string pictures = fresh_dir("pictures"), elsewhere = fresh_dir("elsewhere");
  image_with_strokes(12, 9);
  std::vector<guint32> before = layer_snapshot();
  std::string first, second;
  with_dialogs({{"Open image",
                 [&](GtkDialog* d) {
                   first = chooser_folder_when(GTK_FILE_CHOOSER(d), dir_);
                   // A file chosen, then the dialog cancelled: nothing is opened.
                   set_chooser_test_filename(GTK_FILE_CHOOSER(d), (dir_ + "/before.png").c_str());
                   gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), elsewhere.c_str());
                   chooser_folder_when(GTK_FILE_CHOOSER(d), elsewhere);
                   choose_file("", "", GTK_RESPONSE_CANCEL, kLayer).answer(d);
                 }},
                {"Open image",
                 [&](GtkDialog* d) {
                   second = chooser_folder_when(GTK_FILE_CHOOSER(d), elsewhere);
                   GtkWidget* radio = find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
                     return GTK_IS_RADIO_BUTTON(w) &&
                            gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(w));
                   });
                   EXPECT_STREQ(gtk_button_get_label(GTK_BUTTON(radio)), kDefault);
                   gtk_dialog_response(d, GTK_RESPONSE_DELETE_EVENT);
                 }}},
               [] {
                 on_open_image(nullptr, toolbar);
                 on_open_image(nullptr, toolbar);
               });
  EXPECT_EQ(first, dir_);
  EXPECT_EQ(second, elsewhere);
  EXPECT_EQ(layer_snapshot(), before);
  EXPECT_EQ(g_list_length(history), 2u);
  EXPECT_EQ(pass_option_args->softness, 0.25);
}

// Default open (and alpha as input of a file without alpha): a new image with an empty layer
// and history, the file's colours in both copies and its alpha (or 255) in the one with alpha.
TEST_F(FilesTest, DefaultOpenStartsAFreshImage) {
  auto blocks = [](int x, int y) -> guint32 {
    return ((x / 8 + y / 8) % 2) ? 0xffc8c8c8u : 0xff282828u;
  };
  const struct {
    const char* name;
    bool alpha;
    const char* type;
    const char* radio;
    bool view;
  } rows[] = {
      {"opaque.png", false, "png", kDefault, false}, {"rgba.png", true, "png", kDefault, false},
      {"rgba2.png", true, "png", kDefault, true},    {"photo.jpg", false, "jpeg", kDefault, false},
      {"plain.png", false, "png", kAlpha, false},    {"plain.jpg", false, "jpeg", kAlpha, false}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    image_with_strokes(20, 12);
    open(write_image(dir_, "seed.png", 10, 10, true, rgba_at), OPEN_ALPHA_AS_INPUT);
    set_view_mode(r.view);
    const std::string path = write_image(dir_, r.name, 32, 24, r.alpha,
                                         r.alpha ? Pixels(rgba_at) : Pixels(blocks), r.type);
    open_with_dialog(path, r.radio);
    expect_new_image(32, 24);
    EXPECT_EQ(initialisinglayer, nullptr);
    EXPECT_EQ(pixbuf_image, r.view ? pixbuf_alpha : pixbuf_no_alpha);
    GdkPixbuf* file = load_image(path);
    EXPECT_TRUE(same_pixels(32, 24, pixels_of(pixbuf_no_alpha), pixels_of(file), 0xffffffu));
    EXPECT_TRUE(same_pixels(32, 24, pixels_of(pixbuf_alpha), pixels_of(file)));
    EXPECT_TRUE(same_pixels(32, 24, view_pixel, [&](int x, int y) {
      guint32 p = pixbuf_pixel(pixbuf_image, x, y), a = p >> 24;
      return a == 255 ? p : a == 0 ? 0u : view_pixel(x, y);  // premultiplied otherwise
    }));
    g_object_unref(file);
    undo(nullptr, nullptr);
    redo(nullptr, nullptr);
    EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 32 * 24) << "nothing of the old strokes";
  }
}

// Alpha as input: opaque pixels become white strokes, transparent ones black strokes, the rest
// stays unknown; the image keeps its alpha; undo returns to these strokes, never to older ones.
TEST_F(FilesTest, AlphaAsInputTurnsTheFilesAlphaIntoStrokes) {
  image_with_strokes(30, 20);
  open_with_dialog(write_image(dir_, "rough.png", 26, 15, true, rgba_at), kAlpha);
  expect_new_image(26, 15);
  auto strokes = [](int x, int y) -> guint32 {
    guint32 a = rgba_at(x, y) >> 24;
    return a == 255 ? 0xffffffffu : a == 0 ? 0xff000000u : 0u;
  };
  EXPECT_TRUE(same_pixels(26, 15, layer_pixel, strokes));
  EXPECT_TRUE(same_pixels(26, 15, pixels_of(pixbuf_alpha), rgba_at));
  EXPECT_TRUE(same_pixels(26, 15, pixels_of(pixbuf_no_alpha), colour_at));
  EXPECT_TRUE(same_pixels(26, 15, view_pixel, [&](int x, int y) {
    return strokes(x, y) != 0 ? strokes(x, y) : colour_at(x, y);
  }));
  click(6);
  drag(1, 5, 20, 5);
  std::vector<guint32> painted = layer_snapshot();
  for (int i = 0; i < 2; ++i) undo(nullptr, nullptr);
  EXPECT_TRUE(same_pixels(26, 15, layer_pixel, strokes));
  for (int i = 0; i < 2; ++i) redo(nullptr, nullptr);
  EXPECT_EQ(layer_snapshot(), painted);
}

// Open as layer keeps the image, its history and options. A file with alpha is painted at the
// corner, clipped; an opaque file marks what differs from the image in the file's grey level.
// Undo replays the history over the new base.
TEST_F(FilesTest, OpenAsLayerReplacesTheLayerOverTheSameImage) {
  auto painted_copy = [](int x, int y) -> guint32 {
    if (x >= 24 || y >= 18) return 0xff102030u;  // beyond the image: must not matter
    if (y >= 2 && y < 6 && x >= 2 && x < 14) return x < 6 ? 0xffffffffu : 0xff000000u;
    if (x >= 2 && x < 6 && y >= 10 && y < 14) return 0xffc86432u;
    return (x >= 16 && x < 19 && y >= 10 && y < 13) ? colour_at(x, y) + 1 : colour_at(x, y);
  };
  const struct {
    int w, h;
    bool alpha;
  } rows[] = {{24, 18, true},  {45, 28, true},  {12, 9, true},
              {24, 18, false}, {40, 30, false}, {12, 11, false}};
  for (const auto& r : rows) {
    SCOPED_TRACE(testing::Message() << r.w << "x" << r.h << (r.alpha ? " RGBA" : " RGB"));
    image_with_strokes(24, 18);
    GdkPixbuf* image = pixbuf_no_alpha;
    open_with_dialog(write_image(dir_, "layer.png", r.w, r.h, r.alpha,
                                 r.alpha ? Pixels(layer_at) : Pixels(painted_copy)),
                     kLayer);
    auto want = [&](int x, int y) -> guint32 {
      if (x >= r.w || y >= r.h) return 0u;
      if (r.alpha) return layer_at(x, y);
      guint32 p = painted_copy(x, y);
      guint32 v = rgb2grey((p >> 16) & 255, (p >> 8) & 255, p & 255);
      return p == colour_at(x, y) ? 0u : 0xff000000u | v << 16 | v << 8 | v;
    };
    EXPECT_EQ(pixbuf_no_alpha, image);
    EXPECT_EQ(g_list_length(history), 2u);
    EXPECT_EQ(pass_option_args->softness, 0.25);
    EXPECT_TRUE(same_pixels(24, 18, layer_pixel, want));
    EXPECT_TRUE(same_pixels(24, 18, view_pixel, [&](int x, int y) {
      return want(x, y) != 0 ? want(x, y) : colour_at(x, y);
    }));
    undo(nullptr, nullptr);  // the base and the first stroke
    EXPECT_EQ(layer_pixel(5, 2), 0xffffffffu);
    EXPECT_TRUE(same_pixels(24, 18, layer_pixel, [&](int x, int y) {
      return y <= 7 && x <= 13 ? layer_pixel(x, y) : want(x, y);
    }));
    undo(nullptr, nullptr);  // the base alone
    EXPECT_TRUE(same_pixels(24, 18, layer_pixel, want));
  }
}

// What the loader refuses, and what the editor cannot use (images wider or taller than a
// surface can be, damaged JPEGs), is reported and changes nothing, in every mode.
TEST_F(FilesTest, AnUnusableFileIsReportedAndChangesNothing) {
  const std::string broken = dir_ + "/broken.png", cut = dir_ + "/cut.jpg";
  ASSERT_TRUE(g_file_set_contents(broken.c_str(), "\x89PNG\r\n\x1a\nnot a picture", -1, nullptr));
  const std::string jpeg =
      file_contents(write_image(dir_, "cut.jpg", 64, 48, false, colour_at, "jpeg"));
  ASSERT_TRUE(g_file_set_contents(cut.c_str(), jpeg.data(), jpeg.size() / 2, nullptr));
  auto loader_says = [](const std::string& path) {
    GError* error = nullptr;
    EXPECT_EQ(gdk_pixbuf_new_from_file(path.c_str(), &error), nullptr);
    std::string text = error != nullptr ? error->message : "";
    g_clear_error(&error);
    return text;
  };
  const struct {
    std::string path, says;
    const char* radio;
  } rows[] = {
      {broken, loader_says(broken), kDefault},
      {dir_ + "/missing.png", loader_says(dir_ + "/missing.png"), kAlpha},
      {write_image(dir_, "wide.png", 40000, 4, false, colour_at),
       "is 40000x4 pixels; at most 32767 in each direction", kLayer},
      {write_image(dir_, "tall.png", 4, 32768, true, rgba_at),
       "is 4x32768 pixels; at most 32767 in each direction", kAlpha},
      {cut, "is damaged or incomplete (Premature end of JPEG file)", kDefault},
      {cut, "is damaged or incomplete", kLayer},
  };
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path + " / " + r.radio);
    open(write_image(dir_, "seed.png", 16, 12, true, rgba_at), OPEN_ALPHA_AS_INPUT);
    drag(2, 2, 9, 2);
    pass_option_args->softness = 0.125;
    x_img_ROI = 1, y_img_ROI = 2, w_img_ROI = 5, h_img_ROI = 6;
    const std::vector<void*> objects = {pixbuf_no_alpha, pixbuf_alpha, initialisinglayer,
                                        surf_layer, history};
    std::vector<guint32> before = layer_snapshot();
    std::string text;
    with_dialogs({choose_file("Open image", r.path, GTK_RESPONSE_ACCEPT, r.radio),
                  answer_reading("Error", &text)},
                 [] { on_open_image(nullptr, toolbar); });
    EXPECT_EQ(text.rfind("File open error: ", 0), 0u) << text;
    EXPECT_NE(text.find(r.says), std::string::npos) << text;
    EXPECT_EQ(objects, (std::vector<void*>{pixbuf_no_alpha, pixbuf_alpha, initialisinglayer,
                                           surf_layer, history}));
    EXPECT_EQ(layer_snapshot(), before);
    EXPECT_EQ(g_list_length(history), 1u);
    EXPECT_EQ(pass_option_args->softness, 0.125);
    EXPECT_EQ(x_img_ROI + y_img_ROI + w_img_ROI + h_img_ROI, 14);
    undo(nullptr, nullptr);  // back to the alpha-derived base of the image that stays
    EXPECT_EQ(layer_pixel(0, 0) ^ layer_pixel(1, 0), 0x00ffffffu);
  }
}

// Strokes kept before a calculation and left behind by a crash are offered when their image is
// opened: Discard deletes the file, closing the question keeps it, Restore brings the strokes
// back as unsaved.
TEST_F(FilesTest, ALeftOverRecoveryFileIsOfferedWhenItsImageIsOpened) {
  const struct {
    gint answer;
    bool restored, left;
  } rows[] = {{GTK_RESPONSE_REJECT, false, false},
              {GTK_RESPONSE_DELETE_EVENT, false, true},
              {GTK_RESPONSE_ACCEPT, true, true}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.answer);
    open_generated(40, 30);
    drag(10, 5, 30, 20);
    std::vector<guint32> painted = layer_snapshot();
    ASSERT_TRUE(write_recovery_file(opened_image_path(), surf_layer));
    gchar* recovery = recovery_file_for(opened_image_path());
    std::string text;
    with_dialogs({choose_file("Open image", opened_image_path()),
                  answer_reading("Restore strokes", &text, r.answer)},
                 [] { on_open_image(nullptr, toolbar); });
    EXPECT_NE(text.find("Restore these strokes?"), std::string::npos) << text;
    EXPECT_EQ(layer_snapshot() == painted, r.restored);
    EXPECT_EQ(count_pixels(layer_snapshot(), 0u) == 40 * 30, !r.restored);
    EXPECT_EQ(layer_has_unsaved_changes(), r.restored);
    EXPECT_EQ(g_file_test(recovery, G_FILE_TEST_EXISTS), r.left);
    g_free(recovery);
  }
  remove_recovery_files();
}

// Edit mode writes the stroke layer (which opens again as the same layer) or, with "Save
// image", the opaque image; view mode the image with its alpha. Saving changes nothing.
TEST_F(FilesTest, SaveWritesTheLayerTheImageOrTheImageWithAlpha) {
  open(write_image(dir_, "photo.png", 40, 30, true, rgba_at));
  drag(4, 4, 30, 4);
  click(6);
  drag(4, 20, 30, 20);
  set_colour(0, 0, 65535);
  drag(35, 2, 35, 27);
  click(7);
  drag(16, 0, 16, 29);
  const std::vector<guint32> layer = layer_snapshot();
  const std::string out = fresh_dir("out");
  save_as(out + "/strokes.png", GTK_RESPONSE_ACCEPT);
  save_as(out + "/picture", kSaveImage);
  set_view_mode(true);
  clean_edges_wanted = false;
  save_as(out + "/matte.jpg", GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(files_in(out), (std::set<std::string>{"strokes.png", "picture.png", "matte.png"}));
  EXPECT_EQ(layer_snapshot(), layer);
  EXPECT_EQ(in_edit_mode, 0);
  GdkPixbuf* strokes = load_image(out + "/strokes.png");
  GdkPixbuf* picture = load_image(out + "/picture.png");
  GdkPixbuf* matte = load_image(out + "/matte.png");
  ASSERT_TRUE(strokes != nullptr && picture != nullptr && matte != nullptr);
  EXPECT_TRUE(gdk_pixbuf_get_has_alpha(strokes) && gdk_pixbuf_get_has_alpha(matte));
  EXPECT_FALSE(gdk_pixbuf_get_has_alpha(picture));
  EXPECT_TRUE(same_pixels(40, 30, pixels_of(strokes), [&](int x, int y) {
    guint32 l = layer[y * 40 + x];
    return l >> 24 == 0 ? pixbuf_pixel(strokes, x, y) & 0xffffff : l;  // any colour if clear
  }));
  EXPECT_TRUE(same_pixels(40, 30, pixels_of(picture), colour_at));
  EXPECT_TRUE(same_pixels(40, 30, pixels_of(matte), rgba_at));
  // The saved layer opens as the same layer over the image opened afresh.
  set_view_mode(false);
  open(dir_ + "/photo.png");
  open_with_dialog(out + "/strokes.png", kLayer);
  EXPECT_EQ(layer_snapshot(), layer);
  for (GdkPixbuf* p : {strokes, picture, matte}) g_object_unref(p);
}

// The file written is the chosen name with its extension (of its last component, not a leading
// dot) replaced by ".png"; an existing file of that name is asked about first.
TEST_F(FilesTest, TheWrittenNameEndsInPngAndReplacingItIsAsked) {
  open_generated(10, 10);
  drag(1, 1, 8, 8);
  const std::string out = fresh_dir("names");
  g_mkdir(((out + "/my.pictures").c_str()), 0700);
  const std::pair<std::string, std::string> rows[] = {
      {"photo.jpg", "photo.png"},
      {"result", "result.png"},
      {"result2.png", "result2.png"},
      {"archive.tar.gz", "archive.tar.png"},
      {".hidden", ".hidden.png"},
      {"my.pictures/layer", "my.pictures/layer.png"},
      {"my.pictures/image", "my.pictures/image.png"}};
  for (const auto& r : rows) save_as(out + "/" + r.first, kSaveImage);
  EXPECT_EQ(files_in(out),
            (std::set<std::string>{"photo.png", "result.png", "result2.png", "archive.tar.png",
                                   ".hidden.png", "my.pictures"}));
  EXPECT_EQ(files_in(out + "/my.pictures"), (std::set<std::string>{"layer.png", "image.png"}));

  // photo.jpg writes photo.png: declining returns to the dialog, where another name is chosen.
  const std::string original = file_contents(out + "/photo.png");
  std::string question;
  save({choose_file("Save File", out + "/photo.jpg"),
        answer_reading("Replace file", &question, GTK_RESPONSE_CANCEL),
        choose_file("Save File", out + "/other.jpg")});
  EXPECT_NE(question.find("\"photo.png\""), std::string::npos) << question;
  EXPECT_EQ(file_contents(out + "/photo.png"), original);
  EXPECT_TRUE(files_in(out).count("other.png"));
  save({choose_file("Save File", out + "/photo.jpg"),
        answer_reading("Replace file", nullptr, GTK_RESPONSE_ACCEPT)});
  GdkPixbuf* back = load_image(out + "/photo.png");
  ASSERT_NE(back, nullptr);
  EXPECT_TRUE(gdk_pixbuf_get_has_alpha(back)) << "the layer replaced the image";
  g_object_unref(back);
  // An existing file of the chosen name that is not the one written: nothing to ask.
  ASSERT_TRUE(g_file_set_contents((out + "/fresh.jpg").c_str(), "jpeg", -1, nullptr));
  save_as(out + "/fresh.jpg", GTK_RESPONSE_ACCEPT);
  EXPECT_EQ(file_contents(out + "/fresh.jpg"), "jpeg");
  EXPECT_TRUE(files_in(out).count("fresh.png"));
}

// A failed save names the file in the status bar and keeps what the name held: a missing
// folder, and a disk that fills up while an existing file is replaced (RLIMIT_FSIZE with
// SIGXFSZ ignored: writes past the limit fail), for each of the three saves.
TEST_F(FilesTest, FailedSavesAreReportedAndKeepTheOldFile) {
  open_generated(10, 8);
  drag(1, 1, 8, 1);
  const std::string missing = dir_ + "/no-such-folder", full = fresh_dir("full");
  const struct {
    bool view;
    std::string folder, chosen;
    gint response;
    const char* written;
  } rows[] = {{false, missing, "strokes.png", GTK_RESPONSE_ACCEPT, "strokes.png"},
              {false, missing, "image.jpg", kSaveImage, "image.png"},
              {true, missing, "matte", GTK_RESPONSE_ACCEPT, "matte.png"},
              {false, full, "strokes.png", GTK_RESPONSE_ACCEPT, "strokes.png"},
              {false, full, "image.jpg", kSaveImage, "image.png"},
              {true, full, "matte", GTK_RESPONSE_ACCEPT, "matte.png"}};
  signal(SIGXFSZ, SIG_IGN);
  for (const auto& r : rows) {
    SCOPED_TRACE(r.folder + "/" + r.chosen);
    set_view_mode(r.view);
    const std::string written = r.folder + "/" + r.written;
    if (r.folder == full) {
      ASSERT_TRUE(g_file_set_contents(written.c_str(), "the previous file", -1, nullptr));
      struct rlimit limit;
      ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
      struct rlimit small = {64, limit.rlim_max};  // room for the PNG header, not the pixels
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
      save({choose_file("Save File", r.folder + "/" + r.chosen, r.response),
            answer_reading("Replace file", nullptr, GTK_RESPONSE_ACCEPT)});
      setrlimit(RLIMIT_FSIZE, &limit);
      EXPECT_EQ(file_contents(written), "the previous file");
      EXPECT_EQ(files_in(full), std::set<std::string>{r.written});
      g_remove(written.c_str());
    } else {
      save_as(r.folder + "/" + r.chosen, r.response);
      EXPECT_FALSE(g_file_test(missing.c_str(), G_FILE_TEST_EXISTS));
    }
    const std::string message = status_message(STATUS_MESSAGE);
    EXPECT_EQ(message.rfind("Could not save " + written + ": ", 0), 0u) << message;
  }
}

// The first save proposes the image's name in its folder (with "Save image" in edit mode); a
// cancelled dialog keeps its folder; later saves propose the last name of their kind.
TEST_F(FilesTest, TheSaveDialogProposesNamesAndFolders) {
  open_generated(20, 10);
  drag(1, 1, 10, 1);
  const std::string other = fresh_dir("elsewhere"), layers = fresh_dir("layers");
  std::string name, folder;
  save({{"Save File", [&](GtkDialog* d) {
           name = name_field(d);
           folder = chooser_folder_when(GTK_FILE_CHOOSER(d), dir_);
           GtkWidget* button = gtk_dialog_get_widget_for_response(d, kSaveImage);
           EXPECT_STREQ(button ? gtk_button_get_label(GTK_BUTTON(button)) : "", "Save image");
           gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(d), other.c_str());
           chooser_folder_when(GTK_FILE_CHOOSER(d), other);
           gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
         }}});
  EXPECT_EQ(name + " " + folder, "generated_strokes " + dir_);
  set_view_mode(true);
  save({look(&name, &folder, other)});
  EXPECT_EQ(name + " " + folder, "generated_matte " + other);
  save({{"Save File", [](GtkDialog* d) {
           EXPECT_EQ(gtk_dialog_get_widget_for_response(d, kSaveImage), nullptr);
           gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
         }}});
  save_as(other + "/picture.jpg", GTK_RESPONSE_ACCEPT);
  set_view_mode(false);
  save_as(layers + "/strokes.png", GTK_RESPONSE_ACCEPT);
  save_as(other + "/final.jpg", kSaveImage);  // "Save image" replaces the image name
  save({look(&name, &folder, layers)});
  EXPECT_EQ(name + " " + folder, "strokes " + layers);
  set_view_mode(true);
  save({look(&name, &folder, other)});
  EXPECT_EQ(name + " " + folder, "final " + other);
  EXPECT_EQ(files_in(dir_), std::set<std::string>{"generated.png"});
}

// Red seen through blue along a soft edge: with "Clean edge colours" on (the default) the file
// and the copy have red at the partly transparent pixels and every other byte unchanged, and
// the image keeps its colours; turned off, the box stays off and both are the image. Only
// view-mode saves offer the box.
TEST_F(FilesTest, CleanEdgeColoursInTheFileAndTheCopy) {
  auto edge = [](int x, int) -> guint32 {
    const double a = std::clamp((x - 4) / 16.0, 0.0, 1.0);
    return guint32(std::lround(255 * a)) << 24 | guint32(std::lround(30 + 190 * a)) << 16 |
           40u << 8 | guint32(std::lround(210 - 180 * a));
  };
  open(write_image(dir_, "edge.png", 24, 6, true, edge));
  save({{"Save File", [](GtkDialog* d) {
           EXPECT_EQ(clean_box(d), nullptr);
           gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
         }}});
  set_view_mode(true);
  const std::string out = fresh_dir("clean");
  auto save_clean = [&](const std::string& name, bool on) {
    bool shown = false;
    save({{"Save File", [&](GtkDialog* d) {
             GtkWidget* box = clean_box(d);
             ASSERT_NE(box, nullptr);
             shown = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(box));
             gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(box), on);
             set_chooser_test_filename(GTK_FILE_CHOOSER(d), (out + "/" + name).c_str());
             accept_file_dialog(d);
           }}});
    return shown;
  };
  auto cleaned = [&](GdkPixbuf* p, bool clean) {
    EXPECT_TRUE(same_pixels(
        24, 1, [p](int x, int) { return pixbuf_pixel(p, x, 3); },
        [&](int x, int) {
          guint32 a = edge(x, 3) >> 24;
          if (!clean || a % 255 == 0) return edge(x, 3);
          guint32 got = pixbuf_pixel(p, x, 3), red = a << 24 | 0xdc281eu;
          bool near = got >> 24 == a;  // and within 4 of (220, 40, 30)
          for (int s : {0, 8, 16}) near &= std::abs(int(got >> s & 255) - int(red >> s & 255)) <= 4;
          return near ? got : red;
        }));
    g_object_unref(p);
  };
  EXPECT_TRUE(save_clean("clean.png", true));
  cleaned(load_image(out + "/clean.png"), true);
  cleaned(copy_and_read(), true);
  EXPECT_TRUE(same_pixels(24, 6, pixels_of(pixbuf_alpha), edge));
  EXPECT_TRUE(save_clean("plain.png", false));
  cleaned(load_image(out + "/plain.png"), false);
  cleaned(copy_and_read(), false);
  EXPECT_FALSE(save_clean("again.png", true)) << "the choice is remembered";
}

// Copy puts the image on show, cut to the region, on the clipboard: the whole image without a
// region (or with one left from an image of another size), a dragged region clamped to the
// image; the copy keeps its pixels when the image changes later.
TEST_F(FilesTest, CopyPutsTheRegionOfTheImageOnShowOnTheClipboard) {
  clean_edges_wanted = false;
  auto rgba = [](int x, int y) {
    return (guint32((x * 20 + y) % 256) << 24) | (colour_at(x, y) & 0xffffffu);
  };
  auto copied = [](GdkPixbuf* source, int x0, int y0, int w, int h) {
    GdkPixbuf* copy = copy_and_read();
    ASSERT_NE(copy, nullptr) << "nothing on the clipboard";
    EXPECT_EQ(gdk_pixbuf_get_width(copy) * 1000 + gdk_pixbuf_get_height(copy), w * 1000 + h);
    EXPECT_EQ(gdk_pixbuf_get_has_alpha(copy), gdk_pixbuf_get_has_alpha(source));
    EXPECT_TRUE(same_pixels(w, h, pixels_of(copy), [=](int x, int y) {
      guint32 p = pixbuf_pixel(source, x + x0, y + y0);
      return p >> 24 == 0 ? pixbuf_pixel(copy, x, y) & 0xffffff : p;  // any colour if clear
    }));
    g_object_unref(copy);
  };
  open(write_image(dir_, "cutout.png", 30, 20, true, rgba));
  drag(2, 2, 25, 2);  // strokes are not copied
  copied(pixbuf_no_alpha, 0, 0, 30, 20);
  select_region(5, 4, 14, 11, false, true);
  copied(pixbuf_alpha, 5, 4, 10, 8);
  set_view_mode(false);
  copied(pixbuf_no_alpha, 5, 4, 10, 8);
  select_region(20, 10, 45, 30, false, true);
  copied(pixbuf_alpha, 20, 10, 10, 10);
  open_generated(25, 15);
  copied(pixbuf_alpha, 0, 0, 25, 15);
  GdkPixbuf* before = gdk_pixbuf_copy(pixbuf_alpha);
  gdk_pixbuf_fill(pixbuf_alpha, 0);  // as a new matte does, in place
  GdkPixbuf* still = gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  ASSERT_NE(still, nullptr);
  EXPECT_TRUE(same_pixels(25, 15, pixels_of(still), pixels_of(before)));
  g_object_unref(still);
  g_object_unref(before);
}

}  // namespace
