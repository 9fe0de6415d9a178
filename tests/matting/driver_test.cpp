// The coarse-to-fine driver, the level limit, scaling to bytes and the worker's calculation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <random>
#include <string>

#include "engine_fixtures.h"
#include "matting/imgutil.h"
#include "matting/quillane.h"
#include "matting/stage_profile.h"
#include "numeric/errhandl.h"

namespace {

// A scene with background strokes on the left, foreground strokes on the right.
struct Scene {
  Scene(int w, int h, unsigned seed) : image(w, h, 'c'), mask(w, h), value(w, h) {
    std::mt19937 rng(seed);
    fill_scene(&image, &rng);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < w; ++x) {
        if (x < w / 8) mask[y][x] = 1.0;
        if (x >= w - w / 8) mask[y][x] = value[y][x] = 1.0;
      }
  }
  OwnedImage image;
  OwnedArray mask, value;
};

// Runs solveAlphaC2F and returns what it printed on stdout.
std::string run_c2f(Scene* s, int levels, int active, double threshold, int* status,
                    OwnedArray** alpha) {
  testing::internal::CaptureStdout();
  *alpha = new OwnedArray(solveAlphaC2F(&s->image.img, s->mask.a, s->value.a, levels, active,
                                        threshold, 1e-7, 1, status));
  return testing::internal::GetCapturedStdout();
}

void expect_same(const OwnedArray& a, const OwnedArray& b, int w, int h) {
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) ASSERT_EQ(a[y][x], b[y][x]) << x << "," << y;
}

class Driver : public testing::Test {
 protected:
  void SetUp() override { LASClearError(); }
};

TEST_F(Driver, TraceLines) {
  struct Case {
    int levels, active;
    const char* trace;
  } cases[] = {
      {1, 1, ""},
      {3, 3, "levels_num 3 Active_levels_num 3\nlevels_num 2 Active_levels_num 2\n"},
      {3, 1, "levels_num 3 Active_levels_num 1\nlevels_num 2 Active_levels_num 1\n"},
      {3, 2, "levels_num 3 Active_levels_num 2\nlevels_num 2 Active_levels_num 2\n"},
  };
  for (const Case& c : cases) {
    Scene s(60, 50, 1);
    int status = 99;
    OwnedArray* alpha = nullptr;
    EXPECT_EQ(run_c2f(&s, c.levels, c.active, 0.02, &status, &alpha), c.trace);
    EXPECT_EQ(status, 0);
    delete alpha;
  }
}

// With one active level of three, the result is the coarsest solve upsampled twice.
TEST_F(Driver, InactiveLevelsAreUpsampledOnly) {
  Scene s(60, 50, 2), t(60, 50, 2);
  int status = 99;
  OwnedArray* got = nullptr;
  run_c2f(&s, 3, 1, 0.02, &status, &got);

  TIFF_img l2 = downSmpIm(&t.image.img, 2), l1 = downSmpIm(&l2, 2);
  OwnedArray m2(downSmpArr(t.mask.a, 50, 60, 2)), v2(downSmpArr(t.value.a, 50, 60, 2));
  OwnedArray m1(downSmpArr(m2.a, l2.height, l2.width, 2));
  OwnedArray v1(downSmpArr(v2.a, l2.height, l2.width, 2));
  int ref_status = 99;
  OwnedArray a1(solveAlpha(&l1, m1.a, v1.a, 1e-7, 1, &ref_status));
  OwnedArray up2(upSampleAlphaUsingImg(a1.a, &l1, &l2, 1e-7, 1));
  OwnedArray up3(upSampleAlphaUsingImg(up2.a, &l2, &t.image.img, 1e-7, 1));
  EXPECT_EQ(status, ref_status);
  expect_same(*got, up3, 60, 50);
  free_TIFF(&l1);
  free_TIFF(&l2);
  delete got;
}

// Two active levels: the fine level is solved within the trimap of the upsampled coarse
// matte, rebuilt here from the thresholds and a 3 x 3 erosion written out directly.
TEST_F(Driver, FineLevelIsSolvedWithinTheTrimap) {
  const int w = 48, h = 40;
  Scene s(w, h, 3), t(w, h, 3);
  s.mask[20][24] = t.mask[20][24] = 1.0;  // alternate strokes: 0.7 is raised, 0.3 is kept
  s.value[20][24] = t.value[20][24] = 0.7;
  s.mask[10][24] = t.mask[10][24] = 1.0;
  s.value[10][24] = t.value[10][24] = 0.3;
  const double threshold = 0.1;
  int status = 99;
  OwnedArray* got = nullptr;
  run_c2f(&s, 2, 2, threshold, &status, &got);

  TIFF_img small = downSmpIm(&t.image.img, 2);
  OwnedArray sm(downSmpArr(t.mask.a, h, w, 2)), sv(downSmpArr(t.value.a, h, w, 2));
  int ref_status = 99;
  OwnedArray coarse(solveAlpha(&small, sm.a, sv.a, 1e-7, 1, &ref_status));
  OwnedArray up(upSampleAlphaUsingImg(coarse.a, &small, &t.image.img, 1e-7, 1));
  auto sure = [&](int y, int x, bool fg) {
    for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, h - 1); ++yy)
      for (int xx = std::max(x - 1, 0); xx <= std::min(x + 1, w - 1); ++xx) {
        const double u = up[yy][xx];
        if (fg ? !(u > 1 - threshold) : (u > 1 - threshold || !(u < threshold))) return false;
      }
    return true;
  };
  OwnedArray mask(w, h), value(w, h);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x) {
      const bool fg_side = (1 - t.mask[y][x]) * up[y][x] + t.value[y][x] >= 0.5;
      mask[y][x] = t.mask[y][x];
      value[y][x] = t.value[y][x];
      if (sure(y, x, true) || sure(y, x, false)) mask[y][x] = 1.0;
      if (mask[y][x] == 1.0 && fg_side) value[y][x] = 1.0;
    }
  OwnedArray want(solveAlpha(&t.image.img, mask.a, value.a, 1e-7, 1, &ref_status));
  EXPECT_EQ(status, ref_status);
  expect_same(*got, want, w, h);
  // The caller's constraints now carry the trimap.
  expect_same(s.mask, mask, w, h);
  expect_same(s.value, value, w, h);
  EXPECT_EQ(s.value[20][24], 1.0);
  EXPECT_EQ(s.value[10][24], 0.3);
  free_TIFF(&small);
  delete got;
}

TEST_F(Driver, AdjustedArguments) {
  struct Pair {
    int levels_a, active_a;
    double threshold_a;
    int levels_b, active_b;
    double threshold_b;
  } pairs[] = {
      {2, 2, 0.0, 2, 2, 0.02},   // a threshold below 0.02 acts as 0.02
      {2, 7, 0.05, 2, 2, 0.05},  // more active levels than levels
      {2, 0, 0.05, 2, 1, 0.05},  // no active level acts as one
      {2, -4, 0.05, 2, 1, 0.05},
  };
  for (const Pair& p : pairs) {
    Scene a(40, 36, 4), b(40, 36, 4);
    int sa = 99, sb = 98;
    OwnedArray *ra = nullptr, *rb = nullptr;
    const std::string ta = run_c2f(&a, p.levels_a, p.active_a, p.threshold_a, &sa, &ra);
    const std::string tb = run_c2f(&b, p.levels_b, p.active_b, p.threshold_b, &sb, &rb);
    EXPECT_EQ(sa, sb);
    expect_same(*ra, *rb, 40, 36);
    // The trace shows the active count as the driver received it (0 is raised to 1 first).
    if (p.active_a <= p.levels_a) {
      EXPECT_EQ(ta, tb);
    }
    delete ra;
    delete rb;
  }
}

TEST_F(Driver, AbsurdLevelsOnTinyImagesStopAtTheLastValidLevel) {
  struct Case {
    int w, h, levels, radius;
    const char* trace;
  } cases[] = {
      {7, 7, 50, 1, "levels_num 50: using 1 levels for a 7x7 image\n"},
      {1, 1, 3, 1, "levels_num 3: using 1 levels for a 1x1 image\n"},
      {4, 9, 2, 1, "levels_num 2: using 1 levels for a 4x9 image\n"},
      {40, 12, 50, 1,
       "levels_num 50: using 2 levels for a 40x12 image\n"
       "levels_num 2 Active_levels_num 2\n"},
      {30, 30, 5, 3,
       "levels_num 5: using 2 levels for a 30x30 image\n"
       "levels_num 2 Active_levels_num 2\n"},
      {11, 11, 2, 1, "levels_num 2 Active_levels_num 2\n"},  // 11 -> 4: still valid
  };
  for (const Case& c : cases) {
    OwnedImage image(c.w, c.h, 'c');
    std::mt19937 rng(c.w * c.h);
    fill_random(&image, &rng);
    OwnedArray mask(c.w, c.h), value(c.w, c.h);
    for (int y = 0; y < c.h; ++y) {
      mask[y][0] = 1.0;
      mask[y][c.w - 1] = value[y][c.w - 1] = 1.0;
    }
    int status = 99;
    testing::internal::CaptureStdout();
    OwnedArray alpha(solveAlphaC2F(&image.img, mask.a, value.a, c.levels, c.levels, 0.02, 1e-7,
                                   c.radius, &status));
    EXPECT_EQ(testing::internal::GetCapturedStdout(), c.trace) << c.w << "x" << c.h;
    EXPECT_EQ(status, 0);
    for (int y = 0; y < c.h; ++y) {
      EXPECT_NEAR(alpha[y][0], c.w == 1 ? 1.0 : 0.0, 0.02);
      EXPECT_NEAR(alpha[y][c.w - 1], 1.0, 0.02);
    }
  }
}

TEST(UsableLevels, FollowTheSizeRule) {
  // 600 -> 298 -> 147 -> 72 -> 34 -> 15 -> 6; the next halving would give 1.
  EXPECT_EQ(usable_levels(600, 600, 60, 1), 7);
  EXPECT_EQ(usable_levels(600, 600, 4, 1), 4);
  EXPECT_EQ(usable_levels(1000, 600, 60, 1), 7);
  // Radius 5 needs sides of 11: 600 -> ... -> 34 -> 15, then 6 is too small.
  EXPECT_EQ(usable_levels(600, 600, 60, 5), 6);
  EXPECT_EQ(usable_levels(640, 480, 2, 1), 2);
  EXPECT_EQ(usable_levels(11, 11, 9, 1), 2);  // 11 -> 4 -> 0
  EXPECT_EQ(usable_levels(10, 11, 9, 1), 2);  // 10 -> 3 -> 1, 11 -> 4
  EXPECT_EQ(usable_levels(9, 100, 9, 1), 2);  // 9 -> 3 -> 1
  EXPECT_EQ(usable_levels(8, 100, 9, 1), 1);  // 8 -> 2
  EXPECT_EQ(usable_levels(8, 100, 1, 1), 1);
  EXPECT_EQ(usable_levels(100, 100, 0, 1), 1);
  EXPECT_EQ(usable_levels(100, 100, 9, 0), usable_levels(100, 100, 9, 1));
}

TEST(Scale2_255, Examples) {
  OwnedArray a(7, 1);
  const double in[7] = {1.3, -0.2, 0.5, std::numeric_limits<double>::quiet_NaN(), 1.0, 0.0, 0.999};
  for (int x = 0; x < 7; ++x) a[0][x] = in[x];
  scale2_255(a.a, 7, 1);
  EXPECT_EQ(a[0][0], 255.0);
  EXPECT_EQ(a[0][1], 0.0);
  EXPECT_EQ(a[0][2], 127.5);
  EXPECT_EQ(a[0][3], 255.0);
  EXPECT_EQ(a[0][4], 255.0);
  EXPECT_EQ(a[0][5], 0.0);
  EXPECT_DOUBLE_EQ(a[0][6], 0.999 * 255);
}

TEST(CalculateMatte, FillsTheGreyImageAndReturnsTheStatus) {
  Scene s(40, 30, 5), t(40, 30, 5);
  int ref_status = 99;
  testing::internal::CaptureStdout();
  OwnedArray ref(
      solveAlphaC2F(&t.image.img, t.mask.a, t.value.a, 2, 2, 0.02, 1e-7, 1, &ref_status));
  testing::internal::GetCapturedStdout();

  // An error left on this thread's register must not silence the calculation.
  LASError(LASRangeErr, "earlier run");
  CalcOptions opts;
  calc_options_default(&opts);
  opts.levels_num = 2;
  opts.active_levels_num = 5;  // at most levels_num
  TIFF_img image = s.image.img;
  s.image.img.TIFF_type = 'x';  // calculate_matte releases the planes: keep the fixture off
  TIFF_img alpha_img;
  testing::internal::CaptureStdout();
  const int status = calculate_matte(&image, s.mask.release(), s.value.release(), opts, &alpha_img);
  const std::string out = testing::internal::GetCapturedStdout();
  EXPECT_EQ(status, ref_status);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(out, "levels_num 2 Active_levels_num 2\n\a");
  ASSERT_EQ(alpha_img.TIFF_type, 'g');
  ASSERT_EQ(alpha_img.width, 40);
  ASSERT_EQ(alpha_img.height, 30);
  for (int y = 0; y < 30; ++y)
    for (int x = 0; x < 40; ++x) {
      const double v = ref[y][x] > 1 ? 255 : ref[y][x] * 255;
      ASSERT_EQ(alpha_img.plane[y][x], static_cast<int>(v < 0 ? 0 : v)) << x << "," << y;
    }
  free_TIFF(&alpha_img);
}

// The benchmark's stage observer sees balanced stages, one Laplacian per solved level.
TEST(StageProfile, ObserverSeesEveryStage) {
  struct Counter : MatteStageObserver {
    void stage_begin(MatteStage s) override {
      EXPECT_EQ(open, -1) << "stages must not nest";
      open = s;
      ++begun[s];
    }
    void stage_end(MatteStage s) override {
      EXPECT_EQ(open, s);
      open = -1;
      ++ended[s];
    }
    int open = -1;
    int begun[MATTE_STAGE_COUNT] = {};
    int ended[MATTE_STAGE_COUNT] = {};
  } counter;
  Scene s(48, 40, 6);
  int status = 99;
  EXPECT_EQ(set_matte_stage_observer(&counter), nullptr);
  OwnedArray* alpha = nullptr;
  run_c2f(&s, 3, 2, 0.02, &status, &alpha);
  EXPECT_EQ(set_matte_stage_observer(nullptr), &counter);
  delete alpha;
  for (int k = 0; k < MATTE_STAGE_COUNT; ++k) EXPECT_EQ(counter.begun[k], counter.ended[k]);
  EXPECT_EQ(counter.begun[MATTE_STAGE_LAPLACIAN], 2);
  EXPECT_EQ(counter.begun[MATTE_STAGE_SOLVE], 2);
  EXPECT_EQ(counter.begun[MATTE_STAGE_RESAMPLING], 4);  // down and up for each of 2 halvings
  EXPECT_STREQ(matte_stage_name(MATTE_STAGE_NUMERIC), "numeric");
}

}  // namespace
