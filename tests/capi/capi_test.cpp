// The C API through the shared library: the same matte as the engine called directly, for
// every layout of the buffers; statuses and messages for bad input, with the outputs left
// alone; progress, cancel and contexts side by side.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "matting/calc_input.h"
#include "matting/quillane.h"
#include "numeric/allocate.h"
#include "quillane/quillane.h"
#include "tools/png_io.h"

namespace {

// An 8-bit buffer with `pad` spare bytes at the end of every row.
struct Buffer {
  Buffer(int w_, int h_, int channels_, int pad = 0)
      : w(w_),
        h(h_),
        channels(channels_),
        stride(w_ * channels_ + pad),
        data(size_t(stride) * h_, 0) {}
  uint8_t* at(int x, int y) { return &data[size_t(y) * stride + size_t(x) * channels]; }
  const uint8_t* at(int x, int y) const { return &data[size_t(y) * stride + size_t(x) * channels]; }
  quillane_pixels pixels() const {
    return {missing ? nullptr : data.data(), w, h, stride, channels};
  }
  int w, h, channels, stride;
  bool missing = false;
  std::vector<uint8_t> data;
};

// The same pixels with another channel count (grey <-> colour by the first channel, alpha
// 255 where there was none) and row padding.
Buffer convert(const Buffer& in, int channels, int pad) {
  Buffer out(in.w, in.h, channels, pad);
  for (int y = 0; y < in.h; ++y)
    for (int x = 0; x < in.w; ++x) {
      const uint8_t* s = in.at(x, y);
      const bool grey = in.channels <= 2;
      const uint8_t rgba[4] = {s[0], grey ? s[0] : s[1], grey ? s[0] : s[2],
                               uint8_t(in.channels == 2   ? s[1]
                                       : in.channels == 4 ? s[3]
                                                          : 255)};
      uint8_t* d = out.at(x, y);
      if (channels <= 2) d[0] = rgba[0];
      if (channels == 2) d[1] = rgba[3];
      if (channels >= 3) std::memcpy(d, rgba, size_t(channels));
    }
  return out;
}

const uint8_t kRed[3] = {220, 40, 30}, kBlue[3] = {30, 40, 210};

// A w x h RGBA picture of red in front of blue, mixed linearly across the middle half: its
// true matte is that ramp. grey: the red and blue are replaced by light and dark grey.
Buffer blend(int w, int h, bool grey = false) {
  Buffer b(w, h, 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const double a = std::clamp((x - w / 4.0) / (w / 2.0), 0.0, 1.0);
      for (int c = 0; c < 3; ++c)
        b.at(x, y)[c] =
            uint8_t(std::lround(grey ? 40 + 180 * a : a * kRed[c] + (1 - a) * kBlue[c]));
      b.at(x, y)[3] = 255;
    }
  return b;
}

// A stroke layer (RGBA): opaque black in the first `width` columns, opaque white in the last,
// plus the extra rectangles {x, y, w, h, grey}.
Buffer strokes(int w, int h, int width, std::vector<std::vector<int>> extra = {}) {
  Buffer b(w, h, 4);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      uint8_t* p = b.at(x, y);
      if (x < width || x >= w - width) std::memset(p, x < width ? 0 : 255, 3), p[3] = 255;
      for (const auto& r : extra)
        if (x >= r[0] && x < r[0] + r[2] && y >= r[1] && y < r[1] + r[3])
          std::memset(p, r[4], 3), p[3] = 255;
    }
  return b;
}

// A grey trimap: 0 in the first `bg` columns, 255 in the last `fg`, 128 between.
Buffer trimap(int w, int h, int bg, int fg) {
  Buffer b(w, h, 1);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) *b.at(x, y) = x < bg ? 0 : x >= w - fg ? 255 : 128;
  return b;
}

// The engine called directly, as the editor does: RGB(A) image, 32-bit ARGB layer words.
// Returns the matte over the whole image (0 outside the region), or nothing on failure.
std::vector<uint8_t> engine_matte(const Buffer& image, const Buffer& layer, bool is_trimap,
                                  const CalcOptions& opts, CalcRegion region) {
  const Buffer rgb = convert(image, 3, 0);
  std::vector<uint32_t> words(size_t(image.w) * image.h);
  for (int i = 0; i < image.w * image.h; ++i) {
    const uint8_t* p = layer.at(i % image.w, i / image.w);
    words[i] = is_trimap ? (p[0] == 0     ? 0xff000000u
                            : p[0] == 255 ? 0xffffffffu
                                          : 0u)
                         : uint32_t(p[3]) << 24 | p[0] << 16 | p[1] << 8 | p[2];
  }
  TIFF_img calc, alpha;
  double **mask, **value;
  if (read_calc_input(rgb.data.data(), rgb.stride, 3, reinterpret_cast<uint8_t*>(words.data()),
                      image.w * 4, region, &calc, &mask, &value) != CALC_INPUT_OK)
    return {};
  testing::internal::CaptureStdout();
  const int status = calculate_matte(&calc, mask, value, opts, &alpha);
  testing::internal::GetCapturedStdout();
  std::vector<uint8_t> out(size_t(image.w) * image.h, 0);
  for (int y = 0; y < region.h && status >= 0; ++y)
    std::memcpy(&out[size_t(y + region.y) * image.w + region.x], alpha.plane[y], region.w);
  free_TIFF(&alpha);
  return status >= 0 ? out : std::vector<uint8_t>();
}

// One call of quillane_matte() with the trace on stdout swallowed; the matte packed.
struct Call {
  quillane_context* q = quillane_context_new();
  quillane_options options;
  std::vector<uint8_t> alpha;
  int alpha_pad = 0;
  bool capture = true;  // false where the caller captures stdout around several calls
  std::string message;
  Call() { quillane_options_init(&options); }
  ~Call() { quillane_context_free(q); }
  int run(const Buffer& image, const Buffer& layer, std::vector<uint8_t>* foreground = nullptr) {
    const int stride = image.w + alpha_pad;
    std::vector<uint8_t> padded(size_t(stride) * image.h, 77);
    if (foreground != nullptr) foreground->assign(size_t(image.w) * image.h * 4, 77);
    const quillane_pixels i = image.pixels(), l = layer.pixels();
    if (capture) testing::internal::CaptureStdout();
    const int status =
        quillane_matte(q, &options, &i, &l, padded.data(), stride,
                       foreground != nullptr ? foreground->data() : nullptr, image.w * 4);
    if (capture) testing::internal::GetCapturedStdout();
    message = quillane_context_message(q);
    alpha.clear();
    for (int y = 0; y < image.h; ++y)
      alpha.insert(alpha.end(), padded.begin() + size_t(y) * stride,
                   padded.begin() + size_t(y) * stride + image.w);
    // Row padding is never written.
    for (int y = 0; y < image.h; ++y)
      for (int x = image.w; x < stride; ++x) EXPECT_EQ(padded[size_t(y) * stride + x], 77);
    return status;
  }
};

const int W = 48, H = 36;

TEST(CApi, SameMatteAsTheEngineForEveryBufferLayoutAndOption) {
  using Options = std::function<void(quillane_options*, CalcOptions*, CalcRegion*)>;
  const Options none = [](quillane_options*, CalcOptions*, CalcRegion*) {};
  // name, grey scene, image channels and row padding, strokes as a trimap, strokes channels
  // and padding, alpha padding, options
  const std::vector<std::tuple<const char*, bool, int, int, bool, int, int, int, Options>> rows = {
      {"RGBA", false, 4, 0, false, 4, 0, 0, none},
      {"RGB, padded rows", false, 3, 5, false, 4, 3, 7, none},
      {"grey", true, 1, 2, false, 2, 1, 0, none},
      {"grey and alpha", true, 2, 0, false, 4, 0, 3, none},
      {"grey trimap", false, 4, 0, true, 1, 0, 0,
       [](quillane_options* o, CalcOptions*, CalcRegion*) { o->trimap = 1; }},
      {"RGB trimap", false, 3, 0, true, 3, 2, 0,
       [](quillane_options* o, CalcOptions*, CalcRegion*) { o->trimap = 1; }},
      {"two levels, one solved", false, 4, 0, false, 4, 0, 0,
       [](quillane_options* o, CalcOptions* e, CalcRegion*) {
         o->levels = e->levels_num = 2;
         o->active_levels = e->active_levels_num = 1;
       }},
      {"automatic levels", false, 4, 0, false, 4, 0, 0,
       [](quillane_options* o, CalcOptions* e, CalcRegion*) {
         o->auto_levels = e->auto_levels = 1;
       }},
      {"softness, radius, iterative solver", false, 4, 0, false, 4, 0, 0,
       [](quillane_options* o, CalcOptions* e, CalcRegion*) {
         o->softness = e->softness = 1e-5;
         o->window_radius = e->window_radius = 2;
         o->solver = e->solver = CALC_SOLVER_ITERATIVE;
       }},
      {"region cut at the right edge", false, 4, 0, false, 4, 0, 0,
       [](quillane_options* o, CalcOptions*, CalcRegion* r) {
         o->region_x = 3, o->region_y = 4, o->region_width = 100, o->region_height = 20;
         *r = {3, 4, W - 3, 20};
       }},
  };
  for (const auto& [name, grey, ic, ipad, is_trimap, sc, spad, apad, set] : rows) {
    SCOPED_TRACE(name);
    const Buffer image = blend(W, H, grey);
    const Buffer layer = is_trimap ? trimap(W, H, 6, 6) : strokes(W, H, 6, {{20, 10, 4, 4, 128}});
    Call call;
    CalcOptions opts;
    calc_options_default(&opts);
    CalcRegion region = {0, 0, W, H};
    set(&call.options, &opts, &region);
    call.alpha_pad = apad;
    const std::vector<uint8_t> expected = engine_matte(image, layer, is_trimap, opts, region);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(call.run(convert(image, ic, ipad), convert(layer, sc, spad)), QUILLANE_OK)
        << call.message;
    EXPECT_EQ(call.alpha, expected);
    EXPECT_EQ(call.message, "");
  }
}

// The blend's matte is its ramp and its clean colour the red, calculated here independently:
// within 2/255 of the ramp (the engine truncates to bytes; measured 1.6), and within 3 levels
// of the red where the matte is at least 0.1 (measured 1).
TEST(CApi, BlendGivesItsRampAndCleanColoursGiveItsForeground) {
  const Buffer image = blend(W, H);
  Call call;
  std::vector<uint8_t> foreground;
  ASSERT_EQ(call.run(image, strokes(W, H, 6), &foreground), QUILLANE_OK) << call.message;
  int partial = 0;
  for (int y = 0; y < H; ++y)
    for (int x = 0; x < W; ++x) {
      const size_t i = size_t(y) * W + x;
      const double ramp = std::clamp((x - W / 4.0) / (W / 2.0), 0.0, 1.0);
      ASSERT_NEAR(call.alpha[i], 255 * ramp, 2) << x << "," << y;
      const uint8_t* f = &foreground[4 * i];
      ASSERT_EQ(f[3], call.alpha[i]);
      const bool clean = call.alpha[i] > 0 && call.alpha[i] < 255;
      for (int c = 0; c < 3; ++c) {
        if (!clean) {
          ASSERT_EQ(f[c], image.at(x, y)[c]) << x << "," << y;
        } else if (call.alpha[i] >= 26) {
          ASSERT_NEAR(f[c], kRed[c], 3) << x << "," << y;
        }
      }
      partial += clean;
    }
  EXPECT_GT(partial, W * H / 3);
}

TEST(CApi, BadInputGivesItsStatusAndMessageAndWritesNothing) {
  using Change = std::function<void(Call*, Buffer * image, Buffer * layer)>;
  const std::vector<std::tuple<const char*, Change, int, const char*>> rows = {
      {"no image data", [](Call*, Buffer* i, Buffer*) { i->missing = true; },
       QUILLANE_ERROR_ARGUMENT, "the image is missing"},
      {"five channels", [](Call*, Buffer* i, Buffer*) { i->channels = 5; }, QUILLANE_ERROR_ARGUMENT,
       "1 to 4 channels, not 5"},
      {"short stride", [](Call*, Buffer*, Buffer* l) { l->stride = W * 4 - 1; },
       QUILLANE_ERROR_ARGUMENT, "the stride of the strokes, 191, is less"},
      {"strokes of another size", [](Call*, Buffer*, Buffer* l) { *l = strokes(W, H - 1, 6); },
       QUILLANE_ERROR_ARGUMENT, "the strokes are 48x35 but the image is 48x36"},
      {"options not initialised", [](Call* c, Buffer*, Buffer*) { c->options.size = 0; },
       QUILLANE_ERROR_ARGUMENT, "quillane_options_init"},
      {"levels above a tenth of the side", [](Call* c, Buffer*, Buffer*) { c->options.levels = 4; },
       QUILLANE_ERROR_OPTION, "options.levels 4 is out of range 1..3 for a 48x36 region"},
      {"active levels above levels",
       [](Call* c, Buffer*, Buffer*) { c->options.active_levels = 2; }, QUILLANE_ERROR_OPTION,
       "options.active_levels 2 is out of range 1..1 (at most levels)"},
      {"softness", [](Call* c, Buffer*, Buffer*) { c->options.softness = 2e-5; },
       QUILLANE_ERROR_OPTION, "options.softness 2e-05 is out of range 1e-07..1e-05"},
      {"threshold not a number", [](Call* c, Buffer*, Buffer*) { c->options.threshold = NAN; },
       QUILLANE_ERROR_OPTION, "options.threshold"},
      {"window radius", [](Call* c, Buffer*, Buffer*) { c->options.window_radius = 6; },
       QUILLANE_ERROR_OPTION, "options.window_radius 6 is out of range 1..5"},
      {"trimap flag", [](Call* c, Buffer*, Buffer*) { c->options.trimap = 2; },
       QUILLANE_ERROR_OPTION, "options.trimap must be 0 or 1, not 2"},
      {"solver", [](Call* c, Buffer*, Buffer*) { c->options.solver = 3; }, QUILLANE_ERROR_OPTION,
       "options.solver 3"},
      {"region outside",
       [](Call* c, Buffer*, Buffer*) { c->options.region_x = W, c->options.region_width = 5; },
       QUILLANE_ERROR_REGION, "the region 48,0,5,0 lies outside the 48x36 image"},
      {"region smaller than a window",
       [](Call* c, Buffer*, Buffer*) {
         c->options.region_x = W - 2, c->options.region_width = 10, c->options.region_height = 9;
       },
       QUILLANE_ERROR_REGION,
       "at least 2R+1 pixels in each direction (3 with window radius R = 1); it is 2x9"},
      {"no strokes", [](Call*, Buffer*, Buffer* l) { *l = Buffer(W, H, 4); },
       QUILLANE_ERROR_NO_STROKES, "no strokes in the image"},
      {"white only",
       [](Call*, Buffer*, Buffer* l) {
         *l = strokes(W, H, 0, {{40, 0, 8, H, 255}});
       },
       QUILLANE_ERROR_NO_BACKGROUND, "no background (opaque black) stroke in the image"},
      {"black only in the region",
       [](Call* c, Buffer*, Buffer*) {
         c->options.region_width = 20, c->options.region_height = H;
       },
       QUILLANE_ERROR_NO_FOREGROUND, "no foreground or alternate-colour stroke inside the region"},
      {"strokes without alpha", [](Call*, Buffer*, Buffer* l) { *l = convert(*l, 3, 0); },
       QUILLANE_ERROR_NOTHING_UNKNOWN, "every pixel is painted: nothing to calculate"},
      {"trimap without unknown pixels",
       [](Call* c, Buffer*, Buffer* l) { c->options.trimap = 1, *l = trimap(W, H, W / 2, W / 2); },
       QUILLANE_ERROR_NOTHING_UNKNOWN, "every pixel is painted"},
      {"trimap without 255",
       [](Call* c, Buffer*, Buffer* l) { c->options.trimap = 1, *l = trimap(W, H, 6, 0); },
       QUILLANE_ERROR_NO_FOREGROUND, "no foreground (255) in the trimap"},
  };
  for (const auto& [name, change, status, message] : rows) {
    SCOPED_TRACE(name);
    Buffer image = blend(W, H), layer = strokes(W, H, 6);
    Call call;
    change(&call, &image, &layer);
    std::vector<uint8_t> foreground;
    EXPECT_EQ(call.run(image, layer, &foreground), status);
    EXPECT_NE(call.message.find(message), std::string::npos) << call.message;
    EXPECT_EQ(call.alpha, std::vector<uint8_t>(size_t(W) * H, 77));
    EXPECT_EQ(foreground, std::vector<uint8_t>(size_t(W) * H * 4, 77));
    EXPECT_STRNE(quillane_status_message(status), "unknown status");
  }
  EXPECT_EQ(quillane_matte(nullptr, nullptr, nullptr, nullptr, nullptr, 0, nullptr, 0),
            QUILLANE_ERROR_ARGUMENT);
}

// An older caller's smaller struct: init writes nothing past it, and the calculation takes
// the defaults for the fields it does not have.
TEST(CApi, OptionsOfAnOlderCallerKeepTheirSize) {
  const size_t old_size = offsetof(quillane_options, region_x);
  std::vector<unsigned char> block(sizeof(quillane_options) + 8, 0xab);
  auto* options = reinterpret_cast<quillane_options*>(block.data());
  quillane_options_init_sized(options, old_size);
  for (size_t i = old_size; i < block.size(); ++i) ASSERT_EQ(block[i], 0xab) << i;
  EXPECT_EQ(options->size, old_size);
  EXPECT_EQ(options->levels, 1);
  EXPECT_EQ(options->softness, 1e-7);
  EXPECT_EQ(options->window_radius, 1);
  Call call;
  std::memcpy(&call.options, options, old_size);
  call.options.region_width = -5;  // past the caller's size: never read
  EXPECT_EQ(call.run(blend(W, H), strokes(W, H, 6)), QUILLANE_OK) << call.message;
}

// The lemur with its strokes: progress on the calling thread, a second calculation on the
// busy context refused, the engine's matte; then a cancel from the callback, which stops the
// calculation and is used up by it.
TEST(CApi, ProgressBusyAndCancelOnTheSample) {
  PngPixels photo, layer;
  std::string error;
  ASSERT_TRUE(png_read(QUILLANE_SAMPLES "/lemur.png", 4, &photo, &error)) << error;
  ASSERT_TRUE(png_read(QUILLANE_SAMPLES "/lemur_strokes.png", 4, &layer, &error)) << error;
  Buffer image(photo.width, photo.height, 4), lay(photo.width, photo.height, 4);
  image.data = photo.data, lay.data = layer.data;

  struct Seen {
    quillane_context* q;
    const Buffer* image;
    std::thread::id thread;
    bool cancel;
    int nested = 0;  // status of a calculation started from the callback
    std::vector<std::tuple<int, int, double, std::string, bool>> reports;
  };
  const auto record = [](const quillane_progress* p, void* data) {
    Seen* seen = static_cast<Seen*>(data);
    seen->reports.emplace_back(p->level, p->levels, p->fraction, p->text,
                               std::this_thread::get_id() == seen->thread);
    if (seen->cancel) quillane_cancel(seen->q);
    quillane_options o;
    quillane_options_init(&o);
    std::vector<uint8_t> alpha(size_t(seen->image->w) * seen->image->h);
    const quillane_pixels i = seen->image->pixels();
    if (seen->nested == 0)
      seen->nested = quillane_matte(seen->q, &o, &i, &i, alpha.data(), seen->image->w, nullptr, 0);
  };
  CalcOptions opts;
  calc_options_default(&opts);
  opts.auto_levels = 1;
  for (bool cancel : {false, true}) {
    SCOPED_TRACE(cancel ? "cancelled" : "to the end");
    Call call;
    call.options.auto_levels = 1;
    Seen seen = {call.q, &image, std::this_thread::get_id(), cancel, 0, {}};
    quillane_context_set_progress(call.q, record, &seen);
    const int status = call.run(image, lay);
    ASSERT_FALSE(seen.reports.empty());
    EXPECT_EQ(seen.nested, QUILLANE_ERROR_BUSY);
    for (const auto& [level, levels, fraction, text, same_thread] : seen.reports) {
      EXPECT_TRUE(same_thread);
      EXPECT_GE(level, 0);
      EXPECT_LE(level, levels);
      EXPECT_TRUE(fraction == -1 || (fraction >= 0 && fraction <= 1)) << fraction;
      EXPECT_EQ(text.empty(), level == 0);
    }
    if (cancel) {
      EXPECT_EQ(status, QUILLANE_ERROR_CANCELLED);
      EXPECT_EQ(call.message, "Calculation cancelled");
      quillane_context_set_progress(call.q, nullptr, nullptr);
      EXPECT_EQ(call.run(blend(W, H), strokes(W, H, 6)), QUILLANE_OK) << "request used up";
    } else {
      EXPECT_EQ(status, QUILLANE_OK) << call.message;
      EXPECT_GT(seen.reports.size(), 1u);
      EXPECT_EQ(call.alpha, engine_matte(image, lay, false, opts, {0, 0, image.w, image.h}));
    }
  }
}

// A cancel before the call stops it at once; two contexts calculate side by side.
TEST(CApi, CancelBeforeAndContextsSideBySide) {
  Call call;
  quillane_cancel(call.q);
  EXPECT_EQ(call.run(blend(W, H), strokes(W, H, 6)), QUILLANE_ERROR_CANCELLED);

  const Buffer image = blend(2 * W, 2 * H), layer = strokes(2 * W, 2 * H, 6);
  CalcOptions opts;
  calc_options_default(&opts);
  const std::vector<uint8_t> expected =
      engine_matte(image, layer, false, opts, {0, 0, 2 * W, 2 * H});
  Call a, b;
  a.capture = b.capture = false;
  int sa = 1, sb = 1;
  testing::internal::CaptureStdout();
  std::thread other([&] { sb = b.run(image, layer); });
  sa = a.run(image, layer);
  other.join();
  testing::internal::GetCapturedStdout();
  EXPECT_EQ(sa, QUILLANE_OK);
  EXPECT_EQ(sb, QUILLANE_OK);
  EXPECT_EQ(a.alpha, expected);
  EXPECT_EQ(b.alpha, expected);
}

}  // namespace
