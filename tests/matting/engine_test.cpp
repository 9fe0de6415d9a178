// The matte engine against an independent dense implementation of its equations and against
// properties that hold whatever the image: the Laplacian, resampling between levels, the solve
// of one level, the coarse-to-fine driver, the tiled iterative solve and the automatic levels;
// and the fatal messages of the engine and its numeric core.
#include <cstring>
#include <limits>
#include <string>

#include "engine_fixtures.h"
#include "matting/auto_levels.h"
#include "matting/get_laplacian.h"
#include "matting/imgutil.h"
#include "matting/iterative_solve.h"
#include "matting/level_system.h"
#include "matting/schwarz_solver.h"
#include "numeric/errhandl.h"

namespace {

void expect_same(const OwnedArray& a, const OwnedArray& b, int w, int h) {
  for (int i = 0; i < w * h; ++i)
    ASSERT_EQ(a[i / w][i % w], b[i / w][i % w]) << i % w << "," << i / w;
}

// Rows sorted with the diagonal first, a row exactly where the pixel lies in a processed
// window, zero row sums and the definition's entries: grey and colour, radius 1 and 2, one
// window, a flat image (affinities 1 / N), softness 0 and radius 0 acting as 1e-7 and 1, a
// mask constraining everything, a level without windows. Levels no taller than 4r count some
// neighbours twice on the diagonal, which is then not checked.
TEST(Laplacian, MatchesTheDefinition) {
  const struct {
    int w, h, stroke;
    char type;
    double eps;  // -1: a flat image
    int r, given_r;
  } cases[] = {{9, 8, 3, 'c', 1e-5, 1, 1},   {8, 11, 2, 'g', 1e-5, 1, 1},
               {11, 12, 3, 'a', 1e-5, 2, 2}, {3, 3, 0, 'g', 1e-7, 1, 1},
               {5, 6, 0, 'c', -1, 1, 1},     {9, 9, 1, 'c', 0.0, 1, 0},
               {8, 6, 4, 'c', 1e-7, 1, 1},   {2, 7, 0, 'c', 1e-7, 1, 1}};
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " r " << c.r);
    LASClearError();
    Scene s(c.w, c.h, c.stroke, c.w * c.h, c.type);
    for (int ch = 0; ch < 3 && c.eps < 0; ++ch)
      std::memset(s.image.channels[ch][0], 40 * ch, c.w * c.h);
    QMatrix L = getLaplacian1(&s.image, s.mask.a, std::max(c.eps, 0.0), c.given_r);
    const Dense want = reference_laplacian(s.image, s.mask.a, std::max(c.eps, 1e-7), c.r);
    const Dense got = to_dense(&L);
    const double scale = *std::max_element(want.v.begin(), want.v.end());
    for (int i = 0; i < got.n; ++i) {
      const size_t p = i + 1, len = Q_GetLen(&L, p);
      EXPECT_EQ(len == 0, want(i, i) == 0.0) << "row " << p;
      for (size_t k = 0; k < len; ++k) ASSERT_EQ(Q_GetPos(&L, p, k) > p, k > 0) << p;
      for (size_t k = 1; k < len; ++k) ASSERT_GT(Q_GetPos(&L, p, k), Q_GetPos(&L, p, k - 1));
      double sum = 0;
      for (int j = 0; j < got.n; ++j) {
        sum += got(i, j);
        const bool checked = i != j || c.h > 4 * c.r;
        ASSERT_NEAR(got(i, j), checked ? want(i, j) : got(i, j), 1e-9 * scale) << i << "," << j;
      }
      EXPECT_NEAR(c.h > 4 * c.r ? sum : 0.0, 0.0, 1e-12 * scale) << "row " << p;
    }
    EXPECT_NEAR(c.eps < 0 ? Q_GetVal(&L, 1, 1) : -1.0 / 9, -1.0 / 9, 1e-12);  // flat: 1 / N
    EXPECT_EQ(LASResult(), LASOK);
    Q_Destr(&L);
  }
}

// Sizes by the level rule, types, and every pixel the separable binomial filter computed here
// (exactly: the weights are multiples of 1/256); a constraint is kept where exactly half the
// weight around its lattice pixel is constrained. And the grey level of a stroke colour.
TEST(Resampling, ReductionIsTheBinomialFilter) {
  const double k[5] = {1 / 16.0, 4 / 16.0, 6 / 16.0, 4 / 16.0, 1 / 16.0};
  const struct {
    int w, h;
    char type;
    int cw, ch;
    char ctype;
  } cases[] = {{641, 480, 'c', 319, 238, 'c'}, {14, 11, 'g', 5, 4, 'g'}, {9, 5, 'a', 3, 1, 'c'}};
  for (const auto& c : cases) {
    Scene s(c.w, c.h, 0, 3, c.type);
    TIFF_img small = downSmpIm(&s.image, 2);
    ASSERT_TRUE(small.width == c.cw && small.height == c.ch && small.TIFF_type == c.ctype) << c.w;
    for (int i = 0; i < (c.type == 'g' ? 1 : 3) * c.cw * c.ch; ++i) {
      const int ch = i / (c.cw * c.ch), r = i / c.cw % c.ch, q = i % c.cw;
      double sum = 0;
      for (int j = 0; j < 25; ++j)
        sum += k[j / 5] * k[j % 5] * s.at(ch, 2 * r + j / 5, 2 * q + j % 5);
      ASSERT_EQ(c.type == 'g' ? small.plane[r][q] : small.channels[ch][r][q], int(sum)) << i;
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
}

// A constant coarse matte comes back up as the constant everywhere, borders included; a lone
// coarse value spreads with the expand kernel from its lattice pixel.
TEST(Resampling, GuidedExpansion) {
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
  for (int i = 0; i < 11 * 13; ++i) {
    const int y = std::clamp(i / 13 - 1, 0, 6), x = std::clamp(i % 13 - 1, 0, 6);
    EXPECT_DOUBLE_EQ(out[i / 13][i % 13][0], kernel[y] * kernel[x]) << i % 13 << "," << i / 13;
  }
  multifree(in, 3);
  multifree(out, 3);
}

// The solve of one level agrees with a dense solve of the same equations: strokes, an
// alternate-colour pixel, and (6 stroke columns) pixels in no window whose targets lie outside
// 0..1 and come back clamped. A level without windows is singular: UMFPACK's warning 1.
TEST(SolveAlpha, AgreesWithADenseSolve) {
  const struct {
    int w, h, r, stroke;
    char type;
    double eps;
  } cases[] = {{10, 9, 1, 2, 'c', 1e-7},
               {9, 11, 1, 2, 'g', 1e-6},
               {12, 12, 2, 2, 'c', 1e-5},
               {16, 9, 1, 6, 'c', 1e-7}};
  for (const auto& c : cases) {
    LASClearError();
    Scene s(c.w, c.h, c.stroke, c.w * 7 + c.h, c.type);
    s.mask[c.h / 2][c.w / 2] = 1.0;
    s.value[c.h / 2][c.w / 2] = 0.4;
    s.value[0][0] = 1.5;
    s.value[c.h - 1][1] = -0.25;
    s.value[3][2] = 0.3;
    int status = 99;
    OwnedArray alpha(solveAlpha(&s.image, s.mask.a, s.value.a, c.eps, c.r, &status));
    EXPECT_EQ(status, 0);
    // Two direct solves of a system whose condition grows as eps shrinks: agreement to 1e-7.
    const std::vector<double> want = reference_alpha(s.image, s.mask.a, s.value.a, c.eps, c.r);
    EXPECT_LT(max_difference(alpha.a, want, c.w, c.h), 1e-7) << c.w << "x" << c.h;
  }
  Scene s(2, 2, 0, 22);
  s.mask[0][0] = 1.0;
  int status = 99;
  OwnedArray alpha(solveAlpha(&s.image, s.mask.a, s.value.a, 1e-7, 1, &status));
  EXPECT_EQ(status, 1);
}

// solveAlphaC2F with the default softness and radius: its trace, and its matte into *alpha.
std::string run_c2f(Scene* s, int levels, int active, double threshold, int* status,
                    OwnedArray* alpha, int radius = 1) {
  testing::internal::CaptureStdout();
  alpha->a = solveAlphaC2F(&s->image, s->mask.a, s->value.a, levels, active, threshold, 1e-7,
                           radius, status);
  return testing::internal::GetCapturedStdout();
}

// The trace names each halving with the counts received; out-of-range arguments act as the
// nearest valid ones (threshold at least 0.02, active levels 1 .. levels); more levels than
// the size allows stop at the last level with windows, and say so; values of 1.3, -0.2 and
// NaN become 255, 0 and 255 in bytes.
TEST(Driver, TraceAndAdjustedArguments) {
  const struct {
    int w, h, levels, active, radius;
    double threshold;
    const char* trace;
    int same_levels, same_active;  // an equivalent call (0: none)
    double same_threshold;
  } cases[] = {
      {60, 50, 1, 1, 1, 0.02, "", 0, 0, 0},
      {60, 50, 3, 1, 1, 0.02,
       "levels_num 3 Active_levels_num 1\nlevels_num 2 Active_levels_num 1\n", 0, 0, 0},
      {60, 50, 2, 2, 1, 0.0, "levels_num 2 Active_levels_num 2\n", 2, 2, 0.02},
      {60, 50, 2, 7, 1, 0.05, "levels_num 2 Active_levels_num 7\n", 2, 2, 0.05},
      {60, 50, 2, -4, 1, 0.05, "levels_num 2 Active_levels_num 1\n", 2, 1, 0.05},
      {7, 7, 50, 50, 1, 0.02, "levels_num 50: using 1 levels for a 7x7 image\n", 0, 0, 0},
      {30, 30, 5, 5, 3, 0.02,
       "levels_num 5: using 2 levels for a 30x30 image\nlevels_num 2 Active_levels_num 2\n", 0, 0,
       0},
      {11, 11, 2, 2, 1, 0.02, "levels_num 2 Active_levels_num 2\n", 0, 0, 0}};  // 11 -> 4: valid
  for (const auto& c : cases) {
    Scene s(c.w, c.h, 1 + c.w / 8, 1), t(c.w, c.h, 1 + c.w / 8, 1);
    int status = 99, same_status = 98;
    OwnedArray alpha(nullptr), same(nullptr);
    EXPECT_EQ(run_c2f(&s, c.levels, c.active, c.threshold, &status, &alpha, c.radius), c.trace);
    EXPECT_EQ(status, 0);
    for (int y = 0; y < c.h && c.active >= c.levels; ++y)  // every level solved: strokes held
      EXPECT_TRUE(alpha[y][0] < 0.02 && alpha[y][c.w - 1] > 0.98) << c.w;
    if (c.same_levels == 0) continue;
    run_c2f(&t, c.same_levels, c.same_active, c.same_threshold, &same_status, &same);
    expect_same(alpha, same, c.w, c.h);
  }
  OwnedArray a(4, 1);
  const double in[4] = {1.3, -0.2, std::numeric_limits<double>::quiet_NaN(), 0.999};
  std::copy(in, in + 4, a[0]);
  scale2_255(a.a, 4, 1);
  EXPECT_TRUE(a[0][0] == 255 && a[0][1] == 0 && a[0][2] == 255 && a[0][3] == 0.999 * 255);
}

// Two levels built here from the engine's parts: with one active level the result is the
// coarse matte carried up; with two, the fine level is solved within the trimap of the carried
// matte (sure throughout a 3 x 3 neighbourhood; constrained foreground-side pixels raised to
// 1), which the caller's constraints then hold. The threshold puts a carried value exactly on
// 1 - threshold, which is not sure.
TEST(Driver, FineLevelIsCarriedUpOrSolvedWithinTheTrimap) {
  const int w = 48, h = 40;
  Scene t(w, h, 6, 3);
  t.mask[20][24] = t.mask[10][24] = 1.0;  // alternate strokes: 0.7 is raised to 1, 0.3 is kept
  t.value[20][24] = 0.7;
  t.value[10][24] = 0.3;
  TIFF_img small = downSmpIm(&t.image, 2);
  OwnedArray sm(downSmpArr(t.mask.a, h, w, 2)), sv(downSmpArr(t.value.a, h, w, 2));
  int ref_status = 99;
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
  OwnedArray mask(w, h), value(w, h);
  for (int i = 0; i < w * h; ++i) {
    const int y = i / w, x = i % w;
    const bool sure = extreme(y, x, -1) > 1 - threshold || extreme(y, x, 1) < threshold;
    mask[y][x] = sure ? 1.0 : t.mask[y][x];
    const bool fg_side = (1 - t.mask[y][x]) * up[y][x] + t.value[y][x] >= 0.5;
    value[y][x] = mask[y][x] == 1.0 && fg_side ? 1.0 : t.value[y][x];
  }
  OwnedArray want(solveAlpha(&t.image, mask.a, value.a, 1e-7, 1, &ref_status));
  for (int active : {1, 2}) {
    Scene s(w, h, 6, 3);
    s.mask[20][24] = s.mask[10][24] = 1.0;
    s.value[20][24] = 0.7;
    s.value[10][24] = 0.3;
    int status = 99;
    OwnedArray got(nullptr);
    run_c2f(&s, 2, active, threshold, &status, &got);
    EXPECT_EQ(status, ref_status);
    expect_same(got, active == 1 ? up : want, w, h);
    if (active == 1) continue;
    expect_same(s.mask, mask, w, h);
    expect_same(s.value, value, w, h);
    EXPECT_TRUE(s.value[20][24] == 1.0 && s.value[10][24] == 0.3);
  }
}

// The tiled solver reaches the dense solution with one tile and with many small overlapping
// tiles, and stopped after one step it does not (so that the check can fail). Automatic
// levels over three levels and several tiles stay within 1 % mean error of the dense matte,
// the iterative one-level solve within 1e-3 everywhere.
TEST(IterativeSolve, TiledSolverAndAutomaticLevelsNearTheDenseSolution) {
  Scene s(34, 27, 3, 5);
  LASClearError();
  std::vector<double> want = reference_alpha(s.image, s.mask.a, s.value.a, 1e-7, 1);
  LevelSystem sys;
  build_level_system(&s.image, s.mask.a, s.value.a, 1e-7, 1, &sys);
  const struct {
    int64_t tile_variables;
    int overlap, max_iterations;
    double bound;  // negative: at least this far away
  } cases[] = {{1 << 30, 4, 0, 1e-7}, {150, 2, 400, 1e-6}, {150, 6, 400, 1e-6}, {150, 2, 1, -1e-3}};
  for (const auto& c : cases) {
    std::vector<double> x(size_t(sys.variables()), 0.5);
    const SchwarzResult r = schwarz_solve(
        sys, &x, SchwarzOptions{c.tile_variables, c.overlap, c.max_iterations, 1e-10});
    OwnedArray alpha(34, 27);
    level_system_alpha(sys, x, alpha.a);
    const double worst = max_difference(alpha.a, want, 34, 27);
    EXPECT_TRUE(c.bound > 0 ? worst < c.bound : worst > -c.bound) << worst << " " << r.tiles;
    EXPECT_TRUE(c.tile_variables > 1000 || r.tiles > 3) << r.tiles;
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
  TIFF_img image;
  EXPECT_EXIT(get_spc(1 << 30, size_t(1) << 30), fails, calloc_error);
  EXPECT_EXIT(mget_spc(1 << 30, size_t(1) << 30), fails, malloc_error);
  // 2^31 one-byte elements: small in bytes, beyond the element limit.
  EXPECT_EXIT(get_img(1 << 16, 1 << 15, 1), fails, malloc_error);
  EXPECT_EXIT(get_init_arr(1 << 16, 1 << 15, 1), fails, calloc_error);
  EXPECT_EXIT(multialloc_init(1, 3, 1 << 11, 1 << 11, 1 << 10), fails, calloc_error);
  EXPECT_EXIT(get_TIFF(&image, 1 << 15, 1 << 16, 'g'), fails, malloc_error);
  EXPECT_EXIT(downSmpIm(&black.image, 3), fails,
              "No filter matrix set for dimensions over 5x5 i.e. > than filts 2!");
  // A black image with softness 0: the slope columns are zero, the normal matrix singular.
  EXPECT_EXIT(getLinearCoeff(black.mask.a, &black.image, 0.0, 1), testing::ExitedWithCode(1),
              "The matrix A is not positive definite symmetric");
}

}  // namespace
