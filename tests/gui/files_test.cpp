// Files: the Open dialog and its three modes, refused files; the Save dialog with what it
// writes, the names, the overwrite question, safe failures and clean edge colours.
#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>
#include <sys/resource.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <set>
#include <string>
#include <vector>

#include "matting/imgutil.h"
#include "tests/gui/gui_harness.h"

namespace {

const char kAlpha[] = "Open with alpha as input", kLayer[] = "Open as layer";
const gint kSaveImage = 2;

guint32 colour_at(int x, int y) {
  return 0xff000000u | (guint32(x * 9 % 256) << 16) | (guint32(y * 11 % 256) << 8) | 60u;
}
guint32 rgba_at(int x, int y) {  // alpha by column: 255, 0, 1, 254, 128, repeating
  static const guint32 cycle[] = {255, 0, 1, 254, 128};
  return (cycle[x % 5] << 24) | (colour_at(x, y) & 0xffffffu);
}

std::set<std::string> files_in(const std::string& dir) {
  std::set<std::string> names;
  if (GDir* d = g_dir_open(dir.c_str(), 0, nullptr)) {
    while (const gchar* n = g_dir_read_name(d)) names.insert(n);
    g_dir_close(d);
  }
  return names;
}

GtkWidget* clean_box(GtkDialog* d) {  // "Clean edge colours", or null
  return find_widget(GTK_WIDGET(d), [](GtkWidget* w) {
    return GTK_IS_CHECK_BUTTON(w) &&
           g_strcmp0(gtk_button_get_label(GTK_BUTTON(w)), "Clean edge colours") == 0;
  });
}

class FilesTest : public EditorTest {
 public:
  void open_with_dialog(const std::string& path, const char* radio = nullptr) {
    with_dialogs({choose_file("Open image", path, GTK_RESPONSE_ACCEPT, radio)},
                 [] { on_open_image(nullptr, ed); });
  }
  void save(Steps steps) {
    with_dialogs(std::move(steps), [] { on_save_as(nullptr, ed); });
  }
  void save_as(const std::string& path, gint response = GTK_RESPONSE_ACCEPT) {
    save({choose_file("Save File", path, response)});
  }
};

// Default open (and alpha as input of a file without alpha) makes a new image with an empty
// layer, the file's colours in both copies and its alpha (or 255) in the one with alpha. Alpha
// as input turns fully opaque pixels into white strokes and transparent ones into black
// strokes, the rest unknown. Either way the old image's history and options are gone.
TEST_F(FilesTest, OpeningAnImageStartsAFreshOne) {
  auto blocks = [](int x, int y) { return ((x / 8 + y / 8) % 2) ? 0xffc8c8c8u : 0xff282828u; };
  const struct {
    const char* name;
    bool alpha, view;
    const char* radio;
  } rows[] = {{"opaque.png", false, false, nullptr},
              {"rgba.png", true, true, nullptr},
              {"photo.jpg", false, false, nullptr},
              {"plain.jpg", false, false, kAlpha},
              {"rough.png", true, false, kAlpha}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.name);
    set_view_mode(false);
    open(write_image(dir_, "seed.png", 10, 10, true, rgba_at), OPEN_ALPHA_AS_INPUT);
    drag(1, 1, 6, 6);
    ed->calc.pass_option_args->options.softness = 0.25;
    set_view_mode(r.view);
    const std::string path =
        write_image(dir_, r.name, 32, 24, r.alpha, r.alpha ? Pixels(rgba_at) : Pixels(blocks),
                    g_str_has_suffix(r.name, "jpg") ? "jpeg" : "png");
    open_with_dialog(path, r.radio);
    EXPECT_EQ(std::vector<int>({gdk_pixbuf_get_width(ed->doc().pixbuf_alpha),
                                gdk_pixbuf_get_height(ed->doc().pixbuf_no_alpha),
                                gdk_pixbuf_get_n_channels(ed->doc().pixbuf_no_alpha),
                                cairo_image_surface_get_width(ed->strokes.surf_layer),
                                cairo_image_surface_get_height(ed->view.win_surf),
                                ed->calc.pass_option_args->img_width,
                                ed->calc.pass_option_args->img_height}),
              (std::vector<int>{32, 24, 3, 32, 24, 32, 24}));
    EXPECT_EQ(
        std::vector<double>({ed->view.left_x, ed->view.top_y, ed->view.selection_w,
                             ed->view.selection_h, ed->calc.pass_option_args->options.softness}),
        (std::vector<double>{0, 0, 31, 23, 1e-7}));
    auto strokes = [&](int x, int y) -> guint32 {
      guint32 a = rgba_at(x, y) >> 24;
      return !r.alpha || !r.radio ? 0u : a == 255 ? 0xffffffffu : a == 0 ? 0xff000000u : 0u;
    };
    EXPECT_EQ(ed->strokes.initialisinglayer != nullptr, r.alpha && r.radio);
    GdkPixbuf* file = load_image(path);
    EXPECT_TRUE(
        same_pixels(32, 24, pixels_of(ed->doc().pixbuf_no_alpha), pixels_of(file), 0xffffffu));
    EXPECT_TRUE(same_pixels(32, 24, pixels_of(ed->doc().pixbuf_alpha), pixels_of(file)));
    EXPECT_EQ(ed->view.pixbuf_image, r.view ? ed->doc().pixbuf_alpha : ed->doc().pixbuf_no_alpha);
    const guint32 shown =
        strokes(1, 0) != 0 ? strokes(1, 0) : pixbuf_pixel(ed->doc().pixbuf_no_alpha, 1, 0);
    EXPECT_EQ(view_pixel(1, 0), r.view ? 0u : shown) << "alpha 0 there";
    g_object_unref(file);
    undo(nullptr, ed);
    redo(nullptr, ed);
    EXPECT_TRUE(same_pixels(32, 24, layer_pixel, strokes)) << "nothing of the old strokes";
  }
}

// Open as layer keeps the image, its history and options. A file with alpha is painted at the
// corner, clipped; an opaque file marks what differs from the image in the file's grey level.
// Undo replays the history over this new base.
TEST_F(FilesTest, OpenAsLayerReplacesTheLayerOverTheSameImage) {
  auto layer_at = [](int x, int y) {  // white and black strokes in bands
    return y % 4 == 3 ? 0u : x % 6 < 3 ? 0xffffffffu : 0xff000000u;
  };
  auto copy = [](int x, int y) -> guint32 {      // the image, painted on
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
    open(write_image(dir_, "image.png", 24, 18, false, colour_at));
    drag(2, 2, 8, 2);  // two strokes, and options that are not the defaults
    drag(3, 6, 3, 9);
    ed->calc.pass_option_args->options.softness = 0.25;
    GdkPixbuf* image = ed->doc().pixbuf_no_alpha;
    open_with_dialog(
        write_image(dir_, "layer.png", r.w, r.h, r.alpha, r.alpha ? Pixels(layer_at) : copy),
        kLayer);
    auto want = [&](int x, int y) -> guint32 {
      guint32 p = copy(x, y), v = rgb2grey((p >> 16) & 255, (p >> 8) & 255, p & 255);
      if (x >= r.w || y >= r.h) return 0u;
      if (r.alpha) return layer_at(x, y);
      return p == colour_at(x, y) ? 0u : 0xff000000u | v << 16 | v << 8 | v;
    };
    EXPECT_EQ(ed->doc().pixbuf_no_alpha, image);
    EXPECT_EQ(g_list_length(ed->strokes.history), 2u);
    EXPECT_EQ(ed->calc.pass_option_args->options.softness, 0.25);
    EXPECT_TRUE(same_pixels(24, 18, layer_pixel, want));
    EXPECT_TRUE(same_pixels(24, 18, view_pixel, [&](int x, int y) {
      return want(x, y) != 0 ? want(x, y) : colour_at(x, y);
    }));
    undo(nullptr, ed);
    EXPECT_EQ(layer_pixel(5, 2), 0xffffffffu) << "the first stroke, over the base";
    undo(nullptr, ed);
    EXPECT_TRUE(same_pixels(24, 18, layer_pixel, want)) << "the base alone";
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
  } rows[] = {{broken, loader_says(broken), kAlpha},
              {write_image(dir_, "wide.png", 40000, 4, false, colour_at),
               "is 40000x4 pixels; at most 32767 in each direction", kLayer},
              {write_image(dir_, "tall.png", 4, 32768, true, rgba_at),
               "is 4x32768 pixels; at most 32767 in each direction", kAlpha},
              {cut, "is damaged or incomplete (Premature end of JPEG file)", kLayer}};
  for (const auto& r : rows) {
    SCOPED_TRACE(r.path);
    open(write_image(dir_, "seed.png", 16, 12, true, rgba_at), OPEN_ALPHA_AS_INPUT);
    drag(2, 2, 9, 2);
    ed->calc.pass_option_args->options.softness = 0.125;
    Document* doc = document_to_change(ed);
    doc->x_img_ROI = 1, doc->y_img_ROI = 2, doc->w_img_ROI = 5, doc->h_img_ROI = 6;
    auto state = [] {
      return std::vector<void*>{
          ed->doc().pixbuf_no_alpha,
          ed->doc().pixbuf_alpha,
          ed->strokes.initialisinglayer,
          ed->strokes.surf_layer,
          ed->strokes.history,
          GINT_TO_POINTER(ed->doc().x_img_ROI + ed->doc().y_img_ROI + ed->doc().w_img_ROI)};
    };
    const std::vector<void*> before = state();
    const std::vector<guint32> layer = layer_snapshot();
    std::string text;
    with_dialogs({choose_file("Open image", r.path, GTK_RESPONSE_ACCEPT, r.radio),
                  answer_reading("Error", &text)},
                 [] { on_open_image(nullptr, ed); });
    EXPECT_EQ(text.rfind("File open error: ", 0), 0u) << text;
    EXPECT_NE(text.find(r.says), std::string::npos) << text;
    EXPECT_EQ(state(), before);
    EXPECT_EQ(layer_snapshot(), layer);
    EXPECT_EQ(ed->calc.pass_option_args->options.softness, 0.125);
    undo(nullptr, ed);  // back to the alpha-derived base of the image that stays
    EXPECT_EQ(layer_pixel(0, 0) ^ layer_pixel(1, 0), 0x00ffffffu);
  }
}

// The file written is the chosen name with its extension (of its last component, not a leading
// dot) replaced by ".png"; an existing file of that name is asked about first.
TEST_F(FilesTest, TheWrittenNameEndsInPngAndReplacingItIsAsked) {
  open_generated(10, 10);
  drag(1, 1, 8, 8);
  const std::string out = fresh_dir("names");
  g_mkdir((out + "/my.pictures").c_str(), 0700);
  for (const char* chosen : {"photo.jpg", "result", "result2.png", "archive.tar.gz", ".hidden",
                             "my.pictures/layer", "my.pictures/image"})
    save_as(out + "/" + chosen, kSaveImage);
  EXPECT_EQ(files_in(out),
            (std::set<std::string>{"photo.png", "result.png", "result2.png", "archive.tar.png",
                                   ".hidden.png", "my.pictures"}));
  EXPECT_EQ(files_in(out + "/my.pictures"), (std::set<std::string>{"layer.png", "image.png"}));
  GdkPixbuf* image = load_image(out + "/result.png");  // "Save image": the opaque image
  ASSERT_NE(image, nullptr);
  EXPECT_TRUE(same_pixels(10, 10, pixels_of(image), pixels_of(ed->doc().pixbuf_no_alpha)));
  EXPECT_FALSE(gdk_pixbuf_get_has_alpha(image));
  g_object_unref(image);
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
  const std::vector<guint32> layer = layer_snapshot();  // written as photo.png now
  open(dir_ + "/generated.png");
  open(out + "/photo.png", OPEN_AS_LAYER);
  EXPECT_EQ(layer_snapshot(), layer) << "a saved layer opens as the same layer";
  // An existing file of the chosen name that is not the one written: nothing to ask.
  ASSERT_TRUE(g_file_set_contents((out + "/fresh.jpg").c_str(), "jpeg", -1, nullptr));
  save_as(out + "/fresh.jpg");
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
              {false, full, "strokes.png", GTK_RESPONSE_ACCEPT, "strokes.png"},
              {false, full, "image.jpg", kSaveImage, "image.png"},
              {true, full, "matte", GTK_RESPONSE_ACCEPT, "matte.png"}};
  signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit, small;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &limit), 0);
  small = {64, limit.rlim_max};  // room for the PNG header, not the pixels
  for (const auto& r : rows) {
    SCOPED_TRACE(r.folder + "/" + r.chosen);
    set_view_mode(r.view);
    const std::string written = r.folder + "/" + r.written;
    Steps steps = {choose_file("Save File", r.folder + "/" + r.chosen, r.response)};
    if (r.folder == full) {
      ASSERT_TRUE(g_file_set_contents(written.c_str(), "the previous file", -1, nullptr));
      steps.push_back(answer_reading("Replace file", nullptr, GTK_RESPONSE_ACCEPT));
      ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    }
    save(steps);
    setrlimit(RLIMIT_FSIZE, &limit);
    EXPECT_EQ(files_in(r.folder),
              r.folder == full ? std::set<std::string>{r.written} : std::set<std::string>{});
    EXPECT_EQ(file_contents(written), r.folder == full ? "the previous file" : "");
    g_remove(written.c_str());
    const std::string message = status_message();
    EXPECT_EQ(message.rfind("Could not save " + written + ": ", 0), 0u) << message;
  }
}

// Red seen through blue along a soft edge: a fresh editor saves and copies the image as it is
// ("Clean edge colours" unticked at start); ticked, the file and the copy have red at the
// partly transparent pixels and every other byte unchanged, and the image keeps its colours;
// the box keeps the choice, and turned off again both are the image.
TEST_F(FilesTest, CleanEdgeColoursInTheFileAndTheCopy) {
  auto edge = [](int x, int) -> guint32 {
    const double a = std::clamp((x - 4) / 16.0, 0.0, 1.0);
    return guint32(std::lround(255 * a)) << 24 | guint32(std::lround(30 + 190 * a)) << 16 |
           40u << 8 | guint32(std::lround(210 - 180 * a));
  };
  open(write_image(dir_, "edge.png", 24, 6, true, edge));
  set_view_mode(true);
  const std::string out = fresh_dir("clean");
  auto save_clean = [&](const std::string& name, bool on) {
    bool shown = false;
    save({{"Save File", [&](GtkDialog* d) {
             shown = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(clean_box(d)));
             gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(clean_box(d)), on);
             choose_file("", out + "/" + name).answer(d);
           }}});
    return shown;
  };
  auto cleaned = [&](GdkPixbuf* p, bool clean) {
    ASSERT_NE(p, nullptr);
    EXPECT_TRUE(same_pixels(24, 6, pixels_of(p), [&](int x, int y) {
      guint32 a = edge(x, y) >> 24, got = pixbuf_pixel(p, x, y), red = a << 24 | 0xdc281eu;
      if (!clean || a % 255 == 0) return edge(x, y);
      bool near = got >> 24 == a;  // and within 4 of (220, 40, 30)
      for (int s : {0, 8, 16}) near &= std::abs(int(got >> s & 255) - int(red >> s & 255)) <= 4;
      return near ? got : red;
    }));
    g_object_unref(p);
  };
  auto copy = [this] {
    gtk_clipboard_clear(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
    ctrl(GDK_c);
    return gtk_clipboard_wait_for_image(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD));
  };
  cleaned(copy(), false);
  EXPECT_FALSE(save_clean("plain.png", false)) << "unticked at start";
  cleaned(load_image(out + "/plain.png"), false);
  EXPECT_FALSE(save_clean("clean.png", true));
  cleaned(load_image(out + "/clean.png"), true);
  cleaned(copy(), true);
  EXPECT_TRUE(same_pixels(24, 6, pixels_of(ed->doc().pixbuf_alpha), edge));
  EXPECT_TRUE(save_clean("again.png", false)) << "the choice is remembered";
  cleaned(load_image(out + "/again.png"), false);
  cleaned(copy(), false);
}

}  // namespace
