// Opening images through the Open dialog: the three modes with PNG and JPEG files, with and
// without alpha, of the image's size and of other sizes; unreadable files; cancelling.
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "gui/brush.h"
#include "gui/gtk_calc.h"
#include "gui/gtk_file_IO.h"
#include "gui/gtkquillane.h"
#include "gui/history.h"
#include "gui/quillane_opts.h"
#include "gui/view.h"
#include "matting/imgutil.h"
#include "tests/gui/dialog_script.h"
#include "tests/gui/gui_harness.h"

namespace {

const char kDefault[] = "Default open";
const char kAlpha[] = "Open with alpha as input";
const char kLayer[] = "Open as layer";

guint32 colour_at(int x, int y) {
  return 0xff000000u | (guint32(x * 9 % 256) << 16) | (guint32(y * 11 % 256) << 8) | 60u;
}

// Alpha by column: 255, 0, 1, 254, 128, repeating.
guchar alpha_at(int x) {
  static const guchar cycle[] = {255, 0, 1, 254, 128};
  return cycle[x % 5];
}

guint32 rgba_at(int x, int y) {
  return (guint32(alpha_at(x)) << 24) | (colour_at(x, y) & 0xffffffu);
}

// The layer word a stroke layer holds for a pixel of the alpha-as-input mapping.
guint32 stroke_for_alpha(guchar a) {
  if (a == 255) return 0xffffffffu;
  if (a == 0) return 0xff000000u;
  return 0u;
}

int list_length(GList* l) {
  return static_cast<int>(g_list_length(l));
}

class OpenTest : public EditorTest {
 protected:
  // Runs the Open command, choosing path with the radio button radio, and settles.
  void open_with_dialog(const std::string& path, const char* radio) {
    DialogScript script({choose_file("Open image", path, GTK_RESPONSE_ACCEPT, radio)});
    on_open_image(nullptr, toolbar);
    settle();
    EXPECT_TRUE(script.finished()) << "the Open dialog did not appear";
    EXPECT_TRUE(script.stray().empty()) << "unexpected dialog " << script.stray().front();
  }

  // An opened image with two strokes in the history and non-default options.
  void image_with_strokes(int w, int h) {
    open(write_image(dir_, "before.png", w, h, false, colour_at));
    drag(2, 2, 8, 2);
    drag(3, 6, 3, 9);
    pass_option_args->softness = 0.25;
    pass_option_args->window_radius = 2;
  }

  void expect_default_options(int w, int h) {
    OptionArgs defaults;
    opts_set_default(&defaults);
    EXPECT_EQ(pass_option_args->levels_num, defaults.levels_num);
    EXPECT_EQ(pass_option_args->active_levels_num, defaults.active_levels_num);
    EXPECT_DOUBLE_EQ(pass_option_args->softness, defaults.softness);
    EXPECT_DOUBLE_EQ(pass_option_args->threshold, defaults.threshold);
    EXPECT_EQ(pass_option_args->window_radius, defaults.window_radius);
    EXPECT_EQ(pass_option_args->img_width, w);
    EXPECT_EQ(pass_option_args->img_height, h);
  }

  void expect_new_image_state(int w, int h) {
    ASSERT_EQ(gdk_pixbuf_get_width(pixbuf_no_alpha), w);
    ASSERT_EQ(gdk_pixbuf_get_height(pixbuf_no_alpha), h);
    ASSERT_EQ(gdk_pixbuf_get_width(pixbuf_alpha), w);
    ASSERT_EQ(gdk_pixbuf_get_height(pixbuf_alpha), h);
    EXPECT_EQ(gdk_pixbuf_get_n_channels(pixbuf_no_alpha), 3);
    EXPECT_EQ(gdk_pixbuf_get_n_channels(pixbuf_alpha), 4);
    EXPECT_EQ(cairo_image_surface_get_width(surf_layer), w);
    EXPECT_EQ(cairo_image_surface_get_height(surf_layer), h);
    EXPECT_EQ(cairo_image_surface_get_width(win_surf), static_cast<int>(w * scale));
    EXPECT_EQ(cairo_image_surface_get_height(win_surf), static_cast<int>(h * scale));
    EXPECT_EQ(history, nullptr);
    EXPECT_EQ(current, nullptr);
    EXPECT_DOUBLE_EQ(left_x, 0);
    EXPECT_DOUBLE_EQ(top_y, 0);
    EXPECT_DOUBLE_EQ(selection_w, (w - 1) * scale);
    EXPECT_DOUBLE_EQ(selection_h, (h - 1) * scale);
    expect_default_options(w, h);
  }
};

// Kept first: the Open dialog remembers its folder for the life of the program.
TEST_F(OpenTest, TheFirstOpenStartsInTheFolderOfTheImageOnShow) {
  std::string pictures = fresh_dir("pictures");
  open(write_image(pictures, "shown.png", 12, 9, false, colour_at));
  std::string folder;
  DialogScript script({{"Open image", [&](GtkDialog* d) {
                          folder = chooser_folder_when(GTK_FILE_CHOOSER(d), pictures);
                          gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
                        }}});
  on_open_image(nullptr, toolbar);
  settle();
  EXPECT_TRUE(script.finished());
  EXPECT_EQ(folder, pictures);
  EXPECT_EQ(gdk_pixbuf_get_width(pixbuf_no_alpha), 12);
}

TEST_F(OpenTest, DefaultOpenOfOpaquePngStartsAFreshImage) {
  image_with_strokes(20, 12);
  std::string path = write_image(dir_, "opaque.png", 33, 21, false, colour_at);
  open_with_dialog(path, kDefault);

  expect_new_image_state(33, 21);
  EXPECT_EQ(pixbuf_image, pixbuf_no_alpha);
  EXPECT_EQ(initialisinglayer, nullptr);
  for (int y = 0; y < 21; ++y)
    for (int x = 0; x < 33; ++x) {
      ASSERT_EQ(pixbuf_pixel(pixbuf_no_alpha, x, y), colour_at(x, y)) << x << "," << y;
      ASSERT_EQ(pixbuf_pixel(pixbuf_alpha, x, y), colour_at(x, y)) << x << "," << y;
      ASSERT_EQ(layer_pixel(x, y), 0u) << x << "," << y;
    }
  // The view shows the new image; undo and redo find nothing of the old strokes.
  EXPECT_EQ(view_pixel(5, 2), colour_at(5, 2));
  undo(nullptr, nullptr);
  redo(nullptr, nullptr);
  settle();
  EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 33 * 21);
  EXPECT_EQ(view_pixel(5, 2), colour_at(5, 2));
}

TEST_F(OpenTest, DefaultOpenOfPngWithAlphaKeepsItsAlphaForViewMode) {
  image_with_strokes(10, 10);
  std::string path = write_image(dir_, "rgba.png", 25, 14, true, rgba_at);
  open_with_dialog(path, kDefault);

  expect_new_image_state(25, 14);
  EXPECT_EQ(initialisinglayer, nullptr);
  for (int y = 0; y < 14; ++y)
    for (int x = 0; x < 25; ++x) {
      ASSERT_EQ(pixbuf_pixel(pixbuf_alpha, x, y), rgba_at(x, y)) << x << "," << y;
      ASSERT_EQ(pixbuf_pixel(pixbuf_no_alpha, x, y), colour_at(x, y)) << x << "," << y;
      ASSERT_EQ(layer_pixel(x, y), 0u);
    }
  // The edit view is opaque; view mode shows the file's own transparency.
  EXPECT_EQ(view_pixel(1, 3), colour_at(1, 3));
  gtk_toggle_tool_button_set_active(GTK_TOGGLE_TOOL_BUTTON(toolbar_item(toolbar, 0)), TRUE);
  settle();
  EXPECT_EQ(view_pixel(1, 3) >> 24, 0u);
  EXPECT_EQ(view_pixel(0, 3), colour_at(0, 3));

  // Opening in view mode shows the image with alpha at once.
  open_with_dialog(path, kDefault);
  EXPECT_EQ(in_edit_mode, 0);
  EXPECT_EQ(pixbuf_image, pixbuf_alpha);
  EXPECT_EQ(view_pixel(1, 3) >> 24, 0u);
}

TEST_F(OpenTest, DefaultOpenOfJpegIsAnOpaqueImage) {
  image_with_strokes(12, 12);
  // Flat 8 x 8 grey blocks survive JPEG compression unchanged or nearly so.
  auto blocks = [](int x, int y) -> guint32 {
    guint32 v = ((x / 8 + y / 8) % 2) ? 200u : 40u;
    return 0xff000000u | (v << 16) | (v << 8) | v;
  };
  std::string path = write_image(dir_, "photo.jpg", 32, 24, false, blocks, "jpeg");
  open_with_dialog(path, kDefault);

  expect_new_image_state(32, 24);
  for (int y = 0; y < 24; ++y)
    for (int x = 0; x < 32; ++x) {
      guint32 p = pixbuf_pixel(pixbuf_alpha, x, y);
      ASSERT_EQ(p >> 24, 255u);
      ASSERT_NEAR(int(p & 255), int(blocks(x, y) & 255), 4) << x << "," << y;
      ASSERT_EQ(p, pixbuf_pixel(pixbuf_no_alpha, x, y));
    }
}

TEST_F(OpenTest, AlphaAsInputTurnsTheFilesAlphaIntoStrokes) {
  image_with_strokes(30, 20);
  std::string path = write_image(dir_, "rough-matte.png", 26, 15, true, rgba_at);
  open_with_dialog(path, kAlpha);

  expect_new_image_state(26, 15);
  ASSERT_NE(initialisinglayer, nullptr);
  EXPECT_EQ(gdk_pixbuf_get_width(initialisinglayer), 26);
  EXPECT_EQ(gdk_pixbuf_get_height(initialisinglayer), 15);
  EXPECT_EQ(pixbuf_image, pixbuf_no_alpha);
  for (int y = 0; y < 15; ++y)
    for (int x = 0; x < 26; ++x) {
      guchar a = alpha_at(x);
      ASSERT_EQ(layer_pixel(x, y), stroke_for_alpha(a)) << x << "," << y;
      guint32 base = a == 255 ? 0xffffffffu : a == 0 ? 0xff000000u : 0u;
      ASSERT_EQ(pixbuf_pixel(initialisinglayer, x, y), base) << x << "," << y;
      ASSERT_EQ(pixbuf_pixel(pixbuf_alpha, x, y), rgba_at(x, y)) << x << "," << y;
      ASSERT_EQ(pixbuf_pixel(pixbuf_no_alpha, x, y), colour_at(x, y)) << x << "," << y;
    }
  // The view shows the strokes over the opaque image, the unknown pixels show the image.
  EXPECT_EQ(view_pixel(0, 4), 0xffffffffu);
  EXPECT_EQ(view_pixel(1, 4), 0xff000000u);
  EXPECT_EQ(view_pixel(2, 4), colour_at(2, 4));

  // The strokes of the previous image are gone: undo keeps the alpha-derived layer and redo
  // has nothing to bring back.
  std::vector<guint32> derived = layer_snapshot();
  undo(nullptr, nullptr);
  redo(nullptr, nullptr);
  settle();
  EXPECT_EQ(layer_snapshot(), derived);
}

TEST_F(OpenTest, AlphaAsInputOfAFileWithoutAlphaIsADefaultOpen) {
  auto grey = [](int x, int y) -> guint32 {
    guint32 v = ((x / 8 + y / 8) % 2) ? 220u : 30u;
    return 0xff000000u | (v << 16) | (v << 8) | v;
  };
  for (const char* type : {"png", "jpeg"}) {
    SCOPED_TRACE(type);
    // Start from an alpha-as-input image, so that there is a base layer to drop.
    open(write_image(dir_, "seed.png", 10, 10, true, rgba_at), OPEN_ALPHA_AS_INPUT);
    drag(1, 1, 6, 6);
    ASSERT_NE(initialisinglayer, nullptr);
    std::string path = write_image(dir_, std::string("plain.") + type, 24, 16, false, grey, type);
    open_with_dialog(path, kAlpha);

    expect_new_image_state(24, 16);
    EXPECT_EQ(initialisinglayer, nullptr);
    EXPECT_EQ(count_pixels(layer_snapshot(), 0u), 24 * 16);
    for (int y = 0; y < 16; y += 3)
      for (int x = 0; x < 24; x += 3) {
        ASSERT_EQ(pixbuf_pixel(pixbuf_alpha, x, y) >> 24, 255u);
        ASSERT_NEAR(int(pixbuf_pixel(pixbuf_alpha, x, y) & 255), int(grey(x, y) & 255), 4);
      }
  }
}

TEST_F(OpenTest, OpenAsLayerWithAlphaPaintsTheFileAtTheCornerOfTheImage) {
  // A layer file: white strokes in the left half of each band, black on the right, the
  // rest transparent.
  auto layer_file = [](int x, int y) -> guint32 {
    if (y % 4 == 3) return 0u;
    return x % 6 < 3 ? 0xffffffffu : 0xff000000u;
  };
  struct Case {
    int w, h;
  };
  for (Case c : {Case{30, 20}, Case{45, 28}, Case{12, 9}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    image_with_strokes(30, 20);
    GdkPixbuf* no_alpha = pixbuf_no_alpha;
    GdkPixbuf* with_alpha = pixbuf_alpha;
    GList* strokes = history;
    std::string path = write_image(dir_, "layer.png", c.w, c.h, true, layer_file);
    open_with_dialog(path, kLayer);

    // The image, its history and its options stay.
    EXPECT_EQ(pixbuf_no_alpha, no_alpha);
    EXPECT_EQ(pixbuf_alpha, with_alpha);
    EXPECT_EQ(pixbuf_pixel(pixbuf_no_alpha, 4, 4), colour_at(4, 4));
    EXPECT_EQ(history, strokes);
    EXPECT_EQ(list_length(history), 2);
    EXPECT_DOUBLE_EQ(pass_option_args->softness, 0.25);
    EXPECT_EQ(pass_option_args->window_radius, 2);
    // The layer keeps the image's size and shows the file where it reaches, nothing beyond.
    ASSERT_EQ(cairo_image_surface_get_width(surf_layer), 30);
    ASSERT_EQ(cairo_image_surface_get_height(surf_layer), 20);
    ASSERT_NE(initialisinglayer, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(initialisinglayer), c.w);
    EXPECT_EQ(gdk_pixbuf_get_height(initialisinglayer), c.h);
    for (int y = 0; y < 20; ++y)
      for (int x = 0; x < 30; ++x) {
        guint32 want = (x < c.w && y < c.h) ? layer_file(x, y) : 0u;
        ASSERT_EQ(layer_pixel(x, y), want) << x << "," << y;
      }
    // The view shows the new layer over the image.
    EXPECT_EQ(view_pixel(0, 0), 0xffffffffu);
    EXPECT_EQ(view_pixel(4, 0), 0xff000000u);
    EXPECT_EQ(view_pixel(0, 3), colour_at(0, 3));
  }
}

TEST_F(OpenTest, OpenAsLayerWithAnOpaqueFileMarksWhatDiffersFromTheImage) {
  // The image, and a copy of it with white, black and coloured paint on it.
  auto painted = [](int x, int y) -> guint32 {
    if (x >= 2 && x < 6 && y >= 2 && y < 6) return 0xffffffffu;
    if (x >= 10 && x < 14 && y >= 2 && y < 6) return 0xff000000u;
    if (x >= 2 && x < 6 && y >= 10 && y < 14) return 0xffc86432u;            // (200, 100, 50)
    if (x >= 16 && x < 19 && y >= 10 && y < 13) return colour_at(x, y) + 1;  // blue only
    return colour_at(x, y);
  };
  const guchar grey = static_cast<guchar>(rgb2grey(200, 100, 50));
  struct Case {
    int w, h;
  };
  for (Case c : {Case{24, 18}, Case{40, 30}, Case{12, 11}}) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    image_with_strokes(24, 18);
    // Beyond the image a larger file differs everywhere; it must not matter.
    auto file = [&painted](int x, int y) -> guint32 {
      return (x >= 24 || y >= 18) ? 0xff102030u : painted(x, y);
    };
    std::string path = write_image(dir_, "painted-copy.png", c.w, c.h, false, file);
    open_with_dialog(path, kLayer);

    int cw = std::min(24, c.w), ch = std::min(18, c.h);
    ASSERT_NE(initialisinglayer, nullptr);
    EXPECT_EQ(gdk_pixbuf_get_width(initialisinglayer), cw);
    EXPECT_EQ(gdk_pixbuf_get_height(initialisinglayer), ch);
    EXPECT_EQ(list_length(history), 2);
    for (int y = 0; y < 18; ++y)
      for (int x = 0; x < 24; ++x) {
        guint32 want = 0u;
        if (x < cw && y < ch && painted(x, y) != colour_at(x, y)) {
          guint32 p = painted(x, y);
          guchar v = static_cast<guchar>(rgb2grey((p >> 16) & 255, (p >> 8) & 255, p & 255));
          want = 0xff000000u | (guint32(v) << 16) | (guint32(v) << 8) | v;
        }
        ASSERT_EQ(layer_pixel(x, y), want) << x << "," << y;
      }
    if (cw > 3 && ch > 11) {
      EXPECT_EQ(layer_pixel(3, 11),
                0xff000000u | (guint32(grey) << 16) | (guint32(grey) << 8) | grey);
    }
  }
}

TEST_F(OpenTest, OpenAsLayerWithAJpegOfTheImageMarksThePaintedBlock) {
  // A flat grey image and a JPEG of it with a white 8 x 8 block: flat blocks decode exactly
  // enough that only the block differs.
  auto flat = [](int, int) -> guint32 { return 0xff808080u; };
  auto with_block = [](int x, int y) -> guint32 {
    return (x >= 8 && x < 16 && y >= 8 && y < 16) ? 0xffffffffu : 0xff808080u;
  };
  open(write_image(dir_, "flat.png", 32, 24, false, flat));
  std::string path = write_image(dir_, "painted.jpg", 32, 24, false, with_block, "jpeg");
  open_with_dialog(path, kLayer);
  EXPECT_EQ(layer_pixel(11, 11), 0xffffffffu);
  EXPECT_EQ(layer_pixel(12, 12), 0xffffffffu);
  EXPECT_EQ(layer_pixel(2, 2), 0u);
  EXPECT_EQ(layer_pixel(28, 20), 0u);
  EXPECT_EQ(pixbuf_pixel(pixbuf_no_alpha, 11, 11), 0xff808080u);
}

// A camera JPEG stores its pixels unturned and says how to turn them in an EXIF
// orientation tag; this writes such a file with orientation 6 (turn 90 degrees clockwise).
std::string write_turned_jpeg(const std::string& dir, const std::string& name, int w, int h,
                              const std::function<guint32(int, int)>& fill) {
  std::string path = write_image(dir, name, w, h, false, fill, "jpeg");
  gchar* data = nullptr;
  gsize len = 0;
  if (!g_file_get_contents(path.c_str(), &data, &len, nullptr)) return path;
  static const unsigned char exif[] = {
      0xFF, 0xE1, 0x00, 0x22, 'E', 'x', 'i', 'f', 0, 0, 'M', 'M', 0, 0x2A, 0, 0, 0, 8,
      0,    1,    0x01, 0x12, 0,   3,   0,   0,   0, 1, 0,   6,   0, 0,    0, 0, 0, 0};
  std::string bytes(data, 2);  // SOI, then the EXIF segment, then the rest
  bytes.append(reinterpret_cast<const char*>(exif), sizeof exif);
  bytes.append(data + 2, len - 2);
  g_free(data);
  g_file_set_contents(path.c_str(), bytes.data(), bytes.size(), nullptr);
  return path;
}

TEST_F(OpenTest, AJpegCopyOfATurnedCameraPhotoOpensAsLayerTheWayTheImageIsShown) {
  // Stored 16 x 8: two flat blocks; shown turned, 8 x 16, the right block at the bottom.
  auto photo = [](int x, int) -> guint32 { return x < 8 ? 0xff404040u : 0xffc0c0c0u; };
  auto painted = [](int x, int) -> guint32 { return x < 8 ? 0xff404040u : 0xffffffffu; };
  open_with_dialog(write_turned_jpeg(dir_, "camera.jpg", 16, 8, photo), kDefault);
  ASSERT_EQ(gdk_pixbuf_get_width(pixbuf_no_alpha), 8);
  ASSERT_EQ(gdk_pixbuf_get_height(pixbuf_no_alpha), 16);

  open_with_dialog(write_turned_jpeg(dir_, "camera-painted.jpg", 16, 8, painted), kLayer);
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 8; ++x) {
      if (y < 8) {
        ASSERT_EQ(layer_pixel(x, y), 0u) << x << "," << y;
      } else {
        ASSERT_EQ(layer_pixel(x, y) >> 24, 255u) << x << "," << y;
        ASSERT_GE(layer_pixel(x, y) & 255, 250u) << x << "," << y;
      }
    }
}

// The loader's own failures, and what it would accept but the editor cannot use: images wider
// or taller than a cairo surface can be (they crashed the layer open) and damaged JPEGs (the
// loader returns them partly grey without a word).
TEST_F(OpenTest, AnUnreadableFileIsReportedAndChangesNothing) {
  std::string broken = dir_ + "/broken.png";
  const char junk[] = "\x89PNG\r\n\x1a\nthis is not a picture at all";
  ASSERT_TRUE(g_file_set_contents(broken.c_str(), junk, sizeof junk - 1, nullptr));
  std::string missing = dir_ + "/no-such-file.png";
  std::string wide = write_image(dir_, "wide.png", 40000, 4, false, colour_at);
  std::string tall = write_image(dir_, "tall.png", 4, 32768, true, rgba_at);
  std::string truncated = write_image(dir_, "cut.jpg", 64, 48, false, colour_at, "jpeg");
  gchar* bytes = nullptr;
  gsize size = 0;
  ASSERT_TRUE(g_file_get_contents(truncated.c_str(), &bytes, &size, nullptr));
  ASSERT_TRUE(g_file_set_contents(truncated.c_str(), bytes, gssize(size / 2), nullptr));
  g_free(bytes);

  auto loader_message = [](const std::string& path) {
    GError* expected = nullptr;
    GdkPixbuf* none = gdk_pixbuf_new_from_file(path.c_str(), &expected);
    EXPECT_EQ(none, nullptr);
    std::string text = expected != nullptr ? expected->message : "";
    if (expected != nullptr) g_error_free(expected);
    return text;
  };
  const std::pair<std::string, std::string> cases[] = {
      {broken, loader_message(broken)},
      {missing, loader_message(missing)},
      {wide, "is 40000x4 pixels; at most 32767 in each direction"},
      {tall, "is 4x32768 pixels; at most 32767 in each direction"},
      {truncated, "is damaged or incomplete (Premature end of JPEG file)"},
  };
  for (const auto& [path, says] : cases) {
    for (const char* radio : {kDefault, kAlpha, kLayer}) {
      SCOPED_TRACE(path + " / " + radio);
      open(write_image(dir_, "seed.png", 16, 12, true, rgba_at), OPEN_ALPHA_AS_INPUT);
      drag(2, 2, 9, 2);
      pass_option_args->softness = 0.125;
      x_img_ROI = 1, y_img_ROI = 2, w_img_ROI = 5, h_img_ROI = 6;
      GdkPixbuf* no_alpha = pixbuf_no_alpha;
      GdkPixbuf* with_alpha = pixbuf_alpha;
      GdkPixbuf* base = initialisinglayer;
      cairo_surface_t* layer = surf_layer;
      GList* strokes = history;
      std::vector<guint32> before = layer_snapshot();

      std::string text;
      DialogScript script({choose_file("Open image", path, GTK_RESPONSE_ACCEPT, radio),
                           answer_reading("Error", &text)});
      on_open_image(nullptr, toolbar);
      settle();
      EXPECT_TRUE(script.finished());
      EXPECT_TRUE(script.stray().empty());
      EXPECT_EQ(text.rfind("File open error: ", 0), 0u) << text;
      EXPECT_NE(text.find(says), std::string::npos) << text;

      EXPECT_EQ(pixbuf_no_alpha, no_alpha);
      EXPECT_EQ(pixbuf_alpha, with_alpha);
      EXPECT_EQ(initialisinglayer, base);
      EXPECT_EQ(surf_layer, layer);
      EXPECT_EQ(layer_snapshot(), before);
      EXPECT_EQ(history, strokes);
      EXPECT_EQ(list_length(history), 1);
      EXPECT_DOUBLE_EQ(pass_option_args->softness, 0.125);
      EXPECT_EQ(pass_option_args->img_width, 16);
      EXPECT_EQ(x_img_ROI + y_img_ROI + w_img_ROI + h_img_ROI, 14);
      // Undo still returns to the alpha-derived base of the image that stays.
      undo(nullptr, nullptr);
      EXPECT_EQ(layer_pixel(0, 0), 0xffffffffu);
      EXPECT_EQ(layer_pixel(1, 0), 0xff000000u);
      EXPECT_EQ(layer_pixel(2, 2), 0u);
    }
  }
}

// A zoom whose view surface cairo cannot make (wider than 32767 pixels) is refused with a
// message and the view stays as it was.
TEST_F(OpenTest, AZoomTooLargeForAViewSurfaceIsRefused) {
  open(write_image(dir_, "long.png", 9000, 4, false, colour_at));
  gtk_adjustment_set_value(zoom_adjustment, 400);
  settle();
  EXPECT_DOUBLE_EQ(gtk_adjustment_get_value(zoom_adjustment), 100);
  EXPECT_DOUBLE_EQ(scale, 1.0);
  EXPECT_EQ(cairo_surface_status(win_surf), CAIRO_STATUS_SUCCESS);
  EXPECT_EQ(cairo_image_surface_get_width(win_surf), 9000);
  EXPECT_EQ(status_message(STATUS_MESSAGE).rfind("Cannot zoom to 400 %: ", 0), 0u);
}

TEST_F(OpenTest, CancelChangesNothingButTheFolderTheNextOpenStartsIn) {
  image_with_strokes(20, 15);
  GdkPixbuf* no_alpha = pixbuf_no_alpha;
  std::vector<guint32> before = layer_snapshot();
  std::string elsewhere = fresh_dir("pictures");
  std::string existing = write_image(elsewhere, "unused.png", 8, 8, false, colour_at);

  std::string seen_first, seen_second;
  DialogScript script(
      {{"Open image",
        [&](GtkDialog* d) {
          GtkFileChooser* chooser = GTK_FILE_CHOOSER(d);
          // A file chosen but the dialog cancelled: nothing may be opened.
          gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(find_radio(d, kLayer)), TRUE);
          set_chooser_test_filename(chooser, existing.c_str());
          gtk_file_chooser_set_current_folder(chooser, elsewhere.c_str());
          seen_first = chooser_folder_when(chooser, elsewhere);
          gtk_dialog_response(d, GTK_RESPONSE_CANCEL);
        }},
       {"Open image", [&](GtkDialog* d) {
          seen_second = chooser_folder_when(GTK_FILE_CHOOSER(d), elsewhere);
          // The radio buttons start at "Default open" again.
          EXPECT_TRUE(gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(find_radio(d, kDefault))));
          gtk_dialog_response(d, GTK_RESPONSE_DELETE_EVENT);
        }}});
  on_open_image(nullptr, toolbar);
  settle();
  EXPECT_EQ(pixbuf_no_alpha, no_alpha);
  EXPECT_EQ(layer_snapshot(), before);
  EXPECT_EQ(initialisinglayer, nullptr);
  EXPECT_EQ(list_length(history), 2);
  EXPECT_DOUBLE_EQ(pass_option_args->softness, 0.25);

  on_open_image(nullptr, toolbar);
  settle();
  EXPECT_TRUE(script.finished());
  EXPECT_TRUE(script.stray().empty());
  EXPECT_EQ(seen_first, elsewhere);
  EXPECT_EQ(seen_second, elsewhere);
  EXPECT_EQ(pixbuf_no_alpha, no_alpha);
  EXPECT_EQ(layer_snapshot(), before);
}

}  // namespace
