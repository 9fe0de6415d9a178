// A matte session's updates against calculations from scratch, its deliveries and its cache.
#include <atomic>
#include <cstring>
#include <random>
#include <thread>
#include <tuple>

#include "engine_fixtures.h"
#include "matting/interruptible_blas.h"
#include "matting/matte_session.h"
#include "matting/pyramid.h"
#include "matting/solver_status.h"

namespace {

template <typename... T>
using Table = std::vector<std::tuple<T...>>;

// Small levels and tiles, so that a small image has three levels and many tiles.
MatteSessionSettings small_settings() {
  MatteSessionSettings s;
  s.levels.coarsest_unknowns = 1500;
  s.levels.intermediate.tile_variables = s.levels.final_level.tile_variables = 2500;
  return s;
}

CalcOptions default_options() {
  CalcOptions o;
  calc_options_default(&o);
  return o;
}

// Strokes as a user adds them: the image cut into blocks of 12 x 12 pixels, each block's sure
// pixels (true alpha below 0.02 or above 0.98) one stroke, in a random order; the first two
// are one of each kind.
std::vector<std::vector<int>> stroke_sequence(const Scene& s, unsigned seed) {
  std::vector<std::vector<int>> blocks;
  for (int by = 0; by < s.h; by += 12)
    for (int bx = 0; bx < s.w; bx += 12) {
      std::vector<int> block;
      for (int y = by; y < std::min(by + 12, s.h); ++y)
        for (int x = bx; x < std::min(bx + 12, s.w); ++x)
          if (s.truth[y][x] < 0.02 || s.truth[y][x] > 0.98) block.push_back(y * s.w + x);
      if (!block.empty()) blocks.push_back(block);
    }
  std::shuffle(blocks.begin(), blocks.end(), std::mt19937(seed));
  auto kind = [&](const std::vector<int>& b) { return s.truth[b[0] / s.w][b[0] % s.w] > 0.5; };
  for (size_t i = 1; i < blocks.size(); ++i)
    if (kind(blocks[i]) != kind(blocks[0])) {
      std::swap(blocks[1], blocks[i]);
      break;
    }
  return blocks;
}

void paint(Scene* s, const std::vector<int>& block, bool on) {
  for (int i : block) {
    s->mask[i / s->w][i % s->w] = on;
    s->value[i / s->w][i % s->w] = on && s->truth[i / s->w][i % s->w] > 0.5;
  }
}

// The session's last matte, 0..1 row by row (the session keeps none afterwards).
std::vector<double> matte_of(MatteSession* session, const Scene& s) {
  OwnedArray alpha(session->take_alpha());
  std::vector<double> out;
  for (int i = 0; i < s.w * s.h && alpha.a != nullptr; ++i) out.push_back(alpha[i / s.w][i % s.w]);
  return out;
}

// After every update of a sequence (strokes added one at a time, one taken away again, the
// same strokes twice), the session's matte equals a new session's: within the stated bounds
// (SAD against the truth within 0.5 %, |difference| <= 2/255 on 99.5 % of the pixels) and in
// fact to the last bit. Tiles away from the change keep their factorisations; the same strokes
// again reuse every tile and give the same matte.
TEST(MatteSession, UpdatesEqualCalculationsFromScratch) {
  Scene s(132, 108, 0, 21);
  const std::vector<std::vector<int>> blocks = stroke_sequence(s, 5);
  MatteSession session(s.image, default_options(), small_settings());
  std::vector<int> steps = {0, 1};  // painted blocks, each step one more
  for (int i = 2; i < 9 && i < int(blocks.size()); ++i) steps.push_back(i);
  steps.push_back(-3);    // block 3 taken away
  steps.push_back(-100);  // no change
  int reused = 0;
  std::vector<double> last;
  for (size_t step = 0; step < steps.size(); ++step) {
    SCOPED_TRACE(testing::Message() << "step " << step);
    if (steps[step] >= 0) paint(&s, blocks[steps[step]], true);
    if (steps[step] < 0 && steps[step] > -100) paint(&s, blocks[-steps[step]], false);
    if (step == 0) continue;  // one kind of stroke only
    ASSERT_EQ(session.update(s.mask.a, s.value.a), 0);
    testing::internal::CaptureStdout();
    MatteSession fresh(s.image, default_options(), small_settings());
    ASSERT_EQ(fresh.update(s.mask.a, s.value.a), 0);
    testing::internal::GetCapturedStdout();
    const std::vector<double> got = matte_of(&session, s), want = matte_of(&fresh, s);
    double sad_got = 0, sad_want = 0;
    int close = 0;
    for (int i = 0; i < s.w * s.h; ++i) {
      sad_got += std::fabs(std::floor(got[i] * 255) / 255 - s.truth[i / s.w][i % s.w]);
      sad_want += std::fabs(std::floor(want[i] * 255) / 255 - s.truth[i / s.w][i % s.w]);
      close += std::fabs(got[i] - want[i]) <= 2.0 / 255;
    }
    EXPECT_LE(std::fabs(sad_got - sad_want), 0.005 * sad_want) << sad_got << " " << sad_want;
    EXPECT_GE(close, 0.995 * s.w * s.h);
    // Within those bounds by construction: the same arithmetic, to the last bit.
    EXPECT_TRUE(got == want);
    if (step > 1) reused += session.tiles_reused();
    if (steps[step] == -100) {
      EXPECT_EQ(session.tiles_factorised(), 0);
      EXPECT_TRUE(got == last);
    }
    last = got;
  }
  EXPECT_GT(reused, 0);
}

// The level nearest to the display size comes first, with its size, then the full size, the
// same as copy_matte() gives; a display as large as the image gets only the full size.
TEST(MatteSession, DeliversTheLevelNearestToTheDisplayFirst) {
  Scene s(132, 108, 8, 3);
  MatteSession session(s.image, default_options(), small_settings());
  const int w1 = level_side(132), h1 = level_side(108);
  for (auto [dw, dh, first_w, first_h] : std::vector<std::tuple<int, int, int, int>>{
           {70, 50, w1, h1}, {300, 200, 132, 108}, {0, 0, 132, 108}}) {
    std::vector<std::tuple<int, int, int, int, bool>> got;  // width, height, level, levels, final
    std::vector<uint8_t> last;
    MatteRequest request;
    request.display_width = dw;
    request.display_height = dh;
    request.deliver = [&](const SessionMatte& m) {
      got.emplace_back(m.width, m.height, m.level, m.levels, m.final);
      last.assign(m.alpha, m.alpha + m.width * m.height);
    };
    ASSERT_EQ(session.update(s.mask.a, s.value.a, request), 0);
    ASSERT_EQ(got.size(), first_w == 132 ? 1u : 2u) << dw;
    EXPECT_EQ(std::get<0>(got[0]), first_w);
    EXPECT_EQ(std::get<1>(got[0]), first_h);
    const int levels = std::get<3>(got[0]);
    EXPECT_GE(levels, 2);
    EXPECT_EQ(std::get<2>(got[0]), first_w == 132 ? levels : levels - 1);
    EXPECT_EQ(std::get<2>(got.back()), levels);
    EXPECT_TRUE(std::get<4>(got.back()) && (got.size() == 1 || !std::get<4>(got[0])));
    TIFF_img m;
    ASSERT_TRUE(session.copy_matte(&m));
    EXPECT_EQ(std::memcmp(m.plane[0], last.data(), last.size()), 0);
    free_TIFF(&m);
  }
}

// Requests a cancel when the nth begin of a chosen stage comes, or at the kth wrapped BLAS
// call after it (a factorisation's); follows the calls made for real after the request.
struct Canceller : MatteStageObserver {
  Canceller(CalcControl* c, MatteStage s, int n, long k) : control(c), stage(s), nth(n), kth(k) {
    set_matte_stage_observer(this);
    current = this;
    set_blas_call_hook(on_blas_call);
  }
  ~Canceller() override {
    set_blas_call_hook(nullptr);
    current = nullptr;
    set_matte_stage_observer(nullptr);
  }
  void stage_begin(MatteStage s) override {
    if (s != stage || ++begins != nth) return;
    if (kth == 0)
      control->request_cancel();
    else
      cancel_at_call = calls + kth;
  }
  void stage_end(MatteStage) override {}
  static void on_blas_call(bool cut) {
    Canceller* c = current;
    const long n = ++c->calls;
    if (cut)
      ++c->cut;
    else if (c->control->cancel_requested())
      ++c->real_after_cancel;
    if (n == c->cancel_at_call) c->control->request_cancel();
  }
  CalcControl* control;
  MatteStage stage;
  int nth, begins = 0;
  long kth;
  std::atomic<long> calls{0}, cut{0}, real_after_cancel{0}, cancel_at_call{-1};
  static Canceller* current;
};
Canceller* Canceller::current = nullptr;

// A cancel at any stage of an update, and in the middle of a tile's factorisation, ends it
// with its status; inside a factorisation every BLAS call after the request is cut short (but
// those already running); the next update, with the same or other strokes, gives the matte of a
// new session: nothing a cancelled update left behind is used. (The sanitizer build checks that
// nothing leaks.)
TEST(MatteSession, CancelledUpdatesEndAtOnceAndLeaveAUsableSession) {
  Scene s(200, 160, 0, 9);
  const std::vector<std::vector<int>> blocks = stroke_sequence(s, 11);
  MatteSessionSettings settings;
  settings.levels.coarsest_unknowns = 6000;
  settings.levels.intermediate.tile_variables = settings.levels.final_level.tile_variables = 5000;
  MatteSession session(s.image, default_options(), settings);
  for (int i = 0; i < 12; ++i) paint(&s, blocks[i], true);
  ASSERT_EQ(session.update(s.mask.a, s.value.a), 0);
  // Stage, its nth begin, and the kth BLAS call after it (0: at the begin).
  const Table<MatteStage, int, long> cancels = {
      {MATTE_STAGE_RESAMPLING, 1, 0}, {MATTE_STAGE_LAPLACIAN, 2, 0}, {MATTE_STAGE_NUMERIC, 1, 0},
      {MATTE_STAGE_SOLVE, 3, 0},      {MATTE_STAGE_NUMERIC, 1, 1},   {MATTE_STAGE_NUMERIC, 1, 40},
      {MATTE_STAGE_NUMERIC, 2, 2},    {MATTE_STAGE_NUMERIC, 3, 25}};
  int block = 12;
  for (auto [stage, nth, kth] : cancels) {
    SCOPED_TRACE(testing::Message() << "stage " << stage << " begin " << nth << " call " << kth);
    paint(&s, blocks[block++], true);
    {
      CalcControl control;
      Canceller cancel(&control, stage, nth, kth);
      EXPECT_EQ(session.update(s.mask.a, s.value.a, MatteRequest(), &control),
                CALC_STATUS_CANCELLED);
      if (kth > 0) {
        EXPECT_GT(cancel.cut, 0);
        EXPECT_LE(cancel.real_after_cancel, long(std::thread::hardware_concurrency()) + 1);
      }
    }
    if (nth % 2 == 0) paint(&s, blocks[block++], true);  // restarted with other strokes
    TIFF_img got, want;
    ASSERT_EQ(session.update(s.mask.a, s.value.a), 0);
    ASSERT_TRUE(session.copy_matte(&got));
    MatteSession fresh(s.image, default_options(), settings);
    ASSERT_EQ(fresh.update(s.mask.a, s.value.a), 0);
    ASSERT_TRUE(fresh.copy_matte(&want));
    EXPECT_EQ(std::memcmp(got.plane[0], want.plane[0], size_t(s.w) * s.h), 0);
    free_TIFF(&got);
    free_TIFF(&want);
  }
}

}  // namespace
