#include "matting/calc_plan.h"

#include <algorithm>
#include <cmath>

#include "matting/calc_control.h"
#include "matting/pyramid.h"

double count_unknown_pixels(double** mask, int width, int height) {
  double n = 0;
  for (int y = 0; y < height; ++y) {
    if (y % 256 == 0) calc_check_cancel();  // a no-op outside a calculation
    for (int x = 0; x < width; ++x) n += mask[y][x] == 0.0;
  }
  return n;
}

CalcMethod choose_calc_method(const CalcOptions& opts, double unknowns) {
  if (opts.auto_levels != 0) return CALC_METHOD_AUTO;
  if (opts.levels_num > 1) return CALC_METHOD_LEVELS;
  const bool iterative = opts.solver == CALC_SOLVER_ITERATIVE ||
                         (opts.solver == CALC_SOLVER_AUTO && unknowns > CALC_ITERATIVE_UNKNOWNS);
  return iterative ? CALC_METHOD_ITERATIVE : CALC_METHOD_LEVELS;
}

namespace {

// Share of the region that is free of strokes, as far as the iterative solve is concerned: 1
// when the strokes cover at most kSparseStrokes of it (a few thin strokes far apart: the
// automatic levels' matte it starts from is unsure almost everywhere), 0 when they cover
// kDenseStrokes or more (strokes along the edges, a trimap: that matte is close), log-linear
// in between.
const double kSparseStrokes = 0.01, kDenseStrokes = 0.05;

double spread_band_share(double pixels, double unknowns) {
  const double covered = std::max(1.0 - unknowns / std::max(pixels, 1.0), 1e-9);
  const double t = std::log(kDenseStrokes / covered) / std::log(kDenseStrokes / kSparseStrokes);
  return std::min(1.0, std::max(0.0, t));
}

}  // namespace

CalcEstimate estimate_calculation(int width, int height, const FreePixels& free,
                                  const CalcOptions& opts) {
  // Fitted to matte_bench --estimates on this machine class (two cores, nothing else running):
  // GT04 with its trimap (179 k unknowns), its scribbles (426 k), and 11 thin strokes on GT04
  // and GT18 and on GT04 enlarged 2, 3 and 5.16 times (12 MP), also with scribbles.
  const double unknowns = free.count;
  const double n = unknowns / 4.26e5;
  const double pixels = static_cast<double>(width) * height;
  const double megapixels = pixels / 1e6;
  const double spread = spread_band_share(pixels, unknowns);
  auto blend = [spread](double near_edges, double everywhere) {
    return (1.0 - spread) * near_edges + spread * everywhere;
  };
  switch (choose_calc_method(opts, unknowns)) {
    case CALC_METHOD_AUTO: {
      // The band follows the free pixels between both kinds of strokes, and widens when they
      // fill the region: the coarse levels then stay unsure everywhere. Thin strokes far apart
      // put every free pixel there; strokes along the edges only those between them, however
      // many other free pixels they enclose. Reading and resampling the region cost the rest.
      const double mixed = free.mixed / 1e6, share = std::min(free.mixed / pixels, 1.0);
      return {0.1 * megapixels + 4.8 * std::pow(mixed, 0.96) * std::pow(share, 0.35),
              6e7 * megapixels + 8e8 * std::pow(mixed, 0.92) * std::pow(share, 0.2)};
    }
    case CALC_METHOD_ITERATIVE:
      // Conjugate gradients from the automatic levels' matte: with sparse strokes that matte is
      // far from the solution, and the steps grow with the region.
      return {blend(2.9 * std::pow(n, 0.66), 32.0 * std::pow(megapixels, 1.35)), 4.6e8 * n};
    case CALC_METHOD_LEVELS:
      break;
  }
  // The direct solve: over several levels the coarsest, solved for every unknown, decides.
  const int levels = usable_levels(width, height, std::max(opts.levels_num, 1), opts.window_radius);
  const double coarsest = n / std::pow(4.0, levels - 1);
  return {10.7 * std::pow(coarsest, 1.21), 3.0e9 * std::pow(coarsest, 1.2)};
}
