// The command-line tool, run as a child process on small generated files.
#include <cairo.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <png.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <csignal>
#include <functional>
#include <thread>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "tools/png_io.h"

namespace {

struct Result {
  int exit_code = -1;
  std::string out, err;
};

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

bool exists(const std::string& path) {
  return access(path.c_str(), F_OK) == 0;
}

size_t line_count(const std::string& text) {
  size_t n = 0;
  for (char c : text) n += c == '\n';
  return n;
}

// How a child runs: as the user "nobody" when the test runs as root (so that folder
// permissions apply), with an address-space limit in bytes (0: none).
struct Child {
  bool as_nobody;
  rlim_t address_space;
};

class Tool : public testing::Test {
 protected:
  static constexpr int W = 48, H = 36;

  void SetUp() override {
    const char* tmp = std::getenv("TMPDIR");
    std::string templ =
        std::string(tmp != nullptr && *tmp ? tmp : "/tmp") + "/quillane-tool-XXXXXX";
    std::vector<char> buf(templ.begin(), templ.end());
    buf.push_back('\0');
    ASSERT_NE(mkdtemp(buf.data()), nullptr);
    dir_ = buf.data();
    image_ = path("image.png");
    layer_ = path("layer.png");
    write_image(image_, W, H);
    write_layer(layer_, W, H, [](cairo_t* cr) {
      paint_grey(cr, 0, 0, 0, 6, H);      // background on the left
      paint_grey(cr, 1, W - 6, 0, 6, H);  // foreground on the right
    });
  }

  void TearDown() override {
    std::string cmd = "rm -rf '" + dir_ + "'";
    if (std::system(cmd.c_str()) != 0) ADD_FAILURE() << "could not remove " << dir_;
  }

  std::string path(const char* name) const { return dir_ + "/" + name; }

  // Starts the tool with args; stdout and stderr are captured through files.
  pid_t start(const std::vector<std::string>& args, Child how = {false, 0}) const {
    const std::string out = path(".stdout"), err = path(".stderr");
    pid_t pid = fork();
    if (pid == 0) {
      int fo = open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      int fe = open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
      dup2(fo, 1);
      dup2(fe, 2);
      if (how.as_nobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
      const struct rlimit limit = {how.address_space, how.address_space};
      if (how.address_space != 0 && setrlimit(RLIMIT_AS, &limit) != 0) _exit(126);
      // OpenBLAS retries a failed allocation for ever: end a hung child instead of the test.
      if (how.address_space != 0) alarm(60);
      std::vector<char*> argv;
      argv.push_back(const_cast<char*>(QUILLANE_MATTE_PATH));
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QUILLANE_MATTE_PATH, argv.data());
      _exit(127);
    }
    return pid;
  }

  // Waits for a started tool; a death by signal N counts as exit status 256 + N, apart from
  // the 128 + N the tool itself returns for a signal it handled.
  Result finish(pid_t pid) const {
    const std::string out = path(".stdout"), err = path(".stderr");
    Result r;
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
    r.out = read_file(out);
    r.err = read_file(err);
    unlink(out.c_str());
    unlink(err.c_str());
    return r;
  }

  Result run(const std::vector<std::string>& args, Child how = {false, 0}) const {
    return finish(start(args, how));
  }

  // A soft disc on a gradient: foreground colours on the right, background on the left.
  static void write_image(const std::string& file, int w, int h) {
    PngPixels p;
    p.width = w;
    p.height = h;
    p.channels = 3;
    p.data.resize(static_cast<size_t>(w) * h * 3);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double t = static_cast<double>(x) / (w - 1);
        uint8_t* o = &p.data[(static_cast<size_t>(y) * w + x) * 3];
        o[0] = static_cast<uint8_t>(30 + 200 * t);
        o[1] = static_cast<uint8_t>(60 + 120 * t + (y % 3));
        o[2] = static_cast<uint8_t>(150 - 100 * t + (x % 2));
      }
    std::string error;
    ASSERT_TRUE(png_write(file, p, &error)) << error;
  }

  // A stroke layer written the editor's way: a cairo ARGB32 surface saved with
  // cairo_surface_write_to_png.
  template <typename Paint>
  static void write_layer(const std::string& file, int w, int h, Paint paint) {
    cairo_surface_t* s = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, w, h);
    cairo_t* cr = cairo_create(s);
    cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
    paint(cr);
    cairo_destroy(cr);
    ASSERT_EQ(cairo_surface_write_to_png(s, file.c_str()), CAIRO_STATUS_SUCCESS);
    cairo_surface_destroy(s);
  }

  static void paint_rgba(cairo_t* cr, double r, double g, double b, double a, int x, int y, int w,
                         int h) {
    cairo_set_source_rgba(cr, r, g, b, a);
    cairo_rectangle(cr, x, y, w, h);
    cairo_fill(cr);
  }
  static void paint_grey(cairo_t* cr, double grey, int x, int y, int w, int h) {
    paint_rgba(cr, grey, grey, grey, 1.0, x, y, w, h);
  }

  // A w x h JPEG of the standard scene, with an EXIF orientation tag when orientation > 0.
  static void write_jpeg(const std::string& file, int w, int h, int orientation) {
    write_image(file, w, h);
    GdkPixbuf* p = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
    ASSERT_NE(p, nullptr);
    gchar* data = nullptr;
    gsize size = 0;
    ASSERT_TRUE(
        gdk_pixbuf_save_to_buffer(p, &data, &size, "jpeg", nullptr, "quality", "100", nullptr));
    g_object_unref(p);
    std::string bytes(data, 2);  // SOI, then an APP1 EXIF segment, then the rest
    if (orientation > 0) {
      const unsigned char exif[] = {
          0xFF, 0xE1, 0, 0x22, 'E', 'x', 'i', 'f', 0, 0,
          'M',  'M',  0, 0x2A, 0,   0,   0,   8,   0, 1,
          1,    0x12, 0, 3,    0,   0,   0,   1,   0, static_cast<unsigned char>(orientation),
          0,    0,    0, 0,    0,   0};
      bytes.append(reinterpret_cast<const char*>(exif), sizeof exif);
    }
    bytes.append(data + 2, size - 2);
    g_free(data);
    std::ofstream(file, std::ios::binary) << bytes;
  }

  static PngPixels read_png(const std::string& file, int channels) {
    PngPixels p;
    std::string error;
    EXPECT_TRUE(png_read(file, channels, &p, &error)) << error;
    return p;
  }

  // The colour type stored in a PNG file.
  static int stored_color_type(const std::string& file) {
    const std::string bytes = read_file(file);
    return bytes.size() > 25 ? static_cast<unsigned char>(bytes[25]) : -1;  // IHDR colour type
  }

  // Files in the folder other than the ones a test wrote itself.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    std::string cmd = "ls -A '" + dir_ + "'";
    FILE* p = popen(cmd.c_str(), "r");
    char line[512];
    while (p != nullptr && std::fgets(line, sizeof line, p) != nullptr) {
      std::string name(line);
      name.pop_back();
      if (name != "image.png" && name != "layer.png" && name.rfind("in-", 0) != 0)
        names.push_back(name);
    }
    if (p != nullptr) pclose(p);
    return names;
  }

  std::string dir_, image_, layer_;
};

// Sanity of a matte of the standard scene: background strokes 0, foreground 255.
void expect_scene_matte(const PngPixels& p, int channel) {
  for (int y = 0; y < p.height; ++y) {
    EXPECT_LE(p.data[(static_cast<size_t>(y) * p.width + 1) * p.channels + channel], 2) << y;
    EXPECT_GE(p.data[(static_cast<size_t>(y) * p.width + p.width - 2) * p.channels + channel], 253)
        << y;
  }
}

TEST_F(Tool, WritesTheImageWithTheMatteAsAlpha) {
  const std::string out = path("out.png");
  Result r = run({image_, layer_, out});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.err, "");
  EXPECT_EQ(r.out, "\a");  // the engine's bell; one level, no trace line
  ASSERT_TRUE(exists(out));
  EXPECT_EQ(stored_color_type(out), 6);  // RGBA
  PngPixels got = read_png(out, 4), in = read_png(image_, 3);
  ASSERT_EQ(got.width, W);
  ASSERT_EQ(got.height, H);
  for (size_t i = 0; i < static_cast<size_t>(W) * H; ++i)
    for (int c = 0; c < 3; ++c) ASSERT_EQ(got.data[i * 4 + c], in.data[i * 3 + c]);
  expect_scene_matte(got, 3);
  EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"});
}

TEST_F(Tool, AlphaOnlyWritesAGreyMatteEqualToTheAlphaChannel) {
  Result a = run({"--alpha-only", image_, layer_, path("a.png")});
  Result b = run({"--quiet", image_, layer_, path("b.png")});
  ASSERT_EQ(a.exit_code, 0) << a.err;
  ASSERT_EQ(b.exit_code, 0) << b.err;
  EXPECT_EQ(b.out, "");                            // --quiet silences standard output
  EXPECT_EQ(stored_color_type(path("a.png")), 0);  // 8-bit grey
  PngPixels grey = read_png(path("a.png"), 1), rgba = read_png(path("b.png"), 4);
  for (size_t i = 0; i < static_cast<size_t>(W) * H; ++i)
    ASSERT_EQ(grey.data[i], rgba.data[i * 4 + 3]) << i;
  expect_scene_matte(grey, 0);
}

TEST_F(Tool, RegionLeavesAlphaZeroOutside) {
  // Region x 4..43, y 5..30; strokes inside it at both ends.
  Result r = run({"--alpha-only", "--region", "4,5,40,26", image_, layer_, path("r.png")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  PngPixels p = read_png(path("r.png"), 1);
  int inside_fg = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const bool inside = x >= 4 && x < 44 && y >= 5 && y < 31;
      const int a = p.data[static_cast<size_t>(y) * W + x];
      if (!inside) {
        ASSERT_EQ(a, 0) << x << "," << y;
      }
      if (inside && x >= W - 6) inside_fg += a >= 253;
    }
  EXPECT_EQ(inside_fg, 2 * 26);  // the foreground stroke columns 42, 43 inside the region
  // A region reaching past the image is cut at its edges, as in the editor: here to the
  // whole image.
  Result cut = run({"--alpha-only", "--region", "-3,-2,100,100", image_, layer_, path("c.png")});
  Result whole = run({"--alpha-only", image_, layer_, path("w.png")});
  ASSERT_EQ(cut.exit_code, 0) << cut.err;
  ASSERT_EQ(whole.exit_code, 0) << whole.err;
  EXPECT_EQ(read_png(path("c.png"), 1).data, read_png(path("w.png"), 1).data);
}

// Red in front of blue, blended linearly across the middle: --foreground gives the partly
// transparent pixels red back (the true foreground) and leaves every other byte alone.
TEST_F(Tool, ForegroundCleansOnlyPartlyTransparentColours) {
  PngPixels blend;
  blend.width = W;
  blend.height = H;
  blend.channels = 3;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const double a = std::min(1.0, std::max(0.0, (x - 12) / 24.0));
      blend.data.insert(blend.data.end(), {static_cast<uint8_t>(std::lround(30 + 190 * a)), 40,
                                           static_cast<uint8_t>(std::lround(210 - 180 * a))});
    }
  std::string error;
  ASSERT_TRUE(png_write(path("in-blend.png"), blend, &error)) << error;
  Result clean = run({"--foreground", path("in-blend.png"), layer_, path("clean.png")});
  Result mixed = run({path("in-blend.png"), layer_, path("mixed.png")});
  ASSERT_EQ(clean.exit_code, 0) << clean.err;
  ASSERT_EQ(mixed.exit_code, 0) << mixed.err;
  const PngPixels c = read_png(path("clean.png"), 4), m = read_png(path("mixed.png"), 4);
  int partial = 0;
  for (size_t i = 0; i < static_cast<size_t>(W) * H; ++i) {
    ASSERT_EQ(c.data[i * 4 + 3], m.data[i * 4 + 3]) << i;
    const bool soft = m.data[i * 4 + 3] > 0 && m.data[i * 4 + 3] < 255;
    partial += soft;
    for (int k = 0; k < 3; ++k) {
      if (soft) {
        ASSERT_NEAR(c.data[i * 4 + k], (std::array<int, 3>{220, 40, 30}[k]), 4) << i;
      } else {
        ASSERT_EQ(c.data[i * 4 + k], m.data[i * 4 + k]) << i;
      }
    }
  }
  EXPECT_GT(partial, 20 * H);
}

TEST_F(Tool, TrimapAndLevelOptions) {
  PngPixels tri;
  tri.width = W;
  tri.height = H;
  tri.channels = 1;
  tri.data.assign(static_cast<size_t>(W) * H, 128);
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      if (x < 6) tri.data[static_cast<size_t>(y) * W + x] = 0;
      if (x >= W - 6) tri.data[static_cast<size_t>(y) * W + x] = 255;
    }
  std::string error;
  ASSERT_TRUE(png_write(path("in-trimap.png"), tri, &error)) << error;
  Result t = run({"--trimap", "--alpha-only", image_, path("in-trimap.png"), path("t.png")});
  Result l = run({"--alpha-only", image_, layer_, path("l.png")});
  ASSERT_EQ(t.exit_code, 0) << t.err;
  ASSERT_EQ(l.exit_code, 0) << l.err;
  // The trimap says what the layer says: the same constraints, the same matte.
  EXPECT_EQ(read_png(path("t.png"), 1).data, read_png(path("l.png"), 1).data);

  Result c2f = run({"--levels", "2", "--active", "2", "--threshold", "0.05", "--softness", "1e-6",
                    "--radius", "1", image_, layer_, path("c2f.png")});
  ASSERT_EQ(c2f.exit_code, 0) << c2f.err;
  EXPECT_EQ(c2f.out, "levels_num 2 Active_levels_num 2\n\a");
}

TEST_F(Tool, LayerConvention) {
  // An opaque mid-grey stroke is an alternate transparency of about 128/255; a translucent
  // white stroke is unpainted; opaque black alone has no partner.
  write_layer(path("in-grey.png"), W, H, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 6, H);
    paint_grey(cr, 128 / 255.0, W - 6, 0, 6, H);
    paint_rgba(cr, 1, 1, 1, 0.5, 20, 0, 6, H);
  });
  Result g = run({"--alpha-only", image_, path("in-grey.png"), path("g.png")});
  ASSERT_EQ(g.exit_code, 0) << g.err;
  PngPixels p = read_png(path("g.png"), 1);
  EXPECT_NEAR(p.data[static_cast<size_t>(H / 2) * W + W - 2], 128, 2);

  write_layer(path("in-translucent.png"), W, H, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 6, H);
    paint_rgba(cr, 1, 1, 1, 254 / 255.0, W - 6, 0, 6, H);
  });
  Result t = run({image_, path("in-translucent.png"), path("t.png")});
  EXPECT_EQ(t.exit_code, 1);
  EXPECT_NE(t.err.find("no foreground"), std::string::npos) << t.err;
}

// Every bad input: a non-zero exit, exactly one line on stderr, no output file.
TEST_F(Tool, BadInputFailsCleanly) {
  write_layer(path("in-black.png"), W, H, [](cairo_t* cr) { paint_grey(cr, 0, 0, 0, 6, H); });
  write_layer(path("in-white.png"), W, H, [](cairo_t* cr) { paint_grey(cr, 1, 0, 0, 6, H); });
  write_layer(path("in-empty.png"), W, H, [](cairo_t*) {});
  write_layer(path("in-small.png"), W - 1, H, [](cairo_t* cr) { paint_grey(cr, 1, 0, 0, 6, H); });
  {
    std::ofstream f(path("in-garbage.png"), std::ios::binary);
    f << "this is not an image";
  }
  {
    const std::string bytes = read_file(image_);
    std::ofstream f(path("in-truncated.png"), std::ios::binary);
    f << bytes.substr(0, bytes.size() / 2);
  }
  // A 7x7 scene; a grey trimap (opaque everywhere) passed as strokes; a truncated JPEG.
  write_image(path("in-7.png"), 7, 7);
  write_layer(path("in-7-layer.png"), 7, 7, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 1, 7);
    paint_grey(cr, 1, 6, 0, 1, 7);
  });
  write_layer(path("in-trimap.png"), W, H, [](cairo_t* cr) {
    paint_grey(cr, 0.5, 0, 0, W, H);
    paint_grey(cr, 0, 0, 0, 6, H);
    paint_grey(cr, 1, W - 6, 0, 6, H);
  });
  write_jpeg(path("in-cut.jpg"), W, H, 0);
  const std::string jpeg = read_file(path("in-cut.jpg"));
  std::ofstream(path("in-cut.jpg"), std::ios::binary) << jpeg.substr(0, jpeg.size() / 2);
  const char* painted =
      "every pixel is painted: nothing to calculate; is this a trimap? use --trimap";
  struct Case {
    std::vector<std::string> args;
    int exit_code;
    const char* says;
  };
  const std::string I = image_, L = layer_, O = path("out.png");
  const std::vector<Case> cases = {
      {{path("missing.png"), L, O}, 1, "cannot read image"},
      {{path("in-garbage.png"), L, O}, 1, "cannot read image"},
      {{path("in-truncated.png"), L, O}, 1, "cannot read image"},
      {{I, path("in-garbage.png"), O}, 1, "cannot read strokes"},
      {{"--trimap", I, path("missing.png"), O}, 1, "cannot read trimap"},
      {{I, path("in-small.png"), O}, 1, "47x36 but the image is 48x36"},
      {{I, path("in-black.png"), O}, 1, "no foreground"},
      {{I, path("in-white.png"), O}, 1, "no background"},
      {{I, path("in-empty.png"), O}, 1, "no strokes"},
      {{"--levels", "0", I, L, O}, 2, "--levels 0"},
      {{"--levels", "4", I, L, O}, 2, "--levels 4 is out of range 1..3 for a 48x36 image"},
      {{"--levels", "2", "--active", "3", I, L, O}, 2, "--active 3"},
      {{"--active", "2", I, L, O}, 2, "--active 2"},
      {{"--softness", "1e-8", I, L, O}, 2, "--softness"},
      {{"--softness", "2e-5", I, L, O}, 2, "--softness"},
      {{"--threshold", "-0.1", I, L, O}, 2, "--threshold"},
      {{"--threshold", "0.6", I, L, O}, 2, "--threshold"},
      {{"--radius", "0", I, L, O}, 2, "--radius"},
      {{"--radius", "6", I, L, O}, 2, "--radius"},
      {{"--radius", "1.5", I, L, O}, 2, "--radius"},
      {{"--levels", "two", I, L, O}, 2, "--levels"},
      {{"--levels", I, L, O}, 2, "--levels"},
      {{"--region", "48,0,5,5", I, L, O}, 2, "outside the 48x36 image"},
      {{"--region", "0,0,0,5", I, L, O}, 2, "--region"},
      {{"--region", "1,2,3", I, L, O}, 2, "--region"},
      {{"--region", "0,0,8,36", I, L, O}, 1, "no foreground"},
      {{"--frobnicate", I, L, O}, 2, "unknown option"},
      {{"--foreground", "--alpha-only", I, L, O}, 2, "--foreground"},
      {{"--threshold", "0.500001", I, L, O}, 2, "--threshold 0.500001 is out of range 0..0.5"},
      {{dir_, L, O}, 1, "is a directory"},
      {{path("in-cut.jpg"), L, O}, 1, "damaged or incomplete (Premature end of JPEG file)"},
      {{"--region", "20,0,2,36", I, L, O},
       1,
       "must be at least 2R+1 pixels in each direction (3 with window radius R = 1); it is 2x36"},
      {{"--region", "0,9,48,1", I, L, O}, 1, "(3 with window radius R = 1); it is 48x1"},
      {{"--radius", "5", path("in-7.png"), path("in-7-layer.png"), O},
       1,
       "(11 with window radius R = 5); it is 7x7"},
      {{I, path("in-trimap.png"), O}, 1, painted},
      {{I, I, O}, 1, painted},  // the photograph as its own strokes
      {{I, L, O, path("extra.png")}, 2, "expected IMAGE STROKES OUTPUT"},
      {{I, O}, 2, "expected IMAGE STROKES OUTPUT"},
  };
  for (const Case& c : cases) {
    std::string joined;
    for (const std::string& a : c.args) joined += a + " ";
    Result r = run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << joined << "\n" << r.err;
    EXPECT_EQ(line_count(r.err), 1u) << joined << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << joined << "\n" << r.err;
    EXPECT_FALSE(exists(O)) << joined;
    EXPECT_TRUE(leftovers().empty()) << joined;
  }
}

TEST_F(Tool, FailureKeepsAnExistingOutput) {
  {
    std::ofstream f(path("in-old.png"), std::ios::binary);
    f << "previous result";
  }
  write_layer(path("in-black.png"), W, H, [](cairo_t* cr) { paint_grey(cr, 0, 0, 0, 6, H); });
  Result r = run({image_, path("in-black.png"), path("in-old.png")});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_EQ(read_file(path("in-old.png")), "previous result");
  Result w = run({image_, layer_, path("no-such-folder/out.png")});
  EXPECT_EQ(w.exit_code, 1);
  EXPECT_EQ(line_count(w.err), 1u) << w.err;
}

// OUTPUT is written to, not replaced: each destination receives exactly the PNG a plain run
// writes. A file keeps its mode (and is replaced atomically: a new inode); a link stays a link
// and its target gets the PNG, even a dangling one; a FIFO is written to; "-" is standard
// output; a file in a folder the user cannot write to is updated in place (same inode).
TEST_F(Tool, OutputIsWrittenWhereItPoints) {
  ASSERT_EQ(run({"--quiet", image_, layer_, path("in-ref.png")}).exit_code, 0);
  const std::string png = read_file(path("in-ref.png"));
  auto old_file = [this](const char* name, mode_t mode) {
    std::ofstream(path(name)) << "previous";
    chmod(path(name).c_str(), mode);
    return path(name);
  };
  auto stat_of = [](const std::string& p) {
    struct stat st = {};
    lstat(p.c_str(), &st);
    return st;
  };
  ASSERT_EQ(mkdir(path("elsewhere").c_str(), 0755), 0);
  ASSERT_EQ(mkdir(path("locked").c_str(), 0755), 0);
  struct Case {
    const char* what;
    std::function<std::string()> setup;  // returns OUTPUT
    std::function<void(const std::string& written)> check;
    bool as_nobody;
  };
  ino_t inode = 0;
  const Case cases[] = {
      {"file keeps its mode", [&] { return old_file("out.png", 0640); },
       [&](const std::string& w) {
         EXPECT_EQ(read_file(path("out.png")), png);
         EXPECT_EQ(stat_of(path("out.png")).st_mode & 07777, 0640u);
         EXPECT_TRUE(w.empty());
       },
       false},
      {"link",
       [&] {
         old_file("elsewhere/target.png", 0600);
         symlink("elsewhere/target.png", path("link.png").c_str());
         return path("link.png");
       },
       [&](const std::string&) {
         EXPECT_TRUE(S_ISLNK(stat_of(path("link.png")).st_mode));
         EXPECT_EQ(read_file(path("elsewhere/target.png")), png);
         EXPECT_EQ(stat_of(path("elsewhere/target.png")).st_mode & 07777, 0600u);
       },
       false},
      {"dangling link",
       [&] {
         symlink("elsewhere/new.png", path("dangling.png").c_str());
         return path("dangling.png");
       },
       [&](const std::string&) {
         EXPECT_TRUE(S_ISLNK(stat_of(path("dangling.png")).st_mode));
         EXPECT_EQ(read_file(path("elsewhere/new.png")), png);
       },
       false},
      {"fifo",
       [&] {
         mkfifo(path("fifo").c_str(), 0600);
         return path("fifo");
       },
       [&](const std::string& w) {
         EXPECT_TRUE(S_ISFIFO(stat_of(path("fifo")).st_mode));
         EXPECT_EQ(w, png);
       },
       false},
      {"standard output", [] { return std::string("-"); },
       [&](const std::string& w) { EXPECT_EQ(w, png); }, false},
      {"file in a read-only folder",
       [&] {
         for (const std::string& p : {dir_, image_, layer_}) chmod(p.c_str(), 0755);
         const std::string out = old_file("locked/out.png", 0666);
         chmod(path("locked").c_str(), 0555);
         inode = stat_of(out).st_ino;
         return out;
       },
       [&](const std::string&) {
         EXPECT_EQ(read_file(path("locked/out.png")), png);
         EXPECT_EQ(stat_of(path("locked/out.png")).st_ino, inode);
         EXPECT_EQ(stat_of(path("locked/out.png")).st_mode & 07777, 0666u);
       },
       true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const std::string output = c.setup();
    // The FIFO's reader holds a write end of its own until the tool is done, so that it
    // never waits for ever on a tool that did not open the FIFO.
    std::string from_fifo;
    std::thread reader;
    int hold = -1;
    if (output == path("fifo")) {
      const int fd = open(output.c_str(), O_RDONLY | O_NONBLOCK);
      hold = open(output.c_str(), O_WRONLY);
      fcntl(fd, F_SETFL, 0);
      reader = std::thread([&from_fifo, fd] {
        char buffer[4096];
        for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) from_fifo.append(buffer, n);
        close(fd);
      });
    }
    Result r = run({image_, layer_, output}, {c.as_nobody, 0});
    if (hold >= 0) close(hold);
    if (reader.joinable()) reader.join();
    EXPECT_EQ(r.exit_code, 0) << r.err;
    c.check(output == "-" ? r.out : from_fifo);
  }
  chmod(path("locked").c_str(), 0755);
  EXPECT_TRUE(leftovers().size() == 6u) << "a temporary file was left";
}

// SIGINT and SIGTERM while the output is being written (a large image, a tiny region): exit
// status 128 + N, the hidden temporary file removed, an existing OUTPUT as it was.
TEST_F(Tool, SignalsRemoveTheTemporaryFileAndKeepTheOutput) {
  const int w = 2400, h = 1800;
  PngPixels noise;
  noise.width = w;
  noise.height = h;
  noise.channels = 3;
  noise.data.resize(size_t(w) * h * 3);
  uint32_t seed = 1;
  for (uint8_t& b : noise.data)
    b = static_cast<uint8_t>((seed = seed * 1664525u + 1013904223u) >> 24);
  std::string error;
  ASSERT_TRUE(png_write(path("in-big.png"), noise, &error)) << error;
  write_layer(path("in-big-layer.png"), w, h, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 2, 8);
    paint_grey(cr, 1, 6, 0, 2, 8);
  });
  for (int signal : {SIGINT, SIGTERM}) {
    SCOPED_TRACE(signal);
    std::ofstream(path("out.png")) << "previous";
    pid_t pid = start(
        {"--region", "0,0,8,8", path("in-big.png"), path("in-big-layer.png"), path("out.png")});
    bool seen = false;
    for (int i = 0; i < 20000 && !seen; ++i) {
      for (const std::string& name : leftovers()) seen = seen || name.rfind(".out.png.", 0) == 0;
      if (!seen) usleep(1000);
    }
    EXPECT_TRUE(seen) << "the temporary file never showed";
    kill(pid, signal);
    Result r = finish(pid);
    EXPECT_EQ(r.exit_code, 128 + signal) << r.err;
    EXPECT_EQ(read_file(path("out.png")), "previous");
    EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"});
  }
}

// Out of memory inside the calculation is a failure with the engine's message and a line of
// advice, not an abort: the child runs under an address-space limit that lets the small scene
// through (OpenBLAS alone reserves 128 MB) and not a 700 x 700 one.
TEST_F(Tool, RunningOutOfMemoryIsAFailureNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than RLIMIT_AS allows";
#endif
  write_image(path("in-700.png"), 700, 700);
  write_layer(path("in-700-layer.png"), 700, 700, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 6, 700);
    paint_grey(cr, 1, 694, 0, 6, 700);
  });
  const Child limited = {false, rlim_t(450) << 20};
  Result small = run({image_, layer_, path("small.png")}, limited);
  EXPECT_EQ(small.exit_code, 0) << small.err;
  Result big = run({path("in-700.png"), path("in-700-layer.png"), path("big.png")}, limited);
  EXPECT_EQ(big.exit_code, 1);
  EXPECT_EQ(
      big.err,
      "quillane-matte: failure: out_of_memory\n"
      "quillane-matte: try --levels auto, more --levels, more strokes or a smaller --region\n");
  EXPECT_FALSE(exists(path("big.png")));
}

// A camera JPEG stored 16 x 8 with EXIF orientation 6 is shown 8 x 16 by the editor, which
// saves its layer at that size: the tool reads it the same way, and the strokes land on the
// shown pixels (the image's stored top-left corner is now its top-right one).
TEST_F(Tool, TurnedCameraJpegIsReadAsTheEditorShowsIt) {
  write_jpeg(path("in-camera.jpg"), 16, 8, 6);
  write_layer(path("in-camera-layer.png"), 8, 16, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 8, 3);
    paint_grey(cr, 1, 0, 13, 8, 3);
  });
  Result r = run({path("in-camera.jpg"), path("in-camera-layer.png"), path("out.png")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  PngPixels out = read_png(path("out.png"), 4);
  PngPixels stored;
  stored.width = 16;
  stored.height = 8;
  ASSERT_EQ(out.width, 8);
  ASSERT_EQ(out.height, 16);
  GdkPixbuf* jpeg = gdk_pixbuf_new_from_file(path("in-camera.jpg").c_str(), nullptr);
  ASSERT_NE(jpeg, nullptr);
  ASSERT_EQ(gdk_pixbuf_get_width(jpeg), 16);  // the loader alone does not turn it
  const uint8_t* px = gdk_pixbuf_read_pixels(jpeg);
  const int stride = gdk_pixbuf_get_rowstride(jpeg), nc = gdk_pixbuf_get_n_channels(jpeg);
  // Turned clockwise: shown (x, y) is stored (y, 7 - x).
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 8; ++x)
      for (int c = 0; c < 3; ++c)
        ASSERT_EQ(out.data[(size_t(y) * 8 + x) * 4 + c], px[(7 - x) * stride + y * nc + c])
            << x << "," << y;
  g_object_unref(jpeg);
  EXPECT_LE(out.data[(1 * 8 + 4) * 4 + 3], 2);
  EXPECT_GE(out.data[(14 * 8 + 4) * 4 + 3], 253);
}

// On a terminal standard error carries a progress line redrawn in place and cleared at the
// end; --quiet turns it off. Two levels of a 300 x 300 scene take long enough to be seen.
TEST_F(Tool, ShowsProgressOnATerminal) {
  write_image(path("in-300.png"), 300, 300);
  write_layer(path("in-300-layer.png"), 300, 300, [](cairo_t* cr) {
    paint_grey(cr, 0, 0, 0, 6, 300);
    paint_grey(cr, 1, 294, 0, 6, 300);
  });
  for (const char* quiet : {"--levels=2", "--quiet"}) {
    int master = -1, terminal = -1;
    ASSERT_EQ(openpty(&master, &terminal, nullptr, nullptr, nullptr), 0);
    const std::string in = path("in-300.png"), layer = path("in-300-layer.png"),
                      out = path("p.png");
    const char* argv[] = {QUILLANE_MATTE_PATH, "--levels=2",  "--active=2", quiet,
                          in.c_str(),          layer.c_str(), out.c_str(),  nullptr};
    pid_t pid = fork();
    if (pid == 0) {
      dup2(terminal, 2);
      execv(QUILLANE_MATTE_PATH, const_cast<char**>(argv));
      _exit(127);
    }
    close(terminal);
    std::string shown;
    char buffer[4096];
    for (ssize_t n; (n = read(master, buffer, sizeof buffer)) > 0;) shown.append(buffer, n);
    close(master);
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_EQ(status, 0) << shown;
    if (std::string(quiet) == "--quiet") {
      EXPECT_EQ(shown, "");
    } else {
      EXPECT_NE(shown.find("\rlevel 1 of 2 \u00b7 "), std::string::npos) << shown;
      EXPECT_TRUE(shown.size() >= 4 && shown.substr(shown.size() - 4) == "\r\033[K") << shown;
    }
  }
}

TEST_F(Tool, HelpAndVersion) {
  Result h = run({"--help"});
  EXPECT_EQ(h.exit_code, 0);
  EXPECT_EQ(h.out.rfind("Usage: quillane-matte [OPTIONS] IMAGE STROKES OUTPUT\n", 0), 0u);
  for (const char* option :
       {"--levels", "--active", "--softness", "--threshold", "--radius", "--region", "--trimap",
        "--alpha-only", "--foreground", "--quiet", "Exit status"})
    EXPECT_NE(h.out.find(option), std::string::npos) << option;
  EXPECT_NE(h.out.find("(1e-07; 1e-07 to 1e-05)"), std::string::npos);  // from the option table
  Result v = run({"--version"});
  EXPECT_EQ(v.exit_code, 0);
  EXPECT_EQ(v.out, "quillane-matte 0.10.4\n");
  EXPECT_EQ(v.err, "");
}

}  // namespace
