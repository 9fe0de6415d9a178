// Reduction, guided expansion, erosion and grey levels.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine_fixtures.h"
#include "matting/imgutil.h"

namespace {

TEST(DownSmpIm, SizesFollowTheLevelRule) {
  struct Case {
    int w, h, cw, ch;
  } cases[] = {{640, 480, 318, 238}, {641, 481, 319, 239}, {5, 5, 1, 1}, {6, 7, 1, 2}};
  for (const Case& c : cases) {
    OwnedImage image(c.w, c.h, 'c');
    std::mt19937 rng(1);
    fill_random(&image, &rng);
    TIFF_img small = downSmpIm(&image.img, 2);
    EXPECT_EQ(small.width, c.cw) << c.w << "x" << c.h;
    EXPECT_EQ(small.height, c.ch) << c.w << "x" << c.h;
    EXPECT_EQ(small.TIFF_type, 'c');
    free_TIFF(&small);
  }
}

TEST(DownSmpIm, UniformImageReducesExactly) {
  for (int v : {0, 1, 77, 128, 254, 255}) {
    OwnedImage image(23, 18, 'c');
    for (int ch = 0; ch < 3; ++ch)
      for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 23; ++x) image.at(ch, y, x) = static_cast<uint8_t>(v);
    TIFF_img small = downSmpIm(&image.img, 2);
    for (int ch = 0; ch < 3; ++ch)
      for (int y = 0; y < small.height; ++y)
        for (int x = 0; x < small.width; ++x) ASSERT_EQ(small.channels[ch][y][x], v);
    free_TIFF(&small);
  }
}

TEST(DownSmpIm, ChannelTypes) {
  OwnedImage rgba(9, 9, 'a'), grey(9, 9, 'g');
  std::mt19937 rng(2);
  fill_random(&rgba, &rng);
  fill_random(&grey, &rng);
  TIFF_img a = downSmpIm(&rgba.img, 2), g = downSmpIm(&grey.img, 2);
  EXPECT_EQ(a.TIFF_type, 'c');
  EXPECT_EQ(g.TIFF_type, 'g');
  free_TIFF(&a);
  free_TIFF(&g);
}

// The filtered value at a lattice pixel, computed here from the 1-D kernel directly.
TEST(DownSmpIm, MatchesSeparableBinomialFilter) {
  const double k[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
  OwnedImage image(13, 11, 'g');
  std::mt19937 rng(3);
  fill_random(&image, &rng);
  TIFF_img small = downSmpIm(&image.img, 2);
  for (int r = 0; r < small.height; ++r)
    for (int c = 0; c < small.width; ++c) {
      double sum = 0;
      for (int i = 0; i < 5; ++i)
        for (int j = 0; j < 5; ++j) sum += k[i] * k[j] * image.at(0, 2 * r + i, 2 * c + j);
      EXPECT_EQ(small.plane[r][c], static_cast<int>(sum)) << r << "," << c;
    }
  free_TIFF(&small);
}

TEST(DownSmpImDeathTest, FilterAboveTwoEndsTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  OwnedImage image(9, 9, 'g');
  EXPECT_EXIT(downSmpIm(&image.img, 3), testing::ExitedWithCode(255),
              "No filter matrix set for dimensions over 5x5 i.e. > than filts 2!");
}

TEST(DownSmpArr, ExactlyHalfTheWeightIsEnough) {
  // Kernel weights around lattice pixel (2, 2) in 1/256: the outer product of 1 4 6 4 1.
  // Rows 0-1 (80) + row 2 columns 0-1 (30) + row 3 column 1 (16) + row 4 columns 0 and 4 (2)
  // = 128, exactly one half.
  OwnedArray a(5, 5);
  for (int x = 0; x < 5; ++x) a[0][x] = a[1][x] = 1.0;
  a[2][0] = a[2][1] = a[3][1] = a[4][0] = a[4][4] = 1.0;
  OwnedArray half(downSmpArr(a.a, 5, 5, 2));
  EXPECT_EQ(half[0][0], 1.0);
  a[4][4] = 0.0;  // 127/256
  OwnedArray below(downSmpArr(a.a, 5, 5, 2));
  EXPECT_EQ(below[0][0], 0.0);
}

TEST(DownSmpArr, SizeRuleAndLattice) {
  // Height before width: 9 rows -> 1 + 5 / 2 = 3 rows, 6 columns -> 0 + 2 / 2 = 1 column,
  // on the lattice rows 2, 4, 6 of column 2. A lone constrained lattice pixel carries only
  // 36/256 of the weight around it.
  OwnedArray a(6, 9);
  a[6][2] = 1.0;
  OwnedArray r(downSmpArr(a.a, 9, 6, 2));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(r[y][0], 0.0);
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 6; ++x) a[y][x] = 1.0;
  OwnedArray ones(downSmpArr(a.a, 9, 6, 2));
  for (int y = 0; y < 3; ++y) EXPECT_EQ(ones[y][0], 1.0);
}

TEST(GetLinearCoeff, ConstantMatteGivesZeroSlopes) {
  OwnedImage image(9, 8, 'c');
  std::mt19937 rng(4);
  fill_random(&image, &rng);
  OwnedArray alpha(9, 8);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 9; ++x) alpha[y][x] = 0.3;
  double*** coeff = getLinearCoeff(alpha.a, &image.img, 1e-7, 1);
  for (int y = 0; y < 8; ++y)
    for (int x = 0; x < 9; ++x) {
      for (int k = 0; k < 3; ++k) EXPECT_NEAR(coeff[y][x][k], 0.0, 1e-9);
      EXPECT_NEAR(coeff[y][x][3], 0.3, 1e-9);
    }
  multifree(coeff, 3);
}

// A matte that is exactly affine in the colours is fitted exactly (up to the tiny eps).
TEST(GetLinearCoeff, AffineMatteIsRecovered) {
  OwnedImage image(7, 7, 'c');
  std::mt19937 rng(5);
  fill_random(&image, &rng);
  OwnedArray alpha(7, 7);
  for (int y = 0; y < 7; ++y)
    for (int x = 0; x < 7; ++x)
      alpha[y][x] = 0.1 + 0.5 * image.at(0, y, x) / 255.0 - 0.2 * image.at(2, y, x) / 255.0;
  double*** coeff = getLinearCoeff(alpha.a, &image.img, 1e-12, 1);
  EXPECT_NEAR(coeff[3][3][0], 0.5, 1e-5);
  EXPECT_NEAR(coeff[3][3][1], 0.0, 1e-5);
  EXPECT_NEAR(coeff[3][3][2], -0.2, 1e-5);
  EXPECT_NEAR(coeff[3][3][3], 0.1, 1e-5);
  // Corners copy the nearest interior fit.
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(coeff[0][0][k], coeff[1][1][k]);
    EXPECT_EQ(coeff[6][6][k], coeff[5][5][k]);
    EXPECT_EQ(coeff[0][6][k], coeff[1][5][k]);
  }
  multifree(coeff, 3);
}

TEST(GetLinearCoeffDeathTest, SingularNormalEquationsEndTheProcess) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  // A black image with eps 0: the slope columns are zero, the normal matrix singular.
  OwnedImage image(5, 5, 'g');
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) image.at(0, y, x) = 0;
  OwnedArray alpha(5, 5);
  EXPECT_EXIT(getLinearCoeff(alpha.a, &image.img, 0.0, 1), testing::ExitedWithCode(1),
              "The matrix A is not positive definite symmetric");
}

TEST(UpSmpArr, ImpulseSpreadsWithTheExpandKernel) {
  // One coarse entry of a 3 x 4 field (the reduction of 10 x 12) lands on fine
  // (2 + 2r, 2 + 2c) and spreads with the expand kernel 0.125 0.5 0.75 0.5 0.125 per axis.
  double*** in = static_cast<double***>(multialloc_init(sizeof(double), 3, 3, 4, 1));
  in[1][1][0] = 1.0;
  double*** out = upSmpArr(in, 3, 4, 1, 10, 12, 2);
  EXPECT_DOUBLE_EQ(out[4][4][0], 0.75 * 0.75);
  EXPECT_DOUBLE_EQ(out[5][4][0], 0.5 * 0.75);
  EXPECT_DOUBLE_EQ(out[5][5][0], 0.5 * 0.5);
  EXPECT_DOUBLE_EQ(out[6][4][0], 0.125 * 0.75);
  EXPECT_DOUBLE_EQ(out[7][4][0], 0.0);
  EXPECT_DOUBLE_EQ(out[4][7][0], 0.0);
  multifree(in, 3);
  multifree(out, 3);
}

TEST(UpSampleAlphaUsingImg, ConstantMatteStaysConstantEverywhere) {
  for (int size : {13, 14, 20, 21}) {
    OwnedImage fine(size + 3, size, 'c');
    std::mt19937 rng(size);
    fill_random(&fine, &rng);
    TIFF_img coarse = downSmpIm(&fine.img, 2);
    OwnedArray alpha(coarse.width, coarse.height);
    for (int y = 0; y < coarse.height; ++y)
      for (int x = 0; x < coarse.width; ++x) alpha[y][x] = 0.625;
    OwnedArray up(upSampleAlphaUsingImg(alpha.a, &coarse, &fine.img, 1e-7, 1));
    for (int y = 0; y < size; ++y)
      for (int x = 0; x < size + 3; ++x) ASSERT_NEAR(up[y][x], 0.625, 1e-9) << x << "," << y;
    free_TIFF(&coarse);
  }
}

TEST(Imerode, OneZeroGivesAThreeByThreeBlock) {
  OwnedArray a(6, 5);
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) a[y][x] = 1.0;
  a[2][3] = 0.0;
  a[0][5] = 0.0;  // a corner: its block is clipped to 2 x 2
  OwnedArray e(imerode(a.a, 6, 5, 1));
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 6; ++x) {
      const bool near_centre = std::abs(y - 2) <= 1 && std::abs(x - 3) <= 1;
      const bool near_corner = y <= 1 && x >= 4;
      EXPECT_EQ(e[y][x], near_centre || near_corner ? 0.0 : 1.0) << x << "," << y;
    }
}

TEST(Imerode, WidthBeforeHeightAndGreyMinimum) {
  // 2 rows x 4 columns: a swapped argument order would read outside or give another result.
  OwnedArray a(4, 2);
  const double v[2][4] = {{0.9, 0.8, 0.7, 0.6}, {0.5, 0.95, 0.99, 0.4}};
  for (int y = 0; y < 2; ++y)
    for (int x = 0; x < 4; ++x) a[y][x] = v[y][x];
  OwnedArray e(imerode(a.a, 4, 2, 1));
  EXPECT_EQ(e[0][0], 0.5);
  EXPECT_EQ(e[0][2], 0.4);
  EXPECT_EQ(e[1][1], 0.5);
  EXPECT_EQ(e[1][3], 0.4);
  OwnedArray same(imerode(a.a, 4, 2, 0));
  EXPECT_EQ(same[1][2], 0.99);
}

TEST(Rgb2grey, Examples) {
  EXPECT_EQ(rgb2grey(255, 255, 255), 255);
  EXPECT_EQ(rgb2grey(0, 0, 0), 0);
  EXPECT_EQ(rgb2grey(0, 0, 255), 127);
  EXPECT_EQ(rgb2grey(255, 255, 0), 127);
  EXPECT_EQ(rgb2grey(10, 20, 31), 20);
  EXPECT_EQ(rgb2grey(128, 128, 128), 128);
}

}  // namespace
