// The single-level alpha solve against an independent dense solve, and its edge cases.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine_fixtures.h"
#include "matting/imgutil.h"
#include "numeric/errhandl.h"

namespace {

class SolveAlpha : public testing::Test {
 protected:
  void SetUp() override { LASClearError(); }
};

TEST_F(SolveAlpha, AgreesWithADenseSolveOfTheSameSystem) {
  struct Case {
    int w, h, r;
    char type;
    double eps;
  } cases[] = {{10, 9, 1, 'c', 1e-7}, {9, 11, 1, 'g', 1e-6}, {12, 12, 2, 'c', 1e-5}};
  for (const Case& c : cases) {
    OwnedImage image(c.w, c.h, c.type);
    std::mt19937 rng(c.w * 7 + c.h);
    fill_scene(&image, &rng);
    OwnedArray mask(c.w, c.h), value(c.w, c.h);
    // Left columns background, right columns foreground, one alternate-colour pixel.
    for (int y = 0; y < c.h; ++y) {
      mask[y][0] = mask[y][1] = 1.0;
      mask[y][c.w - 1] = 1.0;
      value[y][c.w - 1] = 1.0;
    }
    mask[c.h / 2][c.w / 2] = 1.0;
    value[c.h / 2][c.w / 2] = 0.4;
    int status = 99;
    OwnedArray alpha(solveAlpha(&image.img, mask.a, value.a, c.eps, c.r, &status));
    EXPECT_EQ(status, 0);
    std::vector<double> want = reference_alpha(image.img, mask.a, value.a, c.eps, c.r);
    // Two direct solves of a system whose condition grows as eps shrinks: agreement to 1e-7.
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x)
        ASSERT_NEAR(alpha[y][x], want[static_cast<size_t>(y) * c.w + x], 1e-7)
            << c.w << "x" << c.h << " at " << x << "," << y;
  }
}

TEST_F(SolveAlpha, ConstrainedPixelOutsideEveryWindowGetsItsTarget) {
  // Columns 0..5 of a 12 x 9 image are constrained; every window centred at x <= 4 is fully
  // constrained and skipped, so pixels with x <= 3 lie in no processed window.
  OwnedImage image(12, 9, 'c');
  std::mt19937 rng(20);
  fill_random(&image, &rng);
  OwnedArray mask(12, 9), value(12, 9);
  const double targets[] = {0.0, 1.0, 0.5, 0.25, 0.3, 0.7};
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x <= 5; ++x) {
      mask[y][x] = 1.0;
      value[y][x] = targets[(x + y) % 6];
    }
  for (int y = 0; y < 9; ++y) mask[y][11] = 1.0, value[y][11] = 1.0;
  int status = 99;
  OwnedArray alpha(solveAlpha(&image.img, mask.a, value.a, 1e-7, 1, &status));
  EXPECT_EQ(status, 0);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x <= 3; ++x) {
      const double t = targets[(x + y) % 6];
      // One equation 100 * a = 100 * t: exact for targets that are binary fractions, within a
      // rounding of the product otherwise.
      if (t == 0.0 || t == 1.0 || t == 0.5 || t == 0.25)
        EXPECT_EQ(alpha[y][x], t) << x << "," << y;
      else
        EXPECT_DOUBLE_EQ(alpha[y][x], t) << x << "," << y;
    }
}

TEST_F(SolveAlpha, ResultIsClampedToZeroOne) {
  // Isolated constrained pixels with targets outside 0..1 are solved to exactly the target
  // and then clamped.
  OwnedImage image(10, 9, 'c');
  std::mt19937 rng(21);
  fill_random(&image, &rng);
  OwnedArray mask(10, 9), value(10, 9);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 10; ++x) mask[y][x] = 1.0;
  value[0][0] = 1.5;
  value[8][9] = -0.25;
  value[4][4] = 1.02;
  int status = 99;
  OwnedArray alpha(solveAlpha(&image.img, mask.a, value.a, 1e-7, 1, &status));
  EXPECT_EQ(status, 0);
  EXPECT_EQ(alpha[0][0], 1.0);
  EXPECT_EQ(alpha[8][9], 0.0);
  EXPECT_EQ(alpha[4][4], 1.0);
  EXPECT_EQ(alpha[1][1], 0.0);
}

TEST_F(SolveAlpha, LevelWithoutWindowsReportsTheSolversVerdict) {
  // 2 x 2: no window; the free pixels keep empty rows and the matrix is singular.
  OwnedImage image(2, 2, 'c');
  std::mt19937 rng(22);
  fill_random(&image, &rng);
  OwnedArray mask(2, 2), value(2, 2);
  mask[0][0] = 1.0;
  value[0][0] = 1.0;
  int status = 99;
  OwnedArray alpha(solveAlpha(&image.img, mask.a, value.a, 1e-7, 1, &status));
  EXPECT_EQ(status, 1);  // UMFPACK_WARNING_singular_matrix
}

TEST_F(SolveAlpha, RecordedContainerErrorGivesOutOfMemoryAndZeroAlpha) {
  OwnedImage image(8, 8, 'c');
  std::mt19937 rng(23);
  fill_random(&image, &rng);
  OwnedArray mask(8, 8), value(8, 8);
  for (int y = 0; y < 8; ++y) mask[y][0] = 1.0, mask[y][7] = 1.0, value[y][7] = 1.0;
  LASError(LASMemAllocErr, "test");
  int status = 99;
  OwnedArray alpha(solveAlpha(&image.img, mask.a, value.a, 1e-7, 1, &status));
  EXPECT_EQ(status, -1);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 8; ++x) EXPECT_EQ(alpha[y][x], 0.0);
  LASClearError();
}

}  // namespace
