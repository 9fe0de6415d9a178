// The matting Laplacian: structure, properties, and agreement with its definition.
#include <gtest/gtest.h>

#include <cmath>
#include <random>

#include "engine_fixtures.h"
#include "matting/get_laplacian.h"
#include "numeric/errhandl.h"

namespace {

class Laplacian : public testing::Test {
 protected:
  void SetUp() override { LASClearError(); }
  void TearDown() override { EXPECT_EQ(LASResult(), LASOK); }
};

TEST_F(Laplacian, OneWindowOnAThreeByThreeGreyImage) {
  OwnedImage image(3, 3, 'g');
  std::mt19937 rng(10);
  fill_random(&image, &rng);
  OwnedArray mask(3, 3);
  OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, 1));
  ASSERT_EQ(L.M.Dim, 9u);
  EXPECT_TRUE(L.M.Symmetry);
  for (size_t p = 1; p <= 9; ++p) {
    ASSERT_EQ(Q_GetLen(&L.M, p), 10 - p) << "row " << p;
    for (size_t k = 0; k < Q_GetLen(&L.M, p); ++k) EXPECT_EQ(Q_GetPos(&L.M, p, k), p + k);
  }
}

TEST_F(Laplacian, FullyConstrainedMaskGivesEmptyRows) {
  OwnedImage image(8, 6, 'c');
  std::mt19937 rng(11);
  fill_random(&image, &rng);
  OwnedArray mask(8, 6);
  for (int y = 0; y < 6; ++y)
    for (int x = 0; x < 8; ++x) mask[y][x] = 1.0;
  OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, 1));
  for (size_t p = 1; p <= 48; ++p) EXPECT_EQ(Q_GetLen(&L.M, p), 0u);
}

TEST_F(Laplacian, FlatWindowGivesOneOverN) {
  for (int r : {1, 2}) {
    const int side = 2 * r + 1, N = side * side;
    OwnedImage image(side, side, 'c');
    for (int ch = 0; ch < 3; ++ch)
      for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) image.at(ch, y, x) = static_cast<uint8_t>(40 + 50 * ch);
    OwnedArray mask(side, side);
    OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, r));
    // (The diagonal of a level this short counts some neighbours twice; see RowSums.)
    for (size_t p = 1; p <= static_cast<size_t>(N); ++p) {
      ASSERT_EQ(Q_GetLen(&L.M, p), N + 1 - p);
      for (size_t k = 1; k < Q_GetLen(&L.M, p); ++k)
        EXPECT_NEAR(Q_GetVal(&L.M, p, k), -1.0 / N, 1e-12) << "r " << r << " row " << p;
    }
  }
}

// Rows strictly ascending with the diagonal first; full matrix symmetric with zero row sums
// on levels taller than 4r, for several radii, image types and masks.
TEST_F(Laplacian, RowsSortedAndRowSumsZero) {
  struct Case {
    int w, h, r;
    char type;
    double constrained;  // share of constrained pixels
  } cases[] = {{12, 10, 1, 'c', 0.0},
               {11, 13, 1, 'g', 0.5},
               {15, 14, 2, 'c', 0.3},
               {9, 16, 3, 'c', 0.2},
               {20, 9, 1, 'a', 0.7}};
  for (const Case& c : cases) {
    OwnedImage image(c.w, c.h, c.type);
    std::mt19937 rng(c.w * 100 + c.h);
    fill_random(&image, &rng);
    OwnedArray mask(c.w, c.h);
    std::bernoulli_distribution constrained(c.constrained);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w; ++x) mask[y][x] = constrained(rng) ? 1.0 : 0.0;
    OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, c.r));
    const size_t n = static_cast<size_t>(c.w) * c.h;
    for (size_t p = 1; p <= n; ++p) {
      const size_t len = Q_GetLen(&L.M, p);
      if (len == 0) continue;
      EXPECT_EQ(Q_GetPos(&L.M, p, 0), p);
      for (size_t k = 1; k < len; ++k) ASSERT_GT(Q_GetPos(&L.M, p, k), Q_GetPos(&L.M, p, k - 1));
    }
    Dense D = to_dense(&L.M);
    double scale = 0;
    for (double v : D.v) scale = std::max(scale, std::fabs(v));
    for (int i = 0; i < D.n; ++i) {
      double sum = 0;
      for (int j = 0; j < D.n; ++j) sum += D(i, j);
      EXPECT_NEAR(sum, 0.0, 1e-12 * scale) << c.w << "x" << c.h << " r " << c.r << " row " << i;
    }
  }
}

TEST_F(Laplacian, MatchesTheDefinition) {
  struct Case {
    int w, h, r;
    char type;
  } cases[] = {{9, 8, 1, 'c'}, {8, 11, 1, 'g'}, {11, 12, 2, 'c'}};
  for (const Case& c : cases) {
    OwnedImage image(c.w, c.h, c.type);
    std::mt19937 rng(c.w + c.h);
    fill_scene(&image, &rng);
    OwnedArray mask(c.w, c.h);
    for (int y = 0; y < c.h; ++y)
      for (int x = 0; x < c.w / 3; ++x) mask[y][x] = 1.0;  // some windows are skipped
    OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-5, c.r));
    Dense got = to_dense(&L.M);
    Dense want = reference_laplacian(image.img, mask.a, 1e-5, c.r);
    double scale = 0;
    for (double v : want.v) scale = std::max(scale, std::fabs(v));
    // Both sides invert the same small matrices in different ways: agreement to rounding of
    // the largest entry.
    for (int i = 0; i < got.n; ++i)
      for (int j = 0; j < got.n; ++j)
        ASSERT_NEAR(got(i, j), want(i, j), 1e-9 * scale) << "entry " << i << "," << j;
  }
}

TEST_F(Laplacian, FlatImageTallerThanFourRadii) {
  // One column of windows on a flat 3 x 9 image: the middle pixel (1, 4) lies in the windows
  // centred at rows 3, 4, 5, so its diagonal is 3 windows x 8 neighbours x 1/9.
  OwnedImage image(3, 9, 'g');
  for (int y = 0; y < 9; ++y)
    for (int x = 0; x < 3; ++x) image.at(0, y, x) = 90;
  OwnedArray mask(3, 9);
  OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, 1));
  const size_t p = 1 * 9 + 4 + 1;
  EXPECT_NEAR(Q_GetVal(&L.M, p, 0), 24.0 / 9, 1e-12);
  EXPECT_NEAR(Q_GetEl(&L.M, p, p + 1), -2.0 / 9, 1e-12);  // (1, 5): windows at rows 4, 5
  EXPECT_NEAR(Q_GetEl(&L.M, p, p + 2), -1.0 / 9, 1e-12);  // (1, 6): the window at row 5
  EXPECT_NEAR(Q_GetEl(&L.M, p, p + 9), -3.0 / 9, 1e-12);  // (2, 4): all three
  EXPECT_EQ(Q_GetEl(&L.M, p, p + 3), 0.0);                // (1, 7): no shared window
}

TEST_F(Laplacian, SoftnessAndRadiusBelowTheirMinimum) {
  OwnedImage image(9, 9, 'c');
  std::mt19937 rng(12);
  fill_random(&image, &rng);
  OwnedArray mask(9, 9);
  OwnedMatrix a(getLaplacian1(&image.img, mask.a, 0.0, 0));
  OwnedMatrix b(getLaplacian1(&image.img, mask.a, 1e-7, 1));
  Dense da = to_dense(&a.M), db = to_dense(&b.M);
  EXPECT_EQ(da.v, db.v);
}

TEST_F(Laplacian, BorderPixelsOnlyInInnerWindows) {
  // On a 5 x 5 image with r = 1 the corner (0, 0) lies only in the window centred at (1, 1):
  // its row holds (0,0) and the 8 other pixels of that window, nothing else.
  OwnedImage image(5, 5, 'c');
  std::mt19937 rng(13);
  fill_random(&image, &rng);
  OwnedArray mask(5, 5);
  OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, 1));
  ASSERT_EQ(Q_GetLen(&L.M, 1), 9u);
  const size_t expected[9] = {1, 2, 3, 6, 7, 8, 11, 12, 13};  // x * 5 + y + 1
  for (size_t k = 0; k < 9; ++k) EXPECT_EQ(Q_GetPos(&L.M, 1, k), expected[k]);
}

TEST_F(Laplacian, TooSmallLevelHasNoWindows) {
  OwnedImage image(2, 7, 'c');
  std::mt19937 rng(14);
  fill_random(&image, &rng);
  OwnedArray mask(2, 7);
  OwnedMatrix L(getLaplacian1(&image.img, mask.a, 1e-7, 1));
  for (size_t p = 1; p <= 14; ++p) EXPECT_EQ(Q_GetLen(&L.M, p), 0u);
}

}  // namespace
