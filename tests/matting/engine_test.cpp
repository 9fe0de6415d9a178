// The matte engine against an independent dense implementation of its equations and against
// properties that hold whatever the image; and the fatal messages of the engine and its core.
#include <cstring>
#include <limits>
#include <string>
#include <tuple>

#include "engine_fixtures.h"
#include "matting/auto_levels.h"
#include "matting/matte_session.h"
#include "matting/calc_control.h"
#include "matting/calc_input.h"
#include "matting/constrained_system.h"
#include "matting/get_laplacian.h"
#include "matting/imgutil.h"
#include "matting/iterative_solve.h"
#include "matting/laplacian_rows.h"
#include "matting/resample.h"
#include "matting/schwarz_solver.h"
#include "matting/solve_alpha.h"
#include "numeric/errhandl.h"

namespace {

template <typename... T>
using Table = std::vector<std::tuple<T...>>;

void expect_same(const OwnedArray& a, const OwnedArray& b, int w, int h) {
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(a[i / w][i % w], b[i / w][i % w]) << i % w << "," << i / w;
}

// Sorted rows, diagonal first; rows only for pixels in a processed window; zero row sums; the
// definition's entries (levels no taller than 4r count diagonal neighbours twice); the same
// from laplacian_rows(). Rows: grey, colour, radius 2, one window, flat (eps -1), softness and
// radius 0, all constrained, none.
TEST(Laplacian, MatchesTheDefinition) {
  const Table<int, int, int, char, double, int, int> cases = {
      {9, 8, 3, 'c', 1e-5, 1, 1}, {8, 11, 2, 'g', 1e-5, 1, 1}, {11, 12, 3, 'a', 1e-5, 2, 2},
      {3, 3, 0, 'g', 1e-7, 1, 1}, {5, 6, 0, 'c', -1, 1, 1},    {9, 9, 1, 'c', 0.0, 1, 0},
      {8, 6, 4, 'c', 1e-7, 1, 1}, {2, 7, 0, 'c', 1e-7, 1, 1}};
  for (auto [w, h, stroke, type, eps, r, given_r] : cases) {
    SCOPED_TRACE(testing::Message() << w << "x" << h << " r " << r);
    LASClearError();
    Scene s(w, h, stroke, w * h, type);
    for (int ch = 0; ch < 3 && eps < 0; ++ch) std::memset(s.image.channels[ch][0], 40 * ch, w * h);
    QMatrix L = getLaplacian1(&s.image, s.mask.a, std::max(eps, 0.0), given_r);
    const Dense want = reference_laplacian(s.image, s.mask.a, std::max(eps, 1e-7), r),
                got = to_dense(&L);
    const double scale = *std::max_element(want.v.begin(), want.v.end());
    for (int i = 0; i < got.n; ++i) {
      const size_t p = i + 1, len = Q_GetLen(&L, p);
      EXPECT_EQ(len == 0, want(i, i) == 0.0) << "row " << p;
      for (size_t k = 0; k < len; ++k) ASSERT_EQ(Q_GetPos(&L, p, k) > p, k > 0) << p;
      for (size_t k = 1; k < len; ++k) ASSERT_GT(Q_GetPos(&L, p, k), Q_GetPos(&L, p, k - 1));
      double sum = 0;
      for (int j = 0; j < got.n; ++j) {
        sum += got(i, j);
        ASSERT_NEAR(got(i, j), i != j || h > 4 * r ? want(i, j) : got(i, j), 1e-9 * scale)
            << i << "," << j;
      }
      EXPECT_NEAR(h > 4 * r ? sum : 0.0, 0.0, 1e-12 * scale) << "row " << p;
    }
    EXPECT_NEAR(eps < 0 ? Q_GetVal(&L, 1, 1) : -1.0 / 9, -1.0 / 9, 1e-12);
    EXPECT_EQ(LASResult(), LASOK);
    // The compressed rows of the iterative solvers: getLaplacian1's rows and entries, row by
    // row, with the definition's diagonal also on short levels.
    LaplacianRows rows;
    laplacian_rows(&s.image, s.mask.a, std::max(eps, 0.0), given_r, &rows);
    for (int i = 0; i < got.n; ++i) {
      const size_t p = i + 1, len = Q_GetLen(&L, p);
      const int32_t v = rows.var_of[i];
      ASSERT_EQ(v < 0, len == 0) << "row " << p;
      if (v < 0) continue;
      ASSERT_EQ(rows.pixel[v], i);
      ASSERT_EQ(size_t(rows.row_start[v + 1] - rows.row_start[v]), len) << "row " << p;
      for (size_t k = 0; k < len; ++k) {
        const int64_t e = rows.row_start[v] + int64_t(k);
        ASSERT_EQ(size_t(rows.pixel[rows.col[e]]) + 1, Q_GetPos(&L, p, k)) << p << " " << k;
        ASSERT_NEAR(rows.val[e], want(i, rows.pixel[rows.col[e]]), 1e-9 * scale) << p;
      }
    }
    Q_Destr(&L);
  }
}

// Reduction: sizes, types and every pixel of the binomial filter (exact: the weights are
// multiples of 1/256); a constraint kept at exactly half the weight; grey levels of stroke
// colours. Expansion: a constant coarse matte comes back up as the constant everywhere; a lone
// coarse value spreads with the expand kernel from its lattice pixel (odd sizes too).
TEST(Resampling, ReductionAndExpansion) {
  const double k[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
  for (auto [w, h, type, cw, ch, ctype] : Table<int, int, char, int, int, char>{
           {641, 480, 'c', 319, 238, 'c'}, {14, 11, 'g', 5, 4, 'g'}, {9, 5, 'a', 3, 1, 'c'}}) {
    Scene s(w, h, 0, 3, type);
    TIFF_img small = downSmpIm(&s.image, 2);
    ASSERT_TRUE(small.width == cw && small.height == ch && small.TIFF_type == ctype) << w;
    for (int i = 0; i < (type == 'g' ? 1 : 3) * cw * ch; ++i) {
      const int c = i / (cw * ch), r = i / cw % ch, q = i % cw;
      double sum = 0;
      for (int j = 0; j < 25; ++j)
        sum += k[j / 5] * k[j % 5] * s.at(c, 2 * r + j / 5, 2 * q + j % 5);
      ASSERT_EQ(type == 'g' ? small.plane[r][q] : small.channels[c][r][q], int(sum)) << i;
    }
    free_TIFF(&small);
  }
  // Around lattice pixel (2, 2), in 1/256: rows 0-1 (80) + row 2 columns 0-1 (30) + row 3
  // column 1 (16) + row 4 columns 0 and 4 (2) = 128.
  OwnedArray a(5, 5);
  for (int i = 0; i < 25; ++i) a[i / 5][i % 5] = i < 12 || i == 16 || i == 20 || i == 24;
  EXPECT_EQ(OwnedArray(downSmpArr(a.a, 5, 5, 2))[0][0], 1.0);
  a[4][4] = 0.0;  // 127/256
  EXPECT_EQ(OwnedArray(downSmpArr(a.a, 5, 5, 2))[0][0], 0.0);
  EXPECT_EQ(rgb2grey(255, 255, 255) + rgb2grey(0, 0, 255) + rgb2grey(10, 20, 31), 255 + 127 + 20);
  for (int size : {13, 14, 20, 21}) {
    Scene fine(size + 3, size, 0, size);
    TIFF_img coarse = downSmpIm(&fine.image, 2);
    OwnedArray alpha(coarse.width, coarse.height);
    for (int y = 0; y < coarse.height; ++y) std::fill_n(alpha[y], coarse.width, 0.625);
    OwnedArray up(upSampleAlphaUsingImg(alpha.a, &coarse, &fine.image, 1e-7, 1));
    for (int i = 0; i < size * (size + 3); ++i)
      ASSERT_NEAR(up[i / (size + 3)][i % (size + 3)], 0.625, 1e-9);
    free_TIFF(&coarse);
  }
  // Coarse (1, 1) of a 4 x 5 field (from an odd 11 x 13) lands on fine (4, 4).
  double*** in = static_cast<double***>(multialloc_init(sizeof(double), 3, 4, 5, 1));
  in[1][1][0] = 1.0;
  double*** out = upSmpArr(in, 4, 5, 1, 11, 13, 2);
  const double kernel[7] = {0, 0.125, 0.5, 0.75, 0.5, 0.125, 0};
  for (int i = 0; i < 11 * 13; ++i)
    EXPECT_DOUBLE_EQ(out[i / 13][i % 13][0],
                     kernel[std::clamp(i / 13 - 1, 0, 6)] * kernel[std::clamp(i % 13 - 1, 0, 6)])
        << i;
  multifree(in, 3);
  multifree(out, 3);
}

// A calculation region is cut at the image's edges, or refused when nothing of it is left.
TEST(CalcInput, RegionsAreCutAtTheImagesEdges) {
  const Table<int, int, int, int, int, int, int, int> cases = {
      {-3, 5, 40, 26, 0, 5, 37, 26}, {4, -2, 50, 99, 4, 0, 44, 36}, {48, 0, 5, 5, 48, 0, 0, 5}};
  for (auto [x, y, w, h, cx, cy, cw, ch] : cases) {
    CalcRegion r = {x, y, w, h};
    EXPECT_EQ(clamp_calc_region(&r, 48, 36), cw > 0);
    EXPECT_TRUE(r.x == cx && r.y == cy && r.w == cw && r.h == ch) << x << "," << y;
  }
}

// One level agrees with a dense solve (to 1e-7: the condition grows as eps shrinks): strokes,
// an alternate colour, and pixels in no window (6 stroke columns) with targets outside 0..1.
TEST(SolveAlpha, AgreesWithADenseSolve) {
  const Table<int, int, int, int, char, double> cases = {{10, 9, 1, 2, 'c', 1e-7},
                                                         {9, 11, 1, 2, 'g', 1e-6},
                                                         {12, 12, 2, 2, 'c', 1e-5},
                                                         {16, 9, 1, 6, 'c', 1e-7}};
  for (auto [w, h, r, stroke, type, eps] : cases) {
    LASClearError();
    Scene s(w, h, stroke, w * 7 + h, type);
    s.mask[h / 2][w / 2] = 1.0;
    s.value[h / 2][w / 2] = 0.4;
    s.value[0][0] = 1.5;
    s.value[h - 1][1] = -0.25;
    s.value[3][2] = 0.3;
    int status = 99;
    OwnedArray alpha(solveAlpha(&s.image, s.mask.a, s.value.a, eps, r, &status));
    EXPECT_EQ(status, 0);
    EXPECT_LT(max_difference(alpha.a, reference_alpha(s.image, s.mask.a, s.value.a, eps, r), w, h),
              1e-7)
        << w;
  }
}

// solveAlphaC2F with the default softness: its trace, and its matte into *alpha.
std::string run_c2f(Scene* s, int levels, int active, double threshold, int* status,
                    OwnedArray* alpha, int radius = 1) {
  testing::internal::CaptureStdout();
  alpha->a = solveAlphaC2F(&s->image, s->mask.a, s->value.a, levels, active, threshold, 1e-7,
                           radius, status);
  return testing::internal::GetCapturedStdout();
}

// Trace lines; out-of-range arguments act as the nearest valid ones (an equivalent call, when
// given); more levels than the size allows stop at the last level with windows, and say so;
// bytes of 1.3, -0.2 and NaN.
TEST(Driver, TraceAndAdjustedArguments) {
  for (auto [w, levels, active, radius, threshold, trace, same_levels, same_active,
             same_threshold] : Table<int, int, int, int, double, const char*, int, int, double>{
           {60, 1, 1, 1, 0.02, "", 0, 0, 0},
           {60, 3, 1, 1, 0.02,
            "levels_num 3 Active_levels_num 1\nlevels_num 2 Active_levels_num 1\n", 0, 0, 0},
           {60, 2, 2, 1, 0.0, "levels_num 2 Active_levels_num 2\n", 2, 2, 0.02},
           {60, 2, 7, 1, 0.05, "levels_num 2 Active_levels_num 7\n", 2, 2, 0.05},
           {60, 2, -4, 1, 0.05, "levels_num 2 Active_levels_num 1\n", 2, 1, 0.05},
           {7, 50, 50, 1, 0.02, "levels_num 50: using 1 levels for a 7x7 image\n", 0, 0, 0},
           {30, 5, 5, 3, 0.02,
            "levels_num 5: using 2 levels for a 30x30 image\nlevels_num 2 Active_levels_num 2\n", 0,
            0, 0},
           {11, 2, 2, 1, 0.02, "levels_num 2 Active_levels_num 2\n", 0, 0, 0}}) {  // 11 -> 4: valid
    const int h = w == 60 ? 50 : w;
    Scene s(w, h, 1 + w / 8, 1), t(w, h, 1 + w / 8, 1);
    int status = 99, same_status = 98;
    OwnedArray alpha(nullptr), same(nullptr);
    EXPECT_EQ(run_c2f(&s, levels, active, threshold, &status, &alpha, radius), trace);
    EXPECT_EQ(status, 0);
    for (int y = 0; y < h && active >= levels; ++y)  // every level solved: strokes held
      EXPECT_TRUE(alpha[y][0] < 0.02 && alpha[y][w - 1] > 0.98) << w;
    if (same_levels == 0) continue;
    run_c2f(&t, same_levels, same_active, same_threshold, &same_status, &same);
    expect_same(alpha, same, w, h);
  }
  OwnedArray a(4, 1);
  const double in[4] = {1.3, -0.2, std::numeric_limits<double>::quiet_NaN(), 0.999};
  std::copy(in, in + 4, a[0]);
  scale2_255(a.a, 4, 1);
  EXPECT_TRUE(a[0][0] == 255 && a[0][1] == 0 && a[0][2] == 255 && a[0][3] == 0.999 * 255);
}

// Two levels from the engine's parts: one active level carries the coarse matte up; two solve
// the fine level within the trimap of the carried matte (with alternate strokes of 0.7, raised
// to 1, and 0.3, kept), which the caller's constraints then hold. A carried value exactly on
// 1 - threshold is not sure.
TEST(Driver, FineLevelIsCarriedUpOrSolvedWithinTheTrimap) {
  const int w = 48, h = 40;
  Scene t(w, h, 6, 3), s1(w, h, 6, 3), s2(w, h, 6, 3);
  for (Scene* s : {&t, &s1, &s2}) {
    s->mask[20][24] = s->mask[10][24] = 1.0;
    s->value[20][24] = 0.7;
    s->value[10][24] = 0.3;
  }
  TIFF_img small = downSmpIm(&t.image, 2);
  OwnedArray sm(downSmpArr(t.mask.a, h, w, 2)), sv(downSmpArr(t.value.a, h, w, 2));
  int ref_status = 99, status = 98;
  OwnedArray coarse(solveAlpha(&small, sm.a, sv.a, 1e-7, 1, &ref_status));
  OwnedArray up(upSampleAlphaUsingImg(coarse.a, &small, &t.image, 1e-7, 1));
  free_TIFF(&small);
  auto extreme = [&](int y, int x, double sign) {  // sign 1: the 3 x 3 maximum, -1: minimum
    double m = up[y][x];
    for (int yy = std::max(y - 1, 0); yy <= std::min(y + 1, h - 1); ++yy)
      for (int xx = std::max(x - 1, 0); xx <= std::min(x + 1, w - 1); ++xx)
        m = sign * std::max(sign * m, sign * up[yy][xx]);
    return m;
  };
  double threshold = 0.1;
  for (int i = 0; i < w * h; ++i)
    if (extreme(i / w, i % w, -1) > 0.6 && extreme(i / w, i % w, -1) < 0.9)
      threshold = 1 - extreme(i / w, i % w, -1);
  OwnedArray mask(w, h), value(w, h), got1(nullptr), got2(nullptr);
  for (int i = 0; i < w * h; ++i) {
    const int y = i / w, x = i % w;
    const bool sure = extreme(y, x, -1) > 1 - threshold || extreme(y, x, 1) < threshold;
    mask[y][x] = sure ? 1.0 : t.mask[y][x];
    const bool fg_side = (1 - t.mask[y][x]) * up[y][x] + t.value[y][x] >= 0.5;
    value[y][x] = mask[y][x] == 1.0 && fg_side ? 1.0 : t.value[y][x];
  }
  OwnedArray want(solveAlpha(&t.image, mask.a, value.a, 1e-7, 1, &ref_status));
  run_c2f(&s1, 2, 1, threshold, &status, &got1);
  expect_same(got1, up, w, h);
  run_c2f(&s2, 2, 2, threshold, &status, &got2);
  EXPECT_EQ(status, ref_status);
  expect_same(got2, want, w, h);
  expect_same(s2.mask, mask, w, h);
  expect_same(s2.value, value, w, h);
}

// The tiled solver reaches the dense solution with one tile and with many (bound > 0), not
// after one step; automatic levels stay within 1 % mean error of it, iteration within 1e-3.
TEST(IterativeSolve, TiledSolverAndAutomaticLevelsNearTheDenseSolution) {
  Scene s(34, 27, 3, 5);
  LASClearError();
  std::vector<double> want = reference_alpha(s.image, s.mask.a, s.value.a, 1e-7, 1);
  LevelSystem sys;
  build_level_system(&s.image, s.mask.a, s.value.a, 1e-7, 1, &sys);
  for (auto [tile_variables, overlap, max_iterations, bound] : Table<int64_t, int, int, double>{
           {1 << 30, 4, 0, 1e-7}, {150, 2, 400, 1e-6}, {150, 6, 400, 1e-6}, {150, 2, 1, -1e-3}}) {
    std::vector<double> x(size_t(sys.variables()), 0.5);
    const SchwarzResult r =
        schwarz_solve(sys, &x, SchwarzOptions{tile_variables, overlap, max_iterations, 1e-10});
    OwnedArray alpha(34, 27);
    level_system_alpha(sys, x, alpha.a);
    const double worst = max_difference(alpha.a, want, 34, 27);
    EXPECT_TRUE(bound > 0 ? worst < bound : worst > -bound) << worst << " " << r.tiles;
    EXPECT_TRUE(tile_variables > 1000 || r.tiles > 3) << r.tiles;
  }
  Scene big(96, 80, 6, 7);
  want = reference_alpha(big.image, big.mask.a, big.value.a, 1e-7, 1);
  CalcOptions opts;
  calc_options_default(&opts);
  AutoLevelsParams p;
  p.coarsest_unknowns = 1500;
  p.intermediate.tile_variables = p.final_level.tile_variables = 1500;
  EXPECT_EQ(auto_levels_count(96, 80, 96 * 80 - 2 * 6 * 80, 1, p), 3);
  int status = 99;
  OwnedArray automatic(solve_auto_levels(&big.image, big.mask.a, big.value.a, opts, &status, p));
  EXPECT_EQ(status, 0);
  double sad = 0;
  for (int i = 0; i < 96 * 80; ++i) sad += std::fabs(automatic[i / 96][i % 96] - want[i]);
  EXPECT_LT(sad / (96 * 80), 0.01);  // the soft disc covers about 1300 pixels
  // Strokes one pixel wide, off the halving's lattice, still constrain every level.
  Scene thin(96, 80, 0, 7);
  for (int y = 10; y < 70; ++y) thin.mask[y][11] = thin.mask[y][85] = thin.value[y][85] = 1;
  CalcControl control;
  {
    CalcControlBinding bind(&control);
    free_img_t(solve_auto_levels(&thin.image, thin.mask.a, thin.value.a, opts, &status, p));
  }
  EXPECT_EQ(control.progress().levels, 3);
  opts.solver = CALC_SOLVER_ITERATIVE;
  OwnedArray iterative(
      solve_one_level_iterative(&big.image, big.mask.a, big.value.a, opts, &status));
  EXPECT_LT(max_difference(iterative.a, want, 96, 80), 1e-3);
}

// Exhausted memory and broken invariants end the process with a fixed message.
TEST(FatalMessagesDeathTest, EndTheProcessWithTheirMessage) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const char *calloc_error = "==> calloc\\(\\) error", *malloc_error = "==> malloc\\(\\) error";
  const auto fails = testing::ExitedWithCode(255);
  Scene black(5, 5, 0, 1, 'g');
  std::memset(black.image.plane[0], 0, 25);
  EXPECT_EXIT(get_spc(1 << 30, size_t(1) << 30), fails, calloc_error);
  EXPECT_EXIT(get_img(1 << 16, 1 << 15, 1), fails, malloc_error);  // 2^31 elements of 1 byte
  EXPECT_EXIT(downSmpIm(&black.image, 3), fails,
              "No filter matrix set for dimensions over 5x5 i.e. > than filts 2!");
  // A black image with softness 0: the slope columns are zero, the normal matrix singular.
  EXPECT_EXIT(getLinearCoeff(black.mask.a, &black.image, 0.0, 1), testing::ExitedWithCode(1),
              "The matrix A is not positive definite symmetric");
}

}  // namespace
