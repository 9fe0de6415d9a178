// The command-line tool, run through the shell in a folder of small generated files.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "tools/png_io.h"

namespace {

std::string read_file(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

PngPixels read_png(const std::string& path, int channels) {
  PngPixels p;
  std::string error;
  EXPECT_TRUE(png_read(path, channels, &p, &error)) << error;
  return p;
}

// The bytes of a generated image's pixel (x, y): 1, 3 or 4 of them.
using Pixels = std::function<std::vector<uint8_t>(int x, int y)>;

// A w-wide image: a gradient with a little texture, foreground colours on the right.
Pixels gradient(int w) {
  return [w](int x, int y) {
    const double t = double(x) / (w - 1);
    return std::vector<uint8_t>{uint8_t(30 + 200 * t), uint8_t(60 + 120 * t + y % 3),
                                uint8_t(150 - 100 * t + x % 2)};
  };
}

// A stroke layer as the editor saves it (RGBA): rectangles {x, y, w, h} of a grey level with an
// opacity (0..255), transparent elsewhere.
struct Stroke {
  int x, y, w, h, grey, alpha;
};
Pixels strokes(std::vector<Stroke> list) {
  return [list](int x, int y) {
    for (const Stroke& s : list)
      if (x >= s.x && x < s.x + s.w && y >= s.y && y < s.y + s.h)
        return std::vector<uint8_t>{uint8_t(s.grey), uint8_t(s.grey), uint8_t(s.grey),
                                    uint8_t(s.alpha)};
    return std::vector<uint8_t>{0, 0, 0, 0};
  };
}

struct Result {
  int exit_code;
  std::string out, err;
};

class Tool : public testing::Test {
 protected:
  static constexpr int W = 48, H = 36;

  void SetUp() override {
    std::string dir = testing::TempDir() + "quillane-tool-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    dir_ = dir;
    write_png("image.png", W, H, gradient(W));
    write_png("layer.png", W, H, strokes({{0, 0, 6, H, 0, 255}, {W - 6, 0, 6, H, 255, 255}}));
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const std::string& name) const { return dir_ + "/" + name; }

  void write_png(const std::string& name, int w, int h, const Pixels& pixels) const {
    PngPixels p{w, h, int(pixels(0, 0).size()), {}};
    for (int i = 0; i < w * h; ++i) {
      const std::vector<uint8_t> v = pixels(i % w, i / w);
      p.data.insert(p.data.end(), v.begin(), v.end());
    }
    std::string error;
    ASSERT_TRUE(png_write(path(name), p, &error)) << error;
  }

  // A w x h JPEG of the gradient, with an EXIF orientation tag when orientation > 0.
  void write_jpeg(const std::string& name, int w, int h, int orientation) const {
    write_png(name, w, h, gradient(w));
    GdkPixbuf* p = gdk_pixbuf_new_from_file(path(name).c_str(), nullptr);
    gchar* data = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(p, &data, &size, "jpeg", nullptr, "quality", "100", nullptr);
    g_object_unref(p);
    std::string bytes(data, 2);  // SOI, then the APP1 EXIF segment, then the rest
    if (orientation > 0)
      bytes += std::string(
                   "\xFF\xE1\0\x22"
                   "Exif\0\0MM\0\x2A\0\0\0\x08\0\x01\x01\x12\0\x03\0\0\0\x01\0",
                   29) +
               char(orientation) + std::string(6, '\0');
    std::ofstream(path(name)) << bytes.append(data + 2, size - 2);
    g_free(data);
  }

  // Runs the tool through the shell in the test folder: `args` are its arguments (file names
  // relative to the folder), `tool` the command that runs it as $TOOL (with limits, as another
  // user, beside a reader). Returns its exit status and what it wrote to stdout and stderr.
  Result run(const std::string& args, const std::string& tool = "$TOOL") const {
    setenv("TOOL", QUILLANE_MATTE_PATH, 1);
    const int status = std::system(("cd '" + dir_ + "' || exit 99; " + tool + " " + args +
                                    " >.stdout 2>.stderr; s=$?; wait; exit $s")
                                       .c_str());
    Result r{WEXITSTATUS(status), read_file(path(".stdout")), read_file(path(".stderr"))};
    std::filesystem::remove(path(".stdout"));
    std::filesystem::remove(path(".stderr"));
    return r;
  }

  // Files in the folder other than the ones a test wrote itself.
  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const std::string name = entry.path().filename();
      if (name != "image.png" && name != "layer.png" && name.rfind("in-", 0) != 0)
        names.push_back(name);
    }
    return names;
  }

  std::string dir_;
};

// Alpha at the background strokes (column 1) at most 2 and at the foreground ones at least 253.
void expect_scene_matte(const PngPixels& p, int channel) {
  for (int y = 0; y < p.height; ++y) {
    EXPECT_LE(p.data[(size_t(y) * p.width + 1) * p.channels + channel], 2) << y;
    EXPECT_GE(p.data[(size_t(y) * p.width + p.width - 2) * p.channels + channel], 253) << y;
  }
}

// The image with the matte as alpha; the matte alone as grey, the same from a trimap saying
// what the layer says; regions reaching past the image, cut at its edges (alpha 0 outside); a
// grey stroke as an alternate transparency; two levels with their trace.
TEST_F(Tool, WritesTheMatteTheOptionsAskFor) {
  Result r = run("image.png layer.png out.png");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "\a");                // the engine's bell; one level, no trace line
  EXPECT_EQ(read_file(path("out.png"))[25], 6);  // IHDR colour type: RGBA
  const PngPixels rgba = read_png(path("out.png"), 4), in = read_png(path("image.png"), 3);
  ASSERT_TRUE(rgba.width == W && rgba.height == H);
  for (size_t i = 0; i < in.data.size(); ++i) ASSERT_EQ(rgba.data[i / 3 * 4 + i % 3], in.data[i]);
  expect_scene_matte(rgba, 3);
  EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"});
  write_png("in-trimap.png", W, H, [](int x, int) {
    return std::vector<uint8_t>{uint8_t(x < 6 ? 0 : x < W - 6 ? 128 : 255)};
  });
  write_png("in-grey.png", W, H, strokes({{0, 0, 6, H, 0, 255}, {W - 6, 0, 6, H, 128, 255}}));
  const char* runs[] = {
      "--quiet image.png layer.png",
      "--trimap image.png in-trimap.png",
      "--region -3,5,47,26 image.png layer.png",  // x 0..43, y 5..30
      "--region 4,-2,40,99 image.png layer.png",  // x 4..43, y 0..35
      "image.png in-grey.png",
      "--levels 2 --active 2 --threshold 0.05 --softness 1e-6 --radius 1 image.png layer.png"};
  for (int k = 0; k < 6; ++k) {
    Result a = run(std::string("--alpha-only ") + runs[k] + " a.png");
    ASSERT_EQ(a.exit_code, 0) << a.err;
    EXPECT_EQ(a.out, k == 0 ? "" : k < 5 ? "\a" : "levels_num 2 Active_levels_num 2\n\a");
    EXPECT_EQ(read_file(path("a.png"))[25], 0);  // 8-bit grey
    const PngPixels p = read_png(path("a.png"), 1);
    for (size_t i = 0; i < p.data.size() && k < 2; ++i) ASSERT_EQ(p.data[i], rgba.data[i * 4 + 3]);
    for (int i = 0; i < W * H && (k == 2 || k == 3); ++i) {
      const int x = i % W, y = i / W;
      const bool inside =
          x >= (k == 2 ? 0 : 4) && x < 44 && y >= (k == 2 ? 5 : 0) && y < (k == 2 ? 31 : H);
      EXPECT_TRUE(inside ? x < W - 6 || p.data[i] >= 253 : p.data[i] == 0) << x << "," << y;
    }
    EXPECT_NEAR(k == 4 ? p.data[size_t(H / 2) * W + W - 2] : 128, 128, 2);
    if (k == 5) expect_scene_matte(p, 0);
  }
}

// Red in front of blue, blended linearly across the middle: --foreground gives the partly
// transparent pixels red back (the true foreground) and leaves every other byte alone.
TEST_F(Tool, ForegroundCleansOnlyPartlyTransparentColours) {
  write_png("in-blend.png", W, H, [](int x, int) {
    const double a = std::clamp((x - 12) / 24.0, 0.0, 1.0);
    return std::vector<uint8_t>{uint8_t(std::lround(30 + 190 * a)), 40,
                                uint8_t(std::lround(210 - 180 * a))};
  });
  ASSERT_EQ(run("--foreground in-blend.png layer.png c.png").exit_code, 0);
  ASSERT_EQ(run("in-blend.png layer.png m.png").exit_code, 0);
  const PngPixels c = read_png(path("c.png"), 4), m = read_png(path("m.png"), 4);
  const int red[3] = {220, 40, 30};
  int partial = 0;
  for (size_t i = 0; i < m.data.size(); ++i) {
    const bool kept = i % 4 == 3 || m.data[i | 3] == 0 || m.data[i | 3] == 255;
    partial += !kept && i % 4 == 0;
    EXPECT_NEAR(c.data[i], kept ? m.data[i] : red[i % 4], kept ? 0 : 4) << i;
  }
  EXPECT_GT(partial, 20 * H);
}

// Every bad input: its exit status (1 unusable input, 2 wrong usage), one line on stderr
// naming the problem, no output file and nothing left behind.
TEST_F(Tool, BadInputFailsCleanly) {
  write_png("in-black.png", W, H, strokes({{0, 0, 6, H, 0, 255}}));
  write_png("in-white.png", W, H, strokes({{0, 0, 6, H, 255, 255}}));
  write_png("in-empty.png", W, H, strokes({}));
  write_png("in-small.png", W - 1, H, strokes({{0, 0, 6, H, 255, 255}}));
  write_png("in-254.png", W, H, strokes({{0, 0, 6, H, 0, 255}, {40, 0, 6, H, 255, 254}}));
  std::ofstream(path("in-garbage.png")) << "this is not an image";
  write_jpeg("in-cut.jpg", W, H, 0);
  const std::string png = read_file(path("image.png")), jpeg = read_file(path("in-cut.jpg"));
  std::ofstream(path("in-cut.png")) << png.substr(0, png.size() / 2);
  std::ofstream(path("in-cut.jpg")) << jpeg.substr(0, jpeg.size() / 2);
  const struct {
    const char* args;
    int exit_code;
    const char* says;
  } cases[] = {
      {"missing.png layer.png out.png", 1, "cannot read image"},
      {"in-cut.png layer.png out.png", 1, "cannot read image"},
      {"in-cut.jpg layer.png out.png", 1, "damaged or incomplete (Premature end of JPEG file)"},
      {". layer.png out.png", 1, "is a directory"},
      {"image.png in-garbage.png out.png", 1, "cannot read strokes"},
      {"--trimap image.png missing.png out.png", 1, "cannot read trimap"},
      {"image.png in-small.png out.png", 1, "47x36 but the image is 48x36"},
      {"image.png in-black.png out.png", 1, "no foreground"},
      {"image.png in-254.png out.png", 1, "no foreground"},
      {"image.png in-white.png out.png", 1, "no background"},
      {"image.png in-empty.png out.png", 1, "no strokes"},
      {"image.png image.png out.png", 1,
       "every pixel is painted: nothing to calculate; is this a trimap? use --trimap"},
      {"--region 20,0,2,36 image.png layer.png out.png", 1,
       "2R+1 pixels in each direction (3 with window radius R = 1); it is 2x36"},
      {"image.png layer.png no-such-folder/out.png", 1, "cannot write"},
      {"--levels 0 image.png layer.png out.png", 2, "--levels 0"},
      {"--levels 4 image.png layer.png out.png", 2,
       "--levels 4 is out of range 1..3 for a 48x36 image"},
      {"--levels 2 --active 3 image.png layer.png out.png", 2, "--active 3"},
      {"--threshold 0.500001 image.png layer.png out.png", 2,
       "--threshold 0.500001 is out of range 0..0.5"},
      {"--radius 1.5 image.png layer.png out.png", 2, "--radius"},
      {"--region 48,0,5,5 image.png layer.png out.png", 2, "outside the 48x36 image"},
      {"--region 0,0,0,5 image.png layer.png out.png", 2, "--region"},
      {"--frobnicate image.png layer.png out.png", 2, "unknown option"},
      {"--foreground --alpha-only image.png layer.png out.png", 2, "--foreground"},
      {"image.png layer.png out.png extra.png", 2, "expected IMAGE STROKES OUTPUT"},
  };
  for (const auto& c : cases) {
    Result r = run(c.args);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.args << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.args << "\n" << r.err;
    EXPECT_TRUE(leftovers().empty()) << c.args;
  }
}

// OUTPUT is written to, not replaced by something else: each destination receives exactly the
// PNG of a plain run, and nothing is left behind.
TEST_F(Tool, OutputIsWrittenWhereItPoints) {
  ASSERT_EQ(run("--quiet image.png layer.png in-ref.png").exit_code, 0);
  const std::string png = read_file(path("in-ref.png"));
  auto old_file = [this](const char* name, mode_t mode) {
    std::ofstream(path(name)) << "previous";
    chmod(path(name).c_str(), mode);
  };
  auto stat_of = [this](const char* name) {
    struct stat st = {};
    lstat(path(name).c_str(), &st);
    return st;
  };
  auto write = [&](const std::string& output, const std::string& tool = "$TOOL") {
    Result r = run("image.png layer.png " + output, tool);
    EXPECT_EQ(r.exit_code, 0) << output << ": " << r.err;
    return r.out;
  };
  // A file keeps its mode; a link stays a link and its target, even a dangling one's, gets the
  // PNG, keeping the target's mode.
  old_file("out.png", 0640);
  write("out.png");
  EXPECT_EQ(read_file(path("out.png")), png);
  EXPECT_EQ(stat_of("out.png").st_mode & 07777, 0640u);
  std::filesystem::create_directory(path("elsewhere"));
  old_file("elsewhere/target.png", 0600);
  symlink("elsewhere/target.png", path("link.png").c_str());
  symlink("elsewhere/new.png", path("dangling.png").c_str());
  for (const char* link : {"link.png", "dangling.png"}) {
    write(link);
    EXPECT_TRUE(S_ISLNK(stat_of(link).st_mode)) << link;
  }
  EXPECT_EQ(read_file(path("elsewhere/target.png")) + read_file(path("elsewhere/new.png")),
            png + png);
  EXPECT_EQ(stat_of("elsewhere/target.png").st_mode & 07777, 0600u);
  // "-" is standard output; a FIFO is written to (its reader gives up after a minute if the
  // tool never opens it).
  EXPECT_EQ(write("-"), png);
  mkfifo(path("fifo").c_str(), 0600);
  write("fifo", "timeout 60 cat fifo >in-fifo.png & $TOOL");
  EXPECT_EQ(read_file(path("in-fifo.png")), png);
  // A file in a folder the user may not write to is updated in place: same inode and mode.
  for (const std::string& p : {dir_, path("image.png"), path("layer.png")}) chmod(p.c_str(), 0755);
  std::filesystem::create_directory(path("locked"));
  old_file("locked/out.png", 0666);
  const ino_t inode = stat_of("locked/out.png").st_ino;
  chmod(path("locked").c_str(), 0555);
  write("locked/out.png",
        geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups $TOOL" : "$TOOL");
  EXPECT_EQ(read_file(path("locked/out.png")), png);
  EXPECT_EQ(stat_of("locked/out.png").st_ino, inode);
  EXPECT_EQ(stat_of("locked/out.png").st_mode & 07777, 0666u);
  chmod(path("locked").c_str(), 0755);
  EXPECT_EQ(leftovers().size(), 6u) << "a temporary file was left";
}

// Stopped by SIGINT or SIGTERM while the output is being written (a large image, a tiny
// region), or failing to write it (files limited to 512 bytes): exit status 128 + N or 1, the
// hidden temporary file removed, an existing OUTPUT as it was. (A background job of the shell
// ignores SIGINT unless told otherwise.)
TEST_F(Tool, AnInterruptedWriteLeavesTheOutputAsItWas) {
  write_png("in-big.png", 2400, 1800, [seed = 1u](int, int) mutable {
    std::vector<uint8_t> noise(3);
    for (uint8_t& b : noise) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
    return noise;
  });
  write_png("in-big-layer.png", 2400, 1800,
            strokes({{0, 0, 2, 8, 0, 255}, {6, 0, 2, 8, 255, 255}}));
  const std::string args = "--region 0,0,8,8 in-big.png in-big-layer.png out.png";
  const std::string stop =
      " & for i in $(seq 2000); do ls .out.png.* >/dev/null 2>&1 && break; sleep 0.01; done; kill "
      "-";
  for (const char* how : {"INT", "TERM", "file size"}) {
    std::ofstream(path("out.png")) << "previous";
    const bool signal = how[0] != 'f';
    Result r = signal ? run(args + stop + how + " $!; wait $!", "env --default-signal=INT $TOOL")
                      : run(args, "trap '' XFSZ; ulimit -f 1; $TOOL");
    EXPECT_EQ(r.exit_code, how[0] == 'I' ? 130 : signal ? 143 : 1) << how;
    EXPECT_NE(r.err.find(signal ? "" : "cannot write 'out.png'"), std::string::npos) << r.err;
    EXPECT_TRUE(read_file(path("out.png")) == "previous") << how;
    EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"}) << how;
  }
}

// Out of memory inside the calculation is a failure with the engine's message and a line of
// advice, not an abort: an address-space limit that lets the small image through (OpenBLAS
// alone reserves 128 MB) and not a 700 x 700 one.
TEST_F(Tool, RunningOutOfMemoryIsAFailureNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than RLIMIT_AS allows";
#endif
  write_png("in-700.png", 700, 700, gradient(700));
  write_png("in-700-layer.png", 700, 700,
            strokes({{0, 0, 6, 700, 0, 255}, {694, 0, 6, 700, 255, 255}}));
  // OpenBLAS retries a failed allocation for ever: a hung tool is stopped.
  const char* limited = "ulimit -v 460800; timeout 60 $TOOL";
  EXPECT_EQ(run("image.png layer.png small.png", limited).exit_code, 0);
  Result big = run("in-700.png in-700-layer.png big.png", limited);
  EXPECT_EQ(big.exit_code, 1);
  EXPECT_EQ(
      big.err,
      "quillane-matte: failure: out_of_memory\n"
      "quillane-matte: try --levels auto, more --levels, more strokes or a smaller --region\n");
  EXPECT_TRUE(leftovers() == std::vector<std::string>{"small.png"});
}

// A camera JPEG stored 16 x 8 with EXIF orientation 6 is shown 8 x 16 by the editor, which
// saves its layer at that size: the tool reads it the same way, and the strokes land on the
// shown pixels (turned clockwise: shown (x, y) is stored (y, 7 - x)).
TEST_F(Tool, TurnedCameraJpegIsReadAsTheEditorShowsIt) {
  write_jpeg("in-camera.jpg", 16, 8, 6);
  write_png("in-camera-layer.png", 8, 16, strokes({{0, 0, 8, 3, 0, 255}, {0, 13, 8, 3, 255, 255}}));
  ASSERT_EQ(run("in-camera.jpg in-camera-layer.png out.png").exit_code, 0);
  const PngPixels out = read_png(path("out.png"), 4);
  ASSERT_TRUE(out.width == 8 && out.height == 16);
  GdkPixbuf* jpeg = gdk_pixbuf_new_from_file(path("in-camera.jpg").c_str(), nullptr);
  ASSERT_EQ(gdk_pixbuf_get_width(jpeg), 16);  // the loader alone does not turn it
  const uint8_t* px = gdk_pixbuf_read_pixels(jpeg);
  const int stride = gdk_pixbuf_get_rowstride(jpeg), nc = gdk_pixbuf_get_n_channels(jpeg);
  for (int i = 0; i < 8 * 16 * 3; ++i)
    ASSERT_EQ(out.data[i / 3 * 4 + i % 3], px[(7 - i / 3 % 8) * stride + i / 24 * nc + i % 3])
        << i / 3;
  g_object_unref(jpeg);
  EXPECT_TRUE(out.data[(1 * 8 + 4) * 4 + 3] <= 2 && out.data[(14 * 8 + 4) * 4 + 3] >= 253);
}

// On a terminal standard error carries a progress line redrawn in place and cleared at the
// end; --quiet turns it off. Two levels of a 300 x 300 image take long enough to be seen.
TEST_F(Tool, ShowsProgressOnATerminal) {
  write_png("in-300.png", 300, 300, gradient(300));
  write_png("in-300-layer.png", 300, 300,
            strokes({{0, 0, 6, 300, 0, 255}, {294, 0, 6, 300, 255, 255}}));
  for (const std::string quiet : {"", "--quiet "}) {
    // The terminal's output comes back as standard output.
    Result r = run("", "script -qec '$TOOL --levels=2 --active=2 " + quiet +
                           "in-300.png in-300-layer.png p.png >/dev/null' /dev/null");
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.out.find("\rlevel 1 of 2 \u00b7 ") == std::string::npos, !quiet.empty()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() < 4 ? 0 : r.out.size() - 4),
              quiet.empty() ? "\r\033[K" : "");
  }
}

TEST_F(Tool, HelpAndVersion) {
  Result h = run("--help"), v = run("--version");
  EXPECT_EQ(h.exit_code + v.exit_code, 0);
  EXPECT_EQ(h.out.rfind("Usage: quillane-matte [OPTIONS] IMAGE STROKES OUTPUT\n", 0), 0u);
  EXPECT_NE(h.out.find("(1e-07; 1e-07 to 1e-05)"), std::string::npos);  // from the option table
  EXPECT_EQ(v.out, "quillane-matte 0.10.4\n");
}

}  // namespace
