// The command-line tool, run through the shell in a folder of small generated files.
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <png.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <tuple>
#include <vector>

#include "fileio/png_write.h"
#include "matting/calc_options.h"
#include "matting/heap_tuning.h"
#include "tools/png_io.h"

namespace {

std::string read_file(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(f), {}};
}

PngPixels read_png(const std::string& path, int channels) {
  PngPixels p;
  std::string error;
  EXPECT_TRUE(png_read(path, channels, &p, &error)) << error;
  return p;
}

// The bytes of a generated image's pixel (x, y): 1, 3 or 4 of them.
using Pixels = std::function<std::vector<uint8_t>(int x, int y)>;

// A w-wide image: red in front of blue, blended linearly across the middle half.
Pixels blend(int w) {
  return [w](int x, int) {
    const double a = std::clamp((x - w / 4.0) / (w / 2.0), 0.0, 1.0);
    return std::vector<uint8_t>{uint8_t(std::lround(30 + 190 * a)), 40,
                                uint8_t(std::lround(210 - 180 * a))};
  };
}

// A stroke layer as the editor saves it (RGBA): rectangles {x, y, w, h, grey, opacity}.
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

// A 1 x 1 GIF: header, screen, two colours, image block, trailer.
const std::string kGif(
    "GIF89a\x01\0\x01\0\x80\0\0\xff\xff\xff\0\0\0,\0\0\0\0\x01\0\x01\0\0\x02\x02"
    "D\x01\0;",
    35);

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
    write_png("image.png", W, H, blend(W));
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

  // A W x H image of the blend in another format GdkPixbuf writes ("bmp", "ico").
  void write_image(const std::string& name, const char* type) const {
    write_png(name, W, H, blend(W));
    GdkPixbuf* p = gdk_pixbuf_new_from_file(path(name).c_str(), nullptr);
    ASSERT_TRUE(gdk_pixbuf_save(p, path(name).c_str(), type, nullptr, nullptr));
    g_object_unref(p);
  }

  // A w x h JPEG of a pattern, with an EXIF orientation tag when orientation > 0.
  void write_jpeg(const std::string& name, int w, int h, int orientation) const {
    write_png(name, w, h, [](int x, int y) {
      return std::vector<uint8_t>{uint8_t(16 * x), uint8_t(32 * y), 128};
    });
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

  // Runs the tool through the shell in the test folder on `args` ($I, $L, $O: image.png,
  // layer.png, out.png); `tool` runs it as $TOOL (stopped after a minute: a hang fails), perhaps
  // under limits or another user.
  Result run(const std::string& args, const std::string& tool = "timeout 60 $TOOL") const {
    const int status = std::system(("cd '" + dir_ +
                                    "' || exit 99; export TOOL=" QUILLANE_MATTE_PATH
                                    " I=image.png L=layer.png O=out.png; " +
                                    tool + " " + args + " >.stdout 2>.stderr; s=$?; wait; exit $s")
                                       .c_str());
    Result r{WEXITSTATUS(status), read_file(path(".stdout")), read_file(path(".stderr"))};
    std::filesystem::remove(path(".stdout"));
    std::filesystem::remove(path(".stderr"));
    return r;
  }

  // Files in the folder other than the ones a test wrote itself.
  // Commands run as nobody when the tests run as root (root may write anything): $NOBODY is
  // their prefix, $NOBODY_TOOL a copy of the tool in the test's folder, which nobody can reach
  // where the build tree may be private.
  void as_nobody_when_root() {
    setenv("NOBODY", geteuid() == 0 ? "setpriv --reuid=65534 --regid=65534 --clear-groups" : "", 1);
    std::filesystem::copy_file(QUILLANE_MATTE_PATH, path("in-tool"),
                               std::filesystem::copy_options::overwrite_existing);
    chmod(path("in-tool").c_str(), 0755);
    chmod(dir_.c_str(), 0755);
    setenv("NOBODY_TOOL", path("in-tool").c_str(), 1);
  }

  std::vector<std::string> leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir_)) {
      const std::string name = entry.path().filename();
      if (name != "image.png" && name != "layer.png" && name.rfind("in-", 0) != 0)
        names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
  }

  std::string dir_;
};

// The encoder's files decode to the pixels given, for each channel count, padded strides, noise
// and flat runs; what it cannot encode is refused with a reason.
TEST(PngEncoder, FilesDecodeToThePixelsGiven) {
  struct Case {
    int width, height, channels, pad;
  } cases[] = {{1, 1, 1, 0}, {37, 5, 3, 3}, {64, 48, 4, 0}, {300, 7, 1, 5}, {5, 300, 4, 2}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << "x" << c.channels);
    const int stride = c.width * c.channels + c.pad;
    std::vector<uint8_t> pixels(static_cast<size_t>(stride) * c.height);
    for (size_t i = 0; i < pixels.size(); ++i)  // odd rows noise, even rows flat
      pixels[i] = (i / stride) % 2 ? uint8_t((i * 2654435761u) >> 13) : uint8_t(i / stride);
    std::vector<uint8_t> file;
    std::string error;
    ASSERT_TRUE(png_encode(pixels.data(), c.width, c.height, c.channels, stride, &file, &error))
        << error;
    EXPECT_NE(std::string(file.begin(), file.end()).find("sRGB"), std::string::npos);
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    ASSERT_TRUE(png_image_begin_read_from_memory(&image, file.data(), file.size()));
    image.format = png_simplified_format(c.channels);
    std::vector<uint8_t> decoded(PNG_IMAGE_SIZE(image));
    ASSERT_TRUE(png_image_finish_read(&image, nullptr, decoded.data(), 0, nullptr));
    ASSERT_EQ(int(image.width), c.width);
    ASSERT_EQ(int(image.height), c.height);
    for (int y = 0; y < c.height; ++y)
      ASSERT_TRUE(std::equal(pixels.begin() + size_t(y) * stride,
                             pixels.begin() + size_t(y) * stride + c.width * c.channels,
                             decoded.begin() + size_t(y) * c.width * c.channels))
          << "row " << y;
  }
  const uint8_t pixel[8] = {};
  struct Bad {
    int width, height, channels, stride;
  } bad[] = {{1, 1, 2, 2}, {2, 1, 3, 5}, {0, 1, 1, 1}, {1, 0, 1, 1}};
  for (const Bad& b : bad) {
    std::vector<uint8_t> file;
    std::string error;
    EXPECT_FALSE(png_encode(pixel, b.width, b.height, b.channels, b.stride, &file, &error));
    EXPECT_FALSE(error.empty());
  }
}

// The tool runs on a tuned heap after one restart, under its own name, the user's tunables first; a
// user's own choice of huge pages stands, and so does the heap of a run under a memory limit. The
// restart also stops OpenBLAS's idle threads spinning, unless the user says otherwise. Seen in its
// environment while it waits for a FIFO's reader (up to the first colon: the loader cuts the
// variable there as it reads it).
TEST_F(Tool, RunsOnATunedHeapAfterOneRestart) {
  if (runs_under_memory_limit())
    GTEST_SKIP() << "the tests run under a memory limit: the tool keeps its heap as it is";
  const std::string ours = std::string(kHeapTunablesOneCalculation)
                               .substr(0, std::string(kHeapTunablesOneCalculation).find(':'));
  const std::string blas = "OPENBLAS_THREAD_TIMEOUT=4\n", mark = "QUILLANE_HEAP_TUNED=1\n";
  struct Case {
    std::string before, given, seen;  // before: a limit or a variable for the tool's shell
  } cases[] = {{"", "", "GLIBC_TUNABLES=" + ours + "\n" + blas + mark},
               {"", "glibc.malloc.perturb=0", "GLIBC_TUNABLES=glibc.malloc.perturb=0\n" + blas + mark},
               {"OPENBLAS_THREAD_TIMEOUT=12", "",
                "GLIBC_TUNABLES=" + ours + "\nOPENBLAS_THREAD_TIMEOUT=12\n" + mark},
               {"", "glibc.malloc.hugetlb=0", "GLIBC_TUNABLES=glibc.malloc.hugetlb=0\n"},
               {"ulimit -v 4000000;", "", "GLIBC_TUNABLES=\n"},
               {"ulimit -d 4000000;", "", "GLIBC_TUNABLES=\n"}};
  for (const Case& c : cases) {
#if defined(__SANITIZE_ADDRESS__)
    // AddressSanitizer cannot start under such limits.
    if (c.before.find("ulimit") != std::string::npos) continue;
#endif
    const Result r =
        run("", "{ mkfifo f; (" + c.before + " GLIBC_TUNABLES='" + c.given +
                    "' exec $TOOL $I $L f) & p=$!; sleep 1; tr '\\0' '\\n' </proc/$p/environ"
                    " | grep -a -e ^GLIBC_TUNABLES= -e ^OPENBLAS_THREAD_TIMEOUT= -e ^QUILLANE_HEAP_TUNED="
                    " | sed 's/:.*//' | sort;"
                    " cat /proc/$p/comm; kill $p; rm f; }");
    // Under its own name, for ps, pgrep and killall.
    EXPECT_EQ(r.out, c.seen + "quillane-matte\n") << c.before << c.given;
  }
}

// Alpha at the background strokes (column 1) at most 2 and at the foreground ones at least 253.
void expect_scene_matte(const PngPixels& p, int channel) {
  for (int y = 0; y < p.height; ++y) {
    EXPECT_LE(p.data[(size_t(y) * p.width + 1) * p.channels + channel], 2) << y;
    EXPECT_GE(p.data[(size_t(y) * p.width + p.width - 2) * p.channels + channel], 253) << y;
  }
}

// The image with the matte as alpha (and clean edge colours); the matte alone, also from a
// trimap, of regions cut at the image's edges, of a grey stroke, of two levels.
TEST_F(Tool, WritesTheMatteTheOptionsAskFor) {
  Result r = run("$I $L $O");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "\a");                // the engine's bell; one level, no trace line
  EXPECT_EQ(read_file(path("out.png"))[25], 6);  // IHDR colour type: RGBA
  const PngPixels rgba = read_png(path("out.png"), 4), in = read_png(path("image.png"), 3);
  ASSERT_TRUE(rgba.width == W && rgba.height == H);
  for (size_t i = 0; i < in.data.size(); ++i) ASSERT_EQ(rgba.data[i / 3 * 4 + i % 3], in.data[i]);
  expect_scene_matte(rgba, 3);
  EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"});
  // --foreground gives the partly transparent pixels the true foreground colour (red) and
  // leaves every other byte alone.
  ASSERT_EQ(run("--foreground $I $L f.png").exit_code, 0);
  const PngPixels f = read_png(path("f.png"), 4);
  int partial = 0;
  for (size_t i = 0; i < f.data.size(); ++i) {
    const bool kept = i % 4 == 3 || rgba.data[i | 3] == 0 || rgba.data[i | 3] == 255;
    const int red[3] = {220, 40, 30};
    partial += !kept && i % 4 == 0;
    EXPECT_NEAR(f.data[i], kept ? rgba.data[i] : red[i % 4], kept ? 0 : 4) << i;
  }
  EXPECT_GT(partial, 20 * H);
  write_png("in-trimap.png", W, H, [](int x, int) {
    return std::vector<uint8_t>{uint8_t(x < 6 ? 0 : x < W - 6 ? 128 : 255)};
  });
  write_png("in-grey.png", W, H, strokes({{0, 0, 6, H, 0, 255}, {W - 6, 0, 6, H, 128, 255}}));
  const char* runs[] = {
      "--trimap $I in-trimap.png", "--region -3,5,47,26 $I $L",  // x 0..43, y 5..30
      "$I in-grey.png", "--levels 2 --active 2 --threshold 0.05 --softness 1e-6 --radius 1 $I $L"};
  for (int k = 0; k < 4; ++k) {
    Result a = run(std::string("--alpha-only ") + runs[k] + " a.png");
    ASSERT_EQ(a.exit_code, 0) << a.err;
    EXPECT_EQ(a.out, k < 3 ? "\a" : "levels_num 2 Active_levels_num 2\n\a");
    EXPECT_EQ(read_file(path("a.png"))[25], 0);  // 8-bit grey
    const PngPixels p = read_png(path("a.png"), 1);
    for (size_t i = 0; i < p.data.size() && k < 1; ++i) ASSERT_EQ(p.data[i], rgba.data[i * 4 + 3]);
    for (int i = 0; i < W * H && k == 1; ++i) {
      const bool inside = i % W < 44 && i / W >= 5 && i / W < 31;
      EXPECT_TRUE(inside ? i % W < W - 6 || p.data[i] >= 253 : p.data[i] == 0) << i;
    }
    EXPECT_NEAR(k == 2 ? p.data[size_t(H / 2) * W + W - 2] : 128, 128, 2);  // grey 128: ~0.5
    if (k == 3) expect_scene_matte(p, 0);
  }
}

// The help is made from the option tables: every calculation option with its value and range,
// the automatic solver's threshold from its constant, the tool's own options.
TEST_F(Tool, HelpComesFromTheOptionTables) {
  Result r = run("--help");
  EXPECT_EQ(r.exit_code, 0);
  std::string help;  // lines joined, as the help wraps its text
  for (char c : r.out)
    if (!std::isspace(static_cast<unsigned char>(c)) || (!help.empty() && help.back() != ' '))
      help += std::isspace(static_cast<unsigned char>(c)) ? ' ' : c;
  char solver[80];
  std::snprintf(solver, sizeof solver, "iterative above %.0f unknown", CALC_ITERATIVE_UNKNOWNS);
  std::vector<std::string> says = {solver, "--levels N|auto", "--force", "--region X,Y,W,H",
                                   "(default 1e-07; 1e-07 to 1e-05)"};
  for (const CalcOptionSpec& o : calc_option_table)
    says.insert(says.end(), {std::string("--") + o.name + " " + o.value_name, o.description});
  for (const std::string& text : says) EXPECT_NE(help.find(text), std::string::npos) << text;
}

// Bad input: exit status 1 (unusable) or 2 (usage), one line naming it, nothing left behind,
// the inputs untouched; an output that cannot be written is refused before the calculation
// (which rings the bell on stdout at its end).
TEST_F(Tool, BadInputFailsCleanly) {
  write_png("in-black.png", W, H, strokes({{0, 0, 6, H, 0, 255}}));
  write_png("in-white.png", W, H, strokes({{0, 0, 6, H, 255, 255}}));
  write_png("in-empty.png", W, H, strokes({}));
  write_png("in-small.png", W - 1, H, strokes({{0, 0, 6, H, 255, 255}}));
  write_png("in-254.png", W, H, strokes({{0, 0, 6, H, 0, 255}, {40, 0, 6, H, 255, 254}}));
  write_png("in-thin.png", W, H, strokes({{9, 0, 1, H, 0, 255}, {37, 0, 1, H, 255, 255}}));
  write_png("in-edge.png", W, H, strokes({{0, 0, 2, H, 0, 255}, {W - 2, 0, 2, H, 255, 255}}));
  write_png("in-bg.png", W, H,
            [](int x, int) { return std::vector<uint8_t>{uint8_t(x < 6 ? 0 : 99)}; });
  std::ofstream(path("in-garbage.png")) << "this is not an image";
  write_jpeg("in-cut.jpg", W, H, 0);
  write_image("in-cut.bmp", "bmp");
  write_image("in-cut.ico", "ico");
  std::ofstream(path("in-cut.gif")) << kGif.substr(0, kGif.size() * 3 / 4);
  std::ofstream(path("in-1x1.gif")) << kGif;
  for (const char* cut : {"in-cut.jpg", "in-cut.bmp", "in-cut.ico"}) {
    const std::string bytes = read_file(path(cut));
    std::ofstream(path(cut)) << bytes.substr(0, bytes.size() / 2);
  }
  ASSERT_EQ(run("", "mkfifo in-fifo; ln -s $L in-link.png").exit_code, 0);
  const std::string image = read_file(path("image.png")), layer = read_file(path("layer.png"));
  // Arguments, exit status, what the message says, the lines it takes after a calculation
  // (0: one line, no calculation).
  for (auto [args, exit_code, says, calculated] :
       std::vector<std::tuple<const char*, int, const char*, int>>{
           {"missing.png $L $O", 1, "cannot read image", 0},
           {"in-cut.jpg $L $O", 1, "damaged or incomplete (Premature end of JPEG file)", 0},
           {"in-cut.gif $L $O", 1, "GIF file \u201cin-cut.gif\u201d is damaged or incomplete", 0},
           {"in-cut.bmp $L $O", 1, "BMP file \u201cin-cut.bmp\u201d is damaged or incomplete", 0},
           {"$I in-cut.ico $O", 1, "ICO file \u201cin-cut.ico\u201d is damaged or incomplete", 0},
           {"in-1x1.gif $L $O", 1, "48x36 but the image is 1x1", 0},
           {". $L $O", 1, "is a directory", 0},
           {"$I in-garbage.png $O", 1, "cannot read strokes", 0},
           {"--trimap $I missing.png $O", 1, "cannot read trimap", 0},
           {"$I in-small.png $O", 1, "47x36 but the image is 48x36", 0},
           {"$I in-black.png $O", 1, "no foreground", 0},
           {"$I in-254.png $O", 1, "no foreground", 0},
           {"$I in-white.png $O", 1, "no background", 0},
           {"$I in-empty.png $O", 1, "no strokes", 0},
           {"$I $I $O", 1, "every pixel is painted: nothing to calculate; is this a trimap?", 0},
           {"--trimap $I $L $O", 1, "is it a stroke layer? leave out --trimap", 0},
           {"--trimap $I in-bg.png $O", 1, "the trimap has no foreground (255) pixel in the image",
            0},
           {"--region 20,0,2,36 $I $L $O", 1,
            "2R+1 pixels in each direction (3 with window radius R = 1); it is 2x36", 0},
           {"--levels 2 $I in-thin.png $O", 1, "strokes too thin for that many levels", 2},
           {"--levels 2 $I in-edge.png $O", 1, "use fewer levels or automatic levels", 2},
           {"$I $L no-such-folder/out.png", 1, "cannot write", 0},
           {"$I $L ''", 1, "cannot write '': the name is empty", 0},
           {"$I $L in-fifo", 1, "cannot write 'in-fifo': no process reads this FIFO", 0},
           {"$I $L /dev/full", 1, "cannot write '/dev/full': No space left on device", 1},
           {"--alpha-only $I $L $I", 2, "OUTPUT 'image.png' is the same file as IMAGE", 0},
           {"$I $L in-link.png", 2, "is the same file as STROKES 'layer.png'", 0},
           {"--levels 0 $I $L $O", 2, "--levels 0", 0},
           {"--levels 4 $I $L $O", 2, "--levels 4 is out of range 1..3 for a 48x36 image", 0},
           {"--levels 1e10 $I $L $O", 2, "--levels 1e10 is out of range 1..3", 0},
           {"--levels 0x2 $I $L $O", 2, "--levels needs a whole number, not '0x2'", 0},
           {"--levels 2 --active 3 $I $L $O", 2, "--active 3", 0},
           {"--levels auto --active 2 $I $L $O", 2, "--active cannot go with --levels auto", 0},
           {"--threshold 0.500001 $I $L $O", 2, "--threshold 0.500001 is out of range 0..0.5", 0},
           {"--radius 1.5 $I $L $O", 2, "--radius", 0},
           {"--region 48,0,5,5 $I $L $O", 2, "outside the 48x36 image", 0},
           {"--frobnicate $I $L $O", 2, "unknown option '--frobnicate'", 0},
           {"-dash.png $L $O", 2, "unknown option '-d' in '-dash.png'", 0},
           {"--quiet -dash.png $L $O", 2, "in '-dash.png'; a file whose name", 0},
           {"--quiet=1 $I $L $O", 2, "--quiet takes no value, not '--quiet=1'", 0},
           {"--foreground --alpha-only $I $L $O", 2, "--foreground", 0},
           {"$I $L $O extra.png", 2, "expected IMAGE STROKES OUTPUT", 0}}) {
    Result r = run(args);
    EXPECT_EQ(r.exit_code, exit_code) << args << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), std::max(calculated, 1)) << args;
    EXPECT_NE(r.err.find(says), std::string::npos) << args << "\n" << r.err;
    EXPECT_EQ(r.out, calculated > 0 ? "\a" : "") << args;
    EXPECT_TRUE(leftovers().empty()) << args;
  }
  EXPECT_TRUE(read_file(path("image.png")) == image && read_file(path("layer.png")) == layer);
}

// OUTPUT gets exactly the PNG of a plain run: a file keeping its mode, a link's target (also a
// dangling one's), standard output, a FIFO, a name of 250 bytes, a file in a read-only folder
// and another user's file in a sticky folder (in place, same inode), a write-protected file
// with --force (refused without); nothing is left behind.
TEST_F(Tool, OutputIsWrittenWhereItPoints) {
  ASSERT_EQ(run("--quiet $I $L in-ref.png").out, "");  // --quiet: nothing on stdout
  const std::string png = read_file(path("in-ref.png")), long_name(250, 'n');
  ASSERT_EQ(run("",
                "chmod 755 . *.png; mkdir elsewhere locked sticky open; mkfifo fifo; for f in out "
                "elsewhere/target locked/out sticky/out open/out; do echo previous >$f.png; done; "
                "chmod 640 $O; chmod 600 elsewhere/target.png; chmod 666 locked/out.png "
                "sticky/out.png; chmod 444 open/out.png; chmod 555 locked; chmod 1777 sticky; "
                "chmod 777 open; ln -s elsewhere/target.png link.png; ln -s elsewhere/new.png "
                "dangling.png")
                .exit_code,
            0);
  struct stat st = {};
  stat(path("locked/out.png").c_str(), &st);
  const ino_t locked = st.st_ino;
  stat(path("sticky/out.png").c_str(), &st);
  const ino_t sticky = st.st_ino;
  // Write-protected: refused, as nobody when the tests run as root (root may write anything).
  as_nobody_when_root();
  Result refused = run("$I $L open/out.png", "$NOBODY $NOBODY_TOOL");
  EXPECT_EQ(refused.exit_code, 1);
  EXPECT_EQ(refused.err,
            "quillane-matte: cannot write 'open/out.png': OUTPUT is write-protected; --force "
            "replaces it\n");
  EXPECT_EQ(read_file(path("open/out.png")), "previous\n");
  // Each output, how the tool runs, the file that gets the PNG and its mode (0: not checked).
  for (auto [output, tool, written, mode] :
       std::vector<std::tuple<std::string, const char*, std::string, mode_t>>{
           {"$O", "$TOOL", "out.png", 0640},
           {"link.png", "$TOOL", "elsewhere/target.png", 0600},
           {"dangling.png", "$TOOL", "elsewhere/new.png", 0},
           {"-", "$TOOL", ".stdout", 0},
           {"fifo", "(sleep 1; timeout 60 cat fifo >in-fifo.png) & $TOOL", "in-fifo.png", 0},
           {long_name, "$TOOL", long_name, 0},
           {"locked/out.png", "$NOBODY $TOOL", "locked/out.png", 0666},
           {"sticky/out.png", "$NOBODY $TOOL", "sticky/out.png", 0666},
           {"--force open/out.png", "$NOBODY $TOOL", "open/out.png", 0444}}) {
    Result r = run("$I $L " + output, tool);
    EXPECT_EQ(r.exit_code, 0) << output << ": " << r.err;
    EXPECT_TRUE((written[0] == '.' ? r.out : read_file(path(written))) == png) << output;
    stat(path(written).c_str(), &st);
    EXPECT_TRUE(mode == 0 || (st.st_mode & 07777) == mode) << output;
    if (output == "locked/out.png" || (output == "sticky/out.png" && geteuid() == 0)) {
      EXPECT_EQ(st.st_ino, output[0] == 'l' ? locked : sticky) << output;
    }
  }
  EXPECT_TRUE(std::filesystem::is_symlink(path("link.png")) &&
              std::filesystem::is_symlink(path("dangling.png")));
  chmod(path("locked").c_str(), 0755);
  EXPECT_EQ(leftovers().size(), 9u) << "a temporary file was left";
  EXPECT_EQ(run("", "ls -a elsewhere locked sticky open | grep -c quillane-").out, "0\n");
}

// A signal at each stage of the write (sent by strace as the system call of that stage
// starts), or a file size limit: exit 128 + N or 1, no temporary file left, OUTPUT as it was -
// or, for a signal after the rename, the whole new PNG. The in-place rewrite of a file in a
// read-only folder puts the old contents back before it stops.
TEST_F(Tool, AnInterruptedWriteLeavesTheOutputAsItWas) {
  write_png("in-noise.png", 300, 200, [](int x, int y) {  // noise: a PNG of some size
    const uint32_t v = (x * 2654435761u) ^ (y * 2246822519u) * 3266489917u;
    return std::vector<uint8_t>{uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8)};
  });
  write_png("in-noises.png", 300, 200, strokes({{0, 0, 2, 8, 0, 255}, {6, 0, 2, 8, 255, 255}}));
  const std::string args = "--quiet --region 0,0,8,8 in-noise.png in-noises.png ";
  ASSERT_EQ(run(args + "in-ref.png").exit_code, 0);
  const std::string png = read_file(path("in-ref.png"));
  ASSERT_EQ(run("", "chmod 755 . in-*.png; mkdir locked; touch locked/out.png").exit_code, 0);
  as_nobody_when_root();
  // OUTPUT, the system call whose start brings the signal, the signal, the exit status.
  for (auto [output, call, signal, exit_code] :
       std::vector<std::tuple<std::string, std::string, std::string, int>>{
           {"out.png", "fchmod", "INT", 130},
           {"out.png", "fchmod", "TERM", 143},
           {"out.png", "fchmod", "QUIT", 131},
           {"out.png", "fchmod", "USR1", 138},
           {"out.png", "fchmod", "ALRM", 142},
           {"out.png", "fchmod", "HUP", 129},
           {"out.png", "rename", "TERM", 143},
           {"out.png", "", "XFSZ", 1},
           {"locked/out.png", "pwrite64", "INT", 130},
           {"locked/out.png", "ftruncate", "TERM", 143}}) {
    const std::string at = output + " " + call + " " + signal;
    ASSERT_EQ(run("", "chmod 755 locked; echo previous >" + output +
                          "; chmod 666 locked/out.png; chmod 555 locked")
                  .exit_code,
              0);
    const std::string tool = (output[0] == 'l' ? "$NOBODY " : "") +
                             ("strace -qq -o /dev/null -e trace=" + call + " -e inject=" + call +
                              ":signal=" + signal + ":when=1 ") +
                             (output[0] == 'l' ? "$NOBODY_TOOL" : "$TOOL");
    Result r = run(args + output, call.empty() ? "ulimit -f 1; $TOOL" : tool);
    EXPECT_EQ(r.exit_code, exit_code) << at << r.err;
    EXPECT_EQ(r.err, call.empty() ? "quillane-matte: cannot write 'out.png': File too large\n" : "")
        << at;
    EXPECT_TRUE(read_file(path(output)) == (call == "rename" ? png : "previous\n")) << at;
    EXPECT_TRUE(leftovers() == (std::vector<std::string>{"locked", "out.png"})) << at;
    EXPECT_EQ(run("", "ls -A locked").out, "out.png\n") << at;
  }
  chmod(path("locked").c_str(), 0755);
}

// Out of memory is a failure with the engine's message and advice, not a hang or an abort,
// under any limit and with every solver (OpenBLAS retries a failed allocation of its work
// buffer for ever): the sample under limits from 150 MB to what it needs ends within 20 s with
// a matte or the message. Running out while reading the inputs says so.
TEST_F(Tool, RunningOutOfMemoryIsAFailureNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than RLIMIT_AS allows";
#endif
  const std::string sample =
      QUILLANE_SAMPLE_DIR "/lemur.png " QUILLANE_SAMPLE_DIR "/lemur_strokes.png ";
  const std::string oom = "quillane-matte: failure: out_of_memory\n";
  for (const char* solver : {"--solver direct", "--levels auto", "--solver iterative"})
    for (int mb : {150, 250, 400, 700}) {
      Result r = run("--quiet " + std::string(solver) + " " + sample + "out.png",
                     "ulimit -v " + std::to_string(mb << 10) + "; timeout 20 $TOOL");
      const bool made = r.exit_code == 0 && read_png(path("out.png"), 1).width == 680;
      EXPECT_TRUE(made || (r.exit_code == 1 &&
                           r.err == oom + "quillane-matte: try --levels auto, more --levels, more "
                                          "strokes or a smaller --region\n"))
          << solver << " under " << mb << " MB: exit " << r.exit_code << "\n"
          << r.err;
      std::filesystem::remove(path("out.png"));
    }
  ASSERT_EQ(run("",
                "convert -size 4000x4000 xc:gray in-4k.png && convert -size 4000x4000 "
                "xc:none -fill white -draw 'rectangle 0,0 9,3999' in-4ks.png")
                .exit_code,
            0);
  Result inputs = run("in-4k.png in-4ks.png $O", "ulimit -v 532480; timeout 20 $TOOL");
  EXPECT_EQ(inputs.exit_code, 1);
  EXPECT_EQ(inputs.err,
            oom + "quillane-matte: not enough memory to read the image and the strokes\n");
  EXPECT_TRUE(leftovers().empty());
}

// A JPEG stored 16 x 8 with EXIF orientation 6 is read 8 x 16, as the editor shows it and saves
// its layer: turned clockwise, shown (x, y) is stored (y, 7 - x).
TEST_F(Tool, TurnedCameraJpegIsReadAsTheEditorShowsIt) {
  write_jpeg("in-camera.jpg", 16, 8, 6);
  write_png("in-camera-layer.png", 8, 16, strokes({{0, 0, 8, 3, 0, 255}, {0, 13, 8, 3, 255, 255}}));
  ASSERT_EQ(run("in-camera.jpg in-camera-layer.png $O").exit_code, 0);
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

// A progress line on a terminal (whose output comes back as stdout), redrawn and cleared at the
// end; none with --quiet.
TEST_F(Tool, ShowsProgressOnATerminal) {
  write_png("in-300.png", 300, 300, blend(300));
  write_png("in-300s.png", 300, 300, strokes({{0, 0, 6, 300, 0, 255}, {294, 0, 6, 300, 255, 255}}));
  for (const std::string quiet : {"", "--quiet "}) {
    Result r = run("", "script -qec '$TOOL --levels=2 --active=2 " + quiet +
                           "in-300.png in-300s.png p.png >/dev/null' /dev/null");
    EXPECT_EQ(r.exit_code, 0) << r.out;
    EXPECT_EQ(r.out.find("\rlevel 1 of 2 \u00b7 ") == std::string::npos, !quiet.empty()) << r.out;
    EXPECT_EQ(r.out.substr(r.out.size() < 4 ? 0 : r.out.size() - 4),
              quiet.empty() ? "\r\033[K" : "");
  }
}

}  // namespace
