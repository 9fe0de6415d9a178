// The command-line tool, run as a child process on small generated files.
#include <fcntl.h>
#include <gdk-pixbuf/gdk-pixbuf.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/png_io.h"

namespace {

std::string read_file(const std::string& path) {
  std::stringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

struct Result {
  int exit_code = -1;
  std::string out, err;
};

// How a child runs: as the user "nobody" when the test runs as root (so that folder
// permissions apply), with its standard error on a terminal (what it shows comes back as err),
// with limits in bytes (0: none) of its address space and of the files it writes.
struct Child {
  bool as_nobody = false, terminal = false;
  rlim_t address_space = 0, file_size = 0;
};

// A rectangle of a stroke layer: grey level and opacity, 0..1.
struct Rect {
  double grey, alpha;
  int x, y, w, h;
};

class Tool : public testing::Test {
 protected:
  static constexpr int W = 48, H = 36;

  void SetUp() override {
    std::string dir = testing::TempDir() + "quillane-tool-XXXXXX";
    ASSERT_NE(mkdtemp(&dir[0]), nullptr);
    dir_ = dir;
    image_ = path("image.png");
    layer_ = path("layer.png");
    write_image(image_, W, H);
    write_layer(layer_, W, H, {{0, 1, 0, 0, 6, H}, {1, 1, W - 6, 0, 6, H}});
  }
  void TearDown() override { std::filesystem::remove_all(dir_); }

  std::string path(const char* name) const { return dir_ + "/" + name; }

  // Starts the tool with args; stdout and stderr are captured through files (or a terminal).
  pid_t start(const std::vector<std::string>& args, Child how = {}) {
    int terminal = -1;
    if (how.terminal && openpty(&master_, &terminal, nullptr, nullptr, nullptr) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
      dup2(open(path(".stdout").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600), 1);
      dup2(how.terminal ? terminal
                        : open(path(".stderr").c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600),
           2);
      if (how.as_nobody && geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(126);
      const struct rlimit memory = {how.address_space, how.address_space};
      const struct rlimit file = {how.file_size, how.file_size};
      if (how.address_space != 0 && setrlimit(RLIMIT_AS, &memory) != 0) _exit(126);
      if (how.file_size != 0 && (signal(SIGXFSZ, SIG_IGN), setrlimit(RLIMIT_FSIZE, &file)) != 0)
        _exit(126);
      // OpenBLAS retries a failed allocation for ever: end a hung child instead of the test.
      if (how.address_space != 0) alarm(60);
      std::vector<char*> argv = {const_cast<char*>(QUILLANE_MATTE_PATH)};
      for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      execv(QUILLANE_MATTE_PATH, argv.data());
      _exit(127);
    }
    if (terminal >= 0) close(terminal);
    return pid;
  }

  // Waits for a started tool; a death by signal N counts as exit status 256 + N, apart from
  // the 128 + N the tool itself returns for a signal it handled.
  Result finish(pid_t pid) {
    Result r;
    char buffer[4096];
    for (ssize_t n; master_ >= 0 && (n = read(master_, buffer, sizeof buffer)) > 0;)
      r.err.append(buffer, n);
    if (master_ >= 0) close(master_);
    master_ = -1;
    int status = 0;
    waitpid(pid, &status, 0);
    r.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : 256 + WTERMSIG(status);
    r.out = read_file(path(".stdout"));
    r.err += read_file(path(".stderr"));
    unlink(path(".stdout").c_str());
    unlink(path(".stderr").c_str());
    return r;
  }

  // Runs the tool on a command line of words split at spaces: I and L stand for the image and
  // the layer, D for the test folder, and a relative name ending in .png or .jpg for a file in
  // it.
  Result run(const std::string& line, Child how = {}) {
    std::vector<std::string> args;
    std::istringstream words(line);
    for (std::string w; words >> w;) {
      const std::string end = w.substr(std::max<size_t>(w.size(), 4) - 4);
      args.push_back(w == "I"                                          ? image_
                     : w == "L"                                        ? layer_
                     : w == "D"                                        ? dir_
                     : w[0] != '/' && (end == ".png" || end == ".jpg") ? path(w.c_str())
                                                                       : w);
    }
    return finish(start(args, how));
  }

  // A gradient with a little texture: foreground colours on the right, background on the left.
  static void write_image(const std::string& file, int w, int h) {
    PngPixels p{w, h, 3, {}};
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        const double t = static_cast<double>(x) / (w - 1);
        p.data.insert(p.data.end(), {static_cast<uint8_t>(30 + 200 * t),
                                     static_cast<uint8_t>(60 + 120 * t + (y % 3)),
                                     static_cast<uint8_t>(150 - 100 * t + (x % 2))});
      }
    std::string error;
    ASSERT_TRUE(png_write(file, p, &error)) << error;
  }

  // A stroke layer as the editor saves it: RGBA, unpainted pixels transparent.
  static void write_layer(const std::string& file, int w, int h, std::vector<Rect> rects) {
    PngPixels p{w, h, 4, std::vector<uint8_t>(size_t(w) * h * 4, 0)};
    for (const Rect& r : rects)
      for (int i = 0; i < r.w * r.h * 4; ++i)
        p.data[((size_t(r.y) + i / 4 / r.w) * w + r.x + i / 4 % r.w) * 4 + i % 4] =
            std::lround(255 * (i % 4 == 3 ? r.alpha : r.grey));
    std::string error;
    ASSERT_TRUE(png_write(file, p, &error)) << error;
  }

  // A w x h JPEG of the standard image, with an EXIF orientation tag when orientation > 0.
  static void write_jpeg(const std::string& file, int w, int h, int orientation) {
    write_image(file, w, h);
    GdkPixbuf* p = gdk_pixbuf_new_from_file(file.c_str(), nullptr);
    gchar* data = nullptr;
    gsize size = 0;
    gdk_pixbuf_save_to_buffer(p, &data, &size, "jpeg", nullptr, "quality", "100", nullptr);
    g_object_unref(p);
    const unsigned char exif[] = {
        0xFF, 0xE1, 0, 0x22, 'E', 'x', 'i', 'f', 0, 0,
        'M',  'M',  0, 0x2A, 0,   0,   0,   8,   0, 1,
        1,    0x12, 0, 3,    0,   0,   0,   1,   0, static_cast<unsigned char>(orientation),
        0,    0,    0, 0,    0,   0};
    std::string bytes(data, 2);  // SOI, then the APP1 EXIF segment, then the rest
    if (orientation > 0) bytes.append(reinterpret_cast<const char*>(exif), sizeof exif);
    std::ofstream(file, std::ios::binary) << bytes.append(data + 2, size - 2);
    g_free(data);
  }

  static PngPixels read_png(const std::string& file, int channels) {
    PngPixels p;
    std::string error;
    EXPECT_TRUE(png_read(file, channels, &p, &error)) << error;
    return p;
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

  std::string dir_, image_, layer_;
  int master_ = -1;
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
  Result r = run("I L out.png");
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(r.out + r.err, "\a");                // the engine's bell; one level, no trace line
  EXPECT_EQ(read_file(path("out.png"))[25], 6);  // IHDR colour type: RGBA
  const PngPixels rgba = read_png(path("out.png"), 4), in = read_png(image_, 3);
  ASSERT_TRUE(rgba.width == W && rgba.height == H);
  for (size_t i = 0; i < in.data.size(); ++i) ASSERT_EQ(rgba.data[i / 3 * 4 + i % 3], in.data[i]);
  expect_scene_matte(rgba, 3);
  EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"});
  PngPixels tri{W, H, 1, std::vector<uint8_t>(size_t(W) * H, 128)};
  for (int i = 0; i < 6 * H; ++i)
    tri.data[i / 6 * W + i % 6] = 0, tri.data[i / 6 * W + W - 1 - i % 6] = 255;
  std::string error;
  ASSERT_TRUE(png_write(path("in-trimap.png"), tri, &error)) << error;
  write_layer(path("in-grey.png"), W, H, {{0, 1, 0, 0, 6, H}, {128 / 255.0, 1, W - 6, 0, 6, H}});
  const char* runs[] = {"--quiet I L",
                        "--trimap I in-trimap.png",
                        "--region -3,5,47,26 I L",  // x 0..43, y 5..30
                        "--region 4,-2,40,99 I L",  // x 4..43, y 0..35
                        "I in-grey.png",
                        "--levels 2 --active 2 --threshold 0.05 --softness 1e-6 --radius 1 I L"};
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
  PngPixels blend{W, H, 3, {}};
  for (int i = 0; i < W * H; ++i) {
    const double a = std::min(1.0, std::max(0.0, (i % W - 12) / 24.0));
    blend.data.insert(blend.data.end(), {uint8_t(std::lround(30 + 190 * a)), 40,
                                         uint8_t(std::lround(210 - 180 * a))});
  }
  std::string error;
  ASSERT_TRUE(png_write(path("in-blend.png"), blend, &error)) << error;
  ASSERT_EQ(
      run("--foreground in-blend.png L c.png").exit_code + run("in-blend.png L m.png").exit_code,
      0);
  const PngPixels c = read_png(path("c.png"), 4), m = read_png(path("m.png"), 4);
  const int red[3] = {220, 40, 30};
  int partial = 0;
  for (size_t i = 0; i < m.data.size(); ++i) {
    const int a = m.data[i | 3];
    partial += i % 4 == 3 && a > 0 && a < 255;
    if (i % 4 == 3 || a == 0 || a == 255)
      ASSERT_EQ(c.data[i], m.data[i]) << i;
    else
      ASSERT_NEAR(c.data[i], red[i % 4], 4) << i;
  }
  EXPECT_GT(partial, 20 * H);
}

// Every bad input: its exit status (1 unusable input, 2 wrong usage), one line on stderr
// naming the problem, no output file and nothing left behind.
TEST_F(Tool, BadInputFailsCleanly) {
  write_layer(path("in-black.png"), W, H, {{0, 1, 0, 0, 6, H}});
  write_layer(path("in-white.png"), W, H, {{1, 1, 0, 0, 6, H}});
  write_layer(path("in-empty.png"), W, H, {});
  write_layer(path("in-small.png"), W - 1, H, {{1, 1, 0, 0, 6, H}});
  write_layer(path("in-254.png"), W, H, {{0, 1, 0, 0, 6, H}, {1, 254 / 255.0, 40, 0, 6, H}});
  std::ofstream(path("in-garbage.png")) << "this is not an image";
  write_jpeg(path("in-cut.jpg"), W, H, 0);
  const std::string png = read_file(image_), jpeg = read_file(path("in-cut.jpg"));
  std::ofstream(path("in-cut.png")) << png.substr(0, png.size() / 2);
  std::ofstream(path("in-cut.jpg")) << jpeg.substr(0, jpeg.size() / 2);
  const struct {
    const char* line;
    int exit_code;
    const char* says;
  } cases[] = {
      {"missing.png L out.png", 1, "cannot read image"},
      {"in-garbage.png L out.png", 1, "cannot read image"},
      {"in-cut.png L out.png", 1, "cannot read image"},
      {"in-cut.jpg L out.png", 1, "damaged or incomplete (Premature end of JPEG file)"},
      {"D L out.png", 1, "is a directory"},
      {"I in-garbage.png out.png", 1, "cannot read strokes"},
      {"--trimap I missing.png out.png", 1, "cannot read trimap"},
      {"I in-small.png out.png", 1, "47x36 but the image is 48x36"},
      {"I in-black.png out.png", 1, "no foreground"},
      {"I in-254.png out.png", 1, "no foreground"},
      {"I in-white.png out.png", 1, "no background"},
      {"I in-empty.png out.png", 1, "no strokes"},
      {"--region 0,0,8,36 I L out.png", 1, "no foreground or alternate-colour stroke inside"},
      {"I I out.png", 1,
       "every pixel is painted: nothing to calculate; is this a trimap? use --trimap"},
      {"--region 20,0,2,36 I L out.png", 1,
       "2R+1 pixels in each direction (3 with window radius R = 1); it is 2x36"},
      {"--radius 5 --region 0,0,48,10 I L out.png", 1,
       "(11 with window radius R = 5); it is 48x10"},
      {"I L no-such-folder/out.png", 1, "cannot write"},
      {"--levels 0 I L out.png", 2, "--levels 0"},
      {"--levels 4 I L out.png", 2, "--levels 4 is out of range 1..3 for a 48x36 image"},
      {"--levels 2 --active 3 I L out.png", 2, "--active 3"},
      {"--levels two I L out.png", 2, "--levels"},
      {"--softness 1e-8 I L out.png", 2, "--softness"},
      {"--threshold 0.500001 I L out.png", 2, "--threshold 0.500001 is out of range 0..0.5"},
      {"--radius 1.5 I L out.png", 2, "--radius"},
      {"--radius 6 I L out.png", 2, "--radius"},
      {"--region 48,0,5,5 I L out.png", 2, "outside the 48x36 image"},
      {"--region 0,0,0,5 I L out.png", 2, "--region"},
      {"--region 1,2,3 I L out.png", 2, "--region"},
      {"--frobnicate I L out.png", 2, "unknown option"},
      {"--foreground --alpha-only I L out.png", 2, "--foreground"},
      {"I L out.png extra.png", 2, "expected IMAGE STROKES OUTPUT"},
  };
  for (const auto& c : cases) {
    Result r = run(c.line);
    EXPECT_EQ(r.exit_code, c.exit_code) << c.line << "\n" << r.err;
    EXPECT_EQ(std::count(r.err.begin(), r.err.end(), '\n'), 1) << c.line << "\n" << r.err;
    EXPECT_NE(r.err.find(c.says), std::string::npos) << c.line << "\n" << r.err;
    EXPECT_TRUE(leftovers().empty()) << c.line;
  }
  // An existing OUTPUT stays when the input is bad and when writing fails half-way (files
  // limited to 100 bytes, stderr on a terminal), and the temporary file goes.
  std::ofstream(path("out.png")) << "previous";
  EXPECT_EQ(run("I in-black.png out.png").exit_code, 1);
  Result r = run("I L out.png", {false, true, 0, 100});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("cannot write"), std::string::npos) << r.err;
  EXPECT_EQ(read_file(path("out.png")), "previous");
  EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"});
}

// OUTPUT is written to, not replaced by something else: each destination receives exactly the
// PNG of a plain run, and nothing is left behind.
TEST_F(Tool, OutputIsWrittenWhereItPoints) {
  ASSERT_EQ(run("--quiet I L in-ref.png").exit_code, 0);
  const std::string png = read_file(path("in-ref.png"));
  auto old_file = [this](const char* name, mode_t mode) {
    std::ofstream(path(name)) << "previous";
    chmod(path(name).c_str(), mode);
    return path(name);
  };
  auto stat_of = [this](const char* name) {
    struct stat st = {};
    lstat(path(name).c_str(), &st);
    return st;
  };
  auto write = [&](const std::string& output, bool as_nobody = false) {
    Result r = run("I L " + output, {as_nobody});
    EXPECT_EQ(r.exit_code, 0) << output << ": " << r.err;
    return r.out;
  };
  // A file keeps its mode; a link stays a link and its target, even a dangling one's, gets the
  // PNG, keeping the target's mode.
  write(old_file("out.png", 0640));
  EXPECT_EQ(read_file(path("out.png")), png);
  EXPECT_EQ(stat_of("out.png").st_mode & 07777, 0640u);
  mkdir(path("elsewhere").c_str(), 0755);
  old_file("elsewhere/target.png", 0600);
  symlink("elsewhere/target.png", path("link.png").c_str());
  symlink("elsewhere/new.png", path("dangling.png").c_str());
  for (const char* link : {"link.png", "dangling.png"}) {
    write(path(link));
    EXPECT_TRUE(S_ISLNK(stat_of(link).st_mode)) << link;
  }
  EXPECT_EQ(read_file(path("elsewhere/target.png")) + read_file(path("elsewhere/new.png")),
            png + png);
  EXPECT_EQ(stat_of("elsewhere/target.png").st_mode & 07777, 0600u);
  // "-" is standard output; a FIFO is written to (its reader holds a write end of its own, so
  // that it never waits for ever on a tool that does not open it).
  EXPECT_EQ(write("-"), png);
  mkfifo(path("fifo").c_str(), 0600);
  const int fd = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
  const int hold = open(path("fifo").c_str(), O_WRONLY);
  fcntl(fd, F_SETFL, 0);
  std::string from_fifo;
  std::thread reader([&from_fifo, fd] {
    char buffer[4096];
    for (ssize_t n; (n = read(fd, buffer, sizeof buffer)) > 0;) from_fifo.append(buffer, n);
  });
  write(path("fifo"));
  close(hold);
  reader.join();
  close(fd);
  EXPECT_EQ(from_fifo, png);
  // A file in a folder the user may not write to is updated in place: same inode and mode.
  for (const std::string& p : {dir_, image_, layer_}) chmod(p.c_str(), 0755);
  mkdir(path("locked").c_str(), 0755);
  const ino_t inode = (old_file("locked/out.png", 0666), stat_of("locked/out.png").st_ino);
  chmod(path("locked").c_str(), 0555);
  write(path("locked/out.png"), true);
  EXPECT_EQ(read_file(path("locked/out.png")), png);
  EXPECT_EQ(stat_of("locked/out.png").st_ino, inode);
  EXPECT_EQ(stat_of("locked/out.png").st_mode & 07777, 0666u);
  chmod(path("locked").c_str(), 0755);
  EXPECT_EQ(leftovers().size(), 6u) << "a temporary file was left";
}

// SIGINT and SIGTERM while the output is being written (a large image, a tiny region): exit
// status 128 + N, the hidden temporary file removed, an existing OUTPUT as it was.
TEST_F(Tool, SignalsRemoveTheTemporaryFileAndKeepTheOutput) {
  PngPixels noise{2400, 1800, 3, std::vector<uint8_t>(size_t(2400) * 1800 * 3)};
  uint32_t seed = 1;
  for (uint8_t& b : noise.data) b = uint8_t((seed = seed * 1664525u + 1013904223u) >> 24);
  std::string error;
  ASSERT_TRUE(png_write(path("in-big.png"), noise, &error)) << error;
  write_layer(path("in-big-layer.png"), 2400, 1800, {{0, 1, 0, 0, 2, 8}, {1, 1, 6, 0, 2, 8}});
  for (int signal : {SIGINT, SIGTERM}) {
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
    EXPECT_EQ(finish(pid).exit_code, 128 + signal);
    EXPECT_EQ(read_file(path("out.png")), "previous");
    EXPECT_TRUE(leftovers() == std::vector<std::string>{"out.png"}) << signal;
  }
}

// Out of memory inside the calculation is a failure with the engine's message and a line of
// advice, not an abort: an address-space limit that lets the small image through (OpenBLAS
// alone reserves 128 MB) and not a 700 x 700 one.
TEST_F(Tool, RunningOutOfMemoryIsAFailureNotACrash) {
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "AddressSanitizer reserves more address space than RLIMIT_AS allows";
#endif
  write_image(path("in-700.png"), 700, 700);
  write_layer(path("in-700-layer.png"), 700, 700, {{0, 1, 0, 0, 6, 700}, {1, 1, 694, 0, 6, 700}});
  const Child limited = {false, false, rlim_t(450) << 20};
  EXPECT_EQ(run("I L small.png", limited).exit_code, 0);
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
  write_jpeg(path("in-camera.jpg"), 16, 8, 6);
  write_layer(path("in-camera-layer.png"), 8, 16, {{0, 1, 0, 0, 8, 3}, {1, 1, 0, 13, 8, 3}});
  ASSERT_EQ(run("in-camera.jpg in-camera-layer.png out.png").exit_code, 0);
  const PngPixels out = read_png(path("out.png"), 4);
  ASSERT_TRUE(out.width == 8 && out.height == 16);
  GdkPixbuf* jpeg = gdk_pixbuf_new_from_file(path("in-camera.jpg").c_str(), nullptr);
  ASSERT_EQ(gdk_pixbuf_get_width(jpeg), 16);  // the loader alone does not turn it
  const uint8_t* px = gdk_pixbuf_read_pixels(jpeg);
  const int stride = gdk_pixbuf_get_rowstride(jpeg), nc = gdk_pixbuf_get_n_channels(jpeg);
  for (int i = 0; i < 8 * 16 * 3; ++i) {
    const int x = i / 3 % 8, y = i / 24;
    ASSERT_EQ(out.data[i / 3 * 4 + i % 3], px[(7 - x) * stride + y * nc + i % 3]) << x << "," << y;
  }
  g_object_unref(jpeg);
  EXPECT_LE(out.data[(1 * 8 + 4) * 4 + 3], 2);
  EXPECT_GE(out.data[(14 * 8 + 4) * 4 + 3], 253);
}

// On a terminal standard error carries a progress line redrawn in place and cleared at the
// end; --quiet turns it off. Two levels of a 300 x 300 image take long enough to be seen.
TEST_F(Tool, ShowsProgressOnATerminal) {
  write_image(path("in-300.png"), 300, 300);
  write_layer(path("in-300-layer.png"), 300, 300, {{0, 1, 0, 0, 6, 300}, {1, 1, 294, 0, 6, 300}});
  for (const std::string quiet : {"", "--quiet "}) {
    Result r =
        run("--levels=2 --active=2 " + quiet + "in-300.png in-300-layer.png p.png", {false, true});
    EXPECT_EQ(r.exit_code, 0) << r.err;
    if (quiet.empty()) {
      EXPECT_NE(r.err.find("\rlevel 1 of 2 \u00b7 "), std::string::npos) << r.err;
      EXPECT_EQ(r.err.substr(r.err.size() - 4), "\r\033[K") << r.err;
    } else {
      EXPECT_EQ(r.err, "");
    }
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
