// The level system, the tiled Schwarz solver, the automatic levels and the iterative one-level
// solve, checked against an independent dense solve of the same equations.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "engine_fixtures.h"
#include "matting/auto_levels.h"
#include "matting/imgutil.h"
#include "matting/iterative_solve.h"
#include "matting/level_system.h"
#include "matting/quillane.h"
#include "matting/schwarz_solver.h"
#include "numeric/errhandl.h"

namespace {

// A soft disc on a gradient with strokes: background columns on the left, foreground on the
// right, `stroke` pixels wide.
struct Scene {
  Scene(int w, int h, int stroke, unsigned seed) : image(w, h, 'c'), mask(w, h), value(w, h) {
    std::mt19937 rng(seed);
    fill_scene(&image, &rng);
    for (int y = 0; y < h; ++y)
      for (int x = 0; x < stroke; ++x) {
        mask[y][x] = 1.0;
        mask[y][w - 1 - x] = value[y][w - 1 - x] = 1.0;
      }
  }
  OwnedImage image;
  OwnedArray mask, value;
};

double max_difference(double** alpha, const std::vector<double>& want, int w, int h) {
  double worst = 0;
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      worst = std::max(worst, std::fabs(alpha[y][x] - want[static_cast<size_t>(y) * w + x]));
  return worst;
}

// The system over the coupled pixels is the dense reference L + 100 diag(mask), and its
// right-hand side 100 mask value, however the pixels are numbered.
TEST(LevelSystem, IsTheReferenceSystem) {
  Scene s(11, 9, 2, 3);
  s.mask[4][5] = 1.0;  // an alternate-colour stroke inside
  s.value[4][5] = 0.6;
  LASClearError();
  LevelSystem sys;
  build_level_system(&s.image.img, s.mask.a, s.value.a, 1e-7, 1, &sys);
  const Dense L = reference_laplacian(s.image.img, s.mask.a, 1e-7, 1);
  for (int64_t v = 0; v < sys.variables(); ++v) {
    const int64_t p = sys.pixel[v];
    const int x = static_cast<int>(p / 9), y = static_cast<int>(p % 9);
    EXPECT_DOUBLE_EQ(sys.rhs[v], 100 * s.mask[y][x] * s.value[y][x]);
    for (int64_t k = sys.row_start[v]; k < sys.row_start[v + 1]; ++k) {
      const int64_t q = sys.pixel[sys.col[k]];
      EXPECT_NEAR(sys.val[k], L(p, q) + (p == q ? 100 * s.mask[y][x] : 0), 1e-9) << p << "," << q;
      if (k > sys.row_start[v]) {
        EXPECT_LT(sys.col[k - 1], sys.col[k]);  // sorted rows
      }
    }
  }
}

// The tiled solver reaches the dense solution, with one tile at once and with many small
// overlapping tiles by iteration; with too few iterations it does not (the check can fail).
TEST(SchwarzSolver, ReachesTheDenseSolution) {
  struct Case {
    int64_t tile_variables;
    int overlap, max_iterations;
    double tolerance, bound;
  } cases[] = {{1 << 30, 4, 0, 1e-12, 1e-7},
               {150, 2, 400, 1e-10, 1e-6},
               {150, 6, 400, 1e-10, 1e-6},
               {150, 2, 1, 1e-10, -1}};  // stopped after one step: far from it
  Scene s(34, 27, 3, 5);
  LASClearError();
  const std::vector<double> want = reference_alpha(s.image.img, s.mask.a, s.value.a, 1e-7, 1);
  LevelSystem sys;
  build_level_system(&s.image.img, s.mask.a, s.value.a, 1e-7, 1, &sys);
  for (const Case& c : cases) {
    std::vector<double> x(static_cast<size_t>(sys.variables()), 0.5);
    const SchwarzResult r = schwarz_solve(
        sys, &x, SchwarzOptions{c.tile_variables, c.overlap, c.max_iterations, c.tolerance});
    OwnedArray alpha(34, 27);
    level_system_alpha(sys, x, alpha.a);
    const double worst = max_difference(alpha.a, want, 34, 27);
    if (c.bound > 0)
      EXPECT_LT(worst, c.bound) << c.tile_variables << " tiles " << r.tiles;
    else
      EXPECT_GT(worst, 1e-3);
    if (c.tile_variables < 1000) {
      EXPECT_GT(r.tiles, 3);
    }
  }
}

// Automatic levels over several levels and tiles stay close to the exact matte; the iterative
// one-level solve agrees with it closely. The exact matte here is the sparse direct solve
// (checked against the dense reference above and in the solve's own tests), which keeps the
// test quick under the sanitizers.
TEST(AutoLevels, CloseToTheExactMatte) {
  Scene s(96, 80, 6, 7);
  LASClearError();
  int direct_status = 99;
  OwnedArray direct(solveAlpha(&s.image.img, s.mask.a, s.value.a, 1e-7, 1, &direct_status));
  ASSERT_EQ(direct_status, 0);
  std::vector<double> want(96 * 80);
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 96; ++x) want[y * 96 + x] = direct[y][x];
  CalcOptions opts;
  calc_options_default(&opts);
  AutoLevelsParams p;
  p.coarsest_unknowns = 1500;  // three levels on this image
  p.intermediate.tile_variables = p.final_level.tile_variables = 1500;
  EXPECT_EQ(auto_levels_count(96, 80, 96 * 80 - 2 * 6 * 80, 1, p), 3);
  int status = 99;
  OwnedArray automatic(solve_auto_levels(&s.image.img, s.mask.a, s.value.a, opts, &status, p));
  EXPECT_EQ(status, 0);
  double sad = 0;
  for (int y = 0; y < 80; ++y)
    for (int x = 0; x < 96; ++x) sad += std::fabs(automatic[y][x] - want[y * 96 + x]);
  // The soft disc covers about 1300 pixels; the mean error stays below 1 %.
  EXPECT_LT(sad / (96 * 80), 0.01);

  opts.solver = CALC_SOLVER_ITERATIVE;
  OwnedArray iterative(solve_one_level_iterative(&s.image.img, s.mask.a, s.value.a, opts, &status));
  EXPECT_LT(max_difference(iterative.a, want, 96, 80), 1e-3);
}

// Strokes thinner than the halving keeps give no coarser level: the calculation reports one
// level where thick strokes give two.
TEST(AutoLevels, LevelsThatLoseTheStrokesAreNotUsed) {
  for (int stroke : {1, 8}) {
    Scene s(240, 230, stroke, 9);
    LASClearError();
    CalcOptions opts;
    calc_options_default(&opts);
    opts.auto_levels = 1;
    CalcControl control;
    TIFF_img matte;
    testing::internal::CaptureStdout();
    EXPECT_EQ(
        calculate_matte(&s.image.img, s.mask.release(), s.value.release(), opts, &matte, &control),
        0);
    testing::internal::GetCapturedStdout();
    s.image.img.TIFF_type = 0;  // released by the calculation
    EXPECT_EQ(control.progress().levels, stroke == 1 ? 1 : 2) << stroke;
    free_TIFF(&matte);
  }
}

}  // namespace
